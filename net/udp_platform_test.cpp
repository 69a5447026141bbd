// What every platform's sockets promise the receiver, checked on the
// system's own sockets.
#include "net/udp_platform.h"

#include <gtest/gtest.h>

#include "net/socket_error.h"

namespace ostrivane {
namespace {

TEST(UdpPlatform, JoinRejectsAnInvalidGroupWithItsSocketError) {
  auto socket = DefaultUdpPlatform().CreateSocket();
  try {
    socket->JoinGroup("not-an-address", "");
    FAIL() << "join should have raised";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Code(), 10022);
    EXPECT_STREQ(e.what(), "Socket Error # 10022\r\nInvalid argument.");
  }
}

}  // namespace
}  // namespace ostrivane
