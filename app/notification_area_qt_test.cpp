#include "app/notification_area_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/logical_dpi_qt.h"
#include "support/dimports.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

class QtNotificationAreaTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One offscreen screen whose logical DPI is not the usual 96, without
    // high-DPI scaling of the pixmaps.
    config_ =
        std::filesystem::temp_directory_path() /
        ("ostrivane-offscreen-" + std::to_string(QCoreApplication::applicationPid()) + ".json");
    std::ofstream(config_) << R"({"screens": [{"name": "A", "x": 0, "y": 0, "width": 800,
        "height": 600, "logicalDpi": 144, "logicalBaseDpi": 96, "dpr": 1}]})";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + config_.string().c_str());
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    static int argc = 1;
    static char name[] = "notification_area_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() {
    app_.reset();
    std::filesystem::remove(config_);
  }

  static std::unique_ptr<QApplication> app_;
  static std::filesystem::path config_;
};

std::unique_ptr<QApplication> QtNotificationAreaTest::app_;
std::filesystem::path QtNotificationAreaTest::config_;

TEST_F(QtNotificationAreaTest, IconCarriesEverySizeWithItsPixels) {
  const TIconImage image = ProgramIcon();
  const QIcon icon = ToQIcon(image);
  for (const TBitmap32& bitmap : image.Sizes()) {
    const QImage picture = icon.pixmap(QSize(bitmap.Width, bitmap.Height))
                               .toImage()
                               .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(picture.width(), bitmap.Width);
    for (const auto& [x, y] : {std::pair{0, 0},
                               {bitmap.Width / 2, bitmap.Height / 2},
                               {bitmap.Width * 3 / 10, bitmap.Height / 2}}) {
      EXPECT_EQ(picture.pixel(x, y), bitmap.At(x, y)) << bitmap.Width << " at " << x << "," << y;
    }
  }
}

TEST_F(QtNotificationAreaTest, AddModifyDeleteDriveTheTrayIcon) {
  QtNotificationArea area(true);
  QSystemTrayIcon* tray = area.TrayIcon();
  ASSERT_NE(tray, nullptr);
  const TIconImage image = ProgramIcon();
  TNotifyIconRecord record;
  record.Tip = u"Lyravox Remote Server";
  EXPECT_FALSE(area.Notify(TNotifyOp::Modify, record)) << "not added yet";
  EXPECT_FALSE(tray->isVisible());
  record.Icon = &image;
  EXPECT_TRUE(area.Notify(TNotifyOp::Add, record));
  EXPECT_TRUE(tray->isVisible());
  EXPECT_EQ(tray->toolTip(), QStringLiteral("Lyravox Remote Server"));
  EXPECT_FALSE(tray->icon().isNull());
  EXPECT_FALSE(area.Notify(TNotifyOp::Add, record)) << "already there";
  record.Tip = u"";
  EXPECT_TRUE(area.Notify(TNotifyOp::Modify, record));
  EXPECT_TRUE(tray->toolTip().isEmpty());
  EXPECT_TRUE(area.Notify(TNotifyOp::Delete, record));
  EXPECT_FALSE(tray->isVisible());
  EXPECT_FALSE(area.Notify(TNotifyOp::Delete, record));
}

