#include "net/lv_udp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <thread>

#include "net/udp_platform_fake.h"
#include "support/main_thread.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;
using testutil::FakeUdpPlatform;

Bytes Remote(std::string_view payload) {
  Bytes d{0x02, 'L', 'V', 'X', 'M', 'L', 0x02};
  for (const char c : payload) d.push_back(static_cast<std::uint8_t>(c));
  return d;
}

class ReceiverTest : public testing::Test {
 protected:
  void SetUp() override {
    MainThread::Attach();
    platform.addresses = {{true, "fe80::1"}, {false, "10.0.0.5"}, {false, "10.0.1.5"}};
  }

  // Serves hand-offs on this (the main) thread until `done` holds.
  template <typename Pred>
  bool PumpUntil(Pred done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
      if (!MainThread::CheckSynchronize()) std::this_thread::sleep_for(1ms);
    }
    return done();
  }

  FakeUdpPlatform platform;
};

TEST_F(ReceiverTest, BindsAndJoinsOnTheFirstIPv4Address) {
  TLVUDPReceiver receiver(platform);
  EXPECT_FALSE(receiver.Active());
  EXPECT_TRUE(platform.Log().empty()) << "construction opens nothing";
  receiver.SetActive(true);
  EXPECT_TRUE(receiver.Active());
  EXPECT_EQ(platform.Log(),
            (std::vector<std::string>{"list", "socket", "reuse#1=0", "bind#1 10.0.0.5:19151",
                                      "join#1 224.0.0.1 on 10.0.0.5"}));
}

TEST_F(ReceiverTest, WithoutIPv4AddressListensOnTheWildcard) {
  platform.addresses = {{true, "fe80::1"}};
  TLVUDPReceiver receiver(platform);
  receiver.SetActive(true);
  EXPECT_TRUE(receiver.Active());
  EXPECT_EQ(platform.Log(),
            (std::vector<std::string>{"list", "socket", "reuse#1=0", "bind#1 0.0.0.0:19151",
                                      "join#1 224.0.0.1 on 0.0.0.0"}));
}

struct FailureCase {
  const char* name;
  const char* failOn;
  const char* message;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class ActivationFailureTest : public ReceiverTest,
                              public testing::WithParamInterface<FailureCase> {};

TEST_P(ActivationFailureTest, RaisesItsTextAndIsRetriedByWritingTrueAgain) {
  platform.failOn = GetParam().failOn;
  TLVUDPReceiver receiver(platform);
  try {
    receiver.SetActive(true);
    FAIL() << "activation should have raised";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  EXPECT_FALSE(receiver.Active());

  // The retry reuses the binding: no new address listing.
  platform.failOn.clear();
  receiver.SetActive(true);
  EXPECT_TRUE(receiver.Active());
  const auto log = platform.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "list"), 1);
  EXPECT_EQ(log.back(), "join#" + std::to_string(platform.Created()) + " 224.0.0.1 on 10.0.0.5");
  EXPECT_EQ(platform.OpenSockets(), 1) << "the socket of the failed attempt is released";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActivationFailureTest,
    testing::Values(
        FailureCase{"Bind", "bind", "Could not bind socket. Address and port are already in use."},
        FailureCase{"Join", "join", "Socket Error # 10049\r\nCannot assign requested address."},
        FailureCase{"Reuse", "reuse", "Socket Error # 10042\r\nBad protocol option."},
        FailureCase{"Socket", "socket", "Socket Error # 10024\r\nToo many open files."}),
    testutil::CaseName());

TEST_F(ReceiverTest, AddressListFailureRaisesAndOpensNothing) {
  platform.listFails = true;
  TLVUDPReceiver receiver(platform);
  EXPECT_THROW(receiver.SetActive(true), std::runtime_error);
  EXPECT_FALSE(receiver.Active());
  EXPECT_EQ(platform.OpenSockets(), 0);
}

TEST_F(ReceiverTest, SecondActivationOpensNothingNew) {
  TLVUDPReceiver receiver(platform);
  receiver.SetActive(true);
  const auto before = platform.Log();
  receiver.SetActive(true);
  EXPECT_EQ(platform.Log(), before);
  EXPECT_TRUE(receiver.Active());
}

