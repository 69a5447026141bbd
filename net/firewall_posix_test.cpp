#include <gtest/gtest.h>

#include "net/firewall.h"
#include "net/firewall_rules.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

TEST(FirewallPosix, NothingIsKnownAndAllowAnswersLaterOnTheMainThread) {
  MainThread::Attach();
  IFirewall& firewall = DefaultFirewall();
  EXPECT_EQ(firewall.Verdict(), TFirewallVerdict::NotKnown);
  int done = 0;
  firewall.Allow([&] { ++done; });
  EXPECT_EQ(done, 0) << "never from inside Allow";
  EXPECT_TRUE(MainThread::CheckSynchronize());
  EXPECT_EQ(done, 1);
  EXPECT_FALSE(firewall::DefaultFirewallPolicy()->Read().has_value());
}

}  // namespace
}  // namespace ostrivane
