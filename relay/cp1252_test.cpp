#include "relay/cp1252.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

#include "support/test_util.h"

namespace ostrivane {
namespace {

struct ByteCase {
  const char* name;
  std::uint8_t byte;
  char16_t ch;
};

void PrintTo(const ByteCase& c, std::ostream* os) { *os << c.name; }

class Cp1252ByteTest : public testing::TestWithParam<ByteCase> {};

TEST_P(Cp1252ByteTest, DecodesAsWindowsDoes) {
  EXPECT_EQ(static_cast<int>(Cp1252CharToUtf16(GetParam().byte)), static_cast<int>(GetParam().ch));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Cp1252ByteTest,
    testing::Values(ByteCase{"Zero", 0x00, u'\0'}, ByteCase{"Ascii", 0x41, u'A'},
                    ByteCase{"Delete", 0x7F, u'\x7F'}, ByteCase{"Euro", 0x80, u'\u20AC'},
                    ByteCase{"Undefined81", 0x81, u'\u0081'}, ByteCase{"LowQuote", 0x82, u'\u201A'},
                    ByteCase{"SCaron", 0x8A, u'\u0160'}, ByteCase{"Undefined8D", 0x8D, u'\u008D'},
                    ByteCase{"ZCaron", 0x8E, u'\u017D'}, ByteCase{"Undefined8F", 0x8F, u'\u008F'},
                    ByteCase{"Undefined90", 0x90, u'\u0090'}, ByteCase{"EmDash", 0x97, u'\u2014'},
                    ByteCase{"TradeMark", 0x99, u'\u2122'},
                    ByteCase{"Undefined9D", 0x9D, u'\u009D'},
                    ByteCase{"YDiaeresis", 0x9F, u'\u0178'},
                    ByteCase{"NoBreakSpace", 0xA0, u'\u00A0'},
                    ByteCase{"LatinSmallYDiaeresis", 0xFF, u'\u00FF'}),
    testutil::CaseName());

TEST(Cp1252Test, EveryByteHasItsOwnCharacter) {
  std::set<char16_t> seen;
  for (int b = 0; b < 256; ++b) seen.insert(Cp1252CharToUtf16(static_cast<std::uint8_t>(b)));
  EXPECT_EQ(seen.size(), 256U);
}

TEST(Cp1252Test, DecodesToUtf8) {
  EXPECT_EQ(Cp1252ToUtf8(std::string("a\0\xE4\x80\x9D", 5)),
            std::string("a\0\xC3\xA4\xE2\x82\xAC\xC2\x9D", 9));
  EXPECT_EQ(Cp1252ToUtf8(""), "");
}

}  // namespace
}  // namespace ostrivane
