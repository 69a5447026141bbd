// What the tools' tests need from the system (lvx_tools_test_posix.cpp,
// lvx_tools_test_win32.cpp): the tools run as child processes with their
// input given and their output collected, a UDP socket on the loopback
// address to receive what lvx-send sends, and slots of the tests' own.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrivane::testutil {

struct ProcessResult {
  int exitCode = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

// A guard against a hanging child, not a measured time.
inline constexpr std::chrono::seconds kChildGuard{30};

// The path of a companion tool built beside the test program, from its file
// name ("lvx-send", "lvx-send.exe").
std::string ToolPath(const std::string& fileName);

class ChildProcess {
 public:
  // Starts `argv` (UTF-8) with `input` on its standard input and the
  // environment of this process changed by `env`.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& input = "",
                        const std::map<std::string, std::string>& env = {});
  // Kills a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The child's process id.
  [[nodiscard]] long Id() const;

  // Reads the output until standard output (stream 1) or standard error
  // (stream 2) holds `needle`; false when the child ended or the guard time
  // passed first.
  bool ReadUntil(int stream, const std::string& needle);

  // Collects the output until the child ends; kills it after the guard time.
  ProcessResult Wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

inline ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                                const std::map<std::string, std::string>& env = {}) {
  ChildProcess child(argv, input, env);
  return child.Wait();
}

// A UDP socket on 127.0.0.1 at a free port.
class LoopbackReceiver {
 public:
  LoopbackReceiver();
  ~LoopbackReceiver();
  LoopbackReceiver(const LoopbackReceiver&) = delete;
  LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

  [[nodiscard]] std::string Port() const;

  // The datagram waiting now, if any. Loopback delivers during the sender's
  // send, so once lvx-send has ended its datagram is here or nowhere.
  std::optional<std::string> Take();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Slots of the test's own while the object lives: on POSIX a private
// XDG_RUNTIME_DIR for this process and for the children given
// ChildEnvironment(); on Windows, whose slot names are global, nothing but
// names no other test uses.
class PrivateSlots {
 public:
  PrivateSlots();
  ~PrivateSlots();
  PrivateSlots(const PrivateSlots&) = delete;
  PrivateSlots& operator=(const PrivateSlots&) = delete;

  // What a child needs in its environment to find the same slots.
  [[nodiscard]] std::map<std::string, std::string> ChildEnvironment() const;
  // A new slot name, "ostrivane-test-<process>-<n>\Messages".
  [[nodiscard]] std::string NewName();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ostrivane::testutil
