// lvx-firewall: whether Windows Defender Firewall lets remote commands
// through to the relay, and the rule that does.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/firewall_rules.h"
#include "tools/lvx_firewall_platform.h"
#include "tools/lvx_firewall_run.h"
#include "tools/tool_cli.h"
#include "tools/tool_options.h"

namespace ostrivane {
namespace {

using cli::kExitOk;
using cli::UsageError;

using firewall_tool::TCommand;

constexpr std::string_view kUsage = R"(Usage: lvx-firewall COMMAND [--program PATH] [--elevate]

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
  --elevate        for allow and remove without administrator rights: ask
                   for them (Windows shows its elevation prompt) and run
                   the command again with them; the exit status is that
                   run's, and its lines are not shown. Refused, the exit
                   status is 5. As administrator the command simply runs.
  --help           show this text

Exit status:
  status:         0 allowed, 3 blocked, 4 not known
  allow, remove:  0 done (the rules read again show it), 5 needs
                  administrator rights (or the elevation prompt was refused)
  all:            1 runtime failure, 2 usage error
)";

constexpr cli::OptionSpec kOptions[] = {
    {"status", false},   {"allow", false},     {"remove", false},
    {"--program", true}, {"--elevate", false},
};

struct Options {
  TCommand command = TCommand::Status;
  std::u16string program;
  bool elevate = false;
  std::vector<std::string> elevatedArgs;  // for the elevated run
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
    if (option.name == "--elevate") {
      options.elevate = true;
      continue;
    }
    if (command) return {std::nullopt, UsageError("give one command: status, allow or remove")};
    command = option.name == "status"  ? TCommand::Status
              : option.name == "allow" ? TCommand::Allow
                                       : TCommand::Remove;
  }
  if (!command) return {std::nullopt, UsageError("give a command: status, allow or remove")};
  options.command = *command;
  std::optional<std::u16string> givenProgram;
  if (program) {
    givenProgram = platform::FullPath(*program);
    if (!givenProgram) return {std::nullopt, UsageError("'" + *program + "' is not a usable path")};
    options.program = *givenProgram;
  } else {
    options.program = platform::ProgramBesideTool();
  }
  options.elevatedArgs = firewall_tool::ElevatedArguments(options.command, givenProgram);
  return {options, kExitOk};
}

class SystemElevation final : public firewall_tool::IElevation {
 public:
  bool RunsAsAdministrator() override { return platform::RunsAsAdministrator(); }
  platform::ElevatedRun RunElevated(const std::vector<std::string>& args) override {
    return platform::RunElevated(args);
  }
};

int Run(const Options& options) {
  const std::unique_ptr<firewall::IFirewallPolicy> policy = firewall::DefaultFirewallPolicy();
  SystemElevation elevation;
  const firewall_tool::Outcome outcome = firewall_tool::RunTool(
      options.command, options.program, options.elevate, options.elevatedArgs, *policy, elevation);
  platform::WriteStandardOutput(outcome.out);
  if (!outcome.complaint.empty()) cli::Complain(outcome.complaint);
  return outcome.exitCode;
}

}  // namespace
}  // namespace ostrivane

int main(int argc, char** argv) {
  return ostrivane::cli::ToolMain("lvx-firewall", argc, argv, ostrivane::ParseArguments,
                                  ostrivane::Run);
}
