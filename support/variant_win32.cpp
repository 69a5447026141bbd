// Windows: the Variant runtime starts with the OLE Automation conversions of
// oleaut32.
#include <windows.h>
// after windows.h
#include <oleauto.h>

#include "support/variant_platform.h"

namespace ostrivane::platform {

namespace {

// The conversions only read the text; mingw-w64 declares the parameter
// without const.
OLECHAR* OleText(const char16_t* text) noexcept {
  // char16_t and WCHAR are both UTF-16 code units of the same size.
  static_assert(sizeof(char16_t) == sizeof(WCHAR));
  return const_cast<OLECHAR*>(reinterpret_cast<const OLECHAR*>(text));
}

}  // namespace

HResult SystemVarR8FromStr(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                           double* value) {
  return ::VarR8FromStr(OleText(text), locale, flags, value);
}

HResult SystemVarR4FromStr(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                           float* value) {
  return ::VarR4FromStr(OleText(text), locale, flags, value);
}

HResult SystemVarI4FromStr(const char16_t* text, std::uint32_t locale, std::uint32_t flags,
                           std::int32_t* value) {
  LONG result = 0;
  const HRESULT hr = ::VarI4FromStr(OleText(text), locale, flags, &result);
  if (SUCCEEDED(hr)) *value = static_cast<std::int32_t>(result);
  return hr;
}

}  // namespace ostrivane::platform
