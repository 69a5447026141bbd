// The POSIX socket layer on loopback addresses only.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <thread>

#include "net/lv_udp.h"
#include "net/socket_error.h"
#include "net/udp_platform.h"
#include "support/system_error.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;

// A port from the ephemeral range that is free right now.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  const bool found = ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0;
  ::close(fd);
  EXPECT_TRUE(found) << "no free port on loopback";
  return ntohs(sin.sin_port);
}

void SendTo(const char* address, std::uint16_t port, std::size_t size) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &to.sin_addr);
  const std::vector<char> data(size, 'x');
  ASSERT_EQ(::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(size));
  ::close(fd);
}

// Waits for and reads the next datagram; Dropped results are returned too.
IUdpSocket::ReadResult Next(IUdpSocket& socket, std::span<std::uint8_t> buffer) {
  if (socket.WaitForDatagram(2000ms) != IUdpSocket::WaitResult::Ready) return {};
  return socket.Read(buffer);
}

class PosixSocketTest : public testing::Test {
 protected:
  void SetUp() override {
    port = FreePort();
    socket = DefaultUdpPlatform().CreateSocket();
    socket->SetReuseAddress(false);
    socket->Bind("127.0.0.1", port);
  }
  std::uint16_t port = 0;
  std::unique_ptr<IUdpSocket> socket;
  std::array<std::uint8_t, kReceiveBufferSize> buffer{};
};

TEST_F(PosixSocketTest, ReadWithNothingWaitingReturnsEmptyAtOnce) {
  EXPECT_EQ(socket->Read(buffer).status, IUdpSocket::ReadStatus::Empty);
  SendTo("127.0.0.1", port, 3);
  const auto read = Next(*socket, buffer);
  EXPECT_EQ(read.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(read.size, 3U);
  EXPECT_EQ(socket->Read(buffer).status, IUdpSocket::ReadStatus::Empty);
}

TEST_F(PosixSocketTest, ReadsWholeDatagramsUpToTheBufferAndDropsLongerOnes) {
  SendTo("127.0.0.1", port, 8192);
  SendTo("127.0.0.1", port, 8193);
  SendTo("127.0.0.1", port, 0);
  SendTo("127.0.0.1", port, 3);
  const auto a = Next(*socket, buffer);
  EXPECT_EQ(a.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(a.size, 8192U);
  EXPECT_EQ(Next(*socket, buffer).status, IUdpSocket::ReadStatus::Dropped);
  const auto empty = Next(*socket, buffer);
  EXPECT_EQ(empty.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(empty.size, 0U);
  const auto small = Next(*socket, buffer);
  EXPECT_EQ(small.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(small.size, 3U);
}

TEST_F(PosixSocketTest, KeepsOnlyDatagramsSentToItsOwnAddress) {
  SendTo("127.0.0.2", port, 5);  // same interface, another address
  SendTo("127.0.0.1", port, 7);
  EXPECT_EQ(Next(*socket, buffer).status, IUdpSocket::ReadStatus::Dropped);
  const auto mine = Next(*socket, buffer);
  EXPECT_EQ(mine.status, IUdpSocket::ReadStatus::Datagram);
  EXPECT_EQ(mine.size, 7U);
}

TEST_F(PosixSocketTest, SecondSocketOnThePortFailsToBind) {
  auto second = DefaultUdpPlatform().CreateSocket();
  second->SetReuseAddress(false);
  EXPECT_THROW(second->Bind("127.0.0.1", port), EBindError);
  auto wildcard = DefaultUdpPlatform().CreateSocket();
  EXPECT_THROW(wildcard->Bind("", port), EBindError);
}

TEST_F(PosixSocketTest, BindingAnAddressThatIsNotLocalFails) {
  auto other = DefaultUdpPlatform().CreateSocket();
  EXPECT_THROW(other->Bind("192.0.2.1", FreePort()), EBindError);
}

TEST_F(PosixSocketTest, CloseFromAnotherThreadEndsAPendingWait) {
  IUdpSocket::WaitResult result = IUdpSocket::WaitResult::Ready;
  std::thread waiter([&] { result = socket->WaitForDatagram(60s); });
  std::this_thread::sleep_for(20ms);
  socket->Close();
  waiter.join();
  EXPECT_EQ(result, IUdpSocket::WaitResult::Closed);
  EXPECT_FALSE(socket->IsOpen());
  EXPECT_EQ(socket->Read(buffer).status, IUdpSocket::ReadStatus::Failed);
}

TEST_F(PosixSocketTest, WaitTimesOutWhenNothingArrives) {
  EXPECT_EQ(socket->WaitForDatagram(10ms), IUdpSocket::WaitResult::Timeout);
}

TEST(PosixPlatform, LocalAddressesLeaveOutLoopback) {
  for (const auto& a : DefaultUdpPlatform().LocalAddresses()) {
    EXPECT_NE(a.address.rfind("127.", 0), 0U) << a.address;
    EXPECT_NE(a.address, "::1");
  }
}

// Lowers the soft limit of open descriptors to 0 while it lives: every call
// that needs a new descriptor then fails with EMFILE.
class NoNewDescriptors {
 public:
  NoNewDescriptors() {
    if (::getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
    rlimit none = saved_;
    none.rlim_cur = 0;
    active_ = ::setrlimit(RLIMIT_NOFILE, &none) == 0;
  }
  ~NoNewDescriptors() {
    if (active_) ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  NoNewDescriptors(const NoNewDescriptors&) = delete;
  NoNewDescriptors& operator=(const NoNewDescriptors&) = delete;
  [[nodiscard]] bool Active() const noexcept { return active_; }

 private:
  rlimit saved_{};
  bool active_ = false;
};

TEST(PosixPlatform, AddressListFailureReportsTheSystemsNumberAndText) {
  // UBSan checks the type of an object the first time it meets that type,
  // through a pipe of its own, which the limit forbids: it would take the
  // report for a broken object. It meets the report's type here first.
  static_cast<void>(ESystemError(EMFILE, "").Code());
  std::optional<std::uint32_t> code;
  std::string report;
  {
    const NoNewDescriptors limit;
    ASSERT_TRUE(limit.Active());
    try {
      DefaultUdpPlatform().LocalAddresses();
    } catch (const ESystemError& e) {
      code = e.Code();
      report = e.what();
    }
  }
  ASSERT_TRUE(code) << "listing the addresses should have failed";
  EXPECT_EQ(*code, static_cast<std::uint32_t>(EMFILE));
  EXPECT_EQ(report, "System Error.  Code: " + std::to_string(EMFILE) + ".\r\nToo many open files");
}

}  // namespace
}  // namespace ostrivane
