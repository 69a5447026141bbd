#include "app/application_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/exception_report.h"
#include "app/test_support_win32.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;
using testutil::kLoopTimedOut;
using testutil::ClassOf;
using testutil::LoopWatchdog;
using testutil::TextOf;


class ApplicationTest : public testing::Test {
 protected:
  void SetUp() override { testutil::DrainMessageQueue(); }
  void TearDown() override { testutil::DrainMessageQueue(); }

  TWin32Application app{GetModuleHandleW(nullptr)};
};

TEST_F(ApplicationTest, WindowIsHiddenTopLevelAndWithoutTaskbarButton) {
  const HWND window = app.Handle();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(ClassOf(window), L"TApplication");
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow()) << "a top-level window";
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD, 0);
}

TEST_F(ApplicationTest, TitleIsTheProgramFileName) {
  // The test program is app_win32_tests.exe: the first character stays as
  // it is.
  EXPECT_EQ(app.Title(), L"app_win32_tests");
  EXPECT_EQ(TextOf(app.Handle()), L"app_win32_tests");
  EXPECT_EQ(ProgramApplicationTitle(), L"app_win32_tests");
}

TEST_F(ApplicationTest, WakeUpFromAnotherThreadRunsTheCallThroughTheLoop) {
  std::atomic<int> wakeUps{0};
  app.AddMessageHook([&](UINT message, WPARAM, LPARAM) {
    if (message == WM_NULL) ++wakeUps;
  });
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    // Long enough for the loop to have gone idle and to sleep.
    std::this_thread::sleep_for(200ms);
    MainThread::Synchronize([&] {
      ranOnMain = MainThread::IsCurrent();
      app.Terminate();
    });
    returned = true;
  });
  int exitCode = 0;
  {
    LoopWatchdog watchdog;
    exitCode = app.Run();
  }
  if (exitCode == kLoopTimedOut) MainThread::CheckSynchronize();  // frees the worker
  worker.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(returned);
  EXPECT_GE(wakeUps.load(), 1) << "the wake-up is a null message to the application window";
}

TEST_F(ApplicationTest, IdleLoopServesCallsQueuedWithoutWakeUp) {
  // Without the wake-up only the loop's idle time serves the queue.
  MainThread::SetWakeUp({});
  std::atomic<bool> queued{false};
  std::atomic<bool> ranOnMain{false};
  std::thread worker([&] {
    queued = true;
    MainThread::Synchronize([&] {
      ranOnMain = MainThread::IsCurrent();
      app.EndLoop();
    });
  });
  while (!queued) std::this_thread::yield();
  std::this_thread::sleep_for(100ms);
  int exitCode = 0;
  {
    LoopWatchdog watchdog;
    exitCode = app.Run();
  }
  if (exitCode == kLoopTimedOut) MainThread::CheckSynchronize();
  worker.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(ranOnMain);
}

TEST_F(ApplicationTest, SignalledWaitHandleIsServedOnTheMainThreadUntilRemoved) {
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  int served = 0;
  bool onMain = false;
  app.SetWaitHandle(event, [&] {
    ResetEvent(event);
    ++served;
    onMain = MainThread::IsCurrent();
    app.EndLoop();
  });
  // Signalled while the loop sleeps.
  std::thread signaller([&] {
    std::this_thread::sleep_for(100ms);
    SetEvent(event);
  });
  int exitCode = 0;
  {
    LoopWatchdog watchdog;
    exitCode = app.Run();
  }
  signaller.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(served, 1);
  EXPECT_TRUE(onMain);

  // Removed: the loop sleeps through the signal until the close request.
  app.SetWaitHandle(nullptr, {});
  SetEvent(event);
  std::thread closer([&] {
    std::this_thread::sleep_for(200ms);
    PostMessageW(app.Handle(), WM_CLOSE, 0, 0);
  });
  {
    LoopWatchdog watchdog;
    exitCode = app.Run();
  }
  closer.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(served, 1);
  CloseHandle(event);
}

TEST_F(ApplicationTest, TerminateWithoutMainWindowEndsTheLoop) {
  app.Terminate();
  LoopWatchdog watchdog;
  EXPECT_EQ(app.Run(), 0);
}

TEST_F(ApplicationTest, CloseRequestToTheApplicationWindowEndsTheLoop) {
  // What a task manager's "end task" sends to every top-level window.
  PostMessageW(app.Handle(), WM_CLOSE, 0, 0);
  LoopWatchdog watchdog;
  EXPECT_EQ(app.Run(), 0);
}

TEST_F(ApplicationTest, BroadcastsReachTheApplicationWindow) {
  const UINT broadcast = RegisterWindowMessageW(L"Ostrivane.Test.Broadcast");
  ASSERT_NE(broadcast, 0U);
  std::atomic<int> seen{0};
  app.AddMessageHook([&](UINT message, WPARAM wParam, LPARAM) {
    if (message == broadcast && wParam == 4711) {
      ++seen;
      app.EndLoop();
    }
  });
  PostMessageW(HWND_BROADCAST, broadcast, 4711, 0);
  LoopWatchdog watchdog;
  EXPECT_EQ(app.Run(), 0);
  EXPECT_EQ(seen.load(), 1);
}

