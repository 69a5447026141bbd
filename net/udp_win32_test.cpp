// The Winsock socket layer on loopback addresses only: every datagram these
// tests send goes to 127.0.0.1.
#include <winsock2.h>

// After winsock2.h.
#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "net/lv_udp.h"
#include "net/socket_error.h"
#include "net/udp_platform.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;

// Winsock for the tests' own sockets (the platform starts its own).
class WinsockScope {
 public:
  WinsockScope() {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (started_) ::WSACleanup();
  }
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  [[nodiscard]] bool Started() const noexcept { return started_; }

 private:
  bool started_ = false;
};

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sin;
}

// A port that is free on 127.0.0.1 right now.
std::uint16_t FreePort() {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sin = Loopback(0);
  int length = sizeof sin;
  std::uint16_t port = 0;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&sin), &length) == 0) {
    port = ntohs(sin.sin_port);
  }
  ::closesocket(s);
  return port;
}

// Sends `size` bytes counting up from 0 (mod 251) to 127.0.0.1:port.
void SendToLoopback(std::uint16_t port, std::size_t size) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  std::vector<char> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i % 251);
  const sockaddr_in to = Loopback(port);
  const int sent = ::sendto(s, data.data(), static_cast<int>(data.size()), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const int error = ::WSAGetLastError();
  ::closesocket(s);
  ASSERT_EQ(sent, static_cast<int>(size)) << "error " << error;
}

// Waits for and reads the next datagram (Dropped results too); Failed when
// nothing came within a generous time.
IUdpSocket::ReadResult Next(IUdpSocket& socket, std::span<std::uint8_t> buffer) {
  if (socket.WaitForDatagram(5000ms) != IUdpSocket::WaitResult::Ready) return {};
  return socket.Read(buffer);
}

bool CountsUp(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != i % 251) return false;
  }
  return true;
}

class Win32SocketTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock.Started());
    port = FreePort();
    ASSERT_NE(port, 0);
    socket = DefaultUdpPlatform().CreateSocket();
    socket->SetReuseAddress(false);
    socket->Bind(GetParam(), port);
  }

  WinsockScope winsock;
  std::uint16_t port = 0;
  std::unique_ptr<IUdpSocket> socket;
  std::array<std::uint8_t, kReceiveBufferSize> buffer{};
};

