#include "app/notification_area_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/logical_dpi_qt.h"
#include "support/dimports.h"

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
  EXPECT_EQ(got,
            (std::vector<TIconMessage>{TIconMessage::RButtonDown, TIconMessage::LButtonDown,
                                       TIconMessage::LButtonDblClk, TIconMessage::MButtonDown}));
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

TEST_F(QtNotificationAreaTest, WithoutADisplayThereIsNoIcon) {
  QtNotificationArea area(false);
  EXPECT_EQ(area.TrayIcon(), nullptr);
  TNotifyIconRecord record;
  EXPECT_FALSE(area.Notify(TNotifyOp::Add, record));
  EXPECT_FALSE(area.UsesGuid());
}

}  // namespace
}  // namespace ostrivane
