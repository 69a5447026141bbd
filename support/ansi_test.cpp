#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/ansi.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

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
#ifdef _WIN32
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP();
#endif
  EXPECT_EQ(ToAnsi(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToAnsiTest, testing::ValuesIn(kCases), testutil::CaseName());

TEST(ToAnsi, ConvertsLongTextWhole) {
#ifdef _WIN32
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP();
#endif
  std::u16string text;
  std::string bytes;
  for (int i = 0; i < 20000; ++i) {
    text += u"\u20AC\u0416a";
    bytes += "\x80?a";
  }
  EXPECT_EQ(ToAnsi(text), bytes);
}

}  // namespace
}  // namespace ostrivane