TEST_P(Win32SocketTest, ReadWithNothingWaitingReturnsEmptyAtOnce) {
  EXPECT_EQ(socket->Read(buffer).status, IUdpSocket::ReadStatus::Empty);
  SendToLoopback(port, 5);
  const auto read = Next(*socket, buffer);
  EXPECT_EQ(read.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(read.size, 5U);
  EXPECT_EQ(socket->Read(buffer).status, IUdpSocket::ReadStatus::Empty);
}

TEST_P(Win32SocketTest, ReceivesADatagramSentToItsAddressAndPort) {
  SendToLoopback(port, 5);
  const auto read = Next(*socket, buffer);
  EXPECT_EQ(read.status, IUdpSocket::ReadStatus::Datagram);
  ASSERT_EQ(read.size, 5U);
  EXPECT_TRUE(CountsUp(std::span(buffer).first(5)));
}

TEST_P(Win32SocketTest, ReadsWholeDatagramsUpToTheBufferAndDropsLongerOnes) {
  SendToLoopback(port, kReceiveBufferSize);
  SendToLoopback(port, kReceiveBufferSize + 1);
  SendToLoopback(port, 3);
  const auto full = Next(*socket, buffer);
  EXPECT_EQ(full.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(full.size, kReceiveBufferSize);
  EXPECT_TRUE(CountsUp(buffer));
  buffer.fill(0xFF);
  EXPECT_EQ(Next(*socket, buffer).status, IUdpSocket::ReadStatus::Dropped);
  const auto next = Next(*socket, buffer);
  EXPECT_EQ(next.status, IUdpSocket::ReadStatus::Datagram);
  ASSERT_EQ(next.size, 3U);
  EXPECT_TRUE(CountsUp(std::span(buffer).first(3)));
}

TEST_P(Win32SocketTest, ReadsAnEmptyDatagramAsZeroBytesAndTheNextOneAfterIt) {
  SendToLoopback(port, 0);
  SendToLoopback(port, 7);
  const auto empty = Next(*socket, buffer);
  EXPECT_EQ(empty.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(empty.size, 0U);
  const auto next = Next(*socket, buffer);
  EXPECT_EQ(next.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(next.size, 7U);
}

TEST_P(Win32SocketTest, ASecondBindOfThePortFailsWithTheBindText) {
  auto second = DefaultUdpPlatform().CreateSocket();
  second->SetReuseAddress(false);
  try {
    second->Bind(GetParam(), port);
    FAIL() << "the second bind should have failed";
  } catch (const EBindError& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
}

TEST_P(Win32SocketTest, WaitTimesOutWhenNothingArrives) {
  EXPECT_EQ(socket->WaitForDatagram(10ms), IUdpSocket::WaitResult::Timeout);
}

TEST_P(Win32SocketTest, CloseFromAnotherThreadEndsAWaitAtOnce) {
  // The wait is far longer than the deadline below: only Close can end it in
  // time.
  std::promise<void> waiting;
  auto result = std::async(std::launch::async, [&] {
    waiting.set_value();
    return socket->WaitForDatagram(60s);
  });
  waiting.get_future().wait();
  std::this_thread::sleep_for(50ms);  // most likely inside select by now
  socket->Close();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(result.get(), IUdpSocket::WaitResult::Closed);
  EXPECT_FALSE(socket->IsOpen());
}

TEST_P(Win32SocketTest, AfterCloseWaitsReturnAtOnceAndReadsFail) {
  SendToLoopback(port, 4);
  ASSERT_EQ(socket->WaitForDatagram(5000ms), IUdpSocket::WaitResult::Ready);
  socket->Close();
  socket->Close();  // a second close does nothing
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket->WaitForDatagram(60s), IUdpSocket::WaitResult::Closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(socket->Read(buffer).status, IUdpSocket::ReadStatus::Failed);
}

INSTANTIATE_TEST_SUITE_P(Addresses, Win32SocketTest, testing::Values("127.0.0.1", ""),
                         [](const testing::TestParamInfo<const char*>& p) {
                           return std::string(*p.param == '\0' ? "Wildcard" : "Loopback");
                         });

// (Wine, unlike Windows, lets a socket bind an address that no interface
// has, so only the unparsable address is tried here.)
TEST(Win32Socket, BindingAnAddressThatCannotBeParsedFails) {
  auto socket = DefaultUdpPlatform().CreateSocket();
  EXPECT_THROW(socket->Bind("not-an-address", FreePort()), EBindError);
}

TEST(Win32Socket, JoinsAndLeavesTheGroupOnTheLoopbackInterface) {
  auto socket = DefaultUdpPlatform().CreateSocket();
  socket->SetReuseAddress(false);
  socket->Bind("127.0.0.1", FreePort());
  EXPECT_NO_THROW(socket->JoinGroup(kRemoteGroup, "127.0.0.1"));
  socket->LeaveGroup(kRemoteGroup, "127.0.0.1");
  socket->LeaveGroup(kRemoteGroup, "127.0.0.1");  // not a member any more: ignored
}

// Inside the network namespace of local_addresses_netns_test.sh the
// interfaces are known, and so is the list of IPv4 entries, in order.
TEST(Win32Platform, LocalAddressesLeaveOutLoopback) {
  const auto addresses = DefaultUdpPlatform().LocalAddresses();
  std::string ipv4;
  for (const auto& a : addresses) {
    if (!a.ipv6) ipv4 += (ipv4.empty() ? "" : ",") + a.address;
  }
  if (const char* expected = std::getenv("OSTRIVANE_EXPECTED_IPV4")) {
    EXPECT_EQ(ipv4, expected);
  }
  for (const auto& a : addresses) {
    if (a.ipv6) {
      EXPECT_NE(a.address, "::1");
      EXPECT_NE(a.address.find(':'), std::string::npos) << a.address;
    } else {
      EXPECT_NE(a.address.rfind("127.", 0), 0U) << a.address;
      IN_ADDR parsed{};
      EXPECT_EQ(::inet_pton(AF_INET, a.address.c_str(), &parsed), 1) << a.address;
    }
  }
}

}  // namespace
}  // namespace ostrivane
