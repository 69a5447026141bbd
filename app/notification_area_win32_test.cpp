#include "app/notification_area_win32.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "app/main_form_win32.h"
#include "app/notification_area_platform.h"
#include "app/notification_area_win32_fake.h"
#include "app/test_support_win32.h"
#include "net/udp_platform_fake.h"
#include "relay/mailslot_fake.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using testutil::RecordingShell;

constexpr TShellVersion kXP{5, 1};
constexpr TShellVersion kVista{6, 0};
constexpr TShellVersion kWindows7{6, 1};
constexpr TShellVersion kWindows10{10, 0};

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

TNotifyIconRecord SampleRecord() {
  TNotifyIconRecord record;
  record.ID = 0x12345678ABCDEF0ULL;
  record.Tip = u"Lyravox Remote Server";
  record.Guid = *ParseGuid(u"{2547D847-3F7E-44CD-B27C-EFE9602A2672}");
  record.Version = 0;
  record.CallbackMessage = kTrayCallbackMessage;
  return record;
}

// Everything after the fields the record fills must stay zero.
bool ZeroFrom(const NOTIFYICONDATAW& data, std::size_t offset, std::size_t end) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&data);
  for (std::size_t i = offset; i < end; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// --- the icon record ---------------------------------------------------------

struct VersionCase {
  const char* name;
  TShellVersion version;
  DWORD cbSize;
  UINT flags;
  bool guid;
};

class IconRecordTest : public testing::TestWithParam<VersionCase> {};

// The sizes of this 64-bit program's records (a 32-bit one has 956 and 936).
static_assert(sizeof(void*) != 8 || sizeof(NOTIFYICONDATAW) == 976);
static_assert(sizeof(void*) != 8 || NOTIFYICONDATAW_V2_SIZE == 952);

TEST_P(IconRecordTest, FieldsByTheSystemsVersion) {
  const VersionCase& c = GetParam();
  const HWND window = reinterpret_cast<HWND>(0x4242);
  const HICON icon = reinterpret_cast<HICON>(0x777);
  const NOTIFYICONDATAW data = MakeNotifyIconData(SampleRecord(), window, icon, c.version);
  EXPECT_EQ(data.cbSize, c.cbSize);
  EXPECT_EQ(NotifyIconDataSize(c.version), c.cbSize);
  EXPECT_EQ(data.hWnd, window);
  EXPECT_EQ(data.uID, 0x8ABCDEF0U) << "the identity's low 32 bits";
  EXPECT_EQ(data.uFlags, c.flags);
  EXPECT_EQ(data.uCallbackMessage, 0x800U);
  EXPECT_EQ(data.hIcon, icon);
  EXPECT_EQ(std::wstring(data.szTip), L"Lyravox Remote Server");
  EXPECT_EQ(data.uVersion, 0U);
  EXPECT_EQ(data.dwState, 0U);
  EXPECT_EQ(data.dwStateMask, 0U);
  EXPECT_EQ(data.dwInfoFlags, 0U);
  EXPECT_TRUE(ZeroFrom(data, offsetof(NOTIFYICONDATAW, szInfo),
                       offsetof(NOTIFYICONDATAW, szInfo) + sizeof data.szInfo));
  EXPECT_TRUE(ZeroFrom(data, offsetof(NOTIFYICONDATAW, szInfoTitle),
                       offsetof(NOTIFYICONDATAW, szInfoTitle) + sizeof data.szInfoTitle));
  EXPECT_EQ(data.hBalloonIcon, nullptr);
  GUID expected{};
  if (c.guid)
    expected = {0x2547D847, 0x3F7E, 0x44CD, {0xB2, 0x7C, 0xEF, 0xE9, 0x60, 0x2A, 0x26, 0x72}};
  EXPECT_EQ(std::memcmp(&data.guidItem, &expected, sizeof expected), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, IconRecordTest,
    testing::Values(VersionCase{"XP", kXP, NOTIFYICONDATAW_V2_SIZE, 0x07, false},
                    VersionCase{"Vista", kVista, sizeof(NOTIFYICONDATAW), 0x07, false},
                    VersionCase{"Windows7", kWindows7, sizeof(NOTIFYICONDATAW), 0x27, true},
                    VersionCase{"Windows10", kWindows10, sizeof(NOTIFYICONDATAW), 0x27, true}),
    testutil::CaseName());

TEST(IconRecord, TheTipIsCutToWhatTheFieldHolds) {
  struct Case {
    std::size_t length;
    std::size_t shown;
  };
  for (const Case c : {Case{0, 0}, Case{5, 5}, Case{127, 127}, Case{128, 127}, Case{300, 127}}) {
    SCOPED_TRACE(c.length);
    TNotifyIconRecord record = SampleRecord();
    record.Tip.clear();
    for (std::size_t i = 0; i < c.length; ++i)
      record.Tip.push_back(u'a' + static_cast<char16_t>(i % 26));
    const NOTIFYICONDATAW data = MakeNotifyIconData(record, nullptr, nullptr, kWindows10);
    EXPECT_EQ(std::wstring(data.szTip).size(), c.shown);
    EXPECT_EQ(
        std::wmemcmp(data.szTip, reinterpret_cast<const wchar_t*>(record.Tip.data()), c.shown), 0);
    // Zero-terminated, and nothing after the text.
    EXPECT_TRUE(ZeroFrom(data, offsetof(NOTIFYICONDATAW, szTip) + c.shown * sizeof(wchar_t),
                         offsetof(NOTIFYICONDATAW, szTip) + sizeof data.szTip));
  }
}

TEST(IconRecord, OperationsAndCallbacksByTheShellsNumbers) {
  EXPECT_EQ(ShellMessage(TNotifyOp::Add), 0U);
  EXPECT_EQ(ShellMessage(TNotifyOp::Modify), 1U);
  EXPECT_EQ(ShellMessage(TNotifyOp::Delete), 2U);
  EXPECT_EQ(ShellMessage(TNotifyOp::SetVersion), 4U);

  for (const LPARAM known :
       {0x200, 0x201, 0x202, 0x203, 0x204, 0x205, 0x207, 0x208, 0x402, 0x403, 0x404, 0x405}) {
    EXPECT_EQ(IconMessageFromCallback(known), static_cast<TIconMessage>(known)) << known;
  }
  for (const LPARAM other : {0x0, 0x206, 0x209, 0x20A, 0x400, 0x401, 0x406, 0x10204}) {
    EXPECT_EQ(IconMessageFromCallback(other), std::nullopt) << other;
  }
}

// --- the image ---------------------------------------------------------------

TEST(IconRecord, TheBalloonWithItsTextsAndTheQuietTimeFromWindows7On) {
  TNotifyIconRecord record;
  record.ID = 7;
  record.Tip = u"Lyravox Remote Server\nBlocked by the firewall";
  const TBalloonHint balloon{u"Remote commands are blocked", std::u16string(300, u'x'),
                             TBalloonIcon::Warning};
  const auto window = reinterpret_cast<HWND>(0x1234);
  for (const TShellVersion version : {TShellVersion{6, 0}, TShellVersion{10, 0}}) {
    const NOTIFYICONDATAW plain = MakeNotifyIconData(record, window, nullptr, version);
    const NOTIFYICONDATAW data = WithBalloon(plain, balloon, version);
    EXPECT_EQ(data.uFlags, plain.uFlags | NIF_INFO);
    EXPECT_EQ(std::wstring(data.szTip), std::wstring(plain.szTip));
    EXPECT_EQ(data.uID, 7U);
    EXPECT_EQ(std::wstring(data.szInfoTitle), L"Remote commands are blocked");
    EXPECT_EQ(std::wstring(data.szInfo), std::wstring(255, L'x')) << "cut, zero-terminated";
    const DWORD quiet = version.Windows7() ? NIIF_RESPECT_QUIET_TIME : 0;
    EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING) | quiet);
  }
}

