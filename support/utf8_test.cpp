#include "support/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "support/text_paths.h"

namespace ostrivane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using text_paths::Path;

// Every way through the decoding gives `text` for `bytes`: the reference
// loop, the portable path and the SSE2 path.
void ExpectEveryPathGives(const Bytes& bytes, const std::optional<std::u16string>& text,
                          const std::string& what) {
  EXPECT_EQ(text_paths::Utf8ToUtf16Reference(bytes), text) << "reference: " << what;
  EXPECT_EQ(text_paths::Utf8ToUtf16(bytes, Path::Portable), text) << "portable: " << what;
  EXPECT_EQ(text_paths::Utf8ToUtf16(bytes, Path::Sse2), text) << "SSE2: " << what;
}

struct Utf8Case {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::optional<std::u16string> text;  // nullopt: rejected
};

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, DecodesStrictly) {
  const auto& c = GetParam();
  EXPECT_EQ(Utf8ToUtf16(c.bytes), c.text);
  ExpectEveryPathGives(c.bytes, c.text, c.name);
}

// Boundaries of every sequence length and every kind of flaw.
INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Test,
    testing::Values(Utf8Case{"Empty", {}, u""}, Utf8Case{"Ascii", {0x61, 0x62, 0x63}, u"abc"},
                    Utf8Case{
                        "NulAndControls", {0x00, 0x02, 0x7F}, std::u16string(u"\0\x02\x7F", 3)},
                    Utf8Case{"TwoByteLow", {0xC2, 0x80}, u"\u0080"},
                    Utf8Case{"TwoByteHigh", {0xDF, 0xBF}, u"\u07FF"},
                    Utf8Case{"ThreeByteLow", {0xE0, 0xA0, 0x80}, u"\u0800"},
                    Utf8Case{"BeforeSurrogates", {0xED, 0x9F, 0xBF}, u"\uD7FF"},
                    Utf8Case{"AfterSurrogates", {0xEE, 0x80, 0x80}, u"\uE000"},
                    Utf8Case{"Bom", {0xEF, 0xBB, 0xBF, 0x78}, u"\uFEFFx"},
                    Utf8Case{"ThreeByteHigh", {0xEF, 0xBF, 0xBF}, u"\uFFFF"},
                    Utf8Case{"FourByteLow", {0xF0, 0x90, 0x80, 0x80}, u"\U00010000"},
                    Utf8Case{"FourByteHigh", {0xF4, 0x8F, 0xBF, 0xBF}, u"\U0010FFFF"},
                    Utf8Case{"Umlaut", {0xC3, 0xA4}, u"\u00E4"},
                    Utf8Case{"CutTwo", {0xC3}, std::nullopt},
                    Utf8Case{"CutThree", {0xE2, 0x82}, std::nullopt},
                    Utf8Case{"CutFour", {0xF0, 0x9F, 0x98}, std::nullopt},
                    Utf8Case{"LoneLead", {0xE4}, std::nullopt},
                    Utf8Case{"StrayContinuation", {0x61, 0x80}, std::nullopt},
                    Utf8Case{"OverlongNulC0", {0xC0, 0x80}, std::nullopt},
                    Utf8Case{"OverlongC1", {0xC1, 0xBF}, std::nullopt},
                    Utf8Case{"OverlongThree", {0xE0, 0x9F, 0xBF}, std::nullopt},
                    Utf8Case{"OverlongFour", {0xF0, 0x8F, 0xBF, 0xBF}, std::nullopt},
                    Utf8Case{"HighSurrogate", {0xED, 0xA0, 0x80}, std::nullopt},
                    Utf8Case{"LowSurrogate", {0xED, 0xBF, 0xBF}, std::nullopt},
                    Utf8Case{"AboveMax", {0xF4, 0x90, 0x80, 0x80}, std::nullopt},
                    Utf8Case{"F5", {0xF5, 0x80, 0x80, 0x80}, std::nullopt},
                    Utf8Case{"FF", {0xFF}, std::nullopt},
                    Utf8Case{"BadSecondContinuation", {0xE2, 0x82, 0x41}, std::nullopt},
                    Utf8Case{"FlawAtEndRejectsAll", {0x61, 0x62, 0x63, 0xC3}, std::nullopt}),
    testutil::CaseName());

