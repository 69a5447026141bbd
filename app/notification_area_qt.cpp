#include "app/notification_area_qt.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QEventLoop>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <utility>

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

QtNotificationArea::QtNotificationArea(bool withTray) : contextMenu_(std::make_unique<QMenu>()) {
  contextMenu_->setObjectName(QStringLiteral("PopupMenu1"));
  if (!withTray) return;
  MakeTrayIcon();
  trayWatcher_ = std::make_unique<QDBusServiceWatcher>(
      QStringLiteral("org.kde.StatusNotifierWatcher"), QDBusConnection::sessionBus(),
      QDBusServiceWatcher::WatchForRegistration);
  QObject::connect(trayWatcher_.get(), &QDBusServiceWatcher::serviceRegistered,
                   [this] { TrayWatcherAppeared(); });
}

void QtNotificationArea::MakeTrayIcon() {
  tray_ = std::make_unique<QSystemTrayIcon>();
  // Before the icon is first shown, so that a host never sees it without
  // its menu.
  tray_->setContextMenu(contextMenu_.get());
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
}

void QtNotificationArea::TrayWatcherAppeared() {
  // Only an icon docked in an X11 tray has a place on the screen.
  if (!tray_ || !tray_->isVisible() || tray_->geometry().isEmpty()) return;
  RemakeTrayIcon();
}

void QtNotificationArea::RemakeTrayIcon() {
  if (!tray_) return;
  const QIcon icon = tray_->icon();
  const QString tip = tray_->toolTip();
  const bool visible = tray_->isVisible();
  // The old one leaves its tray first.
  tray_.reset();
  MakeTrayIcon();
  tray_->setIcon(icon);
  tray_->setToolTip(tip);
  if (visible) tray_->show();
}

void QtNotificationArea::Activated(QSystemTrayIcon::ActivationReason reason) {
  if (!handler_) return;
  switch (reason) {
    case QSystemTrayIcon::Context:
      if (contextMenu_->isVisible()) {
        // An X11 tray: Qt has just opened the menu for this press. If the
        // icon does not ask for its menu now (disabled, no automatic
        // pop-up), it closes again.
        pressOpenedMenu_ = true;
        handler_(TIconMessage::RButtonDown);
        if (std::exchange(pressOpenedMenu_, false)) contextMenu_->hide();
      } else {
        // A host's ContextMenu call: answered at once, the press is handled
        // from the event loop.
        QMetaObject::invokeMethod(
            contextMenu_.get(),
            [this] {
              if (handler_) handler_(TIconMessage::RButtonDown);
            },
            Qt::QueuedConnection);
      }
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
}

QtNotificationArea::~QtNotificationArea() { ExportMenu(nullptr); }

void QtNotificationArea::ExportMenu(TPopupMenu* menu) {
  if (exported_ != nullptr) exported_->OnChange = nullptr;
  exported_ = menu;
  if (exported_ != nullptr) exported_->OnChange = [this](TMenuItem& /*item*/) { Rebuild(); };
  Rebuild();
}

void QtNotificationArea::Rebuild() {
  const auto count = static_cast<qsizetype>(exported_ != nullptr ? exported_->Count() : 0);
  // Actions are added or taken at the end, one per entry by index, never
  // all cleared: a menu that Qt has already opened (an X11 tray opens it on
  // the press, before the icon hears of it) stays open when an entry comes
  // or goes.
  while (contextMenu_->actions().size() > count) {
    QAction* surplus = contextMenu_->actions().back();
    contextMenu_->removeAction(surplus);
    surplus->deleteLater();
  }
  for (qsizetype i = contextMenu_->actions().size(); i < count; ++i) {
    QAction* action = contextMenu_->addAction(QString());
    QObject::connect(action, &QAction::triggered, contextMenu_.get(),
                     [this, i] { Triggered(static_cast<std::size_t>(i)); });
  }
  // Captions change in place: a host showing the menu keeps its entries.
  const QList<QAction*> actions = contextMenu_->actions();
  QAction* defaultAction = nullptr;
  for (qsizetype i = 0; i < count; ++i) {
    const TMenuItem& item = exported_->Item(static_cast<std::size_t>(i));
    QAction* action = actions[i];
    const QString caption = ToQString(item.Caption());
    if (action->text() != caption) action->setText(caption);
    action->setObjectName(ToQString(item.Name()));
    if (item.Default && defaultAction == nullptr) defaultAction = action;
  }
  contextMenu_->setDefaultAction(defaultAction);
}

void QtNotificationArea::Triggered(std::size_t index) {
  if (tracking_) {
    // TrackPopupMenu answers it once the menu has closed; a host may have
    // chosen it while the menu is still open here.
    chosen_ = index;
    contextMenu_->hide();
    return;
  }
  if (exported_ != nullptr && index < exported_->Count()) exported_->Item(index).Click();
}

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

bool QtNotificationArea::ShowBalloon(const TNotifyIconRecord& /*record*/,
                                     const TBalloonHint& balloon) {
  if (!tray_ || !tray_->isVisible()) return false;
  QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
  switch (balloon.Icon) {
    case TBalloonIcon::None:
      break;
    case TBalloonIcon::Info:
      icon = QSystemTrayIcon::Information;
      break;
    case TBalloonIcon::Warning:
      icon = QSystemTrayIcon::Warning;
      break;
    case TBalloonIcon::Error:
      icon = QSystemTrayIcon::Critical;
      break;
  }
  tray_->showMessage(ToQString(balloon.Title), ToQString(balloon.Text), icon);
  return true;
}

std::optional<TPoint> QtNotificationArea::CursorPos() {
  const QPoint at = QCursor::pos();
  return TPoint{at.x(), at.y()};
}

void QtNotificationArea::ProcessMessages() { QCoreApplication::processEvents(); }

std::optional<std::size_t> QtNotificationArea::TrackPopupMenu(const TPopupMenu& menu, TPoint at) {
  const bool openedOnPress = std::exchange(pressOpenedMenu_, false);
  if (&menu != exported_) {
    if (openedOnPress) contextMenu_->hide();
    return TrackMenuOfItsOwn(menu, at);
  }
  // Left edge at the point; the menu stays on the screen.
  if (!openedOnPress) contextMenu_->popup(QPoint(at.X, at.Y));
  // Qt's menu may have been closed already, by a choice among the events
  // processed since; that choice has run.
  if (!contextMenu_->isVisible()) return std::nullopt;
  QEventLoop untilClosed;
  const QMetaObject::Connection closing =
      QObject::connect(contextMenu_.get(), &QMenu::aboutToHide, &untilClosed, &QEventLoop::quit);
  tracking_ = true;
  chosen_.reset();
  untilClosed.exec();
  tracking_ = false;
  QObject::disconnect(closing);
  return std::exchange(chosen_, std::nullopt);
}

std::optional<std::size_t> QtNotificationArea::TrackMenuOfItsOwn(const TPopupMenu& menu,
                                                                 TPoint at) {
  QMenu popup;
  std::vector<QAction*> actions;
  for (std::size_t i = 0; i < menu.Count(); ++i) {
    const TMenuItem& item = menu.Item(i);
    QAction* action = popup.addAction(ToQString(item.Caption()));
    action->setObjectName(ToQString(item.Name()));
    if (item.Default && popup.defaultAction() == nullptr) popup.setDefaultAction(action);
    actions.push_back(action);
  }
  const QAction* chosen = popup.exec(QPoint(at.X, at.Y));
  for (std::size_t i = 0; i < actions.size(); ++i) {
    if (actions[i] == chosen) return i;
  }
  return std::nullopt;
}

}  // namespace ostrivane
