// Remote datagram decoding on arbitrary bytes: no crash, no read outside the
// datagram, acceptance exactly as the format and RFC 3629 say (checked
// against a table-driven UTF-8 check of its own), and an accepted datagram's
// text encodes back into the same datagram. The text path's ways (the SSE2
// and the portable path, both directions) give what the reference loops
// give, byte for byte, on every input.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "net/remote_datagram.h"
#include "support/cp1252.h"
#include "support/text_paths.h"
#include "support/utf8.h"

namespace {

// The UTF-16 length of well-formed UTF-8 by the table of well-formed byte
// sequences (Unicode chapter 3, table 3-7), or nothing.
std::optional<std::size_t> WellFormedUtf16Length(std::span<const std::uint8_t> bytes) {
  struct Row {
    std::uint8_t first0, first1;    // range of the lead byte
    std::uint8_t second0, second1;  // range of the second byte
    std::size_t length;
  };
  static constexpr Row kRows[] = {
      {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
      {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  std::size_t units = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t lead = bytes[i];
    const Row* row = std::find_if(std::begin(kRows), std::end(kRows), [lead](const Row& r) {
      return lead >= r.first0 && lead <= r.first1;
    });
    if (row == std::end(kRows) || bytes.size() - i < row->length) return std::nullopt;
    for (std::size_t k = 1; k < row->length; ++k) {
      const std::uint8_t b = bytes[i + k];
      const bool inRange =
          k == 1 ? (b >= row->second0 && b <= row->second1) : (b >= 0x80 && b <= 0xBF);
      if (!inRange) return std::nullopt;
    }
    units += row->length == 4 ? 2 : 1;
    i += row->length;
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using ostrivane::fuzz::Check;
  const std::span<const std::uint8_t> datagram(data, size);
  const auto text = ostrivane::DecodeRemoteDatagram(datagram);

  // The whole input as UTF-8, along every path.
  namespace paths = ostrivane::text_paths;
  const auto reference = paths::Utf8ToUtf16Reference(datagram);
  Check(ostrivane::Utf8ToUtf16(datagram) == reference, "the decoding gives the reference's text");
  Check(paths::Utf8ToUtf16(datagram, paths::Path::Portable) == reference,
        "the portable decoding gives the reference's text");
  Check(paths::Utf8ToUtf16(datagram, paths::Path::Sse2) == reference,
        "the SSE2 decoding gives the reference's text");
  // The text the input spells (Latin-1 when it is no UTF-8) in code page 1252.
  const std::u16string spelled = ostrivane::fuzz::TextOf(datagram);
  const std::string cp1252 = paths::Cp1252FromUtf16Reference(spelled);
  Check(ostrivane::Cp1252FromUtf16(spelled) == cp1252,
        "the conversion gives the reference's bytes");
  Check(paths::Cp1252FromUtf16(spelled, paths::Path::Portable) == cp1252,
        "the portable conversion gives the reference's bytes");
  Check(paths::Cp1252FromUtf16(spelled, paths::Path::Sse2) == cp1252,
        "the SSE2 conversion gives the reference's bytes");

  // 0x02 "LVXML" 0x02, then a non-empty, well-formed UTF-8 payload.
  constexpr std::string_view kStart("\x02LVXML\x02");
  const bool framed = size > kStart.size() &&
                      std::equal(kStart.begin(), kStart.end(), data, [](char c, std::uint8_t b) {
                        return static_cast<std::uint8_t>(c) == b;
                      });
  const auto payload = framed ? datagram.subspan(kStart.size()) : std::span<const std::uint8_t>();
  const auto length = framed ? WellFormedUtf16Length(payload) : std::nullopt;
  Check(text.has_value() == length.has_value(), "accepted exactly when framed and well-formed");
  if (!text) return 0;

  Check(text->size() == *length, "one code unit per character, two above U+FFFF");
  const std::string back = ostrivane::Utf16ToUtf8(*text);
  Check(std::equal(back.begin(), back.end(), payload.begin(), payload.end(),
                   [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }),
        "the text is the payload, unchanged");
  const auto again = ostrivane::EncodeRemoteDatagram(*text);
  Check(std::equal(again.begin(), again.end(), datagram.begin(), datagram.end()),
        "the text encodes into the same datagram");
  return 0;
}
