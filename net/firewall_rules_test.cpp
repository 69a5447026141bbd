#include "net/firewall_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "net/firewall_rules_fake.h"
#include "support/test_util.h"

namespace ostrivane::firewall {
namespace {

using testing::HasSubstr;
using testutil::FakeFirewallPolicy;

constexpr std::u16string_view kProgram =
    u"C:\\Users\\Ann\\AppData\\Local\\Programs\\Ostrivane\\Ostrivane.exe";

Rule MakeRule(std::u16string name, TAction action, int protocol, std::u16string ports,
              std::u16string application = {}, std::uint32_t profiles = kAllProfiles) {
  Rule rule;
  rule.name = std::move(name);
  rule.action = action;
  rule.protocol = protocol;
  rule.localPorts = std::move(ports);
  rule.application = std::move(application);
  rule.profiles = profiles;
  return rule;
}

// The rules that Windows leaves behind when its prompt for a program is
// cancelled: TCP and UDP, blocked, for the program's path, on the profile
// that was active.
std::vector<Rule> PromptBlockRules(std::u16string_view path) {
  return {MakeRule(u"ostrivane.exe", TAction::Block, kTcp, u"*", std::u16string(path), kPublic),
          MakeRule(u"ostrivane.exe", TAction::Block, kUdp, u"*", std::u16string(path), kPublic)};
}

PolicySettings OnePublicProfile(std::vector<Rule> rules, bool enabled = true,
                                TAction defaultInbound = TAction::Block) {
  PolicySettings settings;
  settings.currentProfiles = kPublic;
  settings.profiles = {{kDomain, true, false, TAction::Block},
                       {kPrivate, true, false, TAction::Block},
                       {kPublic, enabled, false, defaultInbound}};
  settings.rules = std::move(rules);
  return settings;
}

struct VerdictCase {
  std::string_view name;
  PolicySettings settings;
  TFirewallVerdict expected;
};

class FirewallVerdictTest : public testing::TestWithParam<VerdictCase> {};

TEST_P(FirewallVerdictTest, JudgesInboundUdpForTheProgram) {
  FakeFirewallPolicy policy(GetParam().settings);
  const Assessment assessment = AssessPolicy(policy, kProgram);
  EXPECT_EQ(assessment.verdict, GetParam().expected);
  EXPECT_FALSE(assessment.reasons.empty()) << "a verdict always says why";
}

Rule Disabled(Rule rule) {
  rule.enabled = false;
  return rule;
}

Rule Outbound(Rule rule) {
  rule.direction = TDirection::Out;
  return rule;
}

Rule ForService(Rule rule) {
  rule.service = u"MpsSvc";
  return rule;
}

PolicySettings TwoActive(std::vector<Rule> rules, bool publicEnabled = true) {
  PolicySettings settings = OnePublicProfile(std::move(rules), publicEnabled);
  settings.currentProfiles = kDomain | kPublic;
  return settings;
}

PolicySettings BlockAllInbound(std::vector<Rule> rules) {
  PolicySettings settings = OnePublicProfile(std::move(rules));
  settings.profiles[2].blockAllInbound = true;
  return settings;
}

PolicySettings NoActiveProfile() {
  PolicySettings settings = OnePublicProfile({});
  settings.currentProfiles = 0;
  return settings;
}

PolicySettings ActiveProfileMissing() {
  PolicySettings settings = OnePublicProfile({});
  settings.profiles.pop_back();
  return settings;
}

const Rule kAllowPath = MakeRule(u"mine", TAction::Allow, kUdp, u"19151",
                                 u"c:\\users\\ANN\\appdata\\local\\programs\\"
                                 u"ostrivane\\OSTRIVANE.EXE");
const Rule kAllowAnyProgram = MakeRule(u"port", TAction::Allow, kUdp, u"19151");

using enum TFirewallVerdict;

INSTANTIATE_TEST_SUITE_P(
    Cases, FirewallVerdictTest,
    testing::Values(
        VerdictCase{"FirewallOff", OnePublicProfile({}, false), Allowed},
        VerdictCase{"OnAndNoRule", OnePublicProfile({}), Blocked},
        VerdictCase{"AllowRuleForThePathInAnotherCase", OnePublicProfile({kAllowPath}), Allowed},
        VerdictCase{"AllowRuleForAnyProgramOnTheUdpPort", OnePublicProfile({kAllowAnyProgram}),
                    Allowed},
        VerdictCase{"AllowAnyProtocolAnyPort",
                    OnePublicProfile({MakeRule(u"all", TAction::Allow, kAnyProtocol, u"")}),
                    Allowed},
        VerdictCase{"AllowPortInARange",
                    OnePublicProfile({MakeRule(u"r", TAction::Allow, kUdp, u"19000-19200")}),
                    Allowed},
        VerdictCase{"AllowPortInAList",
                    OnePublicProfile({MakeRule(u"l", TAction::Allow, kUdp, u"80, 19151,443")}),
                    Allowed},
        VerdictCase{"AllowRuleForAnotherPort",
                    OnePublicProfile({MakeRule(u"p", TAction::Allow, kUdp, u"19152,19000-19150")}),
                    Blocked},
        VerdictCase{"AllowRuleForTcp",
                    OnePublicProfile({MakeRule(u"t", TAction::Allow, kTcp, u"19151")}), Blocked},
        VerdictCase{"AllowRuleDisabled", OnePublicProfile({Disabled(kAllowAnyProgram)}), Blocked},
        VerdictCase{"AllowRuleOutbound", OnePublicProfile({Outbound(kAllowAnyProgram)}), Blocked},
        VerdictCase{"AllowRuleForAService", OnePublicProfile({ForService(kAllowAnyProgram)}),
                    Blocked},
        VerdictCase{"AllowRuleForAnotherProgram",
                    OnePublicProfile({MakeRule(u"o", TAction::Allow, kUdp, u"19151",
                                               u"C:\\Programs\\Ostrivane\\Ostrivane.exe")}),
                    Blocked},
        VerdictCase{"AllowRuleForAnotherProfile",
                    OnePublicProfile({MakeRule(u"pr", TAction::Allow, kUdp, u"19151", u"",
                                               kPrivate | kDomain)}),
                    Blocked},
        VerdictCase{"BlockRuleBeatsAllowRule",
                    OnePublicProfile({kAllowPath, kAllowAnyProgram, PromptBlockRules(kProgram)[1]}),
                    Blocked},
        VerdictCase{"TcpBlockRuleLeavesUdpAllowed",
                    OnePublicProfile({kAllowPath, PromptBlockRules(kProgram)[0]}), Allowed},
        VerdictCase{"DefaultInboundAllow", OnePublicProfile({}, true, TAction::Allow), Allowed},
        VerdictCase{"DefaultInboundAllowButABlockRule",
                    OnePublicProfile(PromptBlockRules(kProgram), true, TAction::Allow), Blocked},
        VerdictCase{"BlockAllInboundIgnoresAllowRules", BlockAllInbound({kAllowPath}), Blocked},
        VerdictCase{"TwoActiveProfilesOneWithoutRule",
                    TwoActive({MakeRule(u"d", TAction::Allow, kUdp, u"19151", u"", kDomain)}),
                    Blocked},
        VerdictCase{"TwoActiveProfilesOneOffOtherBlocking", TwoActive({}, false), Blocked},
        VerdictCase{
            "TwoActiveProfilesBothAllowed",
            TwoActive({MakeRule(u"dp", TAction::Allow, kUdp, u"19151", u"", kDomain | kPublic)}),
            Allowed},
        VerdictCase{"NoActiveProfile", NoActiveProfile(), NotKnown},
        VerdictCase{"ActiveProfileNotReadable", ActiveProfileMissing(), NotKnown}),
    testutil::CaseName());

TEST(FirewallVerdict, SettingsThatCannotBeReadAreNotKnown) {
  FakeFirewallPolicy policy(OnePublicProfile({}));
  policy.readFails = true;
  const Assessment assessment = AssessPolicy(policy, kProgram);
  EXPECT_EQ(assessment.verdict, TFirewallVerdict::NotKnown);
  ASSERT_EQ(assessment.reasons.size(), 1U);
  EXPECT_THAT(assessment.reasons[0], HasSubstr("cannot be read"));
}

TEST(FirewallVerdict, ReasonsNameTheProfilesAndTheDecidingRules) {
  PolicySettings settings = TwoActive({kAllowAnyProgram, PromptBlockRules(kProgram)[1]}, false);
  const Assessment allowed = Assess(settings, kProgram);
  ASSERT_EQ(allowed.verdict, TFirewallVerdict::Allowed);
  ASSERT_EQ(allowed.reasons.size(), 3U);
  EXPECT_EQ(allowed.reasons[0],
            "Domain profile (active): firewall on, inbound traffic that no rule allows is "
            "blocked: allowed by a rule");
  EXPECT_EQ(allowed.reasons[1],
            "  allows: \"port\" (allow inbound, UDP port 19151, any program, all profiles)");
  EXPECT_EQ(allowed.reasons[2], "Public profile (active): firewall off");

  settings.profiles[2].firewallEnabled = true;
  const Assessment blocked = Assess(settings, kProgram);
  ASSERT_EQ(blocked.verdict, TFirewallVerdict::Blocked);
  ASSERT_EQ(blocked.reasons.size(), 4U);
  EXPECT_EQ(blocked.reasons[2],
            "Public profile (active): firewall on, inbound traffic that no rule allows is "
            "blocked: blocked by a rule (a block rule wins over every allow rule)");
  EXPECT_EQ(blocked.reasons[3],
            "  blocks: \"ostrivane.exe\" (block inbound, UDP any port, program "
            "C:\\Users\\Ann\\AppData\\Local\\Programs\\Ostrivane\\Ostrivane.exe, Public)");
}

TEST(FirewallRules, PathsCompareIgnoringCase) {
  EXPECT_TRUE(SamePath(u"C:\\Users\\Jürgen\\a.exe", u"c:\\USERS\\JÜRGEN\\A.EXE"));
  EXPECT_TRUE(SamePath(u"C:\\Пользователи\\a.exe", u"c:\\пользователи\\A.exe"));
  EXPECT_TRUE(SamePath(u"C:\\Łódź\\a.exe", u"c:\\łÓDŹ\\A.exe"));
  EXPECT_FALSE(SamePath(u"C:\\Users\\a.exe", u"C:\\Users\\b.exe"));
  EXPECT_FALSE(SamePath(u"C:\\Users\\a.exe", u"C:\\Users\\a.exe "));
}

TEST(FirewallRules, LocalPortLists) {
  struct PortCase {
    std::u16string_view ports;
    bool includes;
  };
  for (const PortCase& c :
       {PortCase{u"*", true}, PortCase{u"", true}, PortCase{u"19151", true},
        PortCase{u" 19151 ", true}, PortCase{u"19151-19151", true}, PortCase{u"1-65535", true},
        PortCase{u"53,19151", true}, PortCase{u"19150", false}, PortCase{u"191510", false},
        PortCase{u"19152-19200", false}, PortCase{u"RPC", false},
        PortCase{u"Teredo,IPHTTPS", false}, PortCase{u"-19151", false}, PortCase{u"19151-", false},
        PortCase{u"1915a", false}}) {
    EXPECT_EQ(PortsInclude(c.ports, kRelayPort), c.includes)
        << std::string(c.ports.begin(), c.ports.end());
  }
}

std::vector<const Rule*> Named(const PolicySettings& settings, std::u16string_view name) {
  std::vector<const Rule*> out;
  for (const Rule& rule : settings.rules) {
    if (rule.name == name) out.push_back(&rule);
  }
  return out;
}

TEST(FirewallChanges, AllowRemovesTheBlockRulesForThePathAndAddsOneRule) {
  std::vector<Rule> rules = PromptBlockRules(kProgram);
  // Also the prompt's rules written another way, and a disabled one.
  rules.push_back(Disabled(MakeRule(u"Ostrivane (old)", TAction::Block, kUdp, u"19151",
                                    u"c:\\users\\ann\\appdata\\local\\programs\\ostrivane\\"
                                    u"ostrivane.exe")));
  // What must stay: another program's block rule, an outbound block rule for
  // the path, the user's allow rule for the path, unrelated rules.
  const Rule otherBlock =
      MakeRule(u"other", TAction::Block, kUdp, u"*", u"C:\\Other\\Ostrivane.exe", kPublic);
  const Rule outboundBlock =
      Outbound(MakeRule(u"out", TAction::Block, kUdp, u"*", std::u16string(kProgram)));
  rules.push_back(otherBlock);
  rules.push_back(outboundBlock);
  rules.push_back(kAllowPath);
  rules.push_back(kAllowAnyProgram);
  FakeFirewallPolicy policy(OnePublicProfile(rules));
  ASSERT_EQ(AssessPolicy(policy, kProgram).verdict, TFirewallVerdict::Blocked);

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    const ChangeResult result = Apply(policy, PlanAllow(*policy.Read(), kProgram));
    ASSERT_EQ(result.outcome, TChangeOutcome::Done) << result.error;

    const PolicySettings& after = policy.Settings();
    std::vector<std::u16string> names;
    for (const Rule& rule : after.rules) names.push_back(rule.name);
    EXPECT_THAT(names, testing::UnorderedElementsAre(u"other", u"out", u"mine", u"port",
                                                     std::u16string(kRuleName)));
    const std::vector<const Rule*> own = Named(after, kRuleName);
    ASSERT_EQ(own.size(), 1U);
    EXPECT_EQ(own[0]->application, kProgram);
    EXPECT_EQ(own[0]->protocol, kUdp);
    EXPECT_EQ(own[0]->localPorts, u"19151");
    EXPECT_EQ(own[0]->remoteAddresses, u"LocalSubnet");
    EXPECT_EQ(own[0]->direction, TDirection::In);
    EXPECT_EQ(own[0]->action, TAction::Allow);
    EXPECT_EQ(own[0]->profiles, kAllProfiles);
    EXPECT_TRUE(own[0]->enabled);
    EXPECT_EQ(AssessPolicy(policy, kProgram).verdict, TFirewallVerdict::Allowed);
    EXPECT_EQ(AllowLeftUndone(*policy.Read(), kProgram), "");
  }
}

TEST(FirewallChanges, WhatAChangeLeftUndoneIsSeenAfterwards) {
  FakeFirewallPolicy policy(OnePublicProfile(PromptBlockRules(kProgram)));
  policy.keepsNothing = true;
  ASSERT_EQ(Apply(policy, PlanAllow(*policy.Read(), kProgram)).outcome, TChangeOutcome::Done);
  EXPECT_THAT(AllowLeftUndone(*policy.Read(), kProgram),
              HasSubstr("a block rule for the program is still there: \"ostrivane.exe\""));

  policy = FakeFirewallPolicy(OnePublicProfile({}));
  policy.keepsNothing = true;
  ASSERT_EQ(Apply(policy, PlanAllow(*policy.Read(), kProgram)).outcome, TChangeOutcome::Done);
  EXPECT_EQ(AllowLeftUndone(*policy.Read(), kProgram),
            "the firewall did not keep the rule \"Ostrivane\"");

  Rule narrowed = RelayRule(kProgram);
  narrowed.profiles = kPrivate;
  EXPECT_THAT(AllowLeftUndone(OnePublicProfile({narrowed}), kProgram), HasSubstr("otherwise"));
  EXPECT_THAT(
      AllowLeftUndone(OnePublicProfile({RelayRule(kProgram), RelayRule(kProgram)}), kProgram),
      HasSubstr("2 rules"));

  EXPECT_EQ(RemoveLeftUndone(OnePublicProfile(PromptBlockRules(kProgram))), "");
  policy = FakeFirewallPolicy(OnePublicProfile({RelayRule(kProgram)}));
  policy.keepsNothing = true;
  ASSERT_EQ(Apply(policy, PlanRemove(*policy.Read())).outcome, TChangeOutcome::Done);
  EXPECT_THAT(RemoveLeftUndone(*policy.Read()), HasSubstr("the rule is still there"));
}

TEST(FirewallChanges, AllowReplacesAnOwnRuleThatWasChanged) {
  Rule changed = RelayRule(kProgram);
  changed.profiles = kPrivate;
  changed.enabled = false;
  FakeFirewallPolicy policy(OnePublicProfile({changed}));
  ASSERT_EQ(Apply(policy, PlanAllow(*policy.Read(), kProgram)).outcome, TChangeOutcome::Done);
  const std::vector<const Rule*> own = Named(policy.Settings(), kRuleName);
  ASSERT_EQ(own.size(), 1U);
  EXPECT_EQ(own[0]->profiles, kAllProfiles);
  EXPECT_TRUE(own[0]->enabled);
}

TEST(FirewallChanges, RemoveDeletesOnlyTheRuleNamedOstrivane) {
  std::vector<Rule> rules = PromptBlockRules(kProgram);
  rules.push_back(RelayRule(kProgram));
  rules.push_back(MakeRule(u"Ostrivane helper", TAction::Allow, kUdp, u"19151"));
  rules.push_back(MakeRule(u"ostrivane", TAction::Allow, kUdp, u"19151"));
  rules.push_back(kAllowPath);
  FakeFirewallPolicy policy(OnePublicProfile(rules));
  ASSERT_EQ(Apply(policy, PlanRemove(*policy.Read())).outcome, TChangeOutcome::Done);
  std::vector<std::u16string> names;
  for (const Rule& rule : policy.Settings().rules) names.push_back(rule.name);
  EXPECT_THAT(names, testing::ElementsAre(u"ostrivane.exe", u"ostrivane.exe", u"Ostrivane helper",
                                          u"ostrivane", u"mine"));
  // Nothing left to remove: a second run changes nothing and succeeds.
  EXPECT_TRUE(PlanRemove(*policy.Read()).remove.empty());
  EXPECT_EQ(Apply(policy, PlanRemove(*policy.Read())).outcome, TChangeOutcome::Done);
  EXPECT_EQ(policy.Settings().rules.size(), 5U);
  EXPECT_EQ(RemoveLeftUndone(*policy.Read()), "");
}

TEST(FirewallChanges, RefusedChangesNeedAnAdministrator) {
  FakeFirewallPolicy policy(OnePublicProfile(PromptBlockRules(kProgram)));
  policy.denyChanges = true;
  const ChangeResult result = Apply(policy, PlanAllow(*policy.Read(), kProgram));
  EXPECT_EQ(result.outcome, TChangeOutcome::NeedsAdministrator);
  EXPECT_EQ(policy.Settings().rules.size(), 2U);
  EXPECT_EQ(Apply(policy, PlanRemove(OnePublicProfile({RelayRule(kProgram)}))).outcome,
            TChangeOutcome::NeedsAdministrator);
}

TEST(FirewallChanges, OtherFailuresStopWithTheRuleNamed) {
  FakeFirewallPolicy policy(OnePublicProfile({}));
  Rule gone = RelayRule(kProgram);
  gone.id = 999;
  const ChangeResult result = Apply(policy, Plan{{gone}, RelayRule(kProgram)});
  EXPECT_EQ(result.outcome, TChangeOutcome::Failed);
  EXPECT_THAT(result.error, HasSubstr("cannot remove the rule \"Ostrivane\""));
  EXPECT_THAT(result.error, HasSubstr("no such rule"));
  EXPECT_TRUE(policy.Settings().rules.empty()) << "nothing added after a failed removal";
}

}  // namespace
}  // namespace ostrivane::firewall
