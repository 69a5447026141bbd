#include "app/notification_area_qt.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QImage>
#include <QMenu>
#include <QPixmap>

#include "app/qt_text.h"

namespace ostrivane {

QIcon ToQIcon(const TIconImage& image) {
  QIcon icon;
  for (const TBitmap32& bitmap : image.Sizes()) {
    QImage picture(bitmap.Width, bitmap.Height, QImage::Format_ARGB32);
    for (int y = 0; y < bitmap.Height; ++y) {
      auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < bitmap.Width; ++x) line[x] = bitmap.At(x, y);
    }
    icon.addPixmap(QPixmap::fromImage(picture));
  }
  return icon;
}

QtNotificationArea::QtNotificationArea(bool withTray) {
  if (!withTray) return;
  tray_ = std::make_unique<QSystemTrayIcon>();
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (!handler_) return;
                     switch (reason) {
                       case QSystemTrayIcon::Context:
                         handler_(TIconMessage::RButtonDown);
                         break;
                       case QSystemTrayIcon::Trigger:
                         handler_(TIconMessage::LButtonDown);
                         break;
                       case QSystemTrayIcon::DoubleClick:
                         handler_(TIconMessage::LButtonDblClk);
                         break;
                       case QSystemTrayIcon::MiddleClick:
                         handler_(TIconMessage::MButtonDown);
                         break;
                       case QSystemTrayIcon::Unknown:
                         break;
                     }
                   });
}

QtNotificationArea::~QtNotificationArea() = default;

void QtNotificationArea::Apply(const TNotifyIconRecord& record) {
  const TIconImage none;
  const TIconImage& image = record.Icon != nullptr ? *record.Icon : none;
  if (!(image == shownImage_) || tray_->icon().isNull() != image.Empty()) {
    shownImage_ = image;
    tray_->setIcon(ToQIcon(image));
  }
  const QString tip = ToQString(record.Tip);
  if (tray_->toolTip() != tip) tray_->setToolTip(tip);
}

bool QtNotificationArea::Notify(TNotifyOp op, const TNotifyIconRecord& record) {
  if (!tray_) return false;
  switch (op) {
    case TNotifyOp::Add:
      if (tray_->isVisible()) return false;  // the area has it already
      Apply(record);
      tray_->show();
      return true;
    case TNotifyOp::Modify:
      if (!tray_->isVisible()) return false;  // no such icon in the area
      Apply(record);
      return true;
    case TNotifyOp::Delete:
      if (!tray_->isVisible()) return false;
      tray_->hide();
      return true;
    case TNotifyOp::SetVersion:
      return true;
  }
  return false;
}

std::optional<TPoint> QtNotificationArea::CursorPos() {
  const QPoint at = QCursor::pos();
  return TPoint{at.x(), at.y()};
}

void QtNotificationArea::ProcessMessages() { QCoreApplication::processEvents(); }

std::optional<std::size_t> QtNotificationArea::TrackPopupMenu(const TPopupMenu& menu, TPoint at) {
  QMenu popup;
  popup.setObjectName(QStringLiteral("PopupMenu1"));
  std::vector<QAction*> actions;
  for (std::size_t i = 0; i < menu.Count(); ++i) {
    const TMenuItem& item = menu.Item(i);
    QAction* action = popup.addAction(ToQString(item.Caption()));
    action->setObjectName(ToQString(item.Name()));
    if (item.Default && popup.defaultAction() == nullptr) popup.setDefaultAction(action);
    actions.push_back(action);
  }
  // Left edge at the point; the menu stays on the screen.
  const QAction* chosen = popup.exec(QPoint(at.X, at.Y));
  for (std::size_t i = 0; i < actions.size(); ++i) {
    if (actions[i] == chosen) return i;
  }
  return std::nullopt;
}

}  // namespace ostrivane
