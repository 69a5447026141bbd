// lvx-firewall's commands against the fake policy: the lines, complaints and
// exit codes for what Wine cannot show (a blocked verdict, a standard user,
// a firewall that refuses or forgets a change).
#include "tools/lvx_firewall_run.h"

#include <gtest/gtest.h>

#include <string>

#include "net/firewall_rules_fake.h"

namespace ostrivane::firewall_tool {
namespace {

using firewall::kPublic;
using testutil::FakeFirewallPolicy;

const std::u16string kProgram = u"C:\\Apps\\Ostrivane\\Ostrivane.exe";
constexpr std::string_view kNeedsAdministrator =
    " needs administrator rights: run it from a console opened with \"Run as administrator\", or "
    "choose \"Allow through firewall...\" in the relay's tray menu";
constexpr std::string_view kPromptRule =
    "\"ostrivane.exe\" (block inbound, UDP any port, program C:\\Apps\\Ostrivane\\Ostrivane.exe, "
    "Public)";
constexpr std::string_view kOwnRule =
    "\"Ostrivane\" (allow inbound, UDP port 19151, program C:\\Apps\\Ostrivane\\Ostrivane.exe, all "
    "profiles, from LocalSubnet)";

firewall::PolicySettings PublicOnly(bool enabled, std::vector<firewall::Rule> rules) {
  firewall::PolicySettings settings;
  settings.currentProfiles = kPublic;
  settings.profiles = {{kPublic, enabled, false, firewall::TAction::Block}};
  settings.rules = std::move(rules);
  return settings;
}

firewall::Rule PromptBlockRule() {
  firewall::Rule rule;
  rule.name = u"ostrivane.exe";
  rule.application = kProgram;
  rule.protocol = firewall::kUdp;
  rule.localPorts = u"*";
  rule.action = firewall::TAction::Block;
  rule.profiles = kPublic;
  return rule;
}

TEST(LvxFirewallRun, StatusTellsTheThreeVerdictsApartByExitCode) {
  FakeFirewallPolicy off(PublicOnly(false, {}));
  Outcome outcome = RunCommand(TCommand::Status, kProgram, off, false);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.out,
            "C:\\Apps\\Ostrivane\\Ostrivane.exe, inbound UDP port 19151: allowed\n"
            "  Public profile (active): firewall off\n");
  EXPECT_EQ(outcome.complaint, "");

  FakeFirewallPolicy blocked(PublicOnly(true, {PromptBlockRule()}));
  outcome = RunCommand(TCommand::Status, kProgram, blocked, false);
  EXPECT_EQ(outcome.exitCode, kExitBlocked);
  EXPECT_EQ(outcome.out,
            "C:\\Apps\\Ostrivane\\Ostrivane.exe, inbound UDP port 19151: blocked\n"
            "  Public profile (active): firewall on, inbound traffic that no rule allows is "
            "blocked: blocked by a rule (a block rule wins over every allow rule)\n"
            "    blocks: " +
                std::string(kPromptRule) + "\n");

  blocked.readFails = true;
  outcome = RunCommand(TCommand::Status, kProgram, blocked, false);
  EXPECT_EQ(outcome.exitCode, kExitNotKnown);
  EXPECT_EQ(outcome.out,
            "C:\\Apps\\Ostrivane\\Ostrivane.exe, inbound UDP port 19151: not known\n"
            "  the firewall's settings cannot be read\n");
}

TEST(LvxFirewallRun, AllowAndRemoveAsAdministrator) {
  FakeFirewallPolicy policy(PublicOnly(true, {PromptBlockRule()}));
  Outcome outcome = RunCommand(TCommand::Allow, kProgram, policy, true);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.complaint;
  EXPECT_EQ(outcome.out,
            "removed " + std::string(kPromptRule) + "\nadded " + std::string(kOwnRule) + "\n");
  outcome = RunCommand(TCommand::Allow, kProgram, policy, true);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.complaint;
  EXPECT_EQ(outcome.out,
            "removed " + std::string(kOwnRule) + "\nadded " + std::string(kOwnRule) + "\n");
  EXPECT_EQ(policy.Settings().rules.size(), 1U);
  EXPECT_EQ(RunCommand(TCommand::Status, kProgram, policy, false).exitCode, 0);

  outcome = RunCommand(TCommand::Remove, kProgram, policy, true);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.complaint;
  EXPECT_EQ(outcome.out, "removed " + std::string(kOwnRule) + "\n");
  EXPECT_TRUE(policy.Settings().rules.empty());
  outcome = RunCommand(TCommand::Remove, kProgram, policy, true);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.out, "no rule \"Ostrivane\" to remove\n");
}

TEST(LvxFirewallRun, ChangesThatCannotBeMade) {
  struct Case {
    std::string_view name;
    TCommand command;
    bool administrator;
    bool readFails, denyChanges, keepsNothing;
    int exitCode;
    std::string complaint;
  };
  const std::string own = std::string(kOwnRule);
  for (const Case& c : {
           Case{"StandardUserAllow", TCommand::Allow, false, false, false, false,
                kExitNeedsAdministrator, "allow" + std::string(kNeedsAdministrator)},
           Case{"StandardUserRemove", TCommand::Remove, false, false, false, false,
                kExitNeedsAdministrator, "remove" + std::string(kNeedsAdministrator)},
           Case{"RefusedByTheFirewall", TCommand::Allow, true, false, true, false,
                kExitNeedsAdministrator, "allow" + std::string(kNeedsAdministrator)},
           Case{"RulesUnreadable", TCommand::Allow, true, true, false, false, 1,
                "cannot read the firewall's rules"},
           Case{"AllowForgotten", TCommand::Allow, true, false, false, true, 1,
                "allow did not take effect: a block rule for the program is still there: " +
                    std::string(kPromptRule)},
           Case{"RemoveForgotten", TCommand::Remove, true, false, false, true, 1,
                "remove did not take effect: the rule is still there: " + own},
       }) {
    SCOPED_TRACE(c.name);
    FakeFirewallPolicy policy(PublicOnly(true, {PromptBlockRule(), firewall::RelayRule(kProgram)}));
    policy.readFails = c.readFails;
    policy.denyChanges = c.denyChanges;
    policy.keepsNothing = c.keepsNothing;
    const Outcome outcome = RunCommand(c.command, kProgram, policy, c.administrator);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.complaint, c.complaint);
    EXPECT_EQ(policy.Settings().rules.size(), 2U) << "nothing changed";
  }
}

}  // namespace
}  // namespace ostrivane::firewall_tool
