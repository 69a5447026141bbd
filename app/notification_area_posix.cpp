// Qt's tray icon needs nothing process-wide: it finds the tray host and
// docks into it again by itself.
#include "app/notification_area_platform.h"

namespace ostrivane::platform {

void InitializeNotificationArea() {}

void FinalizeNotificationArea() noexcept {}

}  // namespace ostrivane::platform
