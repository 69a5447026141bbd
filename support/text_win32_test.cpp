// The tables that stand in for the system's text services on POSIX, checked
// against the system itself: code page 1252 (Cp1252FromUtf16) against
// WideCharToMultiByte, the digit folding table (TableFoldDigits) against
// FoldStringW(MAP_FOLDDIGITS); and ToAnsi against the ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/ansi.h"
#include "support/cp1252.h"
#include "support/fold_digits.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using testutil::Hex;

// --- code page 1252 -----------------------------------------------------------

std::string SystemCp1252(std::u16string_view text) {
  const auto* units = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(1252, 0, units, count, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(1252, 0, units, count, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

TEST(Cp1252Table, EveryCodeUnitConvertsLikeTheSystem) {
  int mismatches = 0;
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const std::u16string text(1, static_cast<char16_t>(unit));
    const std::string expected = SystemCp1252(text);
    if (Cp1252FromUtf16(text) != expected && ++mismatches <= 20) {
      ADD_FAILURE() << "unit" << Hex(text) << " differs from the system";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// All 2^20 pairs, one call each.
TEST(Cp1252Table, EverySurrogatePairConvertsLikeTheSystem) {
  int mismatches = 0;
  for (unsigned high = 0xD800; high < 0xDC00; ++high) {
    for (unsigned low = 0xDC00; low < 0xE000; ++low) {
      const std::u16string text{static_cast<char16_t>(high), static_cast<char16_t>(low)};
      if (Cp1252FromUtf16(text) != SystemCp1252(text) && ++mismatches <= 20) {
        ADD_FAILURE() << "pair" << Hex(text) << " differs from the system";
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Long texts in one call: each unit's neighbours must not change it.
TEST(Cp1252Table, MixedTextsConvertLikeTheSystem) {
  std::u16string all;
  for (unsigned unit = 0; unit < 0x10000; ++unit) all += static_cast<char16_t>(unit);
  EXPECT_EQ(Cp1252FromUtf16(all), SystemCp1252(all));

  // Surrogates, best-fit letters, Latin-1 and others in random order.
  const char16_t pool[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, u'a',   u'?',
                           0x0301, 0x0100, 0x20AC, 0x00E9, 0x0416, 0xFF21, 0x0000, 0x0081};
  std::mt19937 random(1252);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pool) - 1);
  std::u16string mixed;
  for (int i = 0; i < 100000; ++i) mixed += pool[pick(random)];
  EXPECT_EQ(Cp1252FromUtf16(mixed), SystemCp1252(mixed));
}

// ToAnsi is the system's conversion to the ANSI code page.
TEST(ToAnsiWin32, MatchesTheSystemsAnsiCodePage) {
  std::u16string all;
  for (unsigned unit = 0; unit < 0x10000; ++unit) all += static_cast<char16_t>(unit);
  const auto* units = reinterpret_cast<const wchar_t*>(all.data());
  const int count = static_cast<int>(all.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
  ASSERT_GT(size, 0);
  std::string expected(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, units, count, expected.data(), size, nullptr, nullptr);
  EXPECT_EQ(ToAnsi(all), expected);
}

// --- digit folding ------------------------------------------------------------

// FoldStringW(MAP_FOLDDIGITS) of `text`; "<failed>" when it fails.
std::u16string SystemFold(std::u16string_view text) {
  const auto* units = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  const int size = FoldStringW(MAP_FOLDDIGITS, units, count, nullptr, 0);
  if (size <= 0) return u"<failed>";
  std::u16string folded(static_cast<std::size_t>(size), u'\0');
  const int n =
      FoldStringW(MAP_FOLDDIGITS, units, count, reinterpret_cast<wchar_t*>(folded.data()), size);
  if (n <= 0) return u"<failed>";
  folded.resize(static_cast<std::size_t>(n));
  return folded;
}

std::u16string TableFold(std::u16string_view text) {
  const FoldAnswer size = TableFoldDigits(text, {});
  if (size.length == 0) return u"<failed>";
  std::u16string folded(size.length, u'\0');
  const FoldAnswer done = TableFoldDigits(text, folded);
  if (done.length == 0) return u"<failed>";
  folded.resize(done.length);
  return folded;
}

TEST(FoldDigitsTable, EveryCodeUnitFoldsLikeTheSystem) {
  int mismatches = 0;
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const std::u16string text(1, static_cast<char16_t>(unit));
    const std::u16string expected = SystemFold(text);
    const std::u16string actual = TableFold(text);
    if (actual != expected && ++mismatches <= 20) {
      ADD_FAILURE() << "unit" << Hex(text) << ": table" << Hex(actual) << ", system"
                    << Hex(expected);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FoldDigitsTable, EverySurrogatePairFoldsLikeTheSystem) {
  int mismatches = 0;
  int folded = 0;
  for (unsigned high = 0xD800; high < 0xDC00; ++high) {
    for (unsigned low = 0xDC00; low < 0xE000; ++low) {
      const std::u16string text{static_cast<char16_t>(high), static_cast<char16_t>(low)};
      const std::u16string expected = SystemFold(text);
      if (expected != text) ++folded;
      const std::u16string actual = TableFold(text);
      if (actual != expected && ++mismatches <= 20) {
        ADD_FAILURE() << "pair" << Hex(text) << ": table" << Hex(actual) << ", system"
                      << Hex(expected);
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(folded, 0) << "the system folds no supplementary digit; the table's pairs are moot";
}

// Long texts in one call: surrogates next to each other, digits in between.
TEST(FoldDigitsTable, MixedTextsFoldLikeTheSystem) {
  std::u16string all;
  for (unsigned unit = 1; unit < 0x10000; ++unit) all += static_cast<char16_t>(unit);
  EXPECT_EQ(TableFold(all), SystemFold(all));

  const char16_t pool[] = {0xD835, 0xDFCE, 0xDFFF, 0xD801, 0xDCA0, 0xDBFF, 0xDC00,
                           0x0661, 0x0039, 0xFF15, 0x2460, 0x206E, 0x0000, u'a'};
  std::mt19937 random(206);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pool) - 1);
  std::u16string mixed;
  for (int i = 0; i < 100000; ++i) mixed += pool[pick(random)];
  EXPECT_EQ(TableFold(mixed), SystemFold(mixed));
}

}  // namespace
}  // namespace ostrivane