TEST_F(ApplicationTest, HooksSeeMessagesWithoutConsumingThemAndCanBeRemoved) {
  std::vector<UINT> first;
  std::vector<UINT> second;
  const int id = app.AddMessageHook([&](UINT message, WPARAM, LPARAM) {
    if (message == WM_QUERYENDSESSION) first.push_back(message);
  });
  app.AddMessageHook([&](UINT message, WPARAM, LPARAM) {
    if (message == WM_QUERYENDSESSION) second.push_back(message);
  });
  EXPECT_EQ(SendMessageW(app.Handle(), WM_QUERYENDSESSION, 0, 0), TRUE) << "still answered";
  app.RemoveMessageHook(id);
  SendMessageW(app.Handle(), WM_QUERYENDSESSION, 0, 0);
  EXPECT_EQ(first.size(), 1U);
  EXPECT_EQ(second.size(), 2U);
}

TEST_F(ApplicationTest, QueryEndSessionIsAnsweredAtOnceFromAnotherThread) {
  // The system asks from outside the main thread while the loop runs.
  DWORD_PTR answer = 0;
  LRESULT sent = 0;
  std::thread system([&] {
    sent = SendMessageTimeoutW(app.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                               SMTO_ABORTIFHUNG, 5000, &answer);
    PostMessageW(app.Handle(), WM_CLOSE, 0, 0);
  });
  int exitCode = 0;
  {
    LoopWatchdog watchdog;
    exitCode = app.Run();
  }
  system.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(sent, 0) << "answered within the time";
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
}

TEST_F(ApplicationTest, EndSessionRunsItsActionBeforeTheMessageIsAnsweredAndOnce) {
  std::vector<std::string> steps;
  app.OnEndSession = [&] { steps.emplace_back("shutdown"); };
  // A session that does not end after all changes nothing.
  SendMessageW(app.Handle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(steps.empty());
  SendMessageW(app.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  steps.emplace_back("answered");
  SendMessageW(app.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(steps, (std::vector<std::string>{"shutdown", "answered"}));
}

TEST_F(ApplicationTest, EndSessionWithoutActionEndsTheLoop) {
  SendMessageW(app.Handle(), WM_ENDSESSION, TRUE, 0);
  LoopWatchdog watchdog;
  EXPECT_EQ(app.Run(), 0);
}

TEST_F(ApplicationTest, WideFromUtf8TakesUtf8AndFallsBackToTheAnsiCodePage) {
  EXPECT_EQ(WideFromUtf8("Gr\xC3\xBC\xC3\x9F"
                         "e \xE2\x82\xAC"),
            L"Gr\u00FC\u00DFe \u20AC");
  EXPECT_EQ(WideFromUtf8(""), L"");
  // Not UTF-8: one byte, one character of code page 1252 (Wine's ANSI code
  // page here).
  EXPECT_EQ(WideFromUtf8("Gr\xFC\xDF"
                         "e \x80"),
            L"Gr\u00FC\u00DFe \u20AC");
}

// A message box shown by the main thread, as another thread sees it.
struct SeenMessageBox {
  std::wstring title;
  std::vector<std::wstring> texts;  // the texts of its static controls
  std::vector<int> buttons;         // the identifiers of its buttons
  bool errorIcon = false;
};

// Waits for a dialog of `thread`, reads it and presses its OK button.
SeenMessageBox ReadAndCloseMessageBox(DWORD thread) {
  SeenMessageBox seen;
  HWND box = nullptr;
  for (int i = 0; i < 500 && box == nullptr; ++i) {
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM found) -> BOOL {
          if (ClassOf(window) == L"#32770" && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) std::this_thread::sleep_for(20ms);
  }
  if (box == nullptr) return seen;
  seen.title = TextOf(box);
  const HICON error = LoadIconW(nullptr, MAKEINTRESOURCEW(32513));  // IDI_ERROR
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring kind = ClassOf(child);
    if (kind == L"Button") {
      seen.buttons.push_back(GetDlgCtrlID(child));
    } else if (kind == L"Static") {
      if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        seen.errorIcon = seen.errorIcon || icon == error;
      } else {
        seen.texts.push_back(TextOf(child));
      }
    }
  }
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return seen;
}

TEST_F(ApplicationTest, ExceptionReportIsAnErrorBoxWithTheTitleAndAnOkButton) {
  struct Case {
    const char* message;
    const wchar_t* shown;
  };
  const Case cases[] = {
      {"Could not bind socket. Address and port are already in use",
       L"Could not bind socket. Address and port are already in use."},
      {"Adresse \xE2\x80\x9E"
       "belegt\xE2\x80\x9C",
       L"Adresse \u201Ebelegt\u201C."},
      {"Ends with a full stop.", L"Ends with a full stop."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    SeenMessageBox seen;
    std::thread reader([&, main = GetCurrentThreadId()] { seen = ReadAndCloseMessageBox(main); });
    app.ShowException(std::runtime_error(c.message));
    reader.join();
    EXPECT_EQ(seen.title, L"app_win32_tests");
    EXPECT_NE(std::find(seen.texts.begin(), seen.texts.end(), c.shown), seen.texts.end())
        << "texts: " << seen.texts.size();
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(seen.errorIcon);
  }
}

TEST_F(ApplicationTest, ExceptionOfAHandlerIsReportedAndStopsThere) {
  SeenMessageBox seen;
  std::thread reader([&, main = GetCurrentThreadId()] { seen = ReadAndCloseMessageBox(main); });
  bool after = false;
  app.Guarded([] { throw std::runtime_error("handler failed"); });
  after = true;
  reader.join();
  EXPECT_TRUE(after);
  EXPECT_NE(std::find(seen.texts.begin(), seen.texts.end(), L"handler failed."), seen.texts.end());
}

}  // namespace
}  // namespace ostrivane