// Runs of ASCII are read eight or sixteen bytes at a time, and the text is
// written a block of 1024 code units at a time: a character or a flaw at
// every place of two vectors' worth of ASCII, and runs that end at every
// place of a vector, give what the character or flaw gives alone.
TEST(Utf8LongRuns, CharactersAndFlawsAtEveryOffset) {
  struct Insert {
    const char* name;
    Bytes bytes;
    std::optional<std::u16string> text;  // nullopt: the whole text is rejected
  };
  const Insert inserts[] = {
      {"two bytes", {0xC3, 0xA9}, u"\u00E9"},
      {"three bytes", {0xE2, 0x82, 0xAC}, u"\u20AC"},
      {"four bytes", {0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600"},
      {"zero byte", {0x00}, std::u16string(1, u'\0')},
      {"delete", {0x7F}, u"\x7F"},
      {"stray continuation", {0x80}, std::nullopt},
      {"byte FF", {0xFF}, std::nullopt},
      {"overlong", {0xC0, 0xAF}, std::nullopt},
      {"surrogate", {0xED, 0xA0, 0x80}, std::nullopt},
      {"cut short", {0xE2, 0x82}, std::nullopt},
      {"nothing", {}, u""},
  };
  for (const Insert& insert : inserts) {
    for (std::size_t before = 0; before <= 40; ++before) {
      for (const std::size_t after : {0UL, 1UL, 7UL, 8UL, 15UL, 16UL, 17UL, 31UL, 33UL}) {
        Bytes bytes(before, 'a');
        bytes.insert(bytes.end(), insert.bytes.begin(), insert.bytes.end());
        bytes.insert(bytes.end(), after, 'z');
        std::optional<std::u16string> expected;
        if (insert.text) {
          expected = std::u16string(before, u'a') + *insert.text + std::u16string(after, u'z');
        }
        // A cut-short sequence at the very end is the flaw; followed by
        // ASCII it is a bad continuation: rejected either way.
        const std::string what =
            std::string(insert.name) + " " + std::to_string(before) + "+" + std::to_string(after);
        EXPECT_EQ(Utf8ToUtf16(bytes), expected) << what;
        ExpectEveryPathGives(bytes, expected, what);
      }
    }
  }
}

// Where a block of the text ends, a sequence may be cut by it: a surrogate
// pair whose second half falls past the block, or a sequence that begins
// in one block and is checked in the next.
TEST(Utf8LongRuns, SequencesAcrossBlocks) {
  const std::u16string pair = u"\U0001F600";
  for (const std::size_t block : {std::size_t{1024}, std::size_t{2048}}) {
    for (std::size_t before = block - 20; before <= block + 20; ++before) {
      Bytes bytes(before, 'a');
      for (int k = 0; k < 3; ++k) bytes.insert(bytes.end(), {0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9});
      bytes.insert(bytes.end(), 40, 'z');
      std::u16string expected(before, u'a');
      for (int k = 0; k < 3; ++k) expected += pair + u"\u00E9";
      expected += std::u16string(40, u'z');
      ExpectEveryPathGives(bytes, expected, "before " + std::to_string(before));
      EXPECT_EQ(Utf8ToUtf16(bytes), expected) << before;
      bytes.back() = 0xC3;  // cut short at the very end
      ExpectEveryPathGives(bytes, std::nullopt, "cut, before " + std::to_string(before));
    }
  }
}

// Random texts of ASCII runs of every length, characters of every length and
// flaws now and then: every path gives what the reference gives.
TEST(Utf8LongRuns, RandomTextsAgreeWithTheReference) {
  std::mt19937 random(24);
  const std::vector<Bytes> pieces = {
      {0xC3, 0xA4},
      {0xDF, 0xBF},
      {0xE0, 0xA0, 0x80},
      {0xED, 0x9F, 0xBF},
      {0xEF, 0xBB, 0xBF},
      {0xF0, 0x90, 0x80, 0x80},
      {0xF4, 0x8F, 0xBF, 0xBF},
      {0x00},
      {0x7F},
  };
  const std::vector<Bytes> flaws = {{0x80},
                                    {0xC0, 0x80},
                                    {0xC1},
                                    {0xF5},
                                    {0xFF},
                                    {0xE0, 0x9F, 0xBF},
                                    {0xED, 0xA0, 0x80},
                                    {0xF4, 0x90, 0x80, 0x80},
                                    {0xE2, 0x82},
                                    {0xF0, 0x9F, 0x98}};
  int rejected = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes;
    const auto length = std::uniform_int_distribution<std::size_t>(0, 3000)(random);
    const bool flawed = round % 3 == 0;
    while (bytes.size() < length) {
      const auto what = std::uniform_int_distribution<int>(0, 9)(random);
      if (what < 6) {
        const auto run = std::uniform_int_distribution<std::size_t>(0, 70)(random);
        for (std::size_t k = 0; k < run; ++k) {
          bytes.push_back(
              static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 0x7F)(random)));
        }
      } else {
        const Bytes& piece =
            pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
        bytes.insert(bytes.end(), piece.begin(), piece.end());
      }
    }
    if (flawed) {
      const Bytes& flaw =
          flaws[std::uniform_int_distribution<std::size_t>(0, flaws.size() - 1)(random)];
      const auto at = std::uniform_int_distribution<std::size_t>(0, bytes.size())(random);
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), flaw.begin(), flaw.end());
    }
    const auto reference = text_paths::Utf8ToUtf16Reference(bytes);
    if (!reference) ++rejected;
    ExpectEveryPathGives(bytes, reference, "round " + std::to_string(round));
    EXPECT_EQ(Utf8ToUtf16(bytes), reference) << round;
  }
  // Most flawed texts are rejected, so rejections are compared too.
  EXPECT_GT(rejected, 800);
}

TEST(Utf16ToUtf8, RoundTripsAndReplacesLoneSurrogates) {
  const std::u16string text = u"a\u00E4\u20AC\U0001F600";
  const std::string utf8 = Utf16ToUtf8(text);
  const Bytes bytes(utf8.begin(), utf8.end());
  EXPECT_EQ(Utf8ToUtf16(bytes), text);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xDC00}) + u"x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace ostrivane
