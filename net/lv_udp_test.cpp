#include "net/lv_udp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

#include "net/socket_error.h"
#include "support/main_thread.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;

// A scripted system: records every socket call and delivers the datagrams
// that the test queues.
class FakePlatform : public IUdpPlatform {
 public:
  std::vector<LocalAddress> addresses;
  bool listFails = false;
  std::string failOn;  // "socket", "reuse", "bind" or "join": that call raises

  std::vector<std::string> Log() {
    const std::lock_guard guard(lock);
    return log;
  }
  void Record(std::string entry) {
    const std::lock_guard guard(lock);
    log.push_back(std::move(entry));
  }
  void Queue(Bytes datagram) {
    {
      const std::lock_guard guard(lock);
      datagrams.push_back(std::move(datagram));
    }
    changed.notify_all();
  }
  int OpenSockets() {
    const std::lock_guard guard(lock);
    return openSockets;
  }

  std::vector<LocalAddress> LocalAddresses() override {
    Record("list");
    if (listFails) throw std::runtime_error("System Error.  Code: 5.\r\nAccess denied");
    return addresses;
  }
  std::unique_ptr<IUdpSocket> CreateSocket() override;

  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> log;
  std::deque<Bytes> datagrams;
  int openSockets = 0;
  int created = 0;
};

class FakeSocket : public IUdpSocket {
 public:
  FakeSocket(FakePlatform& p, int id) : p_(p), id_("#" + std::to_string(id)) {}
  ~FakeSocket() override {
    Close();
    p_.Record("release" + id_);
  }
  void SetReuseAddress(bool on) override {
    p_.Record("reuse" + id_ + "=" + (on ? "1" : "0"));
    if (p_.failOn == "reuse") throw ESocketError(10042);
  }
  void Bind(const std::string& a, std::uint16_t port) override {
    p_.Record("bind" + id_ + " " + (a.empty() ? "0.0.0.0" : a) + ":" + std::to_string(port));
    if (p_.failOn == "bind") throw EBindError();
  }
  void JoinGroup(const std::string& g, const std::string& a) override {
    p_.Record("join" + id_ + " " + g + " on " + (a.empty() ? "0.0.0.0" : a));
    if (p_.failOn == "join") throw ESocketError(10049);
  }
  void LeaveGroup(const std::string& g, const std::string& a) noexcept override {
    p_.Record("leave" + id_ + " " + g + " on " + (a.empty() ? "0.0.0.0" : a));
  }
  WaitResult WaitForDatagram(std::chrono::milliseconds timeout) override {
    std::unique_lock guard(p_.lock);
    p_.changed.wait_for(guard, timeout, [&] { return closed_ || !p_.datagrams.empty(); });
    if (closed_) return WaitResult::Closed;
    return p_.datagrams.empty() ? WaitResult::Timeout : WaitResult::Ready;
  }
  ReadResult Read(std::span<std::uint8_t> buffer) override {
    const std::lock_guard guard(p_.lock);
    if (closed_) return {ReadStatus::Failed, 0};
    if (p_.datagrams.empty()) return {ReadStatus::Dropped, 0};
    Bytes d = std::move(p_.datagrams.front());
    p_.datagrams.pop_front();
    if (d.size() > buffer.size()) return {ReadStatus::Dropped, 0};
    std::copy(d.begin(), d.end(), buffer.begin());
    return {ReadStatus::Datagram, d.size()};
  }
  void Close() noexcept override {
    {
      const std::lock_guard guard(p_.lock);
      if (closed_) return;
      closed_ = true;
      --p_.openSockets;
      p_.log.push_back("close" + id_);
    }
    p_.changed.notify_all();
  }
  [[nodiscard]] bool IsOpen() const noexcept override {
    const std::lock_guard guard(p_.lock);
    return !closed_;
  }

 private:
  FakePlatform& p_;
  std::string id_;
  bool closed_ = false;  // guarded by p_.lock
};

std::unique_ptr<IUdpSocket> FakePlatform::CreateSocket() {
  Record("socket");
  if (failOn == "socket") throw ESocketError(10024);
  std::lock_guard guard(lock);
  ++openSockets;
  return std::make_unique<FakeSocket>(*this, ++created);
}

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

  FakePlatform platform;
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
  EXPECT_EQ(log.back(), "join#" + std::to_string(platform.created) + " 224.0.0.1 on 10.0.0.5");
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
    const std::lock_guard guard(platform.lock);
    queuedDuringHandler = platform.datagrams.size();
  });
  receiver.SetActive(true);
  platform.Queue(Remote("a"));
  platform.Queue(Remote("b"));
  ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
  EXPECT_EQ(queuedDuringHandler, 1U);
  ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
}

TEST_F(ReceiverTest, HandlerExceptionDoesNotStopReception) {
  TLVUDPReceiver receiver(platform);
  std::vector<std::u16string> received;
  receiver.SetOnReceiveXML([&](TLVUDPReceiver&, std::u16string xml) {
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
  ASSERT_TRUE(PumpUntil([&] {
    const std::lock_guard guard(platform.lock);
    return platform.datagrams.empty();
  }));
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
  while (wakeUps.load() == 0) std::this_thread::sleep_for(1ms);
  MainThread::SetWakeUp({});
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

}  // namespace
}  // namespace ostrivane
