#include <windows.h>

#include "support/ui_language.h"

namespace ostrivane {

std::uint32_t UserDefaultLCID() { return ::GetUserDefaultLCID(); }

}  // namespace ostrivane
