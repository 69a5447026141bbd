// For the tests of the network watch: waiting for a notice the way the main
// thread's loop does. Defined in net_watch_posix_test.cpp and
// net_watch_win32_test.cpp.
#pragma once

#include <chrono>

#include "net/net_watch_platform.h"

namespace ostrivane::testutil {

// True once the watch has a notice for TakeNetworkChanges; false when none
// came within `limit`.
bool WaitForNotice(const platform::NetworkWatch& watch, std::chrono::milliseconds limit);

}  // namespace ostrivane::testutil
