#include "tools/lvx_firewall_run.h"

#include <optional>
#include <string_view>

#include "net/firewall.h"
#include "support/utf8.h"
#include "tools/tool_cli.h"

namespace ostrivane::firewall_tool {
namespace {

void Print(Outcome& outcome, const std::string& line) { outcome.out += line + "\n"; }

Outcome Fail(Outcome outcome, std::string complaint) {
  outcome.exitCode = cli::kExitFailure;
  outcome.complaint = std::move(complaint);
  return outcome;
}

Outcome NeedsAdministrator(Outcome outcome, std::string_view command) {
  outcome.exitCode = kExitNeedsAdministrator;
  outcome.complaint = std::string(command) +
                      " needs administrator rights: run it from a console opened with \"Run as "
                      "administrator\", or choose \"Allow through firewall...\" in the relay's "
                      "tray menu";
  return outcome;
}

Outcome Status(firewall::IFirewallPolicy& policy, const std::u16string& program) {
  Outcome outcome;
  const firewall::Assessment assessment = firewall::AssessPolicy(policy, program);
  std::string verdict;
  switch (assessment.verdict) {
    case TFirewallVerdict::Allowed:
      verdict = "allowed";
      outcome.exitCode = cli::kExitOk;
      break;
    case TFirewallVerdict::Blocked:
      verdict = "blocked";
      outcome.exitCode = kExitBlocked;
      break;
    case TFirewallVerdict::NotKnown:
      verdict = "not known";
      outcome.exitCode = kExitNotKnown;
      break;
  }
  Print(outcome, Utf16ToUtf8(program) + ", inbound UDP port 19151: " + verdict);
  for (const std::string& reason : assessment.reasons) Print(outcome, "  " + reason);
  return outcome;
}

Outcome Change(TCommand command, const std::u16string& program, firewall::IFirewallPolicy& policy,
               bool administrator) {
  Outcome outcome;
  const std::string_view name = command == TCommand::Allow ? "allow" : "remove";
  if (!administrator) return NeedsAdministrator(outcome, name);
  const std::optional<firewall::PolicySettings> settings = policy.Read();
  if (!settings) return Fail(outcome, "cannot read the firewall's rules");
  const firewall::Plan plan = command == TCommand::Allow ? firewall::PlanAllow(*settings, program)
                                                         : firewall::PlanRemove(*settings);
  const firewall::ChangeResult result = firewall::Apply(policy, plan);
  if (result.outcome == firewall::TChangeOutcome::NeedsAdministrator) {
    return NeedsAdministrator(outcome, name);
  }
  if (result.outcome == firewall::TChangeOutcome::Failed) return Fail(outcome, result.error);
  for (const firewall::Rule& rule : plan.remove) {
    Print(outcome, "removed " + firewall::DescribeRule(rule));
  }
  if (plan.add) Print(outcome, "added " + firewall::DescribeRule(*plan.add));
  if (plan.remove.empty() && !plan.add) Print(outcome, "no rule \"Ostrivane\" to remove");
  // The firewall's word that it made the change is not taken for it: the
  // rules are read again.
  const std::optional<firewall::PolicySettings> after = policy.Read();
  if (!after) return Fail(outcome, "cannot read the firewall's rules again to check the change");
  const std::string undone = command == TCommand::Allow ? firewall::AllowLeftUndone(*after, program)
                                                        : firewall::RemoveLeftUndone(*after);
  if (!undone.empty()) return Fail(outcome, std::string(name) + " did not take effect: " + undone);
  outcome.exitCode = cli::kExitOk;
  return outcome;
}

}  // namespace

Outcome RunCommand(TCommand command, const std::u16string& program,
                   firewall::IFirewallPolicy& policy, bool administrator) {
  if (command == TCommand::Status) return Status(policy, program);
  return Change(command, program, policy, administrator);
}

}  // namespace ostrivane::firewall_tool
