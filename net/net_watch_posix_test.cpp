// The network watch's netlink socket: what the loop waits for, and a link
// that goes down and up (the address list leaves out a link that is down).
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "net/net_watch_platform.h"
#include "net/net_watch_test_wait.h"

namespace ostrivane {

bool testutil::WaitForNotice(const platform::NetworkWatch& watch, std::chrono::milliseconds limit) {
  pollfd ready{static_cast<int>(platform::Waitable(watch)), POLLIN, 0};
  return ::poll(&ready, 1, static_cast<int>(limit.count())) > 0 && (ready.revents & POLLIN) != 0;
}

namespace {

using namespace std::chrono_literals;

// As in net_watch_platform_test.cpp: the namespace's script makes the change.
void AskForLink(const std::string& state, int number) {
  const std::string path = std::string(std::getenv("OSTRIVANE_NETWATCH_STEPS")) + "/ask-link" +
                           std::to_string(number) + "-" + state;
  std::ofstream file(path);
  ASSERT_TRUE(file.good()) << path;
}

TEST(NetworkWatchPosix, TellsOfALinkGoingDownAndUp) {
  if (std::getenv("OSTRIVANE_NETWATCH_STEPS") == nullptr) {
    GTEST_SKIP() << "needs the network namespace of net_watch_netns_test.sh";
  }
  const platform::NetworkWatchPtr watch = platform::OpenNetworkWatch();
  ASSERT_NE(watch, nullptr);
  AskForLink("down", 1);
  ASSERT_TRUE(testutil::WaitForNotice(*watch, 10s)) << "no notice of the link going down";
  EXPECT_TRUE(platform::TakeNetworkChanges(*watch));
  AskForLink("up", 2);
  ASSERT_TRUE(testutil::WaitForNotice(*watch, 10s)) << "no notice of the link coming up";
  EXPECT_TRUE(platform::TakeNetworkChanges(*watch));
}

}  // namespace
}  // namespace ostrivane
