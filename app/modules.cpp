#include "app/modules.h"

#include "events/lv_events.h"
#include "support/dimports.h"
#include "support/dutil.h"
#include "support/format_settings.h"

namespace ostrivane {

void InitializeModules() {
  InitializeEventCentral();
  InitializeDImports();
  LoadFormatSettingsFromSystem();
  InstallTolerantVariantConversions();
}

void FinalizeModules() {
  FinalizeDImports();
  FinalizeEventCentral();
}

}  // namespace ostrivane
