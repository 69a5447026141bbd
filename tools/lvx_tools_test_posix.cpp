// The tools' test helpers on POSIX systems: fork and exec with pipes, a UDP
// socket, a private XDG_RUNTIME_DIR.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <utility>

#include "support/test_util.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane::testutil {

std::string ToolPath(const std::string& fileName) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) ADD_FAILURE() << "cannot find the test program: " << error.message();
  return (self.parent_path() / fileName).string();
}

struct ChildProcess::State {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
  bool waited = false;
  std::string outText;
  std::string errText;

  void Poll() {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    if (::poll(fds, 2, 100) <= 0) return;
    Drain(fds[0], out, outText);
    Drain(fds[1], err, errText);
  }

  static void Drain(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || p.revents == 0) return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<std::size_t>(n));
    } else {
      ::close(fd);
      fd = -1;
    }
  }
};

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& input,
                           const std::map<std::string, std::string>& env)
    : state_(std::make_unique<State>()) {
  std::map<std::string, std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) environment[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : env) environment[k] = v;
  std::vector<std::string> envStrings;
  envStrings.reserve(environment.size());
  for (const auto& [k, v] : environment) {
    std::string entry = k;
    entry += '=';
    entry += v;
    envStrings.push_back(std::move(entry));
  }
  std::vector<char*> envp;
  envp.reserve(envStrings.size() + 1);
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  argp.reserve(args.size() + 1);
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  // A child that ends before reading all its input must not end this
  // process with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  State& s = *state_;
  s.pid = ::fork();
  if (s.pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  s.out = out[0];
  s.err = err[0];
  // The input is small: written whole, then closed.
  std::size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(in[1]);
}

ChildProcess::~ChildProcess() {
  State& s = *state_;
  if (s.pid > 0 && !s.waited) {
    ::kill(s.pid, SIGKILL);
    ::waitpid(s.pid, nullptr, 0);
  }
  if (s.out >= 0) ::close(s.out);
  if (s.err >= 0) ::close(s.err);
}

long ChildProcess::Id() const { return state_->pid; }

bool ChildProcess::ReadUntil(int stream, const std::string& needle) {
  State& s = *state_;
  const std::string& text = stream == 1 ? s.outText : s.errText;
  const auto deadline = std::chrono::steady_clock::now() + kChildGuard;
  while (text.find(needle) == std::string::npos) {
    if ((s.out < 0 && s.err < 0) || std::chrono::steady_clock::now() > deadline) return false;
    s.Poll();
  }
  return true;
}

ProcessResult ChildProcess::Wait() {
  State& s = *state_;
  const auto deadline = std::chrono::steady_clock::now() + kChildGuard;
  while (s.out >= 0 || s.err >= 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the child did not end; killed";
      ::kill(s.pid, SIGKILL);
      break;
    }
    s.Poll();
  }
  ProcessResult result;
  int status = 0;
  ::waitpid(s.pid, &status, 0);
  s.waited = true;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = s.outText;
  result.err = s.errText;
  return result;
}

struct LoopbackReceiver::State {
  int fd = -1;
  std::uint16_t port = 0;
};

LoopbackReceiver::LoopbackReceiver() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (s.fd < 0 || ::bind(s.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket";
  }
  s.port = ntohs(address.sin_port);
}

LoopbackReceiver::~LoopbackReceiver() { ::close(state_->fd); }

std::string LoopbackReceiver::Port() const { return std::to_string(state_->port); }

std::optional<std::string> LoopbackReceiver::Take() {
  pollfd p{state_->fd, POLLIN, 0};
  if (::poll(&p, 1, 0) != 1) return std::nullopt;
  std::vector<char> buffer(70000);
  const ssize_t n = ::recv(state_->fd, buffer.data(), buffer.size(), 0);
  if (n < 0) return std::nullopt;
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

struct PrivateSlots::State {
  ScopedTempDir dir{"lvx-slots"};
  EnvironmentScope environment;
  int made = 0;
};

PrivateSlots::PrivateSlots() : state_(std::make_unique<State>()) {
  state_->environment.Set("XDG_RUNTIME_DIR", state_->dir.Path().c_str());
}

PrivateSlots::~PrivateSlots() = default;

std::map<std::string, std::string> PrivateSlots::ChildEnvironment() const {
  return {{"XDG_RUNTIME_DIR", state_->dir.Path().string()}};
}

std::string PrivateSlots::NewName() {
  return "ostrivane-test-" + std::to_string(::getpid()) + "-" + std::to_string(++state_->made) +
         "\\Messages";
}

}  // namespace ostrivane::testutil
