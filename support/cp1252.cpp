// Code page 1252 from a table that the system's own conversion produced
// (tools/gen_cp1252_table.cpp): best-fit mappings included, '?' otherwise.
#include <array>
#include <cstdint>
#include <stdexcept>

#include "support/ansi.h"

namespace ostrivane {
namespace {

// The code units first..last convert to firstByte, firstByte + 1, ...
struct Cp1252Run {
  char16_t first;
  char16_t last;
  std::uint8_t firstByte;
};

#include "support/cp1252_table.inc"

using Cp1252Lookup = std::array<std::uint8_t, 0x10000>;

// The byte of every code unit, built while compiling. A table whose runs are
// out of order, overlap or count past 0xFF does not compile.
constexpr Cp1252Lookup BuildLookup() {
  Cp1252Lookup lookup{};
  lookup.fill(static_cast<std::uint8_t>('?'));
  unsigned next = 0;  // first unit that a run may start at
  for (const Cp1252Run& run : kCp1252Runs) {
    if (run.first < next || run.last < run.first || run.firstByte + (run.last - run.first) > 0xFF) {
      throw std::logic_error("malformed code page 1252 table");
    }
    for (unsigned unit = run.first; unit <= run.last; ++unit) {
      lookup[unit] = static_cast<std::uint8_t>(run.firstByte + (unit - run.first));
    }
    next = run.last + 1U;
  }
  return lookup;
}

constexpr Cp1252Lookup kLookup = BuildLookup();

}  // namespace

std::string Cp1252FromUtf16(std::u16string_view text) {
  std::string bytes(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[i] = static_cast<char>(kLookup[text[i]]);
  }
  return bytes;
}

}  // namespace ostrivane
