// Helpers of the Windows shell's tests: the windows' class names and texts,
// a watchdog for the message loop and a guard against a deadlock. The fakes
// of the sockets and of the mailslots are net/udp_platform_fake.h and
// relay/mailslot_fake.h.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

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

}  // namespace ostrivane::testutil