TEST_F(ReceiverTest, DeliversValidDatagramsInOrderOnTheMainThread) {
  TLVUDPReceiver receiver(platform);
  std::vector<std::u16string> received;
  bool onMain = true;
  receiver.SetOnReceiveXML([&](TLVUDPReceiver& sender, std::u16string xml) {
    EXPECT_EQ(&sender, &receiver);
    onMain = onMain && MainThread::IsCurrent();
    received.push_back(std::move(xml));
  });
  receiver.SetActive(true);
  platform.Queue(Remote("first"));
  platform.Queue({});                         // empty: ignored
  platform.Queue(Remote(""));                 // no payload: dropped
  platform.Queue(Bytes(8193, 0x02));          // longer than the buffer: dropped
  platform.Queue({'L', 'V', 'X', 'M', 'L'});  // not a remote datagram
  Bytes full = Remote("");
  full.resize(8192, 'x');
  platform.Queue(full);  // exactly the buffer: delivered
  platform.Queue(Remote("last"));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(received[0], u"first");
  EXPECT_EQ(received[1], std::u16string(8185, u'x'));
  EXPECT_EQ(received[2], u"last");
  EXPECT_TRUE(onMain);
}

TEST_F(ReceiverTest, ListenerWaitsForTheHandlerBeforeReadingOn) {
  TLVUDPReceiver receiver(platform);
  std::size_t queuedDuringHandler = 0;
  int calls = 0;
  receiver.SetOnReceiveXML([&](TLVUDPReceiver&, const std::u16string&) {
    ++calls;
    // While this handler runs the listener is blocked: the second datagram
    // stays unread however long the handler takes.
    std::this_thread::sleep_for(20ms);
    queuedDuringHandler = platform.Pending();
  });
  receiver.SetActive(true);
  platform.Queue(Remote("a"));
  platform.Queue(Remote("b"));
  ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
  EXPECT_EQ(queuedDuringHandler, 1U);
  ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
}

TEST_F(ReceiverTest, DatagramsAlreadyWaitingAreReadWithoutAWaitEach) {
  TLVUDPReceiver receiver(platform);
  std::vector<std::u16string> received;
  receiver.SetOnReceiveXML(
      [&](TLVUDPReceiver&, std::u16string xml) { received.push_back(std::move(xml)); });
  receiver.SetActive(true);
  // The first datagram's hand-off waits, unserved, until the rest of the
  // burst is queued behind it.
  platform.Queue(Remote("0"));
  for (int i = 0; i < 5000 && platform.Pending() != 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(platform.Pending(), 0U);
  for (int i = 1; i < 10; ++i) platform.Queue(Remote(std::to_string(i)));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 10; }));
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i], std::u16string(1, static_cast<char16_t>(u'0' + i)));
  }
  // One wait for the first datagram, and at most one after the burst.
  EXPECT_LE(platform.Waits(), 2);
}

TEST(ReadAheadTest, AMissDoublesTheWaitsBeforeTheNextTryUpToTheCap) {
  TReadAhead ahead;
  EXPECT_FALSE(ahead.ReadFirst()) << "the first datagram is waited for";
  ahead.Consumed(false);
  std::vector<int> waitsBeforeTry;
  for (int miss = 0; miss < 9; ++miss) {
    ASSERT_TRUE(ahead.ReadFirst());
    ahead.Missed();
    int waits = 0;
    while (!ahead.ReadFirst()) {
      ahead.Consumed(false);
      ++waits;
      ASSERT_LE(waits, TReadAhead::kMaxWaitsAfterMiss);
    }
    waitsBeforeTry.push_back(waits);
  }
  EXPECT_EQ(waitsBeforeTry, (std::vector<int>{1, 2, 4, 8, 16, 32, 64, 64, 64}));
  // A read that finds a datagram ends the penalty: the next miss costs one wait.
  ahead.Consumed(true);
  ASSERT_TRUE(ahead.ReadFirst());
  ahead.Missed();
  ahead.Consumed(false);
  EXPECT_TRUE(ahead.ReadFirst());
}

TEST_F(ReceiverTest, HandlerExceptionDoesNotStopReception) {
  TLVUDPReceiver receiver(platform);
  std::vector<std::u16string> received;
  receiver.SetOnReceiveXML([&](TLVUDPReceiver&, const std::u16string& xml) {
    received.push_back(xml);
    if (xml == u"bad") throw std::runtime_error("handler failed");
  });
  receiver.SetActive(true);
  platform.Queue(Remote("bad"));
  platform.Queue(Remote("good"));
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
  EXPECT_EQ(received[1], u"good");
}

TEST_F(ReceiverTest, WithoutHandlerDatagramsAreDiscarded) {
  TLVUDPReceiver receiver(platform);
  receiver.SetActive(true);
  platform.Queue(Remote("nobody listens"));
  ASSERT_TRUE(PumpUntil([&] { return platform.Pending() == 0; }));
  EXPECT_TRUE(receiver.Active());
}

