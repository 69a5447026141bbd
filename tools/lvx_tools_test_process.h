// Runs a companion tool as a child process for the tools' tests: its input
// given, its output and exit status collected.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrivane::testutil {

struct ProcessResult {
  int exitCode = -1;  // -1: did not exit normally
  std::string out;
  std::string err;
};

// A guard against a hanging child, not a measured time.
inline constexpr std::chrono::seconds kChildGuard{30};

class ChildProcess {
 public:
  // Starts `argv` with `input` on its standard input and the environment of
  // this process changed by `env`.
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& input = "",
                        const std::map<std::string, std::string>& env = {}) {
    std::map<std::string, std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry(*e);
      const auto eq = entry.find('=');
      if (eq != std::string::npos) environment[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : env) environment[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : environment) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return;
    }
    // A child that ends before reading all its input must not end this
    // process with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    pid_ = ::fork();
    if (pid_ == 0) {
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
    out_ = out[0];
    err_ = err[0];
    // The input is small: written whole, then closed.
    std::size_t done = 0;
    while (done < input.size()) {
      const ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(in[1]);
  }

  ~ChildProcess() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal) { ::kill(pid_, signal); }

  // Reads the output until standard output (stream 1) or standard error
  // (stream 2) holds `needle`; false when the child ended or the guard time
  // passed first.
  bool ReadUntil(int stream, const std::string& needle) {
    const std::string& text = stream == 1 ? out_text_ : err_text_;
    const auto deadline = std::chrono::steady_clock::now() + kChildGuard;
    while (text.find(needle) == std::string::npos) {
      if ((out_ < 0 && err_ < 0) || std::chrono::steady_clock::now() > deadline) return false;
      Poll();
    }
    return true;
  }

  // Collects the output until the child ends; kills it after the guard time.
  ProcessResult Wait() {
    const auto deadline = std::chrono::steady_clock::now() + kChildGuard;
    while (out_ >= 0 || err_ >= 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the child did not end; killed";
        ::kill(pid_, SIGKILL);
        break;
      }
      Poll();
    }
    ProcessResult result;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    waited_ = true;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = out_text_;
    result.err = err_text_;
    return result;
  }

 private:
  void Poll() {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, 100) <= 0) return;
    Drain(fds[0], out_, out_text_);
    Drain(fds[1], err_, err_text_);
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

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool waited_ = false;
  std::string out_text_;
  std::string err_text_;
};

inline ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = "",
                                const std::map<std::string, std::string>& env = {}) {
  ChildProcess child(argv, input, env);
  return child.Wait();
}

// Waits until a socket exists at `path` (a guard, not a measured time).
inline bool WaitForSocket(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + kChildGuard;
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace ostrivane::testutil
