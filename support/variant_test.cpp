#include "support/variant.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "support/format_settings.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

// Keeps the process-wide decimal separator and slots as a test found them.
class GlobalsGuard {
 public:
  GlobalsGuard()
      : separator_(DecimalSeparator()), r8_(GetVarR8FromStrSlot()), r4_(GetVarR4FromStrSlot()) {}
  GlobalsGuard(const GlobalsGuard&) = delete;
  GlobalsGuard& operator=(const GlobalsGuard&) = delete;
  ~GlobalsGuard() {
    SetDecimalSeparator(separator_);
    SetVarR8FromStrSlot(r8_);
    SetVarR4FromStrSlot(r4_);
  }

 private:
  char16_t separator_;
  VarR8FromStrFunc r8_;
  VarR4FromStrFunc r4_;
};

struct Probe : IInterface {};

// --- Type codes and names -------------------------------------------------

struct TypeCase {
  const char* name;
  Variant value;
  VarType type;
  const char* typeName;
};

class VariantTypeTest : public testing::TestWithParam<TypeCase> {};

TEST_P(VariantTypeTest, ReportsTypeAndName) {
  const TypeCase& c = GetParam();
  EXPECT_EQ(c.value.Type(), c.type);
  EXPECT_EQ(VarTypeAsText(c.value.Type()), c.typeName);
}

INSTANTIATE_TEST_SUITE_P(
    All, VariantTypeTest,
    testing::Values(
        TypeCase{"Empty", Variant(), VarType::Empty, "Empty"},
        TypeCase{"Null", Variant::Null(), VarType::Null, "Null"},
        TypeCase{"Bool", Variant(true), VarType::Boolean, "Boolean"},
        TypeCase{"Int8", Variant(std::int8_t{-3}), VarType::ShortInt, "ShortInt"},
        TypeCase{"UInt8", Variant(std::uint8_t{3}), VarType::Byte, "Byte"},
        TypeCase{"Int16", Variant(std::int16_t{-3}), VarType::SmallInt, "SmallInt"},
        TypeCase{"UInt16", Variant(std::uint16_t{3}), VarType::Word, "Word"},
        TypeCase{"Int32", Variant(std::int32_t{-3}), VarType::Integer, "Integer"},
        TypeCase{"UInt32", Variant(std::uint32_t{3}), VarType::LongWord, "LongWord"},
        TypeCase{"Int64", Variant(std::int64_t{-3}), VarType::Int64, "Int64"},
        TypeCase{"UInt64", Variant(std::uint64_t{3}), VarType::UInt64, "UInt64"},
        TypeCase{"Float", Variant(1.5F), VarType::Single, "Single"},
        TypeCase{"Double", Variant(1.5), VarType::Double, "Double"},
        TypeCase{"Currency", Variant(CurrencyValue{15000}), VarType::Currency, "Currency"},
        TypeCase{"Date", Variant(DateValue{2.0}), VarType::Date, "Date"},
        TypeCase{"Text", Variant(u"x"), VarType::UString, "UnicodeString"},
        TypeCase{"Interface", Variant(std::make_shared<Probe>()), VarType::Unknown, "Unknown"}),
    testutil::CaseName());

TEST(VariantTypeNames, NamesCodesWithoutAValueOfTheirOwn) {
  EXPECT_EQ(VarTypeAsText(VarType::OleStr), "OleStr");
  EXPECT_EQ(VarTypeAsText(static_cast<VarType>(0x100)), "String");
  EXPECT_EQ(VarTypeAsText(static_cast<VarType>(0x0F)), "$000F");
  EXPECT_EQ(VarTypeAsText(static_cast<VarType>(0x4A2B)), "$4A2B");
}

// --- Value semantics ------------------------------------------------------

TEST(VariantValue, EmptyAndNullAreDifferentStates) {
  const Variant empty;
  const Variant null = Variant::Null();
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_FALSE(empty.IsNull());
  EXPECT_TRUE(null.IsNull());
  EXPECT_FALSE(null.IsEmpty());
  EXPECT_NE(empty, null);
  EXPECT_EQ(null, Variant::Null());
  EXPECT_EQ(empty, Variant());
}

