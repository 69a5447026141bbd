// Writes the code page 1252 table that Cp1252FromUtf16 converts with: how the
// system's WideCharToMultiByte(1252, 0, ...) converts every UTF-16 code unit.
// Windows program; the regen-tables target of the windows build runs it
// (under Wine there) and copies its output to support/cp1252_table.inc.
//
// Usage: gen_cp1252_table OUTPUT
//
// The table's format relies on the conversion being one byte per code unit,
// each unit on its own; the program checks that for every unit and every
// surrogate pair and fails when the system converts otherwise.
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/gen_common.h"

namespace {

constexpr UINT kCodePage = 1252;

// The bytes of `units` in code page 1252, without flags and with the default
// character.
std::string Convert(const wchar_t* units, int count) {
  std::array<char, 16> buffer{};
  const int n = WideCharToMultiByte(kCodePage, 0, units, count, buffer.data(),
                                    static_cast<int>(buffer.size()), nullptr, nullptr);
  return std::string(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
}

struct Run {
  unsigned first;
  unsigned last;
  unsigned firstByte;
};

std::string ByteLiteral(unsigned byte) {
  if (byte >= 0x20 && byte < 0x7F && byte != '\'' && byte != '\\') {
    return std::string("'") + static_cast<char>(byte) + "'";
  }
  return ostrivane::tools::Hex(byte, 2);
}

}  // namespace

int main(int argc, char** argv) {
  using ostrivane::tools::Fail;
  using ostrivane::tools::Hex;
  if (argc != 2) return Fail("usage: gen_cp1252_table OUTPUT");

  std::vector<unsigned> byteOf(0x10000);
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const auto w = static_cast<wchar_t>(unit);
    const std::string bytes = Convert(&w, 1);
    if (bytes.size() != 1) {
      return Fail("U+" + Hex(unit, 4, false) + " converts to " + std::to_string(bytes.size()) +
                  " bytes, not 1");
    }
    byteOf[unit] = static_cast<unsigned char>(bytes[0]);
  }
  for (unsigned high = 0xD800; high < 0xDC00; ++high) {
    for (unsigned low = 0xDC00; low < 0xE000; ++low) {
      const wchar_t pair[2] = {static_cast<wchar_t>(high), static_cast<wchar_t>(low)};
      const std::string bytes = Convert(pair, 2);
      const std::string perUnit{static_cast<char>(byteOf[high]), static_cast<char>(byteOf[low])};
      if (bytes != perUnit) {
        return Fail("the pair " + Hex(high, 4, false) + " " + Hex(low, 4, false) +
                    " does not convert unit by unit");
      }
    }
  }

  // Runs of units whose bytes count up one by one. U+003F itself converts to
  // '?' as well; listing it keeps ASCII in one run.
  std::vector<Run> runs;
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const unsigned byte = byteOf[unit];
    if (byte == '?' && unit != '?') continue;
    if (!runs.empty() && runs.back().last + 1 == unit &&
        runs.back().firstByte + (unit - runs.back().first) == byte) {
      runs.back().last = unit;
    } else {
      runs.push_back(Run{unit, unit, byte});
    }
  }

  std::string text = ostrivane::tools::GeneratedHeader("tools/gen_cp1252_table.cpp",
                                                       "WideCharToMultiByte(1252, 0, ...)");
  text +=
      "//\n"
      "// Code page 1252 as the system converts UTF-16 to it without flags: every\n"
      "// code unit converts on its own to one byte, a surrogate pair to two.\n"
      "// {first, last, byte}: the units first..last convert to byte, byte + 1, ...\n"
      "// Every unit outside these runs converts to the default character '?'.\n"
      "// Included by support/cp1252.cpp.\n"
      "\n"
      "inline constexpr Cp1252Run kCp1252Runs[] = {\n";
  for (const Run& run : runs) {
    text += "    {" + Hex(run.first, 4) + ", " + Hex(run.last, 4) + ", " +
            ByteLiteral(run.firstByte) + "},\n";
  }
  text += "};\n";
  return ostrivane::tools::WriteText(argv[1], text);
}