TEST_F(QtNotificationAreaTest, ClicksReachTheHandlerAsMouseMessages) {
  QtNotificationArea area(true);
  std::vector<TIconMessage> got;
  area.SetIconHandler([&](TIconMessage m) { got.push_back(m); });
  for (const auto reason :
       {QSystemTrayIcon::Context, QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
        QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
    emit area.TrayIcon()->activated(reason);
  }
  // With no menu open, the context request comes from a host's call; its
  // press is handled from the event loop.
  EXPECT_EQ(got, (std::vector<TIconMessage>{TIconMessage::LButtonDown, TIconMessage::LButtonDblClk,
                                            TIconMessage::MButtonDown}));
  QCoreApplication::processEvents();
  EXPECT_EQ(got, (std::vector<TIconMessage>{TIconMessage::LButtonDown, TIconMessage::LButtonDblClk,
                                            TIconMessage::MButtonDown, TIconMessage::RButtonDown}));
}

TEST_F(QtNotificationAreaTest, ContextMenuMirrorsTheEntriesAndFollowsTheirCaptions) {
  QtNotificationArea area(true);
  QMenu& exported = area.ContextMenu();
  EXPECT_EQ(area.TrayIcon()->contextMenu(), &exported) << "set before the icon is first shown";
  EXPECT_TRUE(exported.actions().isEmpty());

  TPopupMenu menu;
  int closes = 0;
  TMenuItem& close = menu.Add(u"btnClose", u"&Beenden", [&] { ++closes; });
  area.ExportMenu(&menu);
  ASSERT_EQ(exported.actions().size(), 1);
  QAction* action = exported.actions().front();
  EXPECT_EQ(action->text(), QStringLiteral("&Beenden"));
  EXPECT_EQ(action->objectName(), QStringLiteral("btnClose"));
  EXPECT_EQ(exported.defaultAction(), nullptr);

  // The language switch sets the caption through the translation table.
  close.SetText(TTextProperty::Caption, u"Exit");
  ASSERT_EQ(exported.actions().size(), 1);
  EXPECT_EQ(exported.actions().front(), action) << "changed in place";
  EXPECT_EQ(action->text(), QStringLiteral("Exit"));

  // A host's "clicked" triggers the action: the entry runs once.
  action->trigger();
  EXPECT_EQ(closes, 1);

  TMenuItem& other = menu.Add(u"other", u"Other", {});
  other.Default = true;
  menu.Add(u"third", u"Third", {});
  ASSERT_EQ(exported.actions().size(), 3);
  EXPECT_EQ(exported.actions()[1]->text(), QStringLiteral("Other"));
  EXPECT_EQ(exported.defaultAction(), exported.actions()[1]);
  EXPECT_EQ(exported.actions()[0]->text(), QStringLiteral("Exit"));

  area.ExportMenu(nullptr);
  EXPECT_TRUE(exported.actions().isEmpty());
  close.SetCaption(u"&Beenden");  // no longer followed
  EXPECT_TRUE(exported.actions().isEmpty());
  EXPECT_EQ(closes, 1);
}

// The menus that are open, this program's windows of that kind.
std::vector<QMenu*> OpenMenus() {
  std::vector<QMenu*> open;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* menu = qobject_cast<QMenu*>(w); menu != nullptr && menu->isVisible()) {
      open.push_back(menu);
    }
  }
  return open;
}

enum class Opener : std::uint8_t { QtOnPress, HostCall };
enum class Choice : std::uint8_t { None, InTheMenu, ByTheHost };

struct PressCase {
  const char* name;
  Opener opener;
  Choice choice;
};

class RightPressTest : public QtNotificationAreaTest,
                       public testing::WithParamInterface<PressCase> {};

