// lvx-firewall: whether Windows Defender Firewall lets remote commands
// through to the relay, and the rule that does.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/firewall.h"
#include "net/firewall_rules.h"
#include "support/utf8.h"
#include "tools/lvx_firewall_platform.h"
#include "tools/tool_cli.h"
#include "tools/tool_options.h"

namespace ostrivane {
namespace {

using cli::Failure;
using cli::kExitOk;
using cli::UsageError;

// Exit codes beyond the shared ones (0 done, 1 failure, 2 usage).
constexpr int kExitBlocked = 3;
constexpr int kExitNotKnown = 4;
constexpr int kExitNeedsAdministrator = 5;

constexpr std::string_view kUsage = R"(Usage: lvx-firewall COMMAND [--program PATH]

Looks at Windows Defender Firewall for the relay: whether remote commands
(inbound UDP to port 19151) reach its program, and lets them through.

Commands:
  status   print "allowed", "blocked" or "not known" for the program and why:
           per active profile (Domain, Private, Public) whether the firewall
           is on, what it does with inbound traffic that no rule allows, and
           the rules that decide. Needs no administrator.
  allow    let remote commands through (needs an administrator): removes the
           inbound block rules for the program's path (a cancelled firewall
           prompt leaves such rules, and they win over any allow rule), then
           adds the rule "Ostrivane", or replaces it: inbound, allow, the
           program, UDP, local port 19151, all profiles, remote addresses
           LocalSubnet. Running it again leaves one such rule.
  remove   delete the rule "Ostrivane", and nothing else (needs an
           administrator).

Options:
  --program PATH   the relay's program (default: Ostrivane.exe beside this
                   tool)
  --help           show this text

Exit status:
  status:         0 allowed, 3 blocked, 4 not known
  allow, remove:  0 done (the rules read again show it), 5 needs
                  administrator rights
  all:            1 runtime failure, 2 usage error
)";

constexpr cli::OptionSpec kOptions[] = {
    {"status", false},
    {"allow", false},
    {"remove", false},
    {"--program", true},
};

enum class TCommand : std::uint8_t { Status, Allow, Remove };

struct Options {
  TCommand command = TCommand::Status;
  std::u16string program;
};

struct ParseResult {
  std::optional<Options> options;
  int exitCode = kExitOk;
};

ParseResult ParseArguments(std::span<const std::string> args) {
  const cli::ParsedArguments parsed = cli::ParseOptions(args, kOptions);
  if (parsed.error) return {std::nullopt, UsageError(*parsed.error)};
  if (parsed.help) {
    platform::WriteStandardOutput(kUsage);
    return {std::nullopt, kExitOk};
  }
  Options options;
  std::optional<TCommand> command;
  std::optional<std::string> program;
  for (const cli::ParsedOption& option : parsed.options) {
    if (option.name == "--program") {
      program = option.value;
      continue;
    }
    if (command) return {std::nullopt, UsageError("give one command: status, allow or remove")};
    command = option.name == "status"  ? TCommand::Status
              : option.name == "allow" ? TCommand::Allow
                                       : TCommand::Remove;
  }
  if (!command) return {std::nullopt, UsageError("give a command: status, allow or remove")};
  options.command = *command;
  if (program) {
    const std::optional<std::u16string> full = platform::FullPath(*program);
    if (!full) return {std::nullopt, UsageError("'" + *program + "' is not a usable path")};
    options.program = *full;
  } else {
    options.program = platform::ProgramBesideTool();
  }
  return {options, kExitOk};
}

void Print(const std::string& line) { platform::WriteStandardOutput(line + "\n"); }

int NeedsAdministrator(std::string_view command) {
  cli::Complain(std::string(command) +
                " needs administrator rights: run it from a console opened with \"Run as "
                "administrator\", or choose \"Allow through firewall...\" in the relay's tray "
                "menu");
  return kExitNeedsAdministrator;
}

int Status(firewall::IFirewallPolicy& policy, const std::u16string& program) {
  const firewall::Assessment assessment = firewall::AssessPolicy(policy, program);
  std::string verdict;
  int code = kExitNotKnown;
  switch (assessment.verdict) {
    case TFirewallVerdict::Allowed:
      verdict = "allowed";
      code = kExitOk;
      break;
    case TFirewallVerdict::Blocked:
      verdict = "blocked";
      code = kExitBlocked;
      break;
    case TFirewallVerdict::NotKnown:
      verdict = "not known";
      break;
  }
  Print(Utf16ToUtf8(program) + ", inbound UDP port 19151: " + verdict);
  for (const std::string& reason : assessment.reasons) Print("  " + reason);
  return code;
}

int Change(firewall::IFirewallPolicy& policy, const Options& options) {
  const std::string_view command = options.command == TCommand::Allow ? "allow" : "remove";
  if (!platform::RunsAsAdministrator()) return NeedsAdministrator(command);
  const std::optional<firewall::PolicySettings> settings = policy.Read();
  if (!settings) return Failure("cannot read the firewall's rules");
  const firewall::Plan plan = options.command == TCommand::Allow
                                  ? firewall::PlanAllow(*settings, options.program)
                                  : firewall::PlanRemove(*settings);
  const firewall::ChangeResult result = firewall::Apply(policy, plan);
  if (result.outcome == firewall::TChangeOutcome::NeedsAdministrator) {
    return NeedsAdministrator(command);
  }
  if (result.outcome == firewall::TChangeOutcome::Failed) return Failure(result.error);
  for (const firewall::Rule& rule : plan.remove) Print("removed " + firewall::DescribeRule(rule));
  if (plan.add) Print("added " + firewall::DescribeRule(*plan.add));
  if (plan.remove.empty() && !plan.add) Print("no rule \"Ostrivane\" to remove");
  // The firewall's word that it made the change is not taken for it: the
  // rules are read again.
  const std::optional<firewall::PolicySettings> after = policy.Read();
  if (!after) return Failure("cannot read the firewall's rules again to check the change");
  const std::string undone = options.command == TCommand::Allow
                                 ? firewall::AllowLeftUndone(*after, options.program)
                                 : firewall::RemoveLeftUndone(*after);
  if (!undone.empty()) return Failure(std::string(command) + " did not take effect: " + undone);
  return kExitOk;
}

int Run(const Options& options) {
  const std::unique_ptr<firewall::IFirewallPolicy> policy = firewall::DefaultFirewallPolicy();
  if (options.command == TCommand::Status) return Status(*policy, options.program);
  return Change(*policy, options);
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  return ostrivane::cli::ToolMain("lvx-firewall", argc, argv, ostrivane::ParseArguments,
                                  ostrivane::Run);
}
