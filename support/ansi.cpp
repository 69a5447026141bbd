#include "support/ansi.h"

#include "support/text_platform.h"

namespace ostrivane {

std::string ToAnsi(std::u16string_view text) { return platform::AnsiFromUtf16(text); }

}  // namespace ostrivane
