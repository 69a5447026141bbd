// Where a slot lives on a system without mailslots of its own: the writer's
// side is mailslot_posix.cpp, the owner's side lvx-slot-monitor.
//
// A slot is a Unix datagram socket that the slot's owner has bound at
//   $XDG_RUNTIME_DIR/mailslot/<name>     (/tmp/mailslot-<uid>/<name> when
//                                         XDG_RUNTIME_DIR is unset, empty or
//                                         not an absolute path)
// where <name> is the part of the slot path after "\\.\mailslot\" with its
// backslashes turned into slashes and encoded as UTF-8. The writer connects
// to it and never creates anything; the owner creates the folders and the
// socket.
//
// These are text rules only, the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrivane {

// The longest socket path, in bytes: the socket address holds it with its
// terminating zero (mailslot_posix.cpp checks this against the system's).
inline constexpr std::size_t kMaxMailSlotSocketPath = 107;

// The folder below which the slots live, from the value of XDG_RUNTIME_DIR
// (nullptr when unset) and the user id.
std::string MailSlotRootDir(const char* xdgRuntimeDir, std::uint32_t uid);

// Whether a slot name (the part of the slot path after "\\.\mailslot\")
// names one slot wherever it is looked up: not empty, no zero character, no
// "." or ".." part between backslashes or slashes.
bool IsPlainMailSlotName(std::u16string_view name);

// The socket path for a full slot path below `rootDir`, or nullopt when the
// slot path does not start with "\\.\mailslot\" or its name is not plain:
// such a name never leaves the root.
std::optional<std::string> MailSlotEndpointPath(std::u16string_view fullPath,
                                                std::string_view rootDir);

// Whether `path` fits in a socket address: not empty, at most
// kMaxMailSlotSocketPath bytes.
bool FitsMailSlotSocketAddress(std::string_view path) noexcept;

}  // namespace ostrivane
