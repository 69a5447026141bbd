// Writes the digit folding table that the POSIX build folds with: how the
// system's FoldStringW(MAP_FOLDDIGITS, ...) maps every code point. Windows
// program; the regen-tables target of the windows build runs it (under Wine
// there) and copies its output to support/fold_digits_table.inc.
//
// Usage: gen_fold_digits_table OUTPUT
//
// The table's format relies on every code point folding either to itself or
// to one ASCII digit (a surrogate pair then to a single code unit); the
// program checks that for every code point and fails when the system folds
// otherwise.
#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "tools/gen_common.h"

namespace {

struct Run {
  unsigned first;
  unsigned last;
  unsigned firstDigit;
};

}  // namespace

int main(int argc, char** argv) {
  using ostrivane::tools::Fail;
  using ostrivane::tools::Hex;
  if (argc != 2) return Fail("usage: gen_fold_digits_table OUTPUT");

  std::vector<Run> runs;
  for (unsigned cp = 0; cp < 0x110000; ++cp) {
    if (cp >= 0xD800 && cp < 0xE000) continue;  // lone surrogates: see below
    std::array<wchar_t, 2> in{};
    int count = 1;
    if (cp < 0x10000) {
      in[0] = static_cast<wchar_t>(cp);
    } else {
      in[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      in[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      count = 2;
    }
    std::array<wchar_t, 8> out{};
    const int n =
        FoldStringW(MAP_FOLDDIGITS, in.data(), count, out.data(), static_cast<int>(out.size()));
    if (n == count && out[0] == in[0] && (count == 1 || out[1] == in[1])) continue;
    if (n != 1 || out[0] < L'0' || out[0] > L'9') {
      return Fail("U+" + Hex(cp, 4, false) + " folds to " + std::to_string(n) +
                  " units, not to itself nor to one ASCII digit");
    }
    const unsigned digit = static_cast<unsigned>(out[0] - L'0');
    if (!runs.empty() && runs.back().last + 1 == cp &&
        runs.back().firstDigit + (cp - runs.back().first) == digit) {
      runs.back().last = cp;
    } else {
      runs.push_back(Run{cp, cp, digit});
    }
  }
  for (unsigned unit = 0xD800; unit < 0xE000; ++unit) {
    const auto in = static_cast<wchar_t>(unit);
    wchar_t out = 0;
    if (FoldStringW(MAP_FOLDDIGITS, &in, 1, &out, 1) != 1 || out != in) {
      return Fail("the lone surrogate " + Hex(unit, 4, false) + " does not fold to itself");
    }
  }

  std::string text = ostrivane::tools::GeneratedHeader("tools/gen_fold_digits_table.cpp",
                                                       "FoldStringW(MAP_FOLDDIGITS, ...)");
  text +=
      "//\n"
      "// Every code point that the system's digit folding changes, and the ASCII\n"
      "// digit it becomes. {first, last, digit}: the code points first..last fold\n"
      "// to digit, digit + 1, ... A surrogate pair whose code point is listed\n"
      "// folds to the single digit; everything else, lone surrogates included,\n"
      "// stays as it is. Included by support/fold_digits_table.cpp.\n"
      "\n"
      "inline constexpr DigitRun kDigitRuns[] = {\n";
  for (const Run& run : runs) {
    text += "    {" + Hex(run.first, 5) + ", " + Hex(run.last, 5) + ", u'" +
            static_cast<char>('0' + run.firstDigit) + "'},\n";
  }
  text += "};\n";
  return ostrivane::tools::WriteText(argv[1], text);
}
