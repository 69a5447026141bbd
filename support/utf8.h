// Strict UTF-8 decoding (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF, no stray or cut-short sequences. One flaw rejects it all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ostrivane {

// The UTF-16 text of well-formed UTF-8 `bytes`, or nullopt. One pass checks
// and converts together; runs of ASCII go sixteen bytes at a time where the
// CPU has SSE2 (support/text_paths.h). Allocates once, room for one code
// unit per byte: never more code units than there are bytes.
std::optional<std::u16string> Utf8ToUtf16(std::span<const std::uint8_t> bytes);

// UTF-8 encoding of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace ostrivane
