// What the fuzz targets share: the fuzzer's bytes read as text or as
// choices, and the check that ends a run when a property does not hold
// (libFuzzer then keeps the input as a crash file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "support/utf8.h"

namespace ostrivane::fuzz {

// Ends the run with `what` on stderr when `holds` is false.
inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fputs("property does not hold: ", stderr);
  std::fputs(what, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// The input's bytes, taken from the front.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  // The next byte, 0 when none is left.
  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const std::uint8_t b = rest_.front();
    rest_ = rest_.subspan(1);
    return b;
  }
  // Everything not taken yet.
  [[nodiscard]] std::span<const std::uint8_t> Rest() const { return rest_; }

 private:
  std::span<const std::uint8_t> rest_;
};

// `bytes` as UTF-16: what they spell when they are well-formed UTF-8, so
// that seeds are plain UTF-8 files; otherwise one code unit per byte
// (Latin-1), so that every input is some text.
inline std::u16string TextOf(std::span<const std::uint8_t> bytes) {
  if (auto text = Utf8ToUtf16(bytes)) return std::move(*text);
  return {bytes.begin(), bytes.end()};
}

}  // namespace ostrivane::fuzz
