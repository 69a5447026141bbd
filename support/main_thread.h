// The main-thread rendezvous.
//
// A thread that needs something done on the main thread queues the call,
// wakes the main thread through the platform's wake-up and blocks until the
// call has run there; an exception from the call is raised again in the
// caller. The main thread runs queued calls when the wake-up reaches its
// loop, when its loop goes idle, and while it waits for a ServedThread to
// end. Called on the main thread, Synchronize runs the call at once.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace ostrivane {

class MainThread {
 public:
  // Makes the calling thread the main thread (the thread that ran static
  // initialisation is the main thread until then).
  static void Attach() noexcept;
  [[nodiscard]] static bool IsCurrent() noexcept;

  // The platform's wake-up: called on the queuing thread after a call was
  // queued; must make the main thread's loop call CheckSynchronize soon.
  // May be empty (then only idle time and waits serve the queue).
  static void SetWakeUp(std::function<void()> wakeUp);

  // Runs `call` on the main thread and returns when it has run there.
  static void Synchronize(const std::function<void()>& call);

  // Queues `call` to run on the main thread later, and returns at once,
  // also on the main thread: the call runs with the next CheckSynchronize,
  // after the Synchronize calls queued by then. Called on the main thread it
  // gives a call a later turn of the loop. `call` must not throw.
  static void Post(std::function<void()> call);

  // Main thread only: runs every queued call, in queue order, then the
  // posted ones. Returns true when at least one ran.
  static bool CheckSynchronize();
};

// A thread whose end the main thread can wait for while it keeps serving
// Synchronize calls, so that a thread blocked in a hand-off cannot deadlock
// the wait.
class ServedThread {
 public:
  explicit ServedThread(std::function<void()> body);
  ~ServedThread();  // waits for the end
  ServedThread(const ServedThread&) = delete;
  ServedThread& operator=(const ServedThread&) = delete;

  // Waits until the body has returned. On the main thread it serves queued
  // calls meanwhile.
  void WaitFor();
  [[nodiscard]] bool Finished() const noexcept;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace ostrivane
