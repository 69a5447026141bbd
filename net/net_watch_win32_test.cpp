// The network watch's event: what the message loop waits for. (A link that
// goes down or up without its addresses changing is not tried here: Wine
// reports no change for it, Windows does, since such an adapter loses its
// addresses.)
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "net/net_watch_platform.h"
#include "net/net_watch_test_wait.h"

namespace ostrivane {

bool testutil::WaitForNotice(const platform::NetworkWatch& watch, std::chrono::milliseconds limit) {
  const auto event = reinterpret_cast<HANDLE>(platform::Waitable(watch));
  return ::WaitForSingleObject(event, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

namespace {

using namespace std::chrono_literals;

TEST(NetworkWatchWin32, WaitsOnAnEventThatIsNotSignalledWithoutAChange) {
  const platform::NetworkWatchPtr watch = platform::OpenNetworkWatch();
  ASSERT_NE(watch, nullptr);
  const auto event = reinterpret_cast<HANDLE>(platform::Waitable(*watch));
  ASSERT_NE(event, nullptr);
  // A take that finds the request still under way leaves it under way: the
  // event stays unsignalled, and a second take finds nothing either.
  EXPECT_FALSE(platform::TakeNetworkChanges(*watch));
  EXPECT_EQ(::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(platform::TakeNetworkChanges(*watch));
}

}  // namespace
}  // namespace ostrivane
