// The program body on Windows: the module initialisers, the application
// object with its message loop, the hidden main window, and the way back
// down in the reverse order.
#include <windows.h>

#include <exception>

#include "app/application_win32.h"
#include "app/main_form_win32.h"
#include "app/modules.h"
#include "net/udp_platform.h"
#include "support/main_thread.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  using namespace ostrivane;
  InitializeModules();
  int exitCode = 0;
  try {
    // The application never shows its main window.
    TWin32Application application(instance);
    Win32MainWindow window(application, DefaultUdpPlatform());
    application.OnEndSession = [&window] {
      // The session ends: the system may end the process as soon as the
      // message is answered, so the shutdown runs now, and the process ends
      // with it.
      window.Form().Destroy();
      MainThread::SetWakeUp({});
      FinalizeModules();
      ExitProcess(0);
    };
    window.Form().Create();
    exitCode = application.Run();
    // FormDestroy, then the window's components; the windows go with
    // `window` and `application`.
    window.Form().Destroy();
  } catch (const std::exception& e) {
    ShowExceptionReport(ProgramApplicationTitle(), e);
    exitCode = 1;
  }
  FinalizeModules();
  return exitCode;
}
