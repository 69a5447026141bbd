// What lvx-firewall does with a command, against any firewall policy (the
// system's, or a fake in the tests): the lines it prints, the complaint, and
// the exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/firewall_rules.h"
#include "tools/lvx_firewall_platform.h"

namespace ostrivane::firewall_tool {

// Exit codes beyond the shared ones (0 done or allowed, 1 failure, 2 usage).
inline constexpr int kExitBlocked = 3;
inline constexpr int kExitNotKnown = 4;
inline constexpr int kExitNeedsAdministrator = 5;

enum class TCommand : std::uint8_t { Status, Allow, Remove };

struct Outcome {
  int exitCode = 0;
  std::string out;        // for standard output, whole lines
  std::string complaint;  // for standard error after the tool's name; empty when none
};

// `program` is the relay's full path; `administrator` whether this process
// has the rights that allow and remove need (without them they change
// nothing).
Outcome RunCommand(TCommand command, const std::u16string& program,
                   firewall::IFirewallPolicy& policy, bool administrator);

// The process's rights, and a way to get them (the system's, or a fake).
class IElevation {
 public:
  virtual ~IElevation() = default;
  virtual bool RunsAsAdministrator() = 0;
  virtual platform::ElevatedRun RunElevated(const std::vector<std::string>& args) = 0;
};

// The command as the tool gives it to its elevated run: the command and, when
// one was given, `--program` with the program's full path (the elevated run
// may start in another folder), never `--elevate`.
std::vector<std::string> ElevatedArguments(TCommand command,
                                           const std::optional<std::u16string>& givenProgram);

// Runs `command` as `lvx-firewall` does. With `elevate`, `allow` and
// `remove` in a process without administrator rights run as
// `elevatedArgs` through `elevation`, and its exit status is the outcome's
// (a refused prompt: "needs administrator", 5). Otherwise the command runs
// here.
Outcome RunTool(TCommand command, const std::u16string& program, bool elevate,
                const std::vector<std::string>& elevatedArgs, firewall::IFirewallPolicy& policy,
                IElevation& elevation);

// `arg` quoted for a Windows command line, so that CommandLineToArgvW and
// the C runtime read it back as it is.
std::string QuoteArgument(std::string_view arg);

}  // namespace ostrivane::firewall_tool
