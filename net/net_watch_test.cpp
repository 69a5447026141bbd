#include "net/net_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "net/udp_platform_fake.h"
#include "support/main_thread.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;
using testutil::FakeUdpPlatform;
using Clock = TNetworkWatch::Clock;

const LocalAddress kLinkLocal6{true, "fe80::1", 3};
const LocalAddress kWired{false, "10.0.0.5", 3};
const LocalAddress kWiredReplaced{false, "10.0.0.5", 7};
const LocalAddress kWiredRenumbered{false, "10.0.0.9", 3};
const LocalAddress kWifi{false, "192.168.1.20", 4};

class NetworkWatchTest : public testing::Test {
 protected:
  void SetUp() override { MainThread::Attach(); }

  // The receiver activated on `addresses`; its log starts afresh.
  void Start(std::vector<LocalAddress> addresses) {
    platform.addresses = std::move(addresses);
    receiver.SetActive(true);
    seen = platform.Log().size();
  }

  // One notice at `now` and the look when it is due, as the shell's timer
  // makes it.
  void NoticeAndLook(Clock::time_point now) {
    const auto delay = watch.Changed(now);
    EXPECT_EQ(watch.Check(now + delay), std::nullopt);
  }

  // The log entries since Start (or the last call).
  std::vector<std::string> NewCalls() {
    const auto log = platform.Log();
    std::vector<std::string> fresh(log.begin() + static_cast<std::ptrdiff_t>(seen), log.end());
    seen = log.size();
    return fresh;
  }

  // The address listings among `calls`: one per look, and one more for
  // each activation, which lists the addresses again.
  static int Listings(const std::vector<std::string>& calls) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), "list"));
  }
  static int Activations(const std::vector<std::string>& calls) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), "socket"));
  }

  FakeUdpPlatform platform;
  TLVUDPReceiver receiver{platform};
  TNetworkWatch watch{receiver};
  std::size_t seen = 0;
  const Clock::time_point t0 = Clock::time_point{} + 1h;
};

// What a look does, by what the system lists before and after the change.
struct DecisionCase {
  const char* name;
  std::vector<LocalAddress> before;
  std::vector<LocalAddress> after;
  // The new activation's bind and join, or nothing when the receiver is
  // left alone.
  std::vector<std::string> activation;
  friend void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }
};

class NetworkWatchDecisionTest : public NetworkWatchTest,
                                 public testing::WithParamInterface<DecisionCase> {};

TEST_P(NetworkWatchDecisionTest, ActivatesAgainOnlyWhenTheChosenAddressChanged) {
  const DecisionCase& c = GetParam();
  Start(c.before);
  platform.addresses = c.after;
  NoticeAndLook(t0);
  const auto calls = NewCalls();
  if (c.activation.empty()) {
    EXPECT_EQ(calls, std::vector<std::string>{"list"}) << "the receiver is left alone";
    EXPECT_EQ(platform.Created(), 1);
  } else {
    // The look, the old socket's leave and close, the new activation.
    ASSERT_GE(calls.size(), 6U);
    EXPECT_EQ(calls[0], "list");
    EXPECT_EQ(calls[1].rfind("leave#1 ", 0), 0U) << calls[1];
    EXPECT_EQ(calls[2], "close#1");
    const std::vector<std::string> tail(calls.end() - 2, calls.end());
    EXPECT_EQ(tail, c.activation);
    EXPECT_EQ(platform.Created(), 2) << "one new socket";
    EXPECT_EQ(platform.OpenSockets(), 1);
  }
  EXPECT_TRUE(receiver.Active());
  EXPECT_EQ(receiver.ChosenAddress(), FirstIPv4Address(c.after));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetworkWatchDecisionTest,
    testing::Values(DecisionCase{"NothingChanged", {kWired}, {kWired}, {}},
                    DecisionCase{"AnotherAddressAfterTheFirst", {kWired}, {kWired, kWifi}, {}},
                    DecisionCase{"OnlyIPv6Changed", {kWired}, {kLinkLocal6, kWired}, {}},
                    DecisionCase{"StillNoIPv4Address", {kLinkLocal6}, {}, {}},
                    DecisionCase{"NetworkCameUp",
                                 {},
                                 {kWired},
                                 {"bind#2 10.0.0.5:19151", "join#2 224.0.0.1 on 10.0.0.5"}},
                    DecisionCase{"AddressChanged",
                                 {kWired},
                                 {kWiredRenumbered},
                                 {"bind#2 10.0.0.9:19151", "join#2 224.0.0.1 on 10.0.0.9"}},
                    DecisionCase{"InterfaceReplaced",
                                 {kWired},
                                 {kWiredReplaced},
                                 {"bind#2 10.0.0.5:19151", "join#2 224.0.0.1 on 10.0.0.5"}},
                    DecisionCase{"FirstAddressGone",
                                 {kWired, kWifi},
                                 {kWifi},
                                 {"bind#2 192.168.1.20:19151", "join#2 224.0.0.1 on 192.168.1.20"}},
                    DecisionCase{"OrderChanged",
                                 {kWired, kWifi},
                                 {kWifi, kWired},
                                 {"bind#2 192.168.1.20:19151", "join#2 224.0.0.1 on 192.168.1.20"}},
                    DecisionCase{"NetworkWent",
                                 {kWired},
                                 {kLinkLocal6},
                                 {"bind#2 0.0.0.0:19151", "join#2 224.0.0.1 on 0.0.0.0"}}),
    testutil::CaseName());