// The right button press as the two kinds of tray report it: an X11 tray
// after Qt has opened the icon's menu at the pointer, a StatusNotifierItem
// host with a ContextMenu call. Either way one menu is open, at the pointer,
// and a chosen entry runs once, after the menu has closed.
TEST_P(RightPressTest, OneMenuAtThePointerAndTheChoiceRunsOnce) {
  const PressCase& c = GetParam();
  QtNotificationArea area(true);
  TNotificationIcon icon(area);
  area.SetIconHandler([&](TIconMessage m) { icon.HandleIconMessage(m); });
  TPopupMenu menu;
  int closes = 0;
  bool menuClosedWhenRun = false;
  menu.Add(u"btnClose", u"Exit", [&] {
    ++closes;
    menuClosedWhenRun = !area.ContextMenu().isVisible();
  });
  icon.SetPopupMenu(&menu);
  area.ExportMenu(&menu);
  QCursor::setPos(120, 90);
  if (c.opener == Opener::QtOnPress) area.ContextMenu().popup(QPoint(120, 90));

  std::vector<std::size_t> openCounts;
  QPoint openedAt;
  bool done = false;
  // Acts once the menu is open, while the icon waits for it.
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done || !area.ContextMenu().isVisible()) return;
    done = true;
    openCounts.push_back(OpenMenus().size());
    openedAt = area.ContextMenu().pos();
    QAction* entry = area.ContextMenu().actions().front();
    switch (c.choice) {
      case Choice::None:  // a click elsewhere, or Escape
        area.ContextMenu().hide();
        break;
      case Choice::InTheMenu:  // the menu closes, then triggers the entry
        area.ContextMenu().hide();
        entry->trigger();
        break;
      case Choice::ByTheHost:  // the entry is triggered while the menu is open
        entry->trigger();
        break;
    }
  });
  poll.start();
  emit area.TrayIcon()->activated(QSystemTrayIcon::Context);
  if (c.opener == Opener::HostCall) {
    EXPECT_FALSE(done || area.ContextMenu().isVisible()) << "the call waited for the menu";
  }
  QElapsedTimer waited;
  waited.start();
  while (!done && waited.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  QCoreApplication::processEvents();
  ASSERT_TRUE(done) << "the menu never opened";
  EXPECT_EQ(openCounts, std::vector<std::size_t>{1U});
  EXPECT_EQ(openedAt, QPoint(120, 90));
  EXPECT_FALSE(area.ContextMenu().isVisible());
  EXPECT_EQ(closes, c.choice == Choice::None ? 0 : 1);
  if (closes > 0) {
    EXPECT_TRUE(menuClosedWhenRun);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Trays, RightPressTest,
    testing::Values(PressCase{"X11Closed", Opener::QtOnPress, Choice::None},
                    PressCase{"X11Chosen", Opener::QtOnPress, Choice::InTheMenu},
                    PressCase{"X11ChosenByHost", Opener::QtOnPress, Choice::ByTheHost},
                    PressCase{"HostClosed", Opener::HostCall, Choice::None},
                    PressCase{"HostChosen", Opener::HostCall, Choice::InTheMenu},
                    PressCase{"HostChosenByHost", Opener::HostCall, Choice::ByTheHost}),
    testutil::CaseName());

TEST_F(QtNotificationAreaTest, MenuQtOpenedClosesWhenTheIconDoesNotWantIt) {
  QtNotificationArea area(true);
  TNotificationIcon icon(area);
  area.SetIconHandler([&](TIconMessage m) { icon.HandleIconMessage(m); });
  TPopupMenu menu;
  int closes = 0;
  menu.Add(u"btnClose", u"Exit", [&] { ++closes; });
  icon.SetPopupMenu(&menu);
  area.ExportMenu(&menu);
  icon.Enabled = false;
  area.ContextMenu().popup(QPoint(10, 10));
  emit area.TrayIcon()->activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(area.ContextMenu().isVisible());
  icon.Enabled = true;
  menu.AutoPopup = false;
  area.ContextMenu().popup(QPoint(10, 10));
  emit area.TrayIcon()->activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(area.ContextMenu().isVisible());
  QCoreApplication::processEvents();
  EXPECT_TRUE(OpenMenus().empty());
  EXPECT_EQ(closes, 0);
}

// On an X11 tray Qt opens the menu on the press, before the icon hears of
// it; the menu's opening event may then add or take an entry. The open menu
// follows, stays open, and its choice runs the entry it shows.
TEST_F(QtNotificationAreaTest, AMenuQtOpenedFollowsEntriesTheOpeningAddsOrTakes) {
  struct Case {
    const char* name;
    bool firewallBefore;           // the entry is there before the opening
    QStringList shown;             // the open menu's captions after the opening
    std::vector<std::string> ran;  // choosing the first of them
  };
  const Case cases[] = {
      {"added", false, {QStringLiteral("Allow\u2026"), QStringLiteral("Exit")}, {"allow"}},
      {"taken", true, {QStringLiteral("Exit")}, {"exit"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QtNotificationArea area(true);
    TNotificationIcon icon(area);
    area.SetIconHandler([&](TIconMessage m) { icon.HandleIconMessage(m); });
    TPopupMenu menu;
    std::vector<std::string> ran;
    const auto addAllow = [&] {
      menu.Insert(0, u"btnFirewall", u"Allow\u2026", [&] { ran.emplace_back("allow"); });
    };
    menu.Add(u"btnClose", u"Exit", [&] { ran.emplace_back("exit"); });
    if (c.firewallBefore) addAllow();
    icon.SetPopupMenu(&menu);
    area.ExportMenu(&menu);
    // The first action stays: on an X11 tray a menu whose actions were all
    // cleared while it was open closes (seen under Xvfb with trayer; the
    // offscreen platform keeps it open).
    const QAction* first = area.ContextMenu().actions().front();
    bool openWhenChosen = false;
    bool firstKept = false;
    QStringList shown;
    const auto choose = [&] {
      openWhenChosen = area.ContextMenu().isVisible();
      firstKept = area.ContextMenu().actions().front() == first;
      for (const QAction* action : area.ContextMenu().actions()) shown << action->text();
      if (!area.ContextMenu().actions().isEmpty()) area.ContextMenu().actions()[0]->trigger();
      area.ContextMenu().hide();
    };
    menu.OnPopup = [&] {
      if (c.firewallBefore) {
        menu.Remove(u"btnFirewall");
      } else {
        addAllow();
      }
      // The user chooses once the icon waits for the menu.
      QTimer::singleShot(0, choose);
    };
    area.ContextMenu().popup(QPoint(10, 10));
    emit area.TrayIcon()->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(openWhenChosen);
    EXPECT_TRUE(firstKept);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(ran, c.ran);
    EXPECT_FALSE(area.ContextMenu().isVisible());
  }
}

TEST_F(QtNotificationAreaTest, DpiFallbackReportsTheScreensLogicalDpi) {
  unsigned x = 0;
  unsigned y = 0;
  ASSERT_TRUE(QtLogicalDpi(x, y));
  EXPECT_EQ(x, 144U);
  EXPECT_EQ(y, 144U);
  DImports::SetLogicalDpiSource(QtLogicalDpi);
  DImports::UINT dx = 0;
  DImports::UINT dy = 0;
  EXPECT_EQ(DImports::Fallback::GetDpiForMonitor(nullptr, DImports::MDT_EFFECTIVE_DPI, &dx, &dy),
            0);
  DImports::SetLogicalDpiSource(nullptr);
  EXPECT_EQ(dx, 144U);
  EXPECT_EQ(dy, 144U);
}

TEST_F(QtNotificationAreaTest, AnIconMadeAnewKeepsItsImageHintMenuAndVisibility) {
  QtNotificationArea area(true);
  std::vector<TIconMessage> got;
  area.SetIconHandler([&](TIconMessage m) { got.push_back(m); });
  const TIconImage image = ProgramIcon();
  TNotifyIconRecord record;
  record.Icon = &image;
  record.Tip = u"Lyravox Remote Server";
  ASSERT_TRUE(area.Notify(TNotifyOp::Add, record));
  const QImage picture = area.TrayIcon()->icon().pixmap(QSize(16, 16)).toImage();

  // Not docked in an X11 tray (an offscreen icon has no place on a
  // screen): a watcher coming changes nothing.
  bool gone = false;
  QObject::connect(area.TrayIcon(), &QObject::destroyed, [&] { gone = true; });
  area.TrayWatcherAppeared();
  EXPECT_FALSE(gone);

  area.RemakeTrayIcon();
  EXPECT_TRUE(gone);
  QSystemTrayIcon* tray = area.TrayIcon();
  EXPECT_TRUE(tray->isVisible());
  EXPECT_EQ(tray->toolTip(), QStringLiteral("Lyravox Remote Server"));
  EXPECT_EQ(tray->icon().pixmap(QSize(16, 16)).toImage(), picture);
  EXPECT_EQ(tray->contextMenu(), &area.ContextMenu());
  emit tray->activated(QSystemTrayIcon::Trigger);
  EXPECT_EQ(got, std::vector<TIconMessage>{TIconMessage::LButtonDown});
  EXPECT_FALSE(area.Notify(TNotifyOp::Add, record)) << "already there";

  // A hidden icon stays hidden.
  ASSERT_TRUE(area.Notify(TNotifyOp::Delete, record));
  area.RemakeTrayIcon();
  EXPECT_FALSE(area.TrayIcon()->isVisible());
  EXPECT_TRUE(area.Notify(TNotifyOp::Add, record));
}

TEST_F(QtNotificationAreaTest, WithoutADisplayThereIsNoIcon) {
  QtNotificationArea area(false);
  EXPECT_EQ(area.TrayIcon(), nullptr);
  TNotifyIconRecord record;
  EXPECT_FALSE(area.Notify(TNotifyOp::Add, record));
  EXPECT_FALSE(area.UsesGuid());
}

}  // namespace
}  // namespace ostrivane