TEST(IconImage, ThePictureOfTheSmallIconSizeWithItsAlpha) {
  const TIconImage image = ProgramIcon();
  ASSERT_EQ(PictureForSize(image, 16)->Width, 16);
  EXPECT_EQ(PictureForSize(image, 20)->Width, 22) << "the next larger one";
  EXPECT_EQ(PictureForSize(image, 300)->Width, 128) << "the largest";
  EXPECT_EQ(PictureForSize(TIconImage(), 16), nullptr);

  const TBitmap32& picture = *PictureForSize(image, 16);
  const IconHandle icon = MakeIconHandle(picture);
  ASSERT_TRUE(icon);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon.get(), &info));
  EXPECT_TRUE(info.fIcon);
  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = 16;
  header.bmiHeader.biHeight = -16;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  std::array<std::uint32_t, 256> colour{};
  const HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, info.hbmColor, 0, 16, colour.data(), &header, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  BITMAP mask{};
  GetObjectW(info.hbmMask, sizeof mask, &mask);
  std::array<std::uint8_t, 64> maskBits{};
  GetBitmapBits(info.hbmMask, static_cast<LONG>(maskBits.size()), maskBits.data());
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  ASSERT_EQ(rows, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      const std::uint32_t want = picture.At(x, y);
      EXPECT_EQ(colour[static_cast<std::size_t>(y * 16 + x)], want) << "colour and alpha as drawn";
      const bool masked =
          (maskBits[static_cast<std::size_t>(y * mask.bmWidthBytes + x / 8)] >> (7 - x % 8)) & 1U;
      EXPECT_EQ(masked, (want >> 24U) == 0U) << "masked where fully transparent";
    }
  }
  EXPECT_FALSE(MakeIconHandle(TBitmap32{16, 16, {}})) << "no pixels, no icon";
}

