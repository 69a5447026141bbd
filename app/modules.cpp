#include "app/modules.h"

#include "app/notification_area_platform.h"
#include "events/lv_events.h"
#include "support/dimports.h"
#include "support/dutil.h"
#include "support/format_settings.h"

namespace ostrivane {

void InitializeModules() {
  InitializeEventCentral();
  platform::InitializeNotificationArea();
  InitializeDImports();
  LoadFormatSettingsFromSystem();
  InstallTolerantVariantConversions();
}

void FinalizeModules() {
  FinalizeDImports();
  platform::FinalizeNotificationArea();
  FinalizeEventCentral();
}

}  // namespace ostrivane
