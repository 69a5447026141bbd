// TEMPORARY until the code page table lands: a stand-in for the conversion to
// the ANSI code page, so that the relay links. Latin-1 characters map to
// their own byte, everything else to '?'. Delete this file (and its line in
// relay/CMakeLists.txt) when support/ansi_*.cpp arrives.
#include "support/ansi.h"

namespace ostrivane {

std::string Cp1252FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text) out += c <= 0xFF ? static_cast<char>(c) : '?';
  return out;
}

std::string ToAnsi(std::u16string_view text) { return Cp1252FromUtf16(text); }

}  // namespace ostrivane
