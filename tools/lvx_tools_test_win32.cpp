// The tools' test helpers on Windows: CreateProcessW with pipes read by
// threads, a Winsock UDP socket, slot names of the test's own.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cwctype>
#include <mutex>
#include <thread>

#include "support/utf8.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane::testutil {
namespace {

std::wstring Wide(const std::string& utf8) {
  const auto units =
      Utf8ToUtf16(std::span(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
  if (!units) {
    ADD_FAILURE() << "not UTF-8: " << utf8;
    return {};
  }
  return std::wstring(units->begin(), units->end());
}

std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// One argument as CommandLineToArgvW and the C runtime read it back.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  // Backslashes before the closing quote are doubled.
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// The environment block of this process changed by `env`, sorted by name
// without regard to case, as CreateProcessW wants it.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& env) {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* e = strings; *e != L'\0'; e += wcslen(e) + 1) {
    const std::wstring entry(e);
    // Entries such as "=C:=C:\x" keep their leading "=".
    const std::size_t eq = entry.find(L'=', 1);
    if (eq != std::wstring::npos) entries.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  FreeEnvironmentStringsW(strings);
  const auto upper = [](std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return std::towupper(c); });
    return s;
  };
  for (const auto& [k, v] : env) {
    const std::wstring name = Wide(k);
    std::erase_if(entries, [&](const auto& e) { return upper(e.first) == upper(name); });
    entries.emplace_back(name, Wide(v));
  }
  std::sort(entries.begin(), entries.end(),
            [&](const auto& a, const auto& b) { return upper(a.first) < upper(b.first); });
  std::wstring block;
  for (const auto& [k, v] : entries) block += k + L"=" + v + L'\0';
  block += L'\0';
  return block;
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void Reset(HANDLE h = nullptr) {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = h;
  }
  [[nodiscard]] HANDLE Get() const { return h_; }
  // Gives the handle up without closing it.
  HANDLE Release() {
    const HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  HANDLE* Out() {
    Reset();
    return &h_;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace

std::string ToolPath(const std::string& fileName) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.find_last_of(L"\\/") + 1);
  return Narrow(path) + fileName;
}

struct ChildProcess::State {
  Handle process;
  DWORD id = 0;
  bool waited = false;
  std::mutex lock;
  std::condition_variable changed;
  std::string text[2];  // standard output, standard error
  bool ended[2] = {false, false};
  std::vector<std::thread> threads;

  void Collect(int stream, HANDLE pipe) {
    char buffer[4096];
    for (;;) {
      DWORD got = 0;
      const bool ok = ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) != 0;
      const std::lock_guard guard(lock);
      if (!ok || got == 0) {
        ended[stream] = true;
        changed.notify_all();
        CloseHandle(pipe);
        return;
      }
      text[stream].append(buffer, got);
      changed.notify_all();
    }
  }

  void Join() {
    for (auto& t : threads) {
      if (t.joinable()) t.join();
    }
  }
};

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& input,
                           const std::map<std::string, std::string>& env)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle inRead, inWrite, outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(inRead.Out(), inWrite.Out(), &inherit, 0) ||
      !CreatePipe(outRead.Out(), outWrite.Out(), &inherit, 0) ||
      !CreatePipe(errRead.Out(), errWrite.Out(), &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe: " << GetLastError();
    return;
  }
  // This process's ends stay here.
  SetHandleInformation(inWrite.Get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead.Get(), HANDLE_FLAG_INHERIT, 0);

  std::wstring line;
  for (const auto& a : argv) AppendQuoted(line, Wide(a));
  const std::wstring application = Wide(argv.at(0));
  std::wstring block;
  if (!env.empty()) block = EnvironmentBlock(env);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead.Get();
  startup.hStdOutput = outWrite.Get();
  startup.hStdError = errWrite.Get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                      block.empty() ? nullptr : block.data(), nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW " << argv.at(0) << ": " << GetLastError();
    return;
  }
  CloseHandle(info.hThread);
  s.process.Reset(info.hProcess);
  s.id = info.dwProcessId;
  // The child's ends are the child's alone now, so that the pipes end with it.
  inRead.Reset();
  outWrite.Reset();
  errWrite.Reset();

  const HANDLE out = outRead.Release();
  const HANDLE err = errRead.Release();
  s.threads.emplace_back([&s, out] { s.Collect(0, out); });
  s.threads.emplace_back([&s, err] { s.Collect(1, err); });
  const HANDLE in = inWrite.Release();
  // The input is written by a thread of its own, so that a child that
  // writes before it has read everything cannot stall on a full pipe.
  s.threads.emplace_back([in, input] {
    std::size_t done = 0;
    while (done < input.size()) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - done, 65536));
      if (!WriteFile(in, input.data() + done, chunk, &written, nullptr) || written == 0) break;
      done += written;
    }
    CloseHandle(in);
  });
}