TEST(VariantValue, CopiesAreIndependent) {
  Variant original(std::u16string(u"abc"));
  const Variant copy = original;
  original = Variant(std::int32_t{7});
  EXPECT_EQ(copy, Variant(u"abc"));
  EXPECT_EQ(original.Type(), VarType::Integer);
  ASSERT_NE(copy.Get<std::u16string>(), nullptr);
  EXPECT_EQ(*copy.Get<std::u16string>(), u"abc");
  EXPECT_EQ(copy.Get<std::int32_t>(), nullptr);
}

TEST(VariantValue, EqualityNeedsSameTypeAndValue) {
  EXPECT_NE(Variant(std::int32_t{1}), Variant(std::int64_t{1}));
  EXPECT_NE(Variant(std::int32_t{1}), Variant(std::int32_t{2}));
  EXPECT_NE(Variant(true), Variant(std::int32_t{-1}));
  const auto probe = std::make_shared<Probe>();
  EXPECT_EQ(Variant(probe), Variant(probe));
  EXPECT_NE(Variant(probe), Variant(std::make_shared<Probe>()));
}

// --- Conversions of values that are not text --------------------------------

constexpr std::int64_t kThrowsCast = std::numeric_limits<std::int64_t>::min() + 1;
constexpr std::int64_t kThrowsOverflow = std::numeric_limits<std::int64_t>::min() + 2;

struct NumberCase {
  const char* name;
  Variant value;
  double asDouble;       // NaN: throws the type-cast error
  std::int64_t asInt64;  // or kThrowsCast / kThrowsOverflow
  std::int64_t asInt32;  // or kThrowsCast / kThrowsOverflow
};

class VariantNumberTest : public testing::TestWithParam<NumberCase> {};

template <typename F>
void ExpectConversion(F convert, std::int64_t expected) {
  if (expected == kThrowsCast) {
    EXPECT_THROW((void)convert(), EVariantTypeCastError);
  } else if (expected == kThrowsOverflow) {
    EXPECT_THROW((void)convert(), EVariantOverflowError);
  } else {
    EXPECT_EQ(convert(), expected);
  }
}

TEST_P(VariantNumberTest, ConvertsAsTheRuntimeDoes) {
  const NumberCase& c = GetParam();
  if (std::isnan(c.asDouble)) {
    EXPECT_THROW((void)c.value.ToDouble(), EVariantTypeCastError);
  } else {
    EXPECT_EQ(c.value.ToDouble(), c.asDouble);
  }
  ExpectConversion([&] { return c.value.ToInt64(); }, c.asInt64);
  ExpectConversion([&] { return c.value.ToInt32(); }, c.asInt32);
}