// --- the notification window -------------------------------------------------

class NotificationWindowTest : public testing::Test {
 protected:
  void SetUp() override { testutil::DrainMessageQueue(); }
  void TearDown() override {
    TNotificationWindow::DestroyLeft();
    testutil::DrainMessageQueue();
  }
};

TEST_F(NotificationWindowTest, OneHiddenToolWindowCountedByItsIcons) {
  EXPECT_EQ(TNotificationWindow::Handle(), nullptr);
  const HWND window = TNotificationWindow::Attach(1, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(TNotificationWindow::Attach(2, nullptr), window) << "one per process";
  EXPECT_EQ(TNotificationWindow::RefCount(), 2);
  EXPECT_EQ(ClassOf(window), L"TNotificationWindow");
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow()) << "top-level";
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  EXPECT_NE(style & WS_POPUP, 0U);
  EXPECT_NE(exStyle & WS_EX_TOOLWINDOW, 0U);
  RECT place{};
  GetWindowRect(window, &place);
  EXPECT_EQ(place.right - place.left, 0);
  EXPECT_EQ(place.bottom - place.top, 0);

  TNotificationWindow::Detach(7);
  EXPECT_EQ(TNotificationWindow::RefCount(), 2) << "an icon it does not count";
  TNotificationWindow::Detach(1);
  EXPECT_EQ(TNotificationWindow::RefCount(), 1);
  EXPECT_TRUE(IsWindow(window));
  TNotificationWindow::Detach(2);
  EXPECT_EQ(TNotificationWindow::RefCount(), 0);
  EXPECT_FALSE(IsWindow(window)) << "gone with the last icon";
  EXPECT_EQ(TNotificationWindow::Handle(), nullptr);
}

TEST_F(NotificationWindowTest, AnswersOneWithoutDefaultProcessingAndNeverCloses) {
  const HWND window = TNotificationWindow::Attach(1, nullptr);
  for (const UINT message :
       {WM_DESTROY, WM_CLOSE, WM_QUERYENDSESSION, WM_QUIT, WM_ENDSESSION, WM_NCDESTROY}) {
    EXPECT_EQ(SendMessageW(window, message, TRUE, 0), 1) << message;
  }
  EXPECT_TRUE(IsWindow(window)) << "WM_CLOSE does not close it";
  // Everything else is the system's: its text, for one.
  EXPECT_TRUE(SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"text")));
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 4);
}

TEST_F(NotificationWindowTest, TheTrayModuleDestroysAWindowLeftAtItsEnd) {
  platform::InitializeNotificationArea();
  EXPECT_EQ(TaskbarCreatedMessage(), RegisterWindowMessageW(L"TaskbarCreated"));
  EXPECT_GE(TaskbarCreatedMessage(), 0xC000U) << "a registered message";
  const HWND window = TNotificationWindow::Attach(1, nullptr);
  platform::FinalizeNotificationArea();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(TNotificationWindow::Handle(), nullptr);
  EXPECT_EQ(TNotificationWindow::RefCount(), 0);
}

// --- the area with its icon --------------------------------------------------

class Win32AreaTest : public testing::Test {
 protected:
  void SetUp() override {
    testutil::DrainMessageQueue();
    platform::InitializeNotificationArea();
  }
  void TearDown() override { testutil::DrainMessageQueue(); }

  // Sends the shell's callback for `id` to the notification window.
  static void Callback(UINT id, UINT mouse) {
    SendMessageW(TNotificationWindow::Handle(), kTrayCallbackMessage, id, mouse);
  }

  TWin32Application app{GetModuleHandleW(nullptr)};
  RecordingShell shell;
};

