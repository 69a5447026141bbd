#include "support/main_thread.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

namespace ostrivane {
namespace {

struct Request {
  const std::function<void()>* call = nullptr;
  std::exception_ptr error;
  bool done = false;
};

// Everything the rendezvous shares between threads, behind one lock.
struct Rendezvous {
  std::mutex lock;
  std::condition_variable doneSignal;  // a queued call has run
  std::condition_variable syncSignal;  // a call was queued or a served thread ended
  // A vector rather than a deque: an empty vector owns no memory, and the
  // main thread hands the storage back once it has run the calls, so that
  // queuing a call allocates nothing.
  std::vector<Request*> queue;
  std::vector<std::function<void()>> posted;
  std::function<void()> wakeUp;
};

Rendezvous& Shared() {
  static Rendezvous r;
  return r;
}

std::atomic<std::thread::id> g_mainThread{std::this_thread::get_id()};

}  // namespace

void MainThread::Attach() noexcept { g_mainThread = std::this_thread::get_id(); }

bool MainThread::IsCurrent() noexcept { return g_mainThread.load() == std::this_thread::get_id(); }

void MainThread::SetWakeUp(std::function<void()> wakeUp) {
  auto& r = Shared();
  const std::lock_guard guard(r.lock);
  r.wakeUp = std::move(wakeUp);
}

void MainThread::Synchronize(const std::function<void()>& call) {
  if (IsCurrent()) {
    call();
    return;
  }
  auto& r = Shared();
  Request request;
  request.call = &call;
  std::function<void()> wakeUp;
  {
    const std::lock_guard guard(r.lock);
    r.queue.push_back(&request);
    wakeUp = r.wakeUp;
  }
  r.syncSignal.notify_all();
  if (wakeUp) wakeUp();
  std::unique_lock guard(r.lock);
  r.doneSignal.wait(guard, [&] { return request.done; });
  if (request.error) std::rethrow_exception(request.error);
}

void MainThread::Post(std::function<void()> call) {
  auto& r = Shared();
  std::function<void()> wakeUp;
  {
    const std::lock_guard guard(r.lock);
    r.posted.push_back(std::move(call));
    wakeUp = r.wakeUp;
  }
  if (wakeUp) wakeUp();
}

namespace {

// Runs the calls posted so far (not those they post themselves); true when
// there were any.
bool RunPosted(Rendezvous& r) {
  std::vector<std::function<void()>> posted;
  {
    const std::lock_guard guard(r.lock);
    posted.swap(r.posted);
  }
  for (const auto& call : posted) call();
  return !posted.empty();
}

}  // namespace

bool MainThread::CheckSynchronize() {
  if (!IsCurrent()) return false;
  auto& r = Shared();
  std::vector<Request*> pending;
  {
    const std::lock_guard guard(r.lock);
    if (r.queue.empty()) {
      if (r.posted.empty()) return false;
    } else {
      pending.swap(r.queue);
    }
  }
  if (pending.empty()) return RunPosted(r);
  for (std::size_t i = 0; i < pending.size(); ++i) {
    Request* request = pending[i];
    std::exception_ptr error;
    try {
      (*request->call)();
    } catch (...) {
      error = std::current_exception();
    }
    const std::lock_guard guard(r.lock);
    request->error = error;
    request->done = true;
    if (i + 1 == pending.size()) {
      // Within the same hold of the lock, so that a caller who wakes up
      // finds it free: the storage goes back for the next calls, unless new
      // ones came meanwhile. A finished request is not touched again: its
      // caller may be gone with it.
      pending.clear();
      if (r.queue.empty()) r.queue.swap(pending);
    }
  }
  r.doneSignal.notify_all();
  RunPosted(r);
  return true;
}

struct ServedThread::State {
  bool finished = false;  // guarded by the rendezvous lock
};

ServedThread::ServedThread(std::function<void()> body) : state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_, body = std::move(body)] {
    try {
      body();
    } catch (...) {
      // A thread body must not end the process; its owner only waits for it.
    }
    auto& r = Shared();
    {
      const std::lock_guard guard(r.lock);
      state->finished = true;
    }
    r.syncSignal.notify_all();
  });
}

ServedThread::~ServedThread() { WaitFor(); }

void ServedThread::WaitFor() {
  if (!thread_.joinable()) return;
  if (MainThread::IsCurrent()) {
    auto& r = Shared();
    for (;;) {
      MainThread::CheckSynchronize();
      std::unique_lock guard(r.lock);
      if (state_->finished) break;
      r.syncSignal.wait(guard, [&] { return state_->finished || !r.queue.empty(); });
      if (state_->finished && r.queue.empty()) break;
    }
    // Calls queued by the thread right before it ended have run; anything
    // queued later belongs to other threads and to the loop.
  }
  thread_.join();
}

bool ServedThread::Finished() const noexcept {
  auto& r = Shared();
  const std::lock_guard guard(r.lock);
  return state_->finished;
}

}  // namespace ostrivane
