// Strict UTF-8 decoding (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF, no stray or cut-short sequences. One flaw rejects it all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ostrivane {

// Number of UTF-16 code units that `bytes` decodes to, or nullopt when the
// bytes are not well-formed UTF-8.
std::optional<std::size_t> Utf16LengthOfUtf8(std::span<const std::uint8_t> bytes) noexcept;

// The UTF-16 text of well-formed UTF-8 `bytes`, or nullopt. Allocates exactly
// the decoded length, never more code units than there are bytes.
std::optional<std::u16string> Utf8ToUtf16(std::span<const std::uint8_t> bytes);

// UTF-8 encoding of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace ostrivane
