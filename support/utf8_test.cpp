#include "support/utf8.h"

#include <gtest/gtest.h>

#include "support/test_util.h"

namespace ostrivane {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Utf8Case {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::optional<std::u16string> text;  // nullopt: rejected
};

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, DecodesStrictly) {
  const auto& c = GetParam();
  EXPECT_EQ(Utf8ToUtf16(c.bytes), c.text);
  const auto len = Utf16LengthOfUtf8(c.bytes);
  ASSERT_EQ(len.has_value(), c.text.has_value());
  if (len) {
    EXPECT_EQ(*len, c.text->size());
  }
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

// Long ASCII runs are read eight bytes at a time: a character or a flaw at
// every place of such a run, and runs that end at every place of a word.
TEST(Utf8LongRuns, CharactersAndFlawsAtEveryOffset) {
  struct Insert {
    const char* name;
    Bytes bytes;
    std::optional<std::u16string> text;  // nullopt: the whole text is rejected
  };
  const Insert inserts[] = {
      {"two bytes", {0xC3, 0xA9}, u"\u00E9"},
      {"four bytes", {0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600"},
      {"stray continuation", {0x80}, std::nullopt},
      {"byte FF", {0xFF}, std::nullopt},
      {"cut short", {0xE2, 0x82}, std::nullopt},
      {"nothing", {}, u""},
  };
  for (const Insert& insert : inserts) {
    for (std::size_t before = 0; before <= 20; ++before) {
      for (const std::size_t after :
           {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{17}}) {
        Bytes bytes(before, 'a');
        bytes.insert(bytes.end(), insert.bytes.begin(), insert.bytes.end());
        bytes.insert(bytes.end(), after, 'z');
        std::optional<std::u16string> expected;
        if (insert.text) {
          expected = std::u16string(before, u'a') + *insert.text + std::u16string(after, u'z');
        }
        // A cut-short sequence at the very end is the flaw; followed by
        // ASCII it is a bad continuation: rejected either way.
        EXPECT_EQ(Utf8ToUtf16(bytes), expected) << insert.name << " " << before << "+" << after;
        const auto length = Utf16LengthOfUtf8(bytes);
        EXPECT_EQ(length.has_value(), expected.has_value()) << insert.name << " " << before;
        if (length && expected) {
          EXPECT_EQ(*length, expected->size());
        }
      }
    }
  }
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