ChildProcess::~ChildProcess() {
  State& s = *state_;
  if (s.process.Get() != nullptr && !s.waited) {
    TerminateProcess(s.process.Get(), 1);
    WaitForSingleObject(s.process.Get(), INFINITE);
  }
  s.Join();
}

long ChildProcess::Id() const { return static_cast<long>(state_->id); }

bool ChildProcess::ReadUntil(int stream, const std::string& needle) {
  State& s = *state_;
  const int index = stream == 1 ? 0 : 1;
  std::unique_lock guard(s.lock);
  return s.changed.wait_for(guard, kChildGuard, [&] {
    return s.text[index].find(needle) != std::string::npos || (s.ended[0] && s.ended[1]);
  }) && s.text[index].find(needle) != std::string::npos;
}

ProcessResult ChildProcess::Wait() {
  State& s = *state_;
  ProcessResult result;
  if (s.process.Get() == nullptr) return result;
  const auto guardMs = static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kChildGuard).count());
  if (WaitForSingleObject(s.process.Get(), guardMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the child did not end; killed";
    TerminateProcess(s.process.Get(), 1);
    WaitForSingleObject(s.process.Get(), INFINITE);
  }
  s.waited = true;
  s.Join();
  DWORD code = 0;
  if (GetExitCodeProcess(s.process.Get(), &code)) result.exitCode = static_cast<int>(code);
  result.out = s.text[0];
  result.err = s.text[1];
  return result;
}

struct LoopbackReceiver::State {
  WSADATA data{};
  bool started = false;
  SOCKET socket = INVALID_SOCKET;
  std::uint16_t port = 0;
};

LoopbackReceiver::LoopbackReceiver() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.started = WSAStartup(MAKEWORD(2, 2), &s.data) == 0;
  s.socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (!s.started || s.socket == INVALID_SOCKET ||
      ::bind(s.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(s.socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "cannot bind a loopback socket: " << WSAGetLastError();
  }
  s.port = ntohs(address.sin_port);
}

LoopbackReceiver::~LoopbackReceiver() {
  if (state_->socket != INVALID_SOCKET) closesocket(state_->socket);
  if (state_->started) WSACleanup();
}

std::string LoopbackReceiver::Port() const { return std::to_string(state_->port); }

std::optional<std::string> LoopbackReceiver::Take() {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(state_->socket, &ready);
  timeval now{0, 0};
  if (::select(0, &ready, nullptr, nullptr, &now) != 1) return std::nullopt;
  std::vector<char> buffer(70000);
  const int n = ::recv(state_->socket, buffer.data(), static_cast<int>(buffer.size()), 0);
  if (n == SOCKET_ERROR) return std::nullopt;
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

struct PrivateSlots::State {
  int made = 0;
};

PrivateSlots::PrivateSlots() : state_(std::make_unique<State>()) {}

PrivateSlots::~PrivateSlots() = default;

std::map<std::string, std::string> PrivateSlots::ChildEnvironment() const { return {}; }

std::string PrivateSlots::NewName() {
  return "ostrivane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++state_->made) + "\\Messages";
}

}  // namespace ostrivane::testutil
