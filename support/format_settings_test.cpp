#include "support/format_settings.h"

#include <gtest/gtest.h>

#include <thread>

namespace ostrivane {
namespace {

class SeparatorRestorer {
 public:
  SeparatorRestorer() : previous_(DecimalSeparator()) {}
  SeparatorRestorer(const SeparatorRestorer&) = delete;
  SeparatorRestorer& operator=(const SeparatorRestorer&) = delete;
  ~SeparatorRestorer() { SetDecimalSeparator(previous_); }

 private:
  char16_t previous_;
};

TEST(FormatSettings, SeparatorIsProcessWide) {
  const SeparatorRestorer restore;
  SetDecimalSeparator(u'\u066B');
  char16_t seen = 0;
  std::thread([&seen] { seen = DecimalSeparator(); }).join();
  EXPECT_EQ(seen, u'\u066B');
  std::thread([] { SetDecimalSeparator(u','); }).join();
  EXPECT_EQ(DecimalSeparator(), u',');
}

TEST(FormatSettings, LoadingReplacesASeparatorSetByHand) {
  const SeparatorRestorer restore;
  SetDecimalSeparator(u'#');
  LoadFormatSettingsFromSystem();
  // Whatever the user's locale says, it is one real mark, never the one
  // set by hand.
  EXPECT_NE(DecimalSeparator(), u'#');
  EXPECT_NE(DecimalSeparator(), u'\0');
}

}  // namespace
}  // namespace ostrivane
