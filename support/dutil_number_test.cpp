#include "support/dutil_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "support/dutil.h"
#include "support/format_settings.h"
#include "support/test_util.h"
#include "support/variant.h"

namespace ostrivane {
namespace {

constexpr double kUntouched = 777.0;
constexpr float kUntouchedSingle = 777.0F;
constexpr double kFails = std::numeric_limits<double>::quiet_NaN();

class DecimalSeparatorScope {
 public:
  explicit DecimalSeparatorScope(char16_t d) : previous_(DecimalSeparator()) {
    SetDecimalSeparator(d);
  }
  DecimalSeparatorScope(const DecimalSeparatorScope&) = delete;
  DecimalSeparatorScope& operator=(const DecimalSeparatorScope&) = delete;
  ~DecimalSeparatorScope() { SetDecimalSeparator(previous_); }

 private:
  char16_t previous_;
};

std::u16string Repeat(std::u16string_view part, std::size_t times) {
  std::u16string s;
  s.reserve(part.size() * times);
  for (std::size_t i = 0; i < times; ++i) s += part;
  return s;
}

// --- The tolerant conversion: the same answer under both decimal separators --

struct TolerantCase {
  const char* name;
  std::u16string text;
  double expected;  // kFails: answers false
};

class TolerantDoubleTest : public testing::TestWithParam<TolerantCase> {};

TEST_P(TolerantDoubleTest, SameAnswerWithPointAndCommaLocales) {
  const TolerantCase& c = GetParam();
  for (const char16_t d : {u'.', u','}) {
    SCOPED_TRACE(d == u'.' ? "D = ." : "D = ,");
    const DecimalSeparatorScope scope(d);
    double value = kUntouched;
    const bool ok = TryStrToFloatTolerant(c.text, value);
    if (std::isnan(c.expected)) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(value, kUntouched);
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(value, c.expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, TolerantDoubleTest,
    testing::Values(
        TolerantCase{"PointsThenComma", u"1.234.567,89", 1234567.89},
        TolerantCase{"CommasThenPoint", u"1,234,567.89", 1234567.89},
        TolerantCase{"PointThenComma", u"1.234,5", 1234.5},
        TolerantCase{"CommaThenPoint", u"1,234.5", 1234.5},
        TolerantCase{"LonePointIsDecimal", u"1.234", 1.234},
        TolerantCase{"LoneCommaIsDecimal", u"1,234", 1.234},
        TolerantCase{"BothRepeatedBothGo", u"1.2.3,4,5", 12345.0},
        TolerantCase{"RepeatedPointsThenCommaAsDecimal", u"1,2.3.4", 1.234},
        TolerantCase{"PointCommaCase", u"12.5", 12.5}, TolerantCase{"CommaCase", u"12,5", 12.5},
        TolerantCase{"SpaceInsideFails", u"1 234,5", kFails},
        TolerantCase{"SurroundingSpaces", u"  -12,5  ", -12.5},
        TolerantCase{"TabIsNoSpace", u"\t1", kFails},
        TolerantCase{"NoBreakSpaceIsNoSpace", u"1\u00A0", kFails},
        TolerantCase{"Empty", u"", kFails}, TolerantCase{"OnlySpaces", u"   ", kFails},
        TolerantCase{"LonePoint", u".", 0.0}, TolerantCase{"LoneComma", u",", 0.0},
        TolerantCase{"SignAndPoint", u"+.5", 0.5}, TolerantCase{"TrailingPoint", u"5.", 5.0},
        TolerantCase{"LoneSign", u"-", kFails}, TolerantCase{"TwoSigns", u"--1", kFails},
        TolerantCase{"TrailingSign", u"1-", kFails}, TolerantCase{"Letters", u"1x", kFails},
        TolerantCase{"Hexadecimal", u"0x10", kFails},
        TolerantCase{"ManyDigits", u"12345678901234567890123", 1.2345678901234568e22}),
    testutil::CaseName());

INSTANTIATE_TEST_SUITE_P(
    Exponent, TolerantDoubleTest,
    testing::Values(
        TolerantCase{"Plain", u"1e3", 1000.0}, TolerantCase{"WithoutDigitsIsZero", u"1E", 1.0},
        TolerantCase{"SignWithoutDigitsIsZero", u"1e+", 1.0},
        TolerantCase{"LeadingZeros", u"1e0005", 100000.0}, TolerantCase{"Negative", u"25e-2", 0.25},
        TolerantCase{"AfterComma", u"1,5e2", 150.0},
        TolerantCase{"AfterThousands", u"1.000,5E-1", 100.05},
        TolerantCase{"WithoutMantissa", u"e5", kFails}, TolerantCase{"AfterLoneMark", u".e5", 0.0},
        TolerantCase{"ReadingStopsAt1000", u"1e10000", kFails},
        TolerantCase{"ReadingStopsAt4999", u"1e-49990", kFails},
        TolerantCase{"UnderflowIsZero", u"1e-4999", 0.0},
        TolerantCase{"ExtendedOnlyValueIsOutOfRange", u"1e499", kFails},
        TolerantCase{"ExtendedOverflow", u"1e4999", kFails},
        TolerantCase{"ZeroTimesHugePower", u"0e4999", 0.0},
        TolerantCase{"BelowDoubleButRepresentableInExtended", u"1e-400", 0.0}),
    testutil::CaseName());

INSTANTIATE_TEST_SUITE_P(
    Range, TolerantDoubleTest,
    testing::Values(TolerantCase{"OneE308", u"1e308", 1e308},
                    TolerantCase{"AtTheBound", u"1.7e308", 1.7e308},
                    TolerantCase{"AtTheNegativeBound", u"-1,7E308", -1.7e308},
                    TolerantCase{"AboveTheBound", u"1.75e308", kFails},
                    TolerantCase{"BelowTheNegativeBound", u"-1,75e308", kFails},
                    TolerantCase{"LargestDouble", u"1.7976931348623157e308", kFails},
                    TolerantCase{"AboveSingleRange", u"3.401e38", 3.401e38}),
    testutil::CaseName());

INSTANTIATE_TEST_SUITE_P(
    Digits, TolerantDoubleTest,
    testing::Values(
        TolerantCase{"ArabicIndic", u"\u0661\u0662\u0663\u0664.\u0665", 1234.5},
        TolerantCase{"ArabicIndicWithThousands", u"\u0661,\u0662\u0663\u0664.\u0665", 1234.5},
        TolerantCase{"ArabicIndicWithShapeControls",
                     u"\u206E\u0661\u0662\u206F\u0663\u0664,\u0665\u206E", 1234.5},
        TolerantCase{"ShapeControlsInAsciiNumber", u"\u206F-1\u206E2.5e\u206F1", -125.0},
        TolerantCase{"MixedScripts", u"1\u0662,5", 12.5},
        TolerantCase{"ArabicIndicExponent", u"\u0662e\u0663", 2000.0}),
    testutil::CaseName());

// Long digit strings: linear work, no overflow before extended precision
// overflows, and underflow of tiny scales gives 0.
INSTANTIATE_TEST_SUITE_P(
    LongTexts, TolerantDoubleTest,
    testing::Values(
        TolerantCase{"ManyLeadingFractionZeros", u"0." + Repeat(u"0", 8000) + u"15", 0.0},
        TolerantCase{"FractionZerosBackByExponent", u"0." + Repeat(u"0", 4000) + u"15e4001", 1.5},
        TolerantCase{"ManyIntegerZeros", Repeat(u"0", 8000) + u"42", 42.0},
        TolerantCase{"ThousandsGroups", u"1" + Repeat(u",000", 100), 1e300},
        TolerantCase{"DigitsOverflowExtended", Repeat(u"9", 8000), kFails},
        TolerantCase{"HugeIntegerScaledBackStillOverflows", u"1" + Repeat(u"0", 5000) + u"e-4999",
                     kFails},
        TolerantCase{"TrailingGarbageAfterLongText", Repeat(u"1", 8000) + u"x", kFails}),
    testutil::CaseName());

TEST(TolerantDouble, LongDigitStringKeepsItsValue) {
  // 4000 ones scaled down to 1.111...: the integer grows to 1e3999 without
  // overflowing and the scaling brings it back.
  double value = 0.0;
  ASSERT_TRUE(TryStrToFloatTolerant(Repeat(u"1", 4000) + u"e-3999", value));
  EXPECT_DOUBLE_EQ(value, 10.0 / 9.0);
  ASSERT_TRUE(TryStrToFloatTolerant(u"0," + Repeat(u"3", 4900), value));
  EXPECT_DOUBLE_EQ(value, 1.0 / 3.0);
}

TEST(TolerantDouble, NulEndsTheText) {
  double value = 0.0;
  ASSERT_TRUE(TryStrToFloatTolerant(std::u16string_view(u"2,5\0junk", 8), value));
  EXPECT_EQ(value, 2.5);
}

TEST(TolerantDouble, OtherDecimalSeparatorTakesBothMarks) {
  const DecimalSeparatorScope scope(u'\u066B');
  double value = 0.0;
  ASSERT_TRUE(TryStrToFloatTolerant(u"1.234,5", value));
  EXPECT_EQ(value, 1234.5);
  ASSERT_TRUE(TryStrToFloatTolerant(u"3,25", value));
  EXPECT_EQ(value, 3.25);
}

// --- Single precision -------------------------------------------------------

struct SingleCase {
  const char* name;
  std::u16string text;
  bool ok;
  float expected;
};

class TolerantSingleTest : public testing::TestWithParam<SingleCase> {};

TEST_P(TolerantSingleTest, ConvertsWithinItsRange) {
  const SingleCase& c = GetParam();
  for (const char16_t d : {u'.', u','}) {
    const DecimalSeparatorScope scope(d);
    float value = kUntouchedSingle;
    EXPECT_EQ(TryStrToFloatTolerant(c.text, value), c.ok);
    EXPECT_EQ(value, c.ok ? c.expected : kUntouchedSingle);
  }
}

INSTANTIATE_TEST_SUITE_P(All, TolerantSingleTest,
                         testing::Values(SingleCase{"AtTheBound", u"3.4e38", true, 3.4e38F},
                                         SingleCase{"AtTheNegativeBound", u"-3,4e38", true,
                                                    -3.4e38F},
                                         SingleCase{"AboveTheBound", u"3.401e38", false, 0.0F},
                                         SingleCase{"LargestSingle", u"3.40282347e38", false, 0.0F},
                                         SingleCase{"RoundedOnceFromExtended", u"0,1", true, 0.1F},
                                         SingleCase{"TieToEven", u"16777217", true, 16777216.0F},
                                         SingleCase{"AboveTie", u"16777217.001", true, 16777218.0F},
                                         SingleCase{"Thousands", u"1.234.567,5", true, 1234567.5F},
                                         SingleCase{"Underflow", u"1e-50", true, 0.0F},
                                         SingleCase{"RepeatedMarksVanish", u"1..2,,", true, 12.0F},
                                         SingleCase{"Letters", u"abc", false, 0.0F}),
                         testutil::CaseName());

// --- The plain conversion with a fixed separator ------------------------------

struct PlainCase {
  const char* name;
  std::u16string text;
  char16_t separator;
  double expected;  // kFails: answers false
};

class PlainConversionTest : public testing::TestWithParam<PlainCase> {};

TEST_P(PlainConversionTest, AcceptsOnlyItsForm) {
  const PlainCase& c = GetParam();
  double value = kUntouched;
  const bool ok = TryStrToFloat(c.text, c.separator, value);
  if (std::isnan(c.expected)) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(value, kUntouched);
  } else {
    EXPECT_TRUE(ok);
    EXPECT_EQ(value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(All, PlainConversionTest,
                         testing::Values(PlainCase{"PointSeparator", u"12.5", u'.', 12.5},
                                         PlainCase{"CommaIsNoSeparator", u"12,5", u'.', kFails},
                                         PlainCase{"CommaSeparator", u"12,5", u',', 12.5},
                                         PlainCase{"PointIsNoSeparatorForComma", u"12.5", u',',
                                                   kFails},
                                         PlainCase{"NoThousands", u"1,234.5", u'.', kFails},
                                         PlainCase{"NoFoldedDigits", u"\u0661", u'.', kFails},
                                         PlainCase{"SecondSeparator", u"1.2.3", u'.', kFails},
                                         PlainCase{"ExponentSign", u" -1.5E+2 ", u'.', -150.0},
                                         PlainCase{"ExactFraction", u"0.125", u'.', 0.125},
                                         PlainCase{"NegativeZero", u"-0", u'.', -0.0},
                                         PlainCase{"LoneSeparator", u",", u',', 0.0}),
                         testutil::CaseName());

TEST(PlainConversion, NegativeZeroKeepsItsSign) {
  double value = 1.0;
  ASSERT_TRUE(TryStrToFloat(u"-0.0", u'.', value));
  EXPECT_TRUE(std::signbit(value));
}

// --- The slot replacements ------------------------------------------------

struct SlotCase {
  const char* name;
  const char16_t* text;
  HResult result;
  double expected;  // when S_OK
};

class TolerantSlotTest : public testing::TestWithParam<SlotCase> {};

TEST_P(TolerantSlotTest, AnswersOkOrTypeMismatchIgnoringLocaleAndFlags) {
  const SlotCase& c = GetParam();
  const DecimalSeparatorScope scope(u'.');
  for (const std::uint32_t locale : {kLocaleUserDefault, 0x0407U, 0x0409U}) {
    double r8 = kUntouched;
    float r4 = kUntouchedSingle;
    EXPECT_EQ(VarR8FromStrTolerant(c.text, locale, 0xFFFFU, &r8), c.result);
    EXPECT_EQ(VarR4FromStrTolerant(c.text, locale, 0, &r4), c.result);
    EXPECT_EQ(r8, c.result == kHResultOk ? c.expected : kUntouched);
    EXPECT_EQ(r4, c.result == kHResultOk ? static_cast<float>(c.expected) : kUntouchedSingle);
  }
}

INSTANTIATE_TEST_SUITE_P(All, TolerantSlotTest,
                         testing::Values(SlotCase{"Comma", u"2,5", kHResultOk, 2.5},
                                         SlotCase{"Thousands", u"1.234,5", kHResultOk, 1234.5},
                                         SlotCase{"ArabicIndic", u"\u0663,\u0662\u0665", kHResultOk,
                                                  3.25},
                                         SlotCase{"Empty", u"", kDispETypeMismatch, 0.0},
                                         SlotCase{"NoText", nullptr, kDispETypeMismatch, 0.0},
                                         SlotCase{"Letters", u"abc", kDispETypeMismatch, 0.0}),
                         testutil::CaseName());

TEST(TolerantSlot, RangesDifferBetweenDoubleAndSingle) {
  double r8 = kUntouched;
  float r4 = kUntouchedSingle;
  EXPECT_EQ(VarR8FromStrTolerant(u"3.401e38", 0, 0, &r8), kHResultOk);
  EXPECT_EQ(r8, 3.401e38);
  EXPECT_EQ(VarR4FromStrTolerant(u"3.401e38", 0, 0, &r4), kDispETypeMismatch);
  EXPECT_EQ(r4, kUntouchedSingle);
  EXPECT_EQ(VarR8FromStrTolerant(u"1.75e308", 0, 0, &r8), kDispETypeMismatch);
  EXPECT_EQ(r8, 3.401e38);
}

// --- Installed into the Variant runtime -------------------------------------

class InstalledTolerantConversionTest : public testing::Test {
 protected:
  InstalledTolerantConversionTest()
      : r8_(GetVarR8FromStrSlot()), r4_(GetVarR4FromStrSlot()), separator_(DecimalSeparator()) {
    InstallTolerantVariantConversions();
  }
  ~InstalledTolerantConversionTest() override {
    SetVarR8FromStrSlot(r8_);
    SetVarR4FromStrSlot(r4_);
    SetDecimalSeparator(separator_);
  }

 private:
  VarR8FromStrFunc r8_;
  VarR4FromStrFunc r4_;
  char16_t separator_;
};

TEST_F(InstalledTolerantConversionTest, FillsBothSlots) {
  EXPECT_EQ(GetVarR8FromStrSlot(), &VarR8FromStrTolerant);
  EXPECT_EQ(GetVarR4FromStrSlot(), &VarR4FromStrTolerant);
}

TEST_F(InstalledTolerantConversionTest, TextVariantsConvertWhateverTheLocale) {
  for (const char16_t d : {u'.', u','}) {
    SetDecimalSeparator(d);
    EXPECT_EQ(Variant(u"1.234,5").ToDouble(), 1234.5);
    EXPECT_EQ(Variant(u"1,234.5").ToDouble(), 1234.5);
    EXPECT_EQ(Variant(u"12,5").ToDouble(), 12.5);
    EXPECT_EQ(Variant(u"12.5").ToDouble(), 12.5);
    EXPECT_EQ(Variant(u"\u0661\u0662,\u0665").ToDouble(), 12.5);
    EXPECT_THROW((void)Variant(u"1.75e308").ToDouble(), EVariantTypeCastError);
    EXPECT_THROW((void)Variant(u"twelve").ToDouble(), EVariantTypeCastError);
    // Texts that neither integer reading takes go to the slot.
    EXPECT_EQ(Variant(u"1.234.567").ToInt64(), 1234567);
    EXPECT_EQ(Variant(u"1e3").ToInt32(), 1000);
    EXPECT_EQ(Variant(u"\u0661\u0662").ToInt32(), 12);
    EXPECT_EQ(Variant(u"1.5e10").ToInt64(), 15000000000LL);
    EXPECT_THROW((void)Variant(u"1.5e10").ToInt32(), EVariantOverflowError);
    EXPECT_EQ(Variant(u"TRUE").ToInt32(), -1);
    EXPECT_THROW((void)Variant(u"twelve").ToInt32(), EVariantTypeCastError);
  }
}

TEST_F(InstalledTolerantConversionTest, IntegerTextsRoundTiesToEven) {
  SetDecimalSeparator(u'.');
  EXPECT_EQ(Variant(u"2.5").ToInt32(), 2);
  EXPECT_EQ(Variant(u"3.5").ToInt32(), 4);
  EXPECT_EQ(Variant(u"-2.5").ToInt32(), -2);
  EXPECT_EQ(Variant(u" 42 ").ToInt32(), 42);
  EXPECT_EQ(Variant(u"1,000").ToInt32(), 1000);  // the system's integer reading
  EXPECT_EQ(Variant(u"2147483647").ToInt32(), 2147483647);
  EXPECT_THROW((void)Variant(u"2147483648").ToInt32(), EVariantOverflowError);
  EXPECT_EQ(Variant(u"-9223372036854775808").ToInt64(), std::numeric_limits<std::int64_t>::min());
}

}  // namespace
}  // namespace ostrivane