TEST_F(ReceiverTest, DeactivationLeavesClosesAndEndsTheListener) {
  TLVUDPReceiver receiver(platform);
  int calls = 0;
  receiver.SetOnReceiveXML([&](TLVUDPReceiver&, const std::u16string&) { ++calls; });
  receiver.SetActive(true);
  receiver.SetActive(false);
  EXPECT_FALSE(receiver.Active());
  const auto log = platform.Log();
  const std::vector<std::string> tail(log.end() - 3, log.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"leave#1 224.0.0.1 on 10.0.0.5", "close#1", "release#1"}));
  platform.Queue(Remote("too late"));
  for (int i = 0; i < 20; ++i) {
    MainThread::CheckSynchronize();
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(calls, 0);
}

TEST_F(ReceiverTest, ADatagramReadBeforeDeactivationIsStillDelivered) {
  TLVUDPReceiver receiver(platform);
  std::vector<std::u16string> received;
  receiver.SetOnReceiveXML(
      [&](TLVUDPReceiver&, std::u16string xml) { received.push_back(std::move(xml)); });
  receiver.SetActive(true);
  // Let the listener read it and block in the hand-off, then deactivate
  // without serving the queue first: the wait for the listener serves it.
  std::atomic<int> wakeUps{0};
  MainThread::SetWakeUp([&] { ++wakeUps; });
  platform.Queue(Remote("in flight"));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (wakeUps.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  MainThread::SetWakeUp({});
  ASSERT_GT(wakeUps.load(), 0) << "the listener never handed the datagram over";
  EXPECT_TRUE(received.empty());
  receiver.SetActive(false);
  EXPECT_FALSE(receiver.Active());
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received[0], u"in flight");
}

TEST_F(ReceiverTest, DestructionDeactivates) {
  {
    TLVUDPReceiver receiver(platform);
    receiver.SetActive(true);
  }
  EXPECT_EQ(platform.OpenSockets(), 0);
  const auto log = platform.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "leave#1 224.0.0.1 on 10.0.0.5"), log.end());
}

struct GroupCase {
  const char* name;
  const char* group;
  bool joins;
  friend void PrintTo(const GroupCase& c, std::ostream* os) { *os << c.name; }
};

class MulticastGroupTest : public testing::TestWithParam<GroupCase> {
 protected:
  void SetUp() override { MainThread::Attach(); }
};

// Only an IPv4 multicast group (first number 224 to 239) is joined; with any
// other group the socket listens without a membership.
TEST_P(MulticastGroupTest, JoinsOnlyAnIPv4MulticastGroup) {
  FakeUdpPlatform platform;
  TMulticastClient client(platform);
  client.MulticastGroup = GetParam().group;
  ASSERT_NO_THROW(client.Activate());
  EXPECT_TRUE(client.Active());
  client.Deactivate();
  const std::string group = GetParam().group;
  std::vector<std::string> expected{"socket", "reuse#1=0", "bind#1 0.0.0.0:19151"};
  if (GetParam().joins) expected.push_back("join#1 " + group + " on 0.0.0.0");
  if (GetParam().joins) expected.push_back("leave#1 " + group + " on 0.0.0.0");
  expected.insert(expected.end(), {"close#1", "release#1"});
  EXPECT_EQ(platform.Log(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, MulticastGroupTest,
                         testing::Values(GroupCase{"AllHosts", "224.0.0.1", true},
                                         GroupCase{"LowestGroup", "224.0.0.0", true},
                                         GroupCase{"HighestGroup", "239.255.255.255", true},
                                         GroupCase{"BelowTheRange", "223.255.255.255", false},
                                         GroupCase{"AboveTheRange", "240.0.0.1", false},
                                         GroupCase{"Unicast", "10.0.0.1", false},
                                         GroupCase{"Empty", "", false},
                                         GroupCase{"NotAnAddress", "not-an-address", false},
                                         GroupCase{"ThreeNumbers", "224.0.0", false},
                                         GroupCase{"FiveNumbers", "224.0.0.1.5", false},
                                         GroupCase{"NumberTooLarge", "224.0.0.256", false},
                                         GroupCase{"FirstNumberTooLarge", "2240.0.0.1", false},
                                         GroupCase{"TrailingBlank", "224.0.0.1 ", false},
                                         GroupCase{"EmptyNumber", "224..0.1", false},
                                         GroupCase{"LeadingZero", "224.000.0.1", false}),
                         testutil::CaseName());

}  // namespace
}  // namespace ostrivane
