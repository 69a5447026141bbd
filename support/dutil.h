// DUtil: small text, byte and number routines shared by the whole program.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivane {

using Bytes = std::vector<std::uint8_t>;

// Splits `bytes` at the first occurrence of `separator`: `head` receives the
// bytes before it, `bytes` is replaced by the bytes after it. Without a
// separator everything goes to `head` and `bytes` ends up empty.
void SplitBytes(Bytes& bytes, std::uint8_t separator, Bytes& head);

// The same split on a view, without copying: returns the head and leaves the
// rest in `bytes`. SplitBytes is this plus the copies.
std::span<const std::uint8_t> SplitBytesView(std::span<const std::uint8_t>& bytes,
                                             std::uint8_t separator) noexcept;

// `text` with every occurrence of each character of `chars` removed.
std::u16string RemoveChars(std::u16string_view text, std::u16string_view chars);

// Number of code units of `text` equal to `ch`.
std::size_t CountChar(std::u16string_view text, char16_t ch) noexcept;

// Removes the digit-shape controls U+206E and U+206F and folds every digit of
// every script to the ASCII digit of the same value (the system's
// MAP_FOLDDIGITS folding). Throws ESystemError when the system runs out of
// memory or buffer while folding.
std::u16string FoldDigits(std::u16string_view text);

// Locale-tolerant text-to-number conversion: "." and "," both work as the
// decimal mark or as thousands separators, digits of any script count.
// Answers false, leaving `value` alone, for malformed or out-of-range text.
bool TryStrToFloatTolerant(std::u16string_view text, double& value);
bool TryStrToFloatTolerant(std::u16string_view text, float& value);

// HRESULT values as the Variant runtime sees them.
using HResult = std::int32_t;
inline constexpr HResult kHResultOk = 0;
inline constexpr HResult kDispETypeMismatch = static_cast<HResult>(0x80020005U);

// Replacements for the Variant runtime's text-to-number slots; `locale` and
// `flags` are ignored. S_OK with `*value` set, or DISP_E_TYPEMISMATCH with it
// unchanged.
HResult VarR8FromStrTolerant(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                             double* value);
HResult VarR4FromStrTolerant(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                             float* value);

// Start-up step: puts the two replacements into the Variant runtime's slots.
void InstallTolerantVariantConversions();

// Whether a Windows language identifier is German of Germany, Switzerland,
// Austria, Luxembourg or Liechtenstein; all 16 bits count, so the
// language-neutral 0x0007 is not.
bool IsGermanLanguageId(std::uint16_t id) noexcept;

// Whether the user's interface language is German: the interface language
// (DImports::GetUserDefaultUILanguage), or the user's default locale when the
// system gives none, through IsGermanLanguageId.
bool IsGermanUILanguage();

}  // namespace ostrivane
