// The program body on Windows: the module initialisers, the application
// object with its message loop, the hidden main window, and the way back
// down in the reverse order.
#include <windows.h>

#include <chrono>
#include <exception>
#include <optional>

#include "app/application_win32.h"
#include "app/main_form_win32.h"
#include "app/modules.h"
#include "net/net_watch_platform.h"
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

    // Following the network: the message loop waits for the network watch's
    // event together with the messages, so its notices reach the main thread
    // without a thread of their own. A notice (re)starts a one-shot timer on
    // the application window; its end lets the window look at the
    // addresses. The watch is opened before the receiver's first activation,
    // so that no change after the first look at the addresses goes unnoticed.
    const platform::NetworkWatchPtr networkWatch = platform::OpenNetworkWatch();
    constexpr UINT_PTR kNetworkTimer = 1;
    const HWND timerWindow = application.Handle();
    const auto followUp = [timerWindow](std::optional<std::chrono::milliseconds> delay) {
      if (delay) SetTimer(timerWindow, kNetworkTimer, static_cast<UINT>(delay->count()), nullptr);
    };
    const int timerHook = application.AddMessageHook([&](UINT message, WPARAM wParam, LPARAM) {
      if (message != WM_TIMER || wParam != kNetworkTimer) return;
      KillTimer(timerWindow, kNetworkTimer);
      followUp(window.Form().CheckNetwork());
    });
    if (networkWatch) {
      application.SetWaitHandle(reinterpret_cast<HANDLE>(platform::Waitable(*networkWatch)), [&] {
        if (platform::TakeNetworkChanges(*networkWatch)) followUp(window.Form().NetworkChanged());
      });
    }

    window.Form().Create();
    exitCode = application.Run();
    application.SetWaitHandle(nullptr, {});
    application.RemoveMessageHook(timerHook);
    KillTimer(timerWindow, kNetworkTimer);
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