constexpr double kCast = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    All, VariantNumberTest,
    testing::Values(
        NumberCase{"EmptyIsZero", Variant(), 0.0, 0, 0},
        NumberCase{"NullFails", Variant::Null(), kCast, kThrowsCast, kThrowsCast},
        NumberCase{"TrueIsMinusOne", Variant(true), -1.0, -1, -1},
        NumberCase{"FalseIsZero", Variant(false), 0.0, 0, 0},
        NumberCase{"Int8", Variant(std::int8_t{-128}), -128.0, -128, -128},
        NumberCase{"UInt8", Variant(std::uint8_t{255}), 255.0, 255, 255},
        NumberCase{"Int16", Variant(std::int16_t{-32768}), -32768.0, -32768, -32768},
        NumberCase{"UInt16", Variant(std::uint16_t{65535}), 65535.0, 65535, 65535},
        NumberCase{"Int32Min", Variant(std::int32_t{-2147483647 - 1}), -2147483648.0, -2147483648LL,
                   -2147483648LL},
        NumberCase{"UInt32AboveInt32", Variant(std::uint32_t{4000000000U}), 4e9, 4000000000LL,
                   kThrowsOverflow},
        NumberCase{"Int64AboveInt32", Variant(std::int64_t{2147483648LL}), 2147483648.0,
                   2147483648LL, kThrowsOverflow},
        NumberCase{"Int64BelowInt32", Variant(std::int64_t{-2147483649LL}), -2147483649.0,
                   -2147483649LL, kThrowsOverflow},
        NumberCase{"UInt64AboveInt64", Variant(std::uint64_t{1} << 63), 9223372036854775808.0,
                   kThrowsOverflow, kThrowsOverflow},
        NumberCase{"UInt64Small", Variant(std::uint64_t{42}), 42.0, 42, 42},
        NumberCase{"DoubleTieDown", Variant(2.5), 2.5, 2, 2},
        NumberCase{"DoubleTieUp", Variant(3.5), 3.5, 4, 4},
        NumberCase{"DoubleNegativeTie", Variant(-2.5), -2.5, -2, -2},
        NumberCase{"DoubleNegativeTieUp", Variant(-3.5), -3.5, -4, -4},
        NumberCase{"DoubleAboveHalf", Variant(2.5000001), 2.5000001, 3, 3},
        NumberCase{"DoubleBelowHalf", Variant(-0.4999), -0.4999, 0, 0},
        NumberCase{"DoubleInt32Edge", Variant(2147483647.4), 2147483647.4, 2147483647LL,
                   2147483647LL},
        NumberCase{"DoubleRoundsOutOfInt32", Variant(2147483647.5), 2147483647.5, 2147483648LL,
                   kThrowsOverflow},
        NumberCase{"DoubleOutOfInt64", Variant(1e19), 1e19, kThrowsOverflow, kThrowsOverflow},
        NumberCase{"DoubleInfinite", Variant(std::numeric_limits<double>::infinity()),
                   std::numeric_limits<double>::infinity(), kThrowsOverflow, kThrowsOverflow},
        NumberCase{"SingleTie", Variant(0.5F), 0.5, 0, 0},
        NumberCase{"SingleTieUp", Variant(1.5F), 1.5, 2, 2},
        NumberCase{"CurrencyTieToEven", Variant(CurrencyValue{25000}), 2.5, 2, 2},
        NumberCase{"CurrencyTieUp", Variant(CurrencyValue{35000}), 3.5, 4, 4},
        NumberCase{"CurrencyNegativeTie", Variant(CurrencyValue{-35000}), -3.5, -4, -4},
        NumberCase{"CurrencyFraction", Variant(CurrencyValue{-12345}), -1.2345, -1, -1},
        NumberCase{"DateRounds", Variant(DateValue{45000.75}), 45000.75, 45001, 45001},
        NumberCase{"InterfaceFails", Variant(std::make_shared<Probe>()), kCast, kThrowsCast,
                   kThrowsCast}),
    testutil::CaseName());

// --- Error messages ---------------------------------------------------------

struct MessageCase {
  const char* name;
  Variant value;
  int conversion;  // 0 ToDouble, 1 ToInt64, 2 ToInt32, 3 ToString
  const char* message;
};

class VariantMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(VariantMessageTest, NamesBothTypes) {
  const MessageCase& c = GetParam();
  try {
    switch (c.conversion) {
      case 0:
        (void)c.value.ToDouble();
        break;
      case 1:
        (void)c.value.ToInt64();
        break;
      case 2:
        (void)c.value.ToInt32();
        break;
      default:
        (void)c.value.ToString();
        break;
    }
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, VariantMessageTest,
    testing::Values(
        MessageCase{"NullToDouble", Variant::Null(), 0,
                    "Could not convert variant of type (Null) into type (Double)"},
        MessageCase{"NullToInt64", Variant::Null(), 1,
                    "Could not convert variant of type (Null) into type (Int64)"},
        MessageCase{"InterfaceToInteger", Variant(std::make_shared<Probe>()), 2,
                    "Could not convert variant of type (Unknown) into type (Integer)"},
        MessageCase{"NullToString", Variant::Null(), 3,
                    "Could not convert variant of type (Null) into type (UnicodeString)"},
        MessageCase{"TextToInteger", Variant(u"abc"), 2,
                    "Could not convert variant of type (UnicodeString) into type (Integer)"},
        MessageCase{"TextToDouble", Variant(u"abc"), 0,
                    "Could not convert variant of type (UnicodeString) into type (Double)"},
        MessageCase{"DoubleOverflowsInteger", Variant(3e9), 2,
                    "Overflow while converting variant of type (Double) into type (Integer)"},
        MessageCase{"Int64OverflowsInteger", Variant(std::int64_t{1} << 40), 2,
                    "Overflow while converting variant of type (Int64) into type (Integer)"},
        MessageCase{"UInt64OverflowsInt64", Variant(~std::uint64_t{0}), 1,
                    "Overflow while converting variant of type (UInt64) into type (Int64)"}),
    testutil::CaseName());

// --- Text of a Variant --------------------------------------------------------

struct TextCase {
  const char* name;
  Variant value;
  char16_t separator;
  std::u16string expected;
};

class VariantTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(VariantTextTest, WritesTheRuntimeText) {
  const TextCase& c = GetParam();
  const GlobalsGuard guard;
  SetDecimalSeparator(c.separator);
  EXPECT_EQ(c.value.ToString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    All, VariantTextTest,
    testing::Values(TextCase{"Empty", Variant(), u'.', u""},
                    TextCase{"Text", Variant(u"a\u00E4"), u'.', u"a\u00E4"},
                    TextCase{"True", Variant(true), u'.', u"True"},
                    TextCase{"False", Variant(false), u'.', u"False"},
                    TextCase{"Int8", Variant(std::int8_t{-128}), u'.', u"-128"},
                    TextCase{"Int64Min", Variant(std::numeric_limits<std::int64_t>::min()), u'.',
                             u"-9223372036854775808"},
                    TextCase{"UInt64Max", Variant(std::numeric_limits<std::uint64_t>::max()), u'.',
                             u"18446744073709551615"},
                    TextCase{"DoublePoint", Variant(-1.5), u'.', u"-1.5"},
                    TextCase{"DoubleComma", Variant(-1.5), u',', u"-1,5"},
                    TextCase{"DoubleFifteenDigits", Variant(1.0 / 3.0), u'.', u"0.333333333333333"},
                    TextCase{"DoubleWhole", Variant(123456789012345.0), u'.', u"123456789012345"},
                    TextCase{"DoubleExponentAbovePrecision", Variant(1e15 * 1.5), u'.', u"1.5E15"},
                    TextCase{"DoubleSmallFixed", Variant(0.0001), u'.', u"0.0001"},
                    TextCase{"DoubleSmallExponent", Variant(0.000015), u',', u"1,5E-5"},
                    TextCase{"DoubleZero", Variant(0.0), u'.', u"0"},
                    TextCase{"SingleSevenDigits", Variant(0.1F), u'.', u"0.1"},
                    TextCase{"CurrencyFraction", Variant(CurrencyValue{-125000}), u',', u"-12,5"},
                    TextCase{"CurrencyWhole", Variant(CurrencyValue{30000}), u'.', u"3"},
                    TextCase{"CurrencySmallest", Variant(CurrencyValue{1}), u'.', u"0.0001"},
                    TextCase{"DateOnly", Variant(DateValue{45000.0}), u'.', u"2023-03-15"},
                    TextCase{"DateAndTime", Variant(DateValue{2.75}), u'.', u"1900-01-01 18:00:00"},
                    TextCase{"DateBeforeDayZero", Variant(DateValue{-1.25}), u'.',
                             u"1899-12-29 06:00:00"}),
    testutil::CaseName());

// --- Conversions through the slots ------------------------------------------

double g_slotAnswer = 0.0;
HResult g_slotResult = kHResultOk;
std::u16string g_slotText;
std::uint32_t g_slotLocale = 0;
std::uint32_t g_slotFlags = 99;

HResult RecordingSlot(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                      double* value) {
  g_slotText = text;
  g_slotLocale = locale;
  g_slotFlags = flags;
  if (g_slotResult == kHResultOk) *value = g_slotAnswer;
  return g_slotResult;
}

TEST(VariantSlots, TextToDoubleAsksTheSlotWithTheUserLocale) {
  const GlobalsGuard guard;
  SetVarR8FromStrSlot(&RecordingSlot);
  g_slotResult = kHResultOk;
  g_slotAnswer = 42.25;
  EXPECT_EQ(Variant(u"forty-two").ToDouble(), 42.25);
  EXPECT_EQ(g_slotText, u"forty-two");
  EXPECT_EQ(g_slotLocale, kLocaleUserDefault);
  EXPECT_EQ(g_slotFlags, 0U);
}

TEST(VariantSlots, SetReturnsThePreviousSlot) {
  const GlobalsGuard guard;
  const VarR8FromStrFunc before = GetVarR8FromStrSlot();
  EXPECT_EQ(SetVarR8FromStrSlot(&RecordingSlot), before);
  EXPECT_EQ(GetVarR8FromStrSlot(), &RecordingSlot);
}

TEST(VariantSlots, TypeMismatchFallsBackOnThePlainConversion) {
  const GlobalsGuard guard;
  SetVarR8FromStrSlot(&RecordingSlot);
  g_slotResult = kDispETypeMismatch;
  SetDecimalSeparator(u',');
  EXPECT_EQ(Variant(u" -12,5e1 ").ToDouble(), -125.0);
  EXPECT_THROW((void)Variant(u"12.5").ToDouble(), EVariantTypeCastError);
}

TEST(VariantSlots, OtherSlotFailureIsATypeCastError) {
  const GlobalsGuard guard;
  SetVarR8FromStrSlot(&RecordingSlot);
  g_slotResult = static_cast<HResult>(0x8002000AU);  // DISP_E_OVERFLOW
  EXPECT_THROW((void)Variant(u"1").ToDouble(), EVariantTypeCastError);
}

TEST(VariantSlots, Int64AsksTheSlotOnlyWhenNoIntegerReads) {
  const GlobalsGuard guard;
  SetVarR8FromStrSlot(&RecordingSlot);
  g_slotResult = kHResultOk;
  g_slotAnswer = 1e15 + 0.5;  // tie: even neighbour
  g_slotText.clear();
  EXPECT_EQ(Variant(u" -9223372036854775808").ToInt64(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(g_slotText, u"");
  EXPECT_EQ(Variant(u"x").ToInt64(), 1000000000000000LL);
  EXPECT_EQ(g_slotText, u"x");
  g_slotAnswer = 2.5;
  EXPECT_EQ(Variant(u"y").ToInt32(), 2);
  g_slotAnswer = 3.5;
  EXPECT_EQ(Variant(u"y").ToInt32(), 4);
  g_slotAnswer = 5e9;
  EXPECT_EQ(Variant(u"y").ToInt64(), 5000000000LL);
  EXPECT_THROW((void)Variant(u"y").ToInt32(), EVariantOverflowError);
}

TEST(VariantSlots, Int64TriesBooleanTextAfterATypeMismatch) {
  const GlobalsGuard guard;
  SetVarR8FromStrSlot(&RecordingSlot);
  g_slotResult = kDispETypeMismatch;
  EXPECT_EQ(Variant(u"tRUE").ToInt64(), -1);
  EXPECT_EQ(Variant(u"False").ToInt32(), 0);
  EXPECT_THROW((void)Variant(u"yes").ToInt64(), EVariantTypeCastError);
  EXPECT_THROW((void)Variant(u" True").ToInt64(), EVariantTypeCastError);
  g_slotResult = static_cast<HResult>(0x8002000AU);
  EXPECT_THROW((void)Variant(u"True").ToInt64(), EVariantTypeCastError);
}

}  // namespace
}  // namespace ostrivane
