// Code page 1252 both ways, and ToAnsi where the ANSI code page is 1252.
#include "support/cp1252.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/ansi.h"
#include "support/test_util.h"
#include "support/text_paths.h"
#include "support/text_platform.h"

namespace ostrivane {
namespace {

// --- encoding ---------------------------------------------------------------

struct AnsiCase {
  const char* name;
  std::u16string text;
  std::string bytes;
  friend void PrintTo(const AnsiCase& c, std::ostream* os) { *os << c.name; }
};

// What Windows' conversion to code page 1252 without flags gives.
const AnsiCase kCases[] = {
    {"Empty", u"", ""},
    {"Ascii", u"<cmd a=\"1\">Hi? ~</cmd>", "<cmd a=\"1\">Hi? ~</cmd>"},
    {"EmbeddedNul", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
    {"EuroSign", u"\u20AC", "\x80"},
    {"WindowsBytes80To9F", u"\u201A\u0192\u2026\u0152\u017D\u2018\u2013\u2122\u0178",
     "\x82\x83\x85\x8C\x8E\x91\x96\x99\x9F"},
    {"UndefinedBytesKeepTheirControls", u"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D"},
    {"OtherC1ControlsHaveNoByte", u"\u0080\u009F", "??"},
    {"Latin1", u"\u00A0\u00AD\u00E9\u00FF", "\xA0\xAD\xE9\xFF"},
    {"BestFitLetters", u"\u0100\u0101\u03A9", "AaO"},
    {"BestFitInfinity", u"\u221E", "8"},
    {"BestFitCombiningAcute", u"\u0301", "\xB4"},
    {"BestFitFullWidth", u"\uFF21\uFF10\u3000", "A0 "},
    {"DefaultForCyrillic", u"\u0416\u0443\u043A", "???"},
    {"DefaultForOthers", u"\u4E2D\u2260\uFFFD", "???"},
    {"SurrogatePairGivesTwo", u"x\U0001F600y", "x??y"},
    {"LoneSurrogates", std::u16string{u'a', char16_t{0xD800}, u'b', char16_t{0xDC00}}, "a?b?"},
};

class Cp1252FromUtf16Test : public testing::TestWithParam<AnsiCase> {};

TEST_P(Cp1252FromUtf16Test, ConvertsLikeWindows) {
  EXPECT_EQ(Cp1252FromUtf16(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, Cp1252FromUtf16Test, testing::ValuesIn(kCases),
                         testutil::CaseName());

class ToAnsiTest : public testing::TestWithParam<AnsiCase> {};

TEST_P(ToAnsiTest, ConvertsToCodePage1252) {
  if (platform::AnsiCodePage() != 1252) {
    GTEST_SKIP() << "the ANSI code page is " << platform::AnsiCodePage();
  }
  EXPECT_EQ(ToAnsi(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToAnsiTest, testing::ValuesIn(kCases), testutil::CaseName());

TEST(ToAnsi, ConvertsLongTextWhole) {
  if (platform::AnsiCodePage() != 1252) {
    GTEST_SKIP() << "the ANSI code page is " << platform::AnsiCodePage();
  }
  std::u16string text;
  std::string bytes;
  for (int i = 0; i < 20000; ++i) {
    text += u"\u20AC\u0416a";
    bytes += "\x80?a";
  }
  EXPECT_EQ(ToAnsi(text), bytes);
}

// --- decoding ---------------------------------------------------------------

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

// The conversion along every path, and the reference loop, give `bytes`.
void ExpectEveryPathGives(std::u16string_view text, const std::string& bytes,
                          const std::string& what) {
  using text_paths::Path;
  EXPECT_EQ(text_paths::Cp1252FromUtf16Reference(text), bytes) << "reference: " << what;
  EXPECT_EQ(text_paths::Cp1252FromUtf16(text, Path::Portable), bytes) << "portable: " << what;
  EXPECT_EQ(text_paths::Cp1252FromUtf16(text, Path::Sse2), bytes) << "SSE2: " << what;
  EXPECT_EQ(Cp1252FromUtf16(text), bytes) << what;
}

// ASCII is taken four or sixteen code units at a time: each case's text at
// every place of two such groups, among ASCII, gives its bytes among the
// same ASCII. A code unit whose low byte is ASCII (U+0141, U+FF21) is no
// ASCII.
TEST(Cp1252Test, TextsAmongAsciiConvertAsAlone) {
  std::vector<std::pair<std::u16string, std::string>> texts;
  for (const AnsiCase& c : kCases) texts.emplace_back(c.text, c.bytes);
  texts.emplace_back(u"\u0141\u0100\u017F\u0160", Cp1252FromUtf16(u"\u0141") +
                                                      Cp1252FromUtf16(u"\u0100") +
                                                      Cp1252FromUtf16(u"\u017F") + "\x8A");
  texts.emplace_back(u"\u007F\u0080\uFF21", std::string("\x7F?A"));
  texts.emplace_back(u"\u00FF\u0100\u8000", std::string("\xFF"
                                                        "A?"));
  for (const auto& [text, bytes] : texts) {
    for (std::size_t before = 0; before < 34; ++before) {
      for (const std::size_t after : {0UL, 1UL, 3UL, 4UL, 5UL, 11UL, 15UL, 16UL, 17UL, 33UL}) {
        const std::u16string given =
            std::u16string(before, u'a') + text + std::u16string(after, u'z');
        ExpectEveryPathGives(given, std::string(before, 'a') + bytes + std::string(after, 'z'),
                             std::to_string(before) + "+" + std::to_string(after));
      }
    }
  }
}

// Long random texts, mostly ASCII with code units of every kind among it,
// across the blocks the conversion writes: every path agrees with the
// reference.
TEST(Cp1252Test, RandomTextsAgreeWithTheReference) {
  std::mt19937 random(1252);
  for (int round = 0; round < 500; ++round) {
    std::u16string text(std::uniform_int_distribution<std::size_t>(0, 5000)(random), u'x');
    for (char16_t& unit : text) {
      const auto kind = std::uniform_int_distribution<int>(0, 99)(random);
      unit = static_cast<char16_t>(kind < 90 ? std::uniform_int_distribution<int>(0, 0x7F)(random)
                                   : kind < 95
                                       ? std::uniform_int_distribution<int>(0x80, 0xFF)(random)
                                       : std::uniform_int_distribution<int>(0x100, 0xFFFF)(random));
    }
    ExpectEveryPathGives(text, text_paths::Cp1252FromUtf16Reference(text),
                         "round " + std::to_string(round));
  }
}

// --- both ways ---------------------------------------------------------------

TEST(Cp1252Test, EveryByteEncodesBackToItself) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    const std::string encoded = Cp1252FromUtf16(std::u16string(1, Cp1252CharToUtf16(byte)));
    EXPECT_EQ(encoded, std::string(1, static_cast<char>(byte))) << "byte " << b;
  }
}

}  // namespace
}  // namespace ostrivane
