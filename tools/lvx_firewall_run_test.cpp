// lvx-firewall's commands against the fake policy: the lines, complaints and
// exit codes for what Wine cannot show (a blocked verdict, a standard user,
// a firewall that refuses or forgets a change, the elevation prompt).
#include "tools/lvx_firewall_run.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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

// The process's rights and the elevation prompt's answer, as a test sets them.
class FakeElevation final : public IElevation {
 public:
  bool administrator = false;
  platform::ElevatedRun answer;
  std::vector<std::vector<std::string>> runs;  // the arguments of each elevated run

  bool RunsAsAdministrator() override { return administrator; }
  platform::ElevatedRun RunElevated(const std::vector<std::string>& args) override {
    runs.push_back(args);
    return answer;
  }
};

// --elevate: who runs the command (this process, or the elevated run), and
// what the tool then answers.
TEST(LvxFirewallRun, ElevateRunsTheCommandWithAdministratorRights) {
  using platform::TElevatedEnd;
  const std::vector<std::string> elevatedArgs = {"allow", "--program", "C:\\Relay\\Ostrivane.exe"};
  struct Case {
    std::string_view name;
    TCommand command;
    bool elevate, administrator;
    platform::ElevatedRun answer;
    bool ranHere, ranElevated;
    int exitCode;
    std::string complaint;
  };
  for (const Case& c : {
           Case{"AdministratorRunsHere", TCommand::Allow, true, true, {}, true, false, 0, ""},
           Case{"AdministratorWithoutElevate",
                TCommand::Remove,
                false,
                true,
                {},
                true,
                false,
                0,
                ""},
           Case{"ElevatedRunDone",
                TCommand::Allow,
                true,
                false,
                {TElevatedEnd::Ended, 0, ""},
                false,
                true,
                0,
                ""},
           Case{"ElevatedRunsExitStatusPassedOn",
                TCommand::Allow,
                true,
                false,
                {TElevatedEnd::Ended, 1, ""},
                false,
                true,
                1,
                ""},
           Case{"ElevatedRunNeedsAdministratorStill",
                TCommand::Remove,
                true,
                false,
                {TElevatedEnd::Ended, 5, ""},
                false,
                true,
                5,
                ""},
           Case{"PromptRefused",
                TCommand::Allow,
                true,
                false,
                {TElevatedEnd::Refused, 0, ""},
                false,
                true,
                kExitNeedsAdministrator,
                "allow needs administrator rights, and the request for them was refused: "
                "nothing was changed"},
           Case{"ElevatedRunFailedToStart",
                TCommand::Remove,
                true,
                false,
                {TElevatedEnd::Failed, 0, "Windows error 2"},
                false,
                true,
                1,
                "cannot run with administrator rights: Windows error 2"},
           Case{"StandardUserWithoutElevate",
                TCommand::Allow,
                false,
                false,
                {},
                false,
                false,
                kExitNeedsAdministrator,
                "allow" + std::string(kNeedsAdministrator)},
           Case{"StatusNeverElevates", TCommand::Status, true, false, {}, false, false, 3, ""},
       }) {
    SCOPED_TRACE(c.name);
    FakeFirewallPolicy policy(PublicOnly(true, {PromptBlockRule()}));
    FakeElevation elevation;
    elevation.administrator = c.administrator;
    elevation.answer = c.answer;
    const Outcome outcome =
        RunTool(c.command, kProgram, c.elevate, elevatedArgs, policy, elevation);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.complaint, c.complaint);
    // Run here, allow leaves the tool's rule alone, and remove has none to
    // remove: either way the lines say what it did.
    EXPECT_EQ(!outcome.out.empty(), c.ranHere || c.command == TCommand::Status);
    const bool changed = policy.Settings().rules.size() != 1U ||
                         policy.Settings().rules[0].action != firewall::TAction::Block;
    EXPECT_EQ(changed, c.ranHere && c.command == TCommand::Allow);
    if (c.ranElevated) {
      ASSERT_EQ(elevation.runs.size(), 1U);
      EXPECT_EQ(elevation.runs[0], elevatedArgs);
    } else {
      EXPECT_TRUE(elevation.runs.empty());
    }
  }
}

TEST(LvxFirewallRun, TheElevatedRunsArguments) {
  EXPECT_EQ(ElevatedArguments(TCommand::Allow, std::nullopt), std::vector<std::string>{"allow"});
  EXPECT_EQ(ElevatedArguments(TCommand::Remove, u"C:\\Program Files\\R\u00E4lay\\Ostrivane.exe"),
            (std::vector<std::string>{"remove", "--program",
                                      "C:\\Program Files\\R\xC3\xA4lay\\Ostrivane.exe"}));
  // Read back by CommandLineToArgvW as given.
  struct Case {
    std::string_view arg, quoted;
  };
  for (const Case& c : {
           Case{"allow", "allow"},
           Case{"", R"("")"},
           Case{R"(C:\Relay\Ostrivane.exe)", R"(C:\Relay\Ostrivane.exe)"},
           Case{R"(C:\Program Files\Relay\Ostrivane.exe)",
                R"("C:\Program Files\Relay\Ostrivane.exe")"},
           Case{R"(C:\My Relay\)", R"("C:\My Relay\\")"},
           Case{R"(a\"b c)", R"("a\\\"b c")"},
           Case{"tab\there", "\"tab\there\""},
       }) {
    EXPECT_EQ(QuoteArgument(c.arg), c.quoted) << c.arg;
  }
}

}  // namespace
}  // namespace ostrivane::firewall_tool
