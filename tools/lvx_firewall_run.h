// What lvx-firewall does with a command, against any firewall policy (the
// system's, or a fake in the tests): the lines it prints, the complaint, and
// the exit status.
#pragma once

#include <cstdint>
#include <string>

#include "net/firewall_rules.h"

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

}  // namespace ostrivane::firewall_tool
