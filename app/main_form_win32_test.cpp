#include "app/main_form_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "app/test_fakes.h"
#include "app/test_support_win32.h"
#include "app/wide_text_win32.h"
#include "net/udp_platform_fake.h"
#include "relay/lv_sync.h"
#include "relay/mailslot_fake.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;
using testutil::ClassOf;
using testutil::kLoopTimedOut;
using testutil::LoopWatchdog;
using testutil::TextOf;

LOGFONTW FontOf(HWND window) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  if (handle != nullptr) GetObjectW(handle, sizeof font, &font);
  return font;
}

// A control's place in its parent's client area.
RECT PlaceOf(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    testutil::DrainMessageQueue();
    udp.addresses = {{false, "10.0.0.5"}};
    slots.slotExists = true;
    testutil::MergeSystemCalls(log, udp, slots);
  }
  void TearDown() override {
    window.reset();
    testutil::DrainMessageQueue();
  }

  // Makes the window, as the program does after the application object.
  Win32MainWindow& Make() {
    window = std::make_unique<Win32MainWindow>(app, udp, slots);
    window->Form().IsGermanUI = [this] { return german; };
    return *window;
  }

  HWND Control(const char16_t* name) const { return window->Control(name); }

  int RunLoop() {
    LoopWatchdog watchdog;
    return app.Run();
  }

  testutil::CallLog log;
  testutil::FakeUdpPlatform udp;
  testutil::FakeMailSlotSystem slots;
  TWin32Application app{GetModuleHandleW(nullptr)};
  std::unique_ptr<Win32MainWindow> window;
  bool german = true;
};

