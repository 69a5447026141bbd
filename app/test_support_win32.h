// Helpers of the Windows shell's tests: a watchdog for the message loop,
// and fakes of the sockets and of the mailslots.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "net/udp_platform.h"
#include "relay/mailslot.h"

namespace ostrivane::testutil {

// Exit code of a loop that the watchdog had to end.
inline constexpr int kLoopTimedOut = 77;

// Removes every message waiting for the calling thread, WM_QUIT included,
// so that a test starts with an empty queue.
inline void DrainMessageQueue() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// A window's class name and its text.
inline std::wstring ClassOf(HWND window) {
  std::wstring name(256, L'\0');
  name.resize(static_cast<std::size_t>(GetClassNameW(window, name.data(), 256)));
  return name;
}

inline std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Ends the calling thread's message loop with kLoopTimedOut if it still
// runs after `limit`; the test then sees that exit code instead of hanging.
class LoopWatchdog {
 public:
  explicit LoopWatchdog(std::chrono::milliseconds limit = std::chrono::seconds(10))
      : thread_(GetCurrentThreadId()), watcher_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            PostThreadMessageW(thread_, WM_QUIT, kLoopTimedOut, 0);
          }
        }) {}
  ~LoopWatchdog() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    watcher_.join();
  }
  LoopWatchdog(const LoopWatchdog&) = delete;
  LoopWatchdog& operator=(const LoopWatchdog&) = delete;

 private:
  DWORD thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread watcher_;
};

// Ends the whole test program when a step that must not block still blocks
// after `limit`: a deadlocked main thread cannot be freed from outside.
class DeadlockGuard {
 public:
  explicit DeadlockGuard(const char* what,
                         std::chrono::milliseconds limit = std::chrono::seconds(20))
      : watcher_([this, what, limit] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "deadlock: %s did not return\n", what);
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~DeadlockGuard() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    watcher_.join();
  }
  DeadlockGuard(const DeadlockGuard&) = delete;
  DeadlockGuard& operator=(const DeadlockGuard&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread watcher_;
};

// One log of what the fakes were asked, in order, from any thread.
class CallLog {
 public:
  void Add(std::string call) {
    const std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  [[nodiscard]] std::vector<std::string> Get() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// A mailslot that is always there and keeps what is written to it.
class RecordingSlots final : public IMailSlotSystem {
 public:
  explicit RecordingSlots(CallLog& log) : log_(log) {}
  MailSlotHandle Open(std::u16string_view /*fullPath*/) override {
    log_.Add("slot open");
    return 7;
  }
  std::optional<std::size_t> Write(MailSlotHandle /*handle*/, const std::uint8_t* data,
                                   std::size_t count) override {
    const std::lock_guard lock(mutex_);
    messages_.emplace_back(reinterpret_cast<const char*>(data), count);
    return count;
  }
  void Close(MailSlotHandle /*handle*/) override { log_.Add("slot close"); }
  [[nodiscard]] std::vector<std::string> Messages() const {
    const std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  CallLog& log_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

// A socket that binds and joins without touching the network. It hands out
// `datagram` once, if one is given: the wait reports it at once, and the
// read holds it back until the group is left (the receiver is being
// deactivated), so that it reaches the main thread while the shutdown
// waits for the listener.
class ScriptedSocket final : public IUdpSocket {
 public:
  ScriptedSocket(CallLog& log, std::string datagram) : log_(log), datagram_(std::move(datagram)) {}
  void SetReuseAddress(bool /*on*/) override {}
  void Bind(const std::string& /*address*/, std::uint16_t /*port*/) override {
    log_.Add("udp bind");
  }
  void JoinGroup(const std::string& /*group*/, const std::string& /*interface*/) override {}
  void LeaveGroup(const std::string& /*group*/,
                  const std::string& /*interface*/) noexcept override {
    {
      const std::lock_guard lock(mutex_);
      leaving_ = true;
    }
    cv_.notify_all();
  }
  WaitResult WaitForDatagram(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    if (!datagram_.empty() && !handedOut_) return WaitResult::Ready;
    cv_.wait_for(lock, timeout, [this] { return closed_; });
    return closed_ ? WaitResult::Closed : WaitResult::Timeout;
  }
  ReadResult Read(std::span<std::uint8_t> buffer) override {
    std::unique_lock lock(mutex_);
    reading_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return leaving_; });
    if (handedOut_ || datagram_.size() > buffer.size()) return {ReadStatus::Failed, 0};
    handedOut_ = true;
    std::copy(datagram_.begin(), datagram_.end(), buffer.begin());
    log_.Add("udp read");
    return {ReadStatus::Datagram, datagram_.size()};
  }
  void Close() noexcept override {
    {
      const std::lock_guard lock(mutex_);
      if (closed_) return;
      closed_ = true;
    }
    log_.Add("udp close");
    cv_.notify_all();
  }
  [[nodiscard]] bool IsOpen() const noexcept override {
    const std::lock_guard lock(mutex_);
    return !closed_;
  }

  // Waits until the listener sits in Read; false after `limit`.
  bool WaitUntilReading(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [this] { return reading_; });
  }

 private:
  CallLog& log_;
  std::string datagram_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool reading_ = false;
  bool leaving_ = false;
  bool handedOut_ = false;
  bool closed_ = false;
};

class ScriptedUdp final : public IUdpPlatform {
 public:
  explicit ScriptedUdp(CallLog& log) : log_(log) {}
  std::vector<LocalAddress> LocalAddresses() override { return {{false, "10.0.0.5"}}; }
  std::unique_ptr<IUdpSocket> CreateSocket() override {
    auto socket = std::make_unique<ScriptedSocket>(log_, datagram);
    last = socket.get();
    return socket;
  }
  // What the next socket hands out; empty for nothing.
  std::string datagram;
  // The socket made last, while its owner keeps it.
  ScriptedSocket* last = nullptr;

 private:
  CallLog& log_;
};

}  // namespace ostrivane::testutil
