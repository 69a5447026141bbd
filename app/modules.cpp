#include "app/modules.h"

#include "events/lv_events.h"
#include "support/dutil.h"
#include "support/format_settings.h"

namespace ostrivane {

void InitializeModules() {
  InitializeEventCentral();
  LoadFormatSettingsFromSystem();
  InstallTolerantVariantConversions();
}

void FinalizeModules() { FinalizeEventCentral(); }

}  // namespace ostrivane