TEST_F(MainWindowTest, WindowIsHiddenOwnedByTheApplicationWithTheDesignClientArea) {
  const HWND form = Make().Handle();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(ClassOf(form), L"TMainForm");
  EXPECT_EQ(TextOf(form), L"MainForm");
  EXPECT_FALSE(IsWindowVisible(form));
  EXPECT_EQ(GetAncestor(form, GA_PARENT), GetDesktopWindow()) << "a top-level window";
  EXPECT_EQ(GetWindow(form, GW_OWNER), app.Handle()) << "owned: no taskbar button";
  EXPECT_EQ(GetWindowLongPtrW(form, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  RECT client{};
  GetClientRect(form, &client);
  EXPECT_EQ(client.right - client.left, 690);
  EXPECT_EQ(client.bottom - client.top, 420);
  EXPECT_EQ(app.MainWindow(), form);
  const LOGFONTW font = FontOf(form);
  EXPECT_STREQ(font.lfFaceName, L"MS Shell Dlg 2");
  EXPECT_EQ(font.lfHeight, -11);
  EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
}

TEST_F(MainWindowTest, ControlsAreTheDesignsInCreationAndTabOrder) {
  struct Expected {
    const char16_t* name;
    const wchar_t* kind;
    const wchar_t* text;
    LONG left, top, width, height;
    bool tabStop;
  };
  const Expected design[] = {
      {u"TntLabel1", L"Static", L"Action:", 8, 32, 34, 13, false},
      {u"edAction", L"Edit", L"", 56, 24, 369, 21, true},
      {u"TntLabel2", L"Static", L"Param1:", 8, 64, 40, 13, false},
      {u"edParam1", L"Edit", L"", 56, 56, 369, 21, true},
      {u"TntLabel3", L"Static", L"Param2:", 8, 96, 40, 13, false},
      {u"edParam2", L"Edit", L"", 56, 88, 369, 21, true},
      {u"TntButton1", L"Button", L"Send", 440, 85, 75, 25, true},
      {u"Memo1", L"Edit", L"Memo1", 176, 128, 313, 201, true},
  };
  const HWND form = Make().Handle();
  const auto shared = SendMessageW(form, WM_GETFONT, 0, 0);
  HWND child = GetWindow(form, GW_CHILD);
  for (const Expected& e : design) {
    const HWND control = Control(e.name);
    ASSERT_NE(control, nullptr);
    SCOPED_TRACE(std::wstring(e.name, e.name + std::char_traits<char16_t>::length(e.name)));
    EXPECT_EQ(control, child) << "created in design order";
    child = GetWindow(child, GW_HWNDNEXT);
    EXPECT_EQ(GetParent(control), form);
    EXPECT_EQ(CompareStringOrdinal(ClassOf(control).c_str(), -1, e.kind, -1, TRUE), CSTR_EQUAL)
        << ClassOf(control).c_str();
    EXPECT_EQ(TextOf(control), e.text);
    const RECT r = PlaceOf(control);
    EXPECT_EQ(r.left, e.left);
    EXPECT_EQ(r.top, e.top);
    EXPECT_EQ(r.right - r.left, e.width);
    EXPECT_EQ(r.bottom - r.top, e.height);
    const auto style = GetWindowLongPtrW(control, GWL_STYLE);
    EXPECT_EQ((style & WS_TABSTOP) != 0, e.tabStop);
    EXPECT_NE(style & WS_VISIBLE, 0) << "shown with the window, were it shown";
    EXPECT_EQ(SendMessageW(control, WM_GETFONT, 0, 0), shared) << "the window's font";
  }
  EXPECT_EQ(child, nullptr) << "no other controls";
  EXPECT_EQ(Control(u"CoolTrayIcon1"), nullptr);

  // The tab key's round.
  const HWND order[] = {Control(u"edAction"), Control(u"edParam1"), Control(u"edParam2"),
                        Control(u"TntButton1"), Control(u"Memo1")};
  for (std::size_t i = 0; i < std::size(order); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(form, order[i], FALSE), order[(i + 1) % std::size(order)]) << i;
  }

  const auto memo = GetWindowLongPtrW(Control(u"Memo1"), GWL_STYLE);
  for (const LONG_PTR bit :
       {LONG_PTR{ES_MULTILINE}, LONG_PTR{ES_AUTOVSCROLL}, LONG_PTR{WS_VSCROLL}}) {
    EXPECT_NE(memo & bit, 0) << bit;
  }
  EXPECT_EQ(GetWindowLongPtrW(Control(u"edAction"), GWL_STYLE) & ES_MULTILINE, 0);
}

TEST_F(MainWindowTest, LogBoxShowsTheTextOfShowInLogBoxWithItsLines) {
  Make();
  const HWND memo = Control(u"Memo1");
  struct Case {
    const char16_t* given;
    const wchar_t* shown;
    LRESULT lines;
  };
  const Case cases[] = {
      {u"<a>\n<b/>\n</a>", L"<a>\r\n<b/>\r\n</a>", 3},
      {u"one\r\ntwo", L"one\r\ntwo", 2},
      {u"cr\rlf\n\ncrlf\r\n", L"cr\r\nlf\r\n\r\ncrlf\r\n", 5},
      {u"Gr\u00FC\u00DFe \u20AC \u0416 \U0001F600", L"Gr\u00FC\u00DFe \u20AC \u0416 \U0001F600", 1},
      {u"", L"", 1},
  };
  for (const Case& c : cases) {
    window->Form().ShowInLogBox(c.given);
    EXPECT_EQ(TextOf(memo), c.shown);
    EXPECT_EQ(SendMessageW(memo, EM_GETLINECOUNT, 0, 0), c.lines);
  }
}

TEST_F(MainWindowTest, LogBoxShowsLongTextsWhole) {
  Make();
  // More than an edit box takes by default, and more than a datagram holds.
  std::u16string text;
  for (int line = 0; line < 500; ++line) text += std::u16string(78, u'x') + u"\r\n";
  window->Form().ShowInLogBox(text);
  EXPECT_EQ(GetWindowTextLengthW(Control(u"Memo1")), 40000);
  EXPECT_EQ(TextOf(Control(u"Memo1")), ToWide(text));
}

// Counts the texts the log box's edit box is given, in front of every
// other procedure of it.
struct SetTextCounter {
  static inline int count = 0;
  static inline WNDPROC next = nullptr;
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) ++count;
    return CallWindowProcW(next, window, message, wParam, lParam);
  }
  static void Install(HWND window) {
    count = 0;
    next = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
  }
};

