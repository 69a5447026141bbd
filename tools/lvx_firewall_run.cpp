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

Outcome ElevationRefused(TCommand command) {
  Outcome outcome;
  outcome.exitCode = kExitNeedsAdministrator;
  outcome.complaint = std::string(command == TCommand::Allow ? "allow" : "remove") +
                      " needs administrator rights, and the request for them was refused: "
                      "nothing was changed";
  return outcome;
}

}  // namespace

Outcome RunCommand(TCommand command, const std::u16string& program,
                   firewall::IFirewallPolicy& policy, bool administrator) {
  if (command == TCommand::Status) return Status(policy, program);
  return Change(command, program, policy, administrator);
}

std::vector<std::string> ElevatedArguments(TCommand command,
                                           const std::optional<std::u16string>& givenProgram) {
  std::vector<std::string> args;
  switch (command) {
    case TCommand::Status:
      args.emplace_back("status");
      break;
    case TCommand::Allow:
      args.emplace_back("allow");
      break;
    case TCommand::Remove:
      args.emplace_back("remove");
      break;
  }
  if (givenProgram) {
    args.emplace_back("--program");
    args.push_back(Utf16ToUtf8(*givenProgram));
  }
  return args;
}

Outcome RunTool(TCommand command, const std::u16string& program, bool elevate,
                const std::vector<std::string>& elevatedArgs, firewall::IFirewallPolicy& policy,
                IElevation& elevation) {
  if (command == TCommand::Status) return RunCommand(command, program, policy, false);
  const bool administrator = elevation.RunsAsAdministrator();
  if (administrator || !elevate) return RunCommand(command, program, policy, administrator);
  const platform::ElevatedRun run = elevation.RunElevated(elevatedArgs);
  switch (run.end) {
    case platform::TElevatedEnd::Ended: {
      // Its lines went to its own (hidden) console; its exit status is ours.
      Outcome outcome;
      outcome.exitCode = run.exitCode;
      return outcome;
    }
    case platform::TElevatedEnd::Refused:
      return ElevationRefused(command);
    case platform::TElevatedEnd::Failed:
      break;
  }
  return Fail(Outcome{}, "cannot run with administrator rights: " + run.error);
}

std::string QuoteArgument(std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(arg);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  // Backslashes before the closing quote are doubled.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

}  // namespace ostrivane::firewall_tool
