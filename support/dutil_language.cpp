// The German-interface test.
#include "support/dimports.h"
#include "support/dutil.h"
#include "support/text_platform.h"

namespace ostrivane {

bool IsGermanLanguageId(std::uint16_t id) noexcept {
  switch (id) {
    case 0x0407:  // Germany
    case 0x0807:  // Switzerland
    case 0x0C07:  // Austria
    case 0x1007:  // Luxembourg
    case 0x1407:  // Liechtenstein
      return true;
    default:
      return false;
  }
}

bool IsGermanUILanguage() {
  std::uint16_t id = DImports::GetUserDefaultUILanguage();
  // Without an interface language the user's locale decides; its low 16 bits
  // are its language identifier.
  if (id == 0) id = static_cast<std::uint16_t>(platform::UserDefaultLCID() & 0xFFFFU);
  return IsGermanLanguageId(id);
}

}  // namespace ostrivane
