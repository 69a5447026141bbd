// POSIX: the user's default locale is the one the environment names for
// messages.
#include "support/ui_language.h"

namespace ostrivane {

std::uint32_t UserDefaultLCID() { return LangIdFromPosixLocale(PosixLocaleSetting("LC_MESSAGES")); }

}  // namespace ostrivane
