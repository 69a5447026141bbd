#include "support/main_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ostrivane {
namespace {

class MainThreadTest : public testing::Test {
 protected:
  void SetUp() override { MainThread::Attach(); }
  void TearDown() override { MainThread::SetWakeUp({}); }
};

TEST_F(MainThreadTest, RunsAtOnceOnTheMainThread) {
  int runs = 0;
  MainThread::Synchronize([&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(MainThread::CheckSynchronize());
}

TEST_F(MainThreadTest, PostedCallsRunLaterInOrder) {
  int wakeUps = 0;
  MainThread::SetWakeUp([&] { ++wakeUps; });
  std::vector<int> runs;
  MainThread::Post([&] {
    runs.push_back(1);
    MainThread::Post([&] { runs.push_back(3); });
  });
  MainThread::Post([&] { runs.push_back(2); });
  EXPECT_TRUE(runs.empty()) << "not from inside Post";
  EXPECT_EQ(wakeUps, 2);
  EXPECT_TRUE(MainThread::CheckSynchronize());
  EXPECT_EQ(runs, (std::vector<int>{1, 2})) << "a call posted meanwhile waits for the next turn";
  EXPECT_TRUE(MainThread::CheckSynchronize());
  EXPECT_EQ(runs, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(MainThread::CheckSynchronize());
}

TEST_F(MainThreadTest, WorkerBlocksUntilTheMainThreadRunsTheCall) {
  std::atomic<int> wakeUps{0};
  MainThread::SetWakeUp([&] { ++wakeUps; });
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    MainThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  while (wakeUps.load() == 0) std::this_thread::yield();
  // Queued and woken, but not run: the worker is still waiting.
  EXPECT_FALSE(returned.load());
  EXPECT_TRUE(MainThread::CheckSynchronize());
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(wakeUps.load(), 1);
}

TEST_F(MainThreadTest, ExceptionIsRaisedAgainInTheCaller) {
  std::string caught;
  ServedThread worker([&] {
    try {
      MainThread::Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  worker.WaitFor();
  EXPECT_EQ(caught, "boom");
}

TEST_F(MainThreadTest, WaitForServesHandOffsOfTheThreadItWaitsFor) {
  std::vector<int> seen;  // touched on the main thread only
  ServedThread worker([&] {
    for (int i = 0; i < 100; ++i) MainThread::Synchronize([&seen, i] { seen.push_back(i); });
  });
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
  ASSERT_EQ(seen.size(), 100U);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
}

TEST_F(MainThreadTest, CallsFromSeveralThreadsAllRunOnTheMainThread) {
  const auto mainId = std::this_thread::get_id();
  int runs = 0;  // main thread only
  bool allOnMain = true;
  constexpr int kWorkers = 4;
  std::vector<std::unique_ptr<ServedThread>> workers;
  workers.reserve(kWorkers);
  for (int t = 0; t < kWorkers; ++t) {
    workers.push_back(std::make_unique<ServedThread>([&] {
      for (int i = 0; i < 50; ++i) {
        MainThread::Synchronize([&] {
          allOnMain = allOnMain && std::this_thread::get_id() == mainId;
          ++runs;
        });
      }
    }));
  }
  for (auto& w : workers) w->WaitFor();
  EXPECT_EQ(runs, 200);
  EXPECT_TRUE(allOnMain);
}

TEST_F(MainThreadTest, CheckSynchronizeDoesNothingOffTheMainThread) {
  bool result = true;
  std::thread other([&] { result = MainThread::CheckSynchronize(); });
  other.join();
  EXPECT_FALSE(result);
}

}  // namespace
}  // namespace ostrivane
