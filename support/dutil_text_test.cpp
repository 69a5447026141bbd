#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>

#include "support/dutil.h"
#include "support/fold_digits.h"
#include "support/system_error.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

struct RemoveCase {
  const char* name;
  std::u16string text;
  std::u16string chars;
  std::u16string result;
  friend void PrintTo(const RemoveCase& c, std::ostream* os) { *os << c.name; }
};

class RemoveCharsTest : public testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveCharsTest, RemovesEveryOccurrence) {
  EXPECT_EQ(RemoveChars(GetParam().text, GetParam().chars), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveCharsTest,
    testing::Values(RemoveCase{"AllOccurrencesOfEach", u"1.234.567,89", u".,", u"123456789"},
                    RemoveCase{"CaseSensitive", u"aAbBa", u"a", u"AbB"},
                    RemoveCase{"NothingToRemove", u"abc", u"", u"abc"},
                    RemoveCase{"EmptyText", u"", u"ab", u""},
                    RemoveCase{"EverythingGoes", u"aaaa", u"a", u""},
                    RemoveCase{"NoNewPairsFormed", u"aabb", u"ab", u""},
                    RemoveCase{"NulAndSurrogates",
                               std::u16string{u'x', u'\0', char16_t{0xD800}, u'y'},
                               std::u16string{u'\0', char16_t{0xD800}}, u"xy"}),
    testutil::CaseName());

struct CountCase {
  const char* name;
  std::u16string text;
  char16_t ch;
  std::size_t count;
  friend void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }
};

class CountCharTest : public testing::TestWithParam<CountCase> {};

