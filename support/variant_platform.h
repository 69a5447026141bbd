// The system's text-to-number conversions that the Variant runtime starts
// with (platform code: variant_win32.cpp calls oleaut32, variant_posix.cpp
// has stand-ins of its own).
#pragma once

#include <cstdint>

#include "support/dutil.h"

namespace ostrivane::platform {

// Same parameter lists and results as VarR8FromStr / VarR4FromStr.
HResult SystemVarR8FromStr(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                           double* value);
HResult SystemVarR4FromStr(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                           float* value);

// Same parameter list and results as VarI4FromStr: S_OK with `*value` set,
// DISP_E_TYPEMISMATCH for text that is no number, DISP_E_OVERFLOW for a
// number outside the 32-bit range.
HResult SystemVarI4FromStr(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                           std::int32_t* value);

inline constexpr HResult kDispEOverflow = static_cast<HResult>(0x8002000AU);

}  // namespace ostrivane::platform