TEST_F(Win32AreaTest, CallbacksReachTheIconWhoseIdentityTheyCarry) {
  Win32NotificationArea area(app, shell, kWindows7);
  TNotificationIcon icon(area);
  EXPECT_EQ(TNotificationWindow::RefCount(), 1);
  std::vector<std::string> seen;
  icon.OnClick = [&] { seen.emplace_back("click"); };
  icon.OnMouseDown = [&](TMouseButton b, TPoint) {
    seen.push_back(b == TMouseButton::Middle ? "middle down" : "down");
  };
  const auto id = static_cast<UINT>(icon.Record().ID);
  Callback(id, WM_LBUTTONUP);
  Callback(id, WM_MBUTTONDOWN);
  Callback(id + 1, WM_LBUTTONUP);  // another icon's
  Callback(id, 0x209);             // not a message an icon acts on
  EXPECT_EQ(seen, (std::vector<std::string>{"click", "middle down"}));
  icon.Enabled = false;
  Callback(id, WM_LBUTTONUP);
  EXPECT_EQ(seen.size(), 2U) << "ignored while disabled";
}

TEST_F(Win32AreaTest, TheMainWindowsIconGoesThroughTheSetUpOrderAndLeavesAtShutdown) {
  testutil::FakeUdpPlatform udp;
  testutil::FakeMailSlotSystem slots;
  auto window = std::make_unique<Win32MainWindow>(app, udp, slots, shell);
  const HWND notification = TNotificationWindow::Handle();
  ASSERT_NE(notification, nullptr);
  EXPECT_EQ(TNotificationWindow::RefCount(), 1);
  // On this system, the version decides cbSize and the GUID flag.
  const TShellVersion version = SystemShellVersion();

  // Hint, image, shown, index, list linked, design loaded: shown again and
  // the protocol version.
  EXPECT_EQ(shell.Messages(),
            (std::vector<DWORD>{NIM_MODIFY, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_MODIFY, NIM_MODIFY,
                                NIM_ADD, NIM_SETVERSION}));
  const TNotificationIcon& icon = *window->Form().CoolTrayIcon1;
  for (std::size_t i = 0; i < shell.calls.size(); ++i) {
    SCOPED_TRACE(i);
    const NOTIFYICONDATAW& data = shell.calls[i].data;
    EXPECT_EQ(data.cbSize, NotifyIconDataSize(version));
    EXPECT_EQ(data.hWnd, notification);
    EXPECT_EQ(data.uID, static_cast<UINT>(icon.Record().ID));
    EXPECT_EQ(data.uFlags, version.Windows7() ? 0x27U : 0x07U);
    EXPECT_EQ(data.uCallbackMessage, 0x800U);
    EXPECT_EQ(std::wstring(data.szTip), L"Lyravox Remote Server");
    EXPECT_EQ(data.uVersion, 0U);
    EXPECT_EQ(data.hIcon == nullptr, i == 0) << "the image comes after the hint";
    if (version.Windows7()) {
      EXPECT_EQ(data.guidItem.Data1, 0x2547D847U);
    }
  }

  shell.calls.clear();
  window->Form().Destroy();
  EXPECT_EQ(shell.Messages(), std::vector<DWORD>{NIM_DELETE});
  EXPECT_EQ(shell.calls[0].data.hWnd, notification);
  EXPECT_EQ(TNotificationWindow::Handle(), nullptr) << "gone with its icon";
  // The hook went with the icon.
  SendMessageW(app.Handle(), TaskbarCreatedMessage(), 0, 0);
  EXPECT_EQ(shell.calls.size(), 1U);
  window.reset();
}

