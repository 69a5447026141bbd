// Without a system code page: the ANSI code page is 1252, as Windows
// converts to it.
#include "support/cp1252.h"

namespace ostrivane {

std::string ToAnsi(std::u16string_view text) { return Cp1252FromUtf16(text); }

}  // namespace ostrivane
