// The tray module's process-wide part: what it sets up before the main
// window exists and takes down after the window is gone.
#pragma once

namespace ostrivane::platform {

// Module start-up. On Windows: learns the number of the message the shell
// broadcasts when it creates its notification area anew ("TaskbarCreated").
void InitializeNotificationArea();

// Module end. On Windows: destroys the notification window if one is left.
void FinalizeNotificationArea() noexcept;

}  // namespace ostrivane::platform
