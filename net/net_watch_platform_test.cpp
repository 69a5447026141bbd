// The system's network watch, on both platforms.
//
// A change can be made only where nothing else depends on the network: in
// the network namespace of net_watch_netns_test.sh, which starts with
// loopback and a veth pair va/vb that is up without addresses, and makes
// each change that a test asks for by dropping a file into the folder that
// OSTRIVANE_NETWATCH_STEPS names. Elsewhere the tests that need a change
// are skipped.
#include "net/net_watch_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "net/lv_udp.h"
#include "net/net_watch_test_wait.h"
#include "net/udp_platform.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Asks the namespace's script for a change: "address" (10.99.0.1/24 on
// the pair's host end), "replace" (the pair deleted and made again under
// other names, the address on the new host end), "down" and "up" (the host
// end's link).
void Ask(const std::string& change) {
  static int asked = 0;
  const std::string path = std::string(std::getenv("OSTRIVANE_NETWATCH_STEPS")) + "/ask-" +
                           std::to_string(++asked) + "-" + change;
  std::ofstream file(path);
  ASSERT_TRUE(file.good()) << path;
}

bool InOwnNamespace() { return std::getenv("OSTRIVANE_NETWATCH_STEPS") != nullptr; }

// Takes notices until none has come for half a second (at most 5 s): a
// change brings several.
void TakeUntilQuiet(platform::NetworkWatch& watch) {
  const auto limit = Clock::now() + 5s;
  while (Clock::now() < limit && testutil::WaitForNotice(watch, 500ms)) {
    platform::TakeNetworkChanges(watch);
  }
}

TEST(NetworkWatchPlatform, OpensAndClosesPromptly) {
  const auto started = Clock::now();
  {
    const platform::NetworkWatchPtr watch = platform::OpenNetworkWatch();
    ASSERT_NE(watch, nullptr);
    // Nothing waits for long: a take never blocks.
    platform::TakeNetworkChanges(*watch);
  }
  // Closing cancels the request for the next notice (Windows) or closes the
  // socket (POSIX), without waiting for a change.
  EXPECT_LT(Clock::now() - started, 1s);
}

TEST(NetworkWatchPlatform, TellsOfAnAddressAndOfAnInterfaceReplaced) {
  if (!InOwnNamespace()) GTEST_SKIP() << "needs the network namespace of net_watch_netns_test.sh";
  const platform::NetworkWatchPtr watch = platform::OpenNetworkWatch();
  ASSERT_NE(watch, nullptr);
  EXPECT_FALSE(testutil::WaitForNotice(*watch, 300ms)) << "a notice without a change";
  EXPECT_FALSE(platform::TakeNetworkChanges(*watch));

  Ask("address");
  ASSERT_TRUE(testutil::WaitForNotice(*watch, 10s)) << "no notice of the new address";
  EXPECT_TRUE(platform::TakeNetworkChanges(*watch));
  TakeUntilQuiet(*watch);
  const auto before = FirstIPv4Address(DefaultUdpPlatform().LocalAddresses());
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(before->address, "10.99.0.1");
  EXPECT_NE(before->interfaceIndex, 0U);
  EXPECT_FALSE(platform::TakeNetworkChanges(*watch)) << "the notices were taken";

  // The same address on a new interface: the list tells them apart by the
  // interface's number.
  Ask("replace");
  ASSERT_TRUE(testutil::WaitForNotice(*watch, 10s)) << "no notice of the replaced interface";
  EXPECT_TRUE(platform::TakeNetworkChanges(*watch));
  TakeUntilQuiet(*watch);
  const auto after = FirstIPv4Address(DefaultUdpPlatform().LocalAddresses());
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->address, "10.99.0.1");
  EXPECT_NE(after->interfaceIndex, before->interfaceIndex);
}

}  // namespace
}  // namespace ostrivane