TEST_F(NetworkWatchTest, NothingHappensWithoutANotice) {
  Start({kWired});
  platform.addresses = {kWifi};
  EXPECT_EQ(watch.Check(t0), std::nullopt);
  EXPECT_EQ(watch.Check(t0 + 1h), std::nullopt);
  EXPECT_TRUE(NewCalls().empty());
  EXPECT_FALSE(watch.Pending());
}

TEST_F(NetworkWatchTest, LooksOnlyOnceTheNoticesHaveBeenQuiet) {
  Start({});
  platform.addresses = {kWired};
  EXPECT_EQ(watch.Changed(t0), kNetworkQuietPeriod);
  // A timer that ends early is told to run again for the rest.
  EXPECT_EQ(watch.Check(t0 + 200ms), kNetworkQuietPeriod - 200ms);
  EXPECT_TRUE(NewCalls().empty());
  EXPECT_TRUE(watch.Pending());
  EXPECT_EQ(watch.Check(t0 + kNetworkQuietPeriod), std::nullopt);
  const auto calls = NewCalls();
  EXPECT_EQ(Listings(calls), 2) << "one look, one activation";
  EXPECT_EQ(Activations(calls), 1);
  EXPECT_FALSE(watch.Pending());
}

TEST_F(NetworkWatchTest, BurstOfNoticesGivesOneActivation) {
  Start({});
  // A link coming up: its state, its address, a second address, the link
  // again, 100 ms apart; the timer restarted by each.
  Clock::time_point due{};
  for (int i = 0; i < 5; ++i) {
    const auto now = t0 + i * 100ms;
    if (i == 1) platform.addresses = {kWired};
    if (i == 3) platform.addresses = {kWired, kWifi};
    EXPECT_EQ(watch.Changed(now), kNetworkQuietPeriod);
    due = now + kNetworkQuietPeriod;
  }
  // The timer of the first notice, had the shell not restarted it: too early.
  EXPECT_EQ(watch.Check(t0 + kNetworkQuietPeriod), 400ms);
  EXPECT_EQ(watch.Check(due), std::nullopt);
  const auto calls = NewCalls();
  EXPECT_EQ(Listings(calls), 2) << "one look, one activation";
  EXPECT_EQ(Activations(calls), 1);
  EXPECT_EQ(receiver.ChosenAddress(), kWired);
  EXPECT_TRUE(receiver.Active());
}

TEST_F(NetworkWatchTest, NoticesThatNeverStopPutTheLookOffBoundedly) {
  Start({kWired});
  // A link going up and down every 200 ms for ten seconds; the shell's
  // timer, restarted by each notice, ends at `timer`.
  std::vector<Clock::time_point> looks;
  const auto never = Clock::time_point::max();
  auto timer = never;
  const auto last = t0 + 10s;
  for (auto now = t0; now <= last + 1s; now += 10ms) {
    if (now >= timer) {
      timer = never;
      const std::size_t before = platform.Log().size();
      if (const auto again = watch.Check(now)) timer = now + *again;
      if (platform.Log().size() > before) looks.push_back(now);
    }
    if (now <= last && (now - t0) % 200ms == 0ms) timer = now + watch.Changed(now);
  }
  ASSERT_FALSE(looks.empty());
  EXPECT_LE(looks.front() - t0, kNetworkLongestDelay);
  for (std::size_t i = 1; i < looks.size(); ++i) {
    EXPECT_LE(looks[i] - looks[i - 1], kNetworkLongestDelay + 200ms) << "look " << i;
  }
  EXPECT_EQ(looks.back(), last + kNetworkQuietPeriod) << "the last notice's look";
  EXPECT_LT(looks.size(), 10U) << "far fewer looks than notices";
}

