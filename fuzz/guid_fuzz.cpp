// The GUID text parser on arbitrary text: it accepts exactly
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with hexadecimal digits of either
// case, and what it reads writes back as the same text (in upper case); a
// GUID made of the input's bytes reads back from its text in either case.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "support/guid.h"

namespace {

using ostrivane::fuzz::Check;

bool IsHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool WellFormed(std::u16string_view text) {
  if (text.size() != 38 || text[0] != u'{' || text[37] != u'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != u'-' : !IsHex(text[i])) return false;
  }
  return true;
}

std::u16string Text(const ostrivane::TGUID& g, bool lower) {
  char buffer[40];
  const char* format = lower ? "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}"
                             : "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}";
  std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(g.D1), unsigned{g.D2},
                unsigned{g.D3}, unsigned{g.D4[0]}, unsigned{g.D4[1]}, unsigned{g.D4[2]},
                unsigned{g.D4[3]}, unsigned{g.D4[4]}, unsigned{g.D4[5]}, unsigned{g.D4[6]},
                unsigned{g.D4[7]});
  return {buffer, buffer + 38};
}

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = ostrivane::fuzz::TextOf({data, size});
  const std::optional<ostrivane::TGUID> guid = ostrivane::ParseGuid(text);
  Check(guid.has_value() == WellFormed(text), "accepts exactly the braced form");
  if (guid) Check(Text(*guid, false) == Upper(text), "reads back as the same text");

  if (size >= 16) {
    ostrivane::TGUID made;
    made.D1 = static_cast<std::uint32_t>(data[0]) << 24U |
              static_cast<std::uint32_t>(data[1]) << 16U |
              static_cast<std::uint32_t>(data[2]) << 8U | data[3];
    made.D2 = static_cast<std::uint16_t>(data[4] << 8U | data[5]);
    made.D3 = static_cast<std::uint16_t>(data[6] << 8U | data[7]);
    for (std::size_t i = 0; i < 8; ++i) made.D4[i] = data[8 + i];
    for (const bool lower : {false, true}) {
      Check(ostrivane::ParseGuid(Text(made, lower)) == made, "a GUID's text reads back");
    }
  }
  return 0;
}