TEST_F(Win32AreaTest, TheRefusedSecondAddAtStartLeavesNothingBehind) {
  // A shell that knows the icon once: it refuses a second add and what
  // names an icon it does not have.
  bool known = false;
  shell.answer = [&](DWORD message) {
    switch (message) {
      case NIM_ADD:
        return known ? FALSE : (known = true, TRUE);
      case NIM_DELETE:
        return known ? (known = false, TRUE) : FALSE;
      default:
        return known ? TRUE : FALSE;
    }
  };
  testutil::FakeUdpPlatform udp;
  testutil::FakeMailSlotSystem slots;
  auto window = std::make_unique<Win32MainWindow>(app, udp, slots, shell);
  const TNotificationIcon& icon = *window->Form().CoolTrayIcon1;
  std::vector<NOTIFYICONDATAW> adds;
  for (const auto& call : shell.calls) {
    if (call.message == NIM_ADD) adds.push_back(call.data);
  }
  ASSERT_EQ(adds.size(), 2U) << "the design's order shows the icon twice";
  EXPECT_TRUE(known);
  EXPECT_TRUE(icon.IconVisible());

  // The shell restarts: the icon is gone without a word to the program,
  // and comes back under the identity it had.
  known = false;
  shell.calls.clear();
  SendMessageW(app.Handle(), TaskbarCreatedMessage(), 0, 0);
  ASSERT_EQ(shell.Messages(), std::vector<DWORD>{NIM_ADD});
  EXPECT_TRUE(known);
  const NOTIFYICONDATAW& back = shell.calls[0].data;
  EXPECT_EQ(back.hWnd, adds[0].hWnd);
  EXPECT_EQ(back.uID, adds[0].uID);
  EXPECT_EQ(back.uFlags, adds[0].uFlags);
  EXPECT_EQ(std::memcmp(&back.guidItem, &adds[0].guidItem, sizeof back.guidItem), 0);
  EXPECT_EQ(std::wstring(back.szTip), L"Lyravox Remote Server");

  // At the end the shell lets go of it.
  window->Form().Destroy();
  EXPECT_FALSE(known);
  window.reset();
}

TEST_F(Win32AreaTest, TaskbarCreatedAddsAVisibleIconEvenWhenTheShellWasNotThereAtStart) {
  shell.answer = [](DWORD) { return FALSE; };  // no shell yet
  Win32NotificationArea area(app, shell, kWindows7);
  TNotificationIcon icon(area);
  icon.SetHint(u"hint");
  icon.SetIcon(ProgramIcon());
  SendMessageW(app.Handle(), TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(shell.calls.size() == 2) << "not visible: nothing is added";
  icon.SetIconVisible(true);

  shell.answer = nullptr;  // the shell has started and broadcasts
  shell.calls.clear();
  SendMessageW(app.Handle(), TaskbarCreatedMessage(), 0, 0);
  ASSERT_EQ(shell.Messages(), std::vector<DWORD>{NIM_ADD});
  const NOTIFYICONDATAW& data = shell.calls[0].data;
  EXPECT_EQ(data.hWnd, TNotificationWindow::Handle());
  EXPECT_EQ(data.uID, static_cast<UINT>(icon.Record().ID));
  EXPECT_EQ(std::wstring(data.szTip), L"hint");
  EXPECT_NE(data.hIcon, nullptr);
  // Other messages to the application window add nothing.
  SendMessageW(app.Handle(), WM_NULL, 0, 0);
  SendMessageW(app.Handle(), TaskbarCreatedMessage() + 1, 0, 0);
  EXPECT_EQ(shell.calls.size(), 1U);
}

TEST_F(Win32AreaTest, ABalloonIsANotifyIconModifyWithTheWarningIconAndTheQuietTime) {
  Win32NotificationArea area(app, shell, kWindows7);
  TNotificationIcon icon(area);
  icon.SetHint(u"hint");
  icon.SetIconVisible(true);
  shell.calls.clear();
  icon.ShowBalloonHint(u"Fernbefehle werden blockiert", u"Die Firewall \u2026",
                       TBalloonIcon::Warning);
  ASSERT_EQ(shell.Messages(), std::vector<DWORD>{NIM_MODIFY});
  const NOTIFYICONDATAW& data = shell.calls[0].data;
  EXPECT_EQ(data.uFlags & NIF_INFO, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(data.hWnd, TNotificationWindow::Handle());
  EXPECT_EQ(std::wstring(data.szTip), L"hint");
  EXPECT_EQ(std::wstring(data.szInfoTitle), L"Fernbefehle werden blockiert");
  EXPECT_EQ(std::wstring(data.szInfo), L"Die Firewall \u2026");
  EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING | NIIF_RESPECT_QUIET_TIME));
}

TEST_F(Win32AreaTest, NewGuidsAreTheSystemsRandomOnes) {
  Win32NotificationArea area(app, shell, kWindows7);
  const TGUID a = area.NewGuid();
  const TGUID b = area.NewGuid();
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a == TGUID{});
  EXPECT_EQ(a.D3 >> 12U, 4) << "version 4";
  EXPECT_EQ(a.D4[0] >> 6U, 2) << "RFC 4122 variant";
  TNotificationIcon icon(area);
  icon.SetGuid(u"no GUID");
  EXPECT_FALSE(icon.Guid() == TGUID{});
  EXPECT_FALSE(icon.Guid() == a);
}