TEST_F(NetworkWatchTest, FailedActivationIsQuietAndRetriedAtTheNextNotice) {
  Start({kWired});
  platform.addresses = {kWiredRenumbered};
  platform.failOn = "bind";
  EXPECT_NO_THROW(NoticeAndLook(t0));
  EXPECT_FALSE(receiver.Active());
  // No notice, no retry.
  platform.failOn.clear();
  EXPECT_EQ(watch.Check(t0 + 1h), std::nullopt);
  EXPECT_FALSE(receiver.Active());
  NewCalls();
  // The next notice retries, although the address is the same as at the
  // failed attempt.
  NoticeAndLook(t0 + 2h);
  EXPECT_TRUE(receiver.Active());
  EXPECT_EQ(NewCalls().back(), "join#3 224.0.0.1 on 10.0.0.9");
  EXPECT_EQ(platform.OpenSockets(), 1) << "the failed attempt's socket was let go";
}

TEST_F(NetworkWatchTest, SecondCopyKeepsFailingQuietlyAtEachNotice) {
  // The first copy holds the port: the start-up activation fails (the
  // window reports that one), and so does every later attempt.
  platform.addresses = {kWired};
  platform.failOn = "bind";
  EXPECT_THROW(receiver.SetActive(true), EBindError);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NO_THROW(NoticeAndLook(t0 + i * 1h));
    EXPECT_FALSE(receiver.Active());
  }
  EXPECT_EQ(platform.Created(), 4) << "one attempt per notice";
  EXPECT_EQ(platform.OpenSockets(), 1) << "only the last attempt's socket is kept";
  // The first copy ends: the next change finds the port free.
  platform.failOn.clear();
  NoticeAndLook(t0 + 5h);
  EXPECT_TRUE(receiver.Active());
}

TEST_F(NetworkWatchTest, AddressListThatCannotBeHadLeavesTheReceiverAlone) {
  Start({kWired});
  platform.listFails = true;
  EXPECT_NO_THROW(NoticeAndLook(t0));
  EXPECT_EQ(NewCalls(), std::vector<std::string>{"list"});
  EXPECT_TRUE(receiver.Active());
  platform.listFails = false;
  platform.addresses = {kWifi};
  NoticeAndLook(t0 + 1h);
  EXPECT_EQ(receiver.ChosenAddress(), kWifi);
  EXPECT_TRUE(receiver.Active());
}

TEST_F(NetworkWatchTest, ActivationWithADatagramInHandDeliversItAndShutdownIsPrompt) {
  // The listener has read a datagram and holds it until the receiver
  // leaves its group: the new activation's deactivation hands it over and
  // waits for the listener meanwhile.
  platform.holdReadsUntilLeave = true;
  std::vector<std::u16string> delivered;
  bool onMainThread = true;
  receiver.SetOnReceiveXML([&](TLVUDPReceiver&, std::u16string xml) {
    onMainThread = onMainThread && MainThread::IsCurrent();
    delivered.push_back(std::move(xml));
  });
  Start({kWired});
  platform.Queue(Bytes{0x02, 'L', 'V', 'X', 'M', 'L', 0x02, 'a'});
  ASSERT_TRUE(platform.WaitUntilReading());
  platform.addresses = {kWifi};

  const auto started = Clock::now();
  NoticeAndLook(t0);
  const auto activation = Clock::now() - started;
  EXPECT_EQ(delivered, std::vector<std::u16string>{u"a"});
  EXPECT_TRUE(onMainThread);
  EXPECT_TRUE(receiver.Active());
  EXPECT_EQ(receiver.ChosenAddress(), kWifi);

  // The program ends right after: the new listener ends at once too.
  const auto ending = Clock::now();
  receiver.SetActive(false);
  const auto shutdown = Clock::now() - ending;
  // Well below the listener's one-second wait: neither waited for it.
  EXPECT_LT(activation, kListenerWait / 2);
  EXPECT_LT(shutdown, kListenerWait / 2);
  EXPECT_EQ(platform.OpenSockets(), 0);
}

}  // namespace
}  // namespace ostrivane
