// The POSIX stand-ins for the system's text-to-number conversions: the
// Variant runtime's starting slots and the text-to-Int32 conversion.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/format_settings.h"
#include "support/test_util.h"
#include "support/variant.h"
#include "support/variant_platform.h"

namespace ostrivane::platform {
namespace {

constexpr std::int32_t kUntouched = 12345;

struct I4Case {
  const char* name;
  std::u16string text;
  char16_t separator;
  HResult result;
  std::int32_t expected;  // when S_OK
};

class SystemVarI4FromStrTest : public testing::TestWithParam<I4Case> {};

TEST_P(SystemVarI4FromStrTest, ReadsLikeOleAutomation) {
  const I4Case& c = GetParam();
  const char16_t previous = DecimalSeparator();
  SetDecimalSeparator(c.separator);
  std::int32_t value = kUntouched;
  EXPECT_EQ(SystemVarI4FromStr(c.text.c_str(), kLocaleUserDefault, 0, &value), c.result);
  EXPECT_EQ(value, c.result == kHResultOk ? c.expected : kUntouched);
  SetDecimalSeparator(previous);
}

INSTANTIATE_TEST_SUITE_P(
    All, SystemVarI4FromStrTest,
    testing::Values(I4Case{"Plain", u"42", u'.', kHResultOk, 42},
                    I4Case{"WhiteAround", u" \t-42 \r\n", u'.', kHResultOk, -42},
                    I4Case{"PlusSign", u"+7", u'.', kHResultOk, 7},
                    I4Case{"Thousands", u"1,234,567", u'.', kHResultOk, 1234567},
                    I4Case{"ThousandsOfCommaLocale", u"1.234.567", u',', kHResultOk, 1234567},
                    I4Case{"ThousandsNotFirst", u",5", u'.', kDispETypeMismatch, 0},
                    I4Case{"TieToEvenDown", u"2.5", u'.', kHResultOk, 2},
                    I4Case{"TieToEvenUp", u"3,5", u',', kHResultOk, 4},
                    I4Case{"NegativeTie", u"-2.5", u'.', kHResultOk, -2},
                    I4Case{"AboveTie", u"2.5000001", u'.', kHResultOk, 3},
                    I4Case{"BelowTie", u"2.4999999", u'.', kHResultOk, 2},
                    I4Case{"OnlyFraction", u".6", u'.', kHResultOk, 1},
                    I4Case{"TrailingMark", u"7.", u'.', kHResultOk, 7},
                    I4Case{"Int32Max", u"2147483647", u'.', kHResultOk, 2147483647},
                    I4Case{"Int32Min", u"-2147483648", u'.', kHResultOk, -2147483647 - 1},
                    I4Case{"RoundsOutOfRange", u"2147483647.5", u'.', kDispEOverflow, 0},
                    I4Case{"FarOutOfRange", u"99999999999999999999999", u'.', kDispEOverflow, 0},
                    I4Case{"Empty", u"", u'.', kDispETypeMismatch, 0},
                    I4Case{"LoneMark", u".", u'.', kDispETypeMismatch, 0},
                    I4Case{"Exponent", u"1e3", u'.', kDispETypeMismatch, 0},
                    I4Case{"SecondMark", u"1.2.3", u'.', kDispETypeMismatch, 0},
                    I4Case{"SpaceInside", u"1 2", u'.', kDispETypeMismatch, 0},
                    I4Case{"Letters", u"12a", u'.', kDispETypeMismatch, 0}),
    testutil::CaseName());

// Keeps the process-wide decimal separator as a test found it.
class SeparatorScope {
 public:
  SeparatorScope() : previous_(DecimalSeparator()) {}
  SeparatorScope(const SeparatorScope&) = delete;
  SeparatorScope& operator=(const SeparatorScope&) = delete;
  ~SeparatorScope() { SetDecimalSeparator(previous_); }

 private:
  char16_t previous_;
};

TEST(VariantDefaultSlots, ArePlainConversionsWithTheProcessSeparator) {
  const SeparatorScope separator;
  SetDecimalSeparator(u',');
  double r8 = 0.0;
  ASSERT_EQ(GetVarR8FromStrSlot()(u"1,5", kLocaleUserDefault, 0, &r8), kHResultOk);
  EXPECT_EQ(r8, 1.5);
  EXPECT_EQ(GetVarR8FromStrSlot()(u"1.5", kLocaleUserDefault, 0, &r8), kDispETypeMismatch);
  EXPECT_EQ(r8, 1.5);
  float r4 = 0.0F;
  ASSERT_EQ(GetVarR4FromStrSlot()(u"2,25", kLocaleUserDefault, 0, &r4), kHResultOk);
  EXPECT_EQ(r4, 2.25F);
  EXPECT_EQ(GetVarR4FromStrSlot()(u"3.401e38", kLocaleUserDefault, 0, &r4), kDispETypeMismatch);
}

}  // namespace
}  // namespace ostrivane::platform