// The menu: the entry's command reaches the menu window, which runs the
// entry's handler from the message loop, after the menu has closed.
class Win32MenuTest : public Win32AreaTest {
 protected:
  void SetUp() override {
    Win32AreaTest::SetUp();
    menu.Add(u"first", u"&First", [this] { ran.emplace_back("first"); });
    menu.Add(u"second", u"&Second", [this] { ran.emplace_back("second"); });
  }
  // Keys for the menu's own loop, waiting before it starts.
  void Keys(std::initializer_list<std::pair<UINT, WPARAM>> keys) {
    for (const auto& [message, key] : keys) PostMessageW(area.MenuWindow(), message, key, 0);
  }
  std::optional<std::size_t> Track() {
    testutil::DeadlockGuard guard("the menu");
    return area.TrackPopupMenu(menu, TPoint{100, 100});
  }

  Win32NotificationArea area{app, shell, kWindows7};
  TPopupMenu menu;
  std::vector<std::string> ran;
};

TEST_F(Win32MenuTest, TheChosenEntryRunsFromTheMessageLoop) {
  Keys({{WM_KEYDOWN, VK_DOWN}, {WM_KEYDOWN, VK_DOWN}, {WM_CHAR, VK_RETURN}});
  EXPECT_EQ(Track(), std::nullopt) << "the choice goes to the menu window";
  EXPECT_TRUE(ran.empty()) << "not while the menu is open";
  testutil::DrainMessageQueue();  // takes WM_COMMAND without dispatching it
  EXPECT_TRUE(ran.empty());

  Keys({{WM_KEYDOWN, VK_DOWN}, {WM_KEYDOWN, VK_DOWN}, {WM_CHAR, VK_RETURN}});
  Track();
  area.ProcessMessages();
  EXPECT_EQ(ran, std::vector<std::string>{"second"});
}

TEST_F(Win32MenuTest, AClosedMenuRunsNothingAndStrangeCommandsAreIgnored) {
  Keys({{WM_KEYDOWN, VK_ESCAPE}});
  Track();
  area.ProcessMessages();
  EXPECT_TRUE(ran.empty());
  const HWND owner = area.MenuWindow();
  SendMessageW(owner, WM_COMMAND, Win32NotificationArea::MenuCommand(2), 0);  // no such entry
  SendMessageW(owner, WM_COMMAND, 0x00FF, 0);                                 // below the menu's
  SendMessageW(owner, WM_COMMAND, MAKEWPARAM(Win32NotificationArea::MenuCommand(0), 1), 0);
  EXPECT_TRUE(ran.empty());
  SendMessageW(owner, WM_COMMAND, Win32NotificationArea::MenuCommand(0), 0);
  EXPECT_EQ(ran, std::vector<std::string>{"first"});
}

TEST_F(Win32MenuTest, ACommandRunsTheEntryThatWasShownEvenWhenTheMenuChangedSince) {
  Keys({{WM_KEYDOWN, VK_ESCAPE}});
  Track();
  area.ProcessMessages();
  menu.Insert(0, u"new", u"&New", [this] { ran.emplace_back("new"); });
  const HWND owner = area.MenuWindow();
  SendMessageW(owner, WM_COMMAND, Win32NotificationArea::MenuCommand(0), 0);
  EXPECT_EQ(ran, std::vector<std::string>{"first"});
  menu.Remove(u"first");
  SendMessageW(owner, WM_COMMAND, Win32NotificationArea::MenuCommand(0), 0);
  EXPECT_EQ(ran, std::vector<std::string>{"first"}) << "gone since: nothing runs";
}

// A stop request while the menu is open (a task manager, the installer
// closing the running copy): the menu closes at once and the quit reaches
// the message loop, rather than both waiting for someone to close the menu.
TEST_F(Win32MenuTest, AStopRequestClosesAnOpenMenu) {
  PostMessageW(app.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(Track(), std::nullopt);
  area.ProcessMessages();
  EXPECT_TRUE(ran.empty());
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop is to end";
  EXPECT_EQ(msg.wParam, 0U);
}

TEST_F(Win32MenuTest, ProcessingMessagesLeavesTheQuitForTheLoop) {
  PostMessageW(app.Handle(), WM_NULL, 0, 0);
  PostQuitMessage(5);
  area.ProcessMessages();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 5U);
}

}  // namespace
}  // namespace ostrivane