TEST_F(MainWindowTest, HiddenLogBoxIsGivenTheLastCommandOnlyWhenReadOrShown) {
  Make().Form().Create();
  const HWND memo = Control(u"Memo1");
  SetTextCounter::Install(memo);
  // One line of 8 KB: what keeps an edit box busy longest.
  const std::u16string line(8000, u'x');
  for (const std::u16string& command : {std::u16string(u"<a/>"), std::u16string(u"<b/>"), line}) {
    EXPECT_EQ(TLVSyncClass::Update(command), u"OK");
  }
  EXPECT_EQ(SetTextCounter::count, 0) << "a hidden log box lays nothing out";
  EXPECT_EQ(slots.delivered.size(), 3U);
  EXPECT_EQ(TextOf(memo), ToWide(line)) << "read from outside, it has the last command";
  EXPECT_EQ(SetTextCounter::count, 1);
  // The box breaks the long line into many; asking is reading again.
  EXPECT_GT(SendMessageW(memo, EM_GETLINECOUNT, 0, 0), 1);
  EXPECT_EQ(SetTextCounter::count, 1) << "handed over once";

  // Shown, the log box takes each command at once.
  ShowWindow(window->Handle(), SW_SHOWNA);
  TLVSyncClass::Update(u"<seen/>");
  EXPECT_EQ(SetTextCounter::count, 2);
  ShowWindow(window->Handle(), SW_HIDE);
  // Hidden again it keeps them, and hands the last over as it is painted.
  TLVSyncClass::Update(u"<kept/>");
  EXPECT_EQ(SetTextCounter::count, 2);
  ShowWindow(window->Handle(), SW_SHOWNA);
  RedrawWindow(window->Handle(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  EXPECT_EQ(SetTextCounter::count, 3);
  ShowWindow(window->Handle(), SW_HIDE);
  EXPECT_EQ(TextOf(memo), L"<kept/>");
  EXPECT_EQ(SetTextCounter::count, 3);
}

TEST_F(MainWindowTest, CommandFromAnotherThreadReachesLogBoxAndSlotThroughTheLoop) {
  Make().Form().Create();
  std::u16string result;
  std::thread listener([&] {
    std::this_thread::sleep_for(100ms);
    result = TLVSyncClass::Update(u"Gr\u00FC\u00DFe");
    PostMessageW(window->Handle(), WM_CLOSE, 0, 0);
  });
  const int exitCode = RunLoop();
  if (exitCode == kLoopTimedOut) MainThread::CheckSynchronize();
  listener.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(result, u"OK");
  EXPECT_EQ(TextOf(Control(u"Memo1")), L"Gr\u00FC\u00DFe");
  EXPECT_EQ(slots.delivered, std::vector<std::string>{"Gr\xFC\xDF"
                                                      "e"});
}

TEST_F(MainWindowTest, SendButtonWritesTheDocumentOfTheEditBoxes) {
  Make().Form().Create();
  SetWindowTextW(Control(u"edAction"), L"Next");
  SetWindowTextW(Control(u"edParam1"), L"1");
  SendMessageW(Control(u"TntButton1"), BM_CLICK, 0, 0);
  EXPECT_EQ(slots.delivered,
            std::vector<std::string>{"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
                                     "<LyravoxIPC><Remote><Next Param1=\"1\" Param2=\"\"/>"
                                     "</Remote></LyravoxIPC>\n"});
  EXPECT_EQ(TextOf(Control(u"edAction")), L"Next") << "the edit boxes keep their texts";
}

TEST_F(MainWindowTest, DesignComponentsReadAndSetTheRealControls) {
  Make();
  IDesignComponents& design = window->Design();
  ITranslatable* form = design.Find(u"TMainForm");
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->GetText(TTextProperty::Caption), u"MainForm");
  EXPECT_EQ(form->GetText(TTextProperty::FontName), u"MS Shell Dlg 2");
  EXPECT_EQ(form->FontCharset(), DEFAULT_CHARSET);
  EXPECT_EQ(form->GetText(TTextProperty::Hint), std::nullopt);

  struct Caption {
    const char16_t* name;
    const char16_t* text;
  };
  for (const Caption& c : {Caption{u"TntLabel1", u"Action:"}, Caption{u"TntLabel2", u"Param1:"},
                           Caption{u"TntLabel3", u"Param2:"}, Caption{u"TntButton1", u"Send"}}) {
    ITranslatable* component = design.Find(c.name);
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(component->GetText(TTextProperty::Caption), c.text);
    EXPECT_TRUE(component->ParentFont());
    component->SetText(TTextProperty::Caption, u"\u00C4nderung");
    EXPECT_EQ(TextOf(Control(c.name)), L"\u00C4nderung");
  }
  ITranslatable* memo = design.Find(u"Memo1");
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->GetText(TTextProperty::Lines), u"Memo1");
  memo->SetText(TTextProperty::Lines, u"a\nb");
  EXPECT_EQ(TextOf(Control(u"Memo1")), L"a\r\nb");
  EXPECT_EQ(design.Find(u"edAction"), nullptr) << "edit boxes have no translated texts";
  EXPECT_EQ(design.Find(u"Nothing"), nullptr);

  form->SetText(TTextProperty::Caption, u"Fenster");
  EXPECT_EQ(TextOf(window->Handle()), L"Fenster");
  // A new font face reaches the controls, which take the window's font.
  form->SetText(TTextProperty::FontName, u"Tahoma");
  form->SetFontCharset(ANSI_CHARSET);
  for (const HWND w : {window->Handle(), Control(u"TntLabel2"), Control(u"Memo1")}) {
    const LOGFONTW font = FontOf(w);
    EXPECT_STREQ(font.lfFaceName, L"Tahoma");
    EXPECT_EQ(font.lfHeight, -11);
    EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
  }
  EXPECT_EQ(form->GetText(TTextProperty::FontName), u"Tahoma");
  EXPECT_EQ(form->FontCharset(), ANSI_CHARSET);
}

