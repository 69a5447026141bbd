// Mailslots on POSIX systems. A slot is a Unix datagram socket that the
// slot's owner has bound at
//   $XDG_RUNTIME_DIR/mailslot/<name>     (/tmp/mailslot-<uid>/<name> when
//                                         XDG_RUNTIME_DIR is unset, empty or
//                                         not an absolute path)
// where <name> is the part of the slot path after "\\.\mailslot\" with its
// backslashes turned into slashes and encoded as UTF-8. The writer connects
// to it and never creates anything; the owner (lvx-slot-monitor stands in
// for the presentation application) creates the folders and the socket.
#pragma once

#include <sys/types.h>
#include <sys/un.h>

#include <optional>
#include <string>
#include <string_view>

namespace ostrivane {

// How long one send waits for room in a full reader queue before the
// attempt counts as failed. A reader that is busy for a moment loses
// nothing; a reader that has stopped reading costs a Write at most two such
// waits (the attempt and its retry) before the message is dropped.
inline constexpr int kMailSlotSendTimeoutMs = 500;

// The folder below which the slots live, from the given XDG_RUNTIME_DIR value
// (nullptr when unset) and user id.
std::string MailSlotRootDir(const char* xdgRuntimeDir, uid_t uid);
// The same from this process's environment and effective user id.
std::string MailSlotRootDir();

// The socket path for a full slot path below `rootDir`, or nullopt when the
// slot path does not start with "\\.\mailslot\", has an empty name, a "." or
// ".." component or a zero character: such a name never leaves the root.
std::optional<std::string> MailSlotEndpointPath(std::u16string_view fullPath,
                                                std::string_view rootDir);

// The socket address for `path`, or nullopt when the path does not fit in
// sun_path (with its terminating zero).
std::optional<sockaddr_un> MailSlotSocketAddress(std::string_view path);

}  // namespace ostrivane
