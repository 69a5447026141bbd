// Locale names on arbitrary bytes: no crash, no read outside the text, and
// the answers stay within what the mapping can give.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/ui_language.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::uint16_t id = ostrivane::LangIdFromPosixLocale(text);
  if (id == 0) std::abort();
  const std::string collator = ostrivane::CollatorLocaleName(text);
  // "ll", "lll", "ll_CC" or "lll_CC", or the root collation.
  if (collator.size() > 6) std::abort();
  // A name the collator takes maps back to the same language.
  if (!collator.empty() && ostrivane::LangIdFromPosixLocale(collator) != id &&
      text.find('@') == std::string_view::npos) {
    std::abort();
  }
  return 0;
}