TEST_F(MainWindowTest, EnglishInterfaceLeavesTheWindowAsDesigned) {
  german = false;
  Make().Form().Create();
  EXPECT_EQ(window->Form().siLangDispatcher1.ActiveLanguage(), 2);
  EXPECT_EQ(window->Form().PopupMenu1.Item(0).Caption(), u"Exit");
  EXPECT_EQ(TextOf(window->Handle()), L"MainForm");
  EXPECT_EQ(TextOf(Control(u"TntLabel1")), L"Action:");
  EXPECT_EQ(TextOf(Control(u"TntButton1")), L"Send");
  EXPECT_EQ(TextOf(Control(u"Memo1")), L"Memo1");
  EXPECT_STREQ(FontOf(window->Handle()).lfFaceName, L"MS Shell Dlg 2");
}

TEST_F(MainWindowTest, ClosingTheMainWindowEndsTheLoopAndTheLogBoxOutlivesIt) {
  Make().Form().Create();
  PostMessageW(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(RunLoop(), 0);
  // The shutdown that follows still has the window and its log box.
  EXPECT_TRUE(IsWindow(window->Handle()));
  window->Form().ShowInLogBox(u"late");
  EXPECT_EQ(TextOf(Control(u"Memo1")), L"late");
}

TEST_F(MainWindowTest, ExitItemClosesTheMainWindowWhichEndsTheLoop) {
  Make().Form().Create();
  std::thread menu([this] {
    std::this_thread::sleep_for(100ms);
    // The tray menu's entry runs on the main thread.
    MainThread::Synchronize([this] { window->Form().btnCloseClick(); });
  });
  const int exitCode = RunLoop();
  if (exitCode == kLoopTimedOut) MainThread::CheckSynchronize();
  menu.join();
  EXPECT_EQ(exitCode, 0);
}

TEST_F(MainWindowTest, QueryEndSessionIsAnsweredTrueAtOnce) {
  const HWND form = Make().Handle();
  DWORD_PTR answer = 0;
  LRESULT sent = 0;
  std::thread system([&] {
    sent = SendMessageTimeoutW(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                               5000, &answer);
    PostMessageW(form, WM_CLOSE, 0, 0);
  });
  const int exitCode = RunLoop();
  system.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(sent, 0);
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
}

TEST_F(MainWindowTest, EndSessionRunsTheShutdownOrderBeforeAnswering) {
  Make().Form().Create();
  // The slot is opened by the first command.
  TLVSyncClass::Update(u"first");
  std::vector<std::string> atAnswer;
  app.OnEndSession = [&] { window->Form().Destroy(); };
  SendMessageW(window->Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  atAnswer = log.Get();
  // The writer went first, then the receiver's socket.
  const auto slotClose = std::find(atAnswer.begin(), atAnswer.end(), "slot close");
  const auto udpClose = std::find(atAnswer.begin(), atAnswer.end(), "udp close");
  ASSERT_NE(slotClose, atAnswer.end());
  ASSERT_NE(udpClose, atAnswer.end());
  EXPECT_LT(slotClose, udpClose);
  EXPECT_EQ(window->Form().Messenger(), nullptr);
  EXPECT_EQ(window->Form().Receiver(), nullptr);
}

TEST_F(MainWindowTest, ShutdownServesTheHandOffOfABlockedListenerWithoutDeadlock) {
  // The listener takes the datagram and holds it until the shutdown leaves
  // the group.
  udp.holdReadsUntilLeave = true;
  const std::string datagram("\x02LVXML\x02<late/>", 15);
  udp.Queue(Bytes(datagram.begin(), datagram.end()));
  Make().Form().Create();
  ASSERT_TRUE(udp.WaitUntilReading()) << "the listener sits in its read";
  {
    // The main thread waits for the listener without taking messages; the
    // listener's hand-off must still be served.
    testutil::DeadlockGuard guard("the shutdown");
    window->Form().Destroy();
  }
  EXPECT_EQ(TextOf(Control(u"Memo1")), L"<late/>") << "shown while the shutdown waited";
  EXPECT_TRUE(slots.delivered.empty()) << "the writer was gone already";
  EXPECT_EQ(udp.Pending(), 0U) << "the datagram was read";
}

}  // namespace
}  // namespace ostrivane