TEST_P(CountCharTest, CountsCodeUnits) {
  EXPECT_EQ(CountChar(GetParam().text, GetParam().ch), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Cases, CountCharTest,
                         testing::Values(CountCase{"Several", u"1.234.567", u'.', 2},
                                         CountCase{"None", u"1234", u'.', 0},
                                         CountCase{"EmptyText", u"", u'.', 0},
                                         CountCase{"CaseSensitive", u"aAa", u'A', 1},
                                         CountCase{"WholeText", u",,,", u',', 3},
                                         CountCase{"Nul", std::u16string(u"a\0\0", 3), u'\0', 2}),
                         testutil::CaseName());

struct FoldCase {
  const char* name;
  std::u16string text;
  std::u16string folded;
  friend void PrintTo(const FoldCase& c, std::ostream* os) { *os << c.name; }
};

// Digit folding as the system does it (FoldStringW with MAP_FOLDDIGITS).
const FoldCase kFoldCases[] = {
    {"Empty", u"", u""},
    {"AsciiStays", u"-12.5e3 abc", u"-12.5e3 abc"},
    {"ArabicIndic", u"\u0661\u0662\u066B\u0665", u"12\u066B5"},
    {"ExtendedArabicIndic", u"\u06F0\u06F9", u"09"},
    {"Devanagari", u"\u0967\u0966\u096F", u"109"},
    {"FullWidth", u"\uFF11\uFF12\uFF0C\uFF13", u"12\uFF0C3"},
    {"SuperscriptsAndSubscripts", u"\u00B2\u00B3\u00B9\u2070\u2074\u2080\u2089", u"2310409"},
    {"CircledDigits", u"\u2460\u2468\u24EA", u"190"},
    {"ShapeControlsRemoved", u"\u206E\u0661\u206F\u0662\u206E", u"12"},
    {"OnlyShapeControls", u"\u206E\u206F", u""},
    {"OtherLettersStay", u"\u0416\u00E9\u0660", u"\u0416\u00E90"},
    {"SupplementaryDigitBecomesOneUnit", u"x\U0001D7CF\U000104A9y", u"x19y"},
    {"SupplementaryNonDigitStays", u"\U0001F600", u"\U0001F600"},
    {"LoneSurrogatesStay", std::u16string{char16_t{0xDBFF}, u'\u0665', char16_t{0xDC00}},
     std::u16string{char16_t{0xDBFF}, u'5', char16_t{0xDC00}}},
    {"HighBeforePair", std::u16string{char16_t{0xD835}, char16_t{0xD835}, char16_t{0xDFCF}},
     std::u16string{char16_t{0xD835}, u'1'}},
};

class FoldDigitsTest : public testing::TestWithParam<FoldCase> {};

TEST_P(FoldDigitsTest, FoldsWithTheSystem) {
  EXPECT_EQ(FoldDigits(GetParam().text), GetParam().folded);
}

TEST_P(FoldDigitsTest, FoldsWithTheTable) {
  EXPECT_EQ(FoldDigitsWith(GetParam().text, TableFoldDigits), GetParam().folded);
}

INSTANTIATE_TEST_SUITE_P(Cases, FoldDigitsTest, testing::ValuesIn(kFoldCases),
                         testutil::CaseName());

TEST(TableFoldDigits, AnswersLikeTheSystemsFold) {
  std::array<char16_t, 4> out{};
  const std::u16string text = u"\u0661x\U0001D7D0";  // folds to "1x2"
  EXPECT_EQ(TableFoldDigits(text, {}).length, 3U);
  const FoldAnswer small = TableFoldDigits(text, std::span(out).first(2));
  EXPECT_EQ(small.length, 0U);
  EXPECT_EQ(small.error, kErrorInsufficientBuffer);
  const FoldAnswer done = TableFoldDigits(text, out);
  EXPECT_EQ(done.length, 3U);
  EXPECT_EQ(std::u16string(out.data(), 3), u"1x2");
  const FoldAnswer empty = TableFoldDigits(u"", out);
  EXPECT_EQ(empty.length, 0U);
  EXPECT_EQ(empty.error, kErrorInvalidParameter);
}

// Stand-ins for the system's fold, for the failures it may report. The
// length query answers one unit per input unit.
template <std::uint32_t kError>
FoldAnswer FailingFold(std::u16string_view text, std::span<char16_t> out) {
  if (out.empty()) return {text.size(), 0};
  return {0, kError};
}

FoldAnswer NothingToFold(std::u16string_view, std::span<char16_t> out) {
  if (!out.empty()) ADD_FAILURE() << "folded although the length query answered 0";
  return {0, kErrorInvalidParameter};
}

// Answers fewer units than it asked room for.
FoldAnswer ShortFold(std::u16string_view text, std::span<char16_t> out) {
  if (out.empty()) return {text.size() + 5, 0};
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = text[i];
  return {text.size(), 0};
}

struct FailureCase {
  const char* name;
  std::uint32_t error;
  DigitFold fold;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class FoldFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FoldFailureTest, RaisesSystemError) {
  try {
    FoldDigitsWith(u"\u0661", GetParam().fold);
    FAIL() << "no exception";
  } catch (const ESystemError& e) {
    EXPECT_EQ(e.Code(), GetParam().error);
    EXPECT_EQ(std::string(e.what()), ESystemError(GetParam().error).what());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FoldFailureTest,
                         testing::Values(FailureCase{"OutOfMemory", kErrorOutOfMemory,
                                                     FailingFold<kErrorOutOfMemory>},
                                         FailureCase{"InsufficientBuffer", kErrorInsufficientBuffer,
                                                     FailingFold<kErrorInsufficientBuffer>}),
                         testutil::CaseName());

TEST(FoldDigitsWith, OtherFailuresGiveEmptyText) {
  EXPECT_EQ(FoldDigitsWith(u"\u0661", FailingFold<kErrorInvalidParameter>), u"");
  EXPECT_EQ(FoldDigitsWith(u"\u0661", FailingFold<kErrorNotEnoughMemory>), u"");
}

TEST(FoldDigitsWith, LengthQueryOfZeroGivesEmptyText) {
  EXPECT_EQ(FoldDigitsWith(u"\u0661", NothingToFold), u"");
}

TEST(FoldDigitsWith, KeepsExactlyWhatTheFoldAnswered) {
  EXPECT_EQ(FoldDigitsWith(u"a\u206Eb", ShortFold), u"ab");
}

}  // namespace
}  // namespace ostrivane
