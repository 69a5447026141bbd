// The main window's design as Qt widgets: never shown, no taskbar entry.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "app/main_form.h"
#include "app/notification_area_qt.h"

namespace ostrivane {

class QtLineEditText final : public ITextControl {
 public:
  explicit QtLineEditText(QLineEdit& edit) : edit_(edit) {}
  [[nodiscard]] std::u16string Text() const override;
  void SetText(std::u16string_view text) override;

 private:
  QLineEdit& edit_;
};

class QtMemoText final : public ITextControl {
 public:
  explicit QtMemoText(QPlainTextEdit& memo) : memo_(memo) {}
  [[nodiscard]] std::u16string Text() const override;
  void SetText(std::u16string_view text) override;
  [[nodiscard]] bool Visible() const override { return memo_.isVisible(); }

 private:
  QPlainTextEdit& memo_;
};

// Hands the log box's kept text to its widget as the widget is shown.
class QtLogBoxRealizer final : public QObject {
 public:
  explicit QtLogBoxRealizer(const TLogBox& logBox) : logBox_(logBox) {}
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const TLogBox& logBox_;
};

// The texts of the window and its controls, by design name, for the
// translation table.
class QtDesignComponents final : public IDesignComponents {
 public:
  void Add(std::u16string name, std::unique_ptr<ITranslatable> component);
  ITranslatable* Find(std::u16string_view name) override;

 private:
  std::vector<std::pair<std::u16string, std::unique_ptr<ITranslatable>>> components_;
};

// The window with its controls, named and placed as designed, and the
// portable window logic wired to them.
class QtMainWindow {
 public:
  // `withTray`: whether there is a display to show a tray icon on.
  QtMainWindow(IApplication& application, IUdpPlatform& udp, bool withTray);
  ~QtMainWindow();
  QtMainWindow(const QtMainWindow&) = delete;
  QtMainWindow& operator=(const QtMainWindow&) = delete;

  [[nodiscard]] QWidget& Widget() noexcept { return *window_; }
  [[nodiscard]] TMainForm& Form() noexcept { return *form_; }
  [[nodiscard]] QtNotificationArea& NotificationArea() noexcept { return *area_; }
  [[nodiscard]] QPlainTextEdit& LogBoxWidget() noexcept { return *Memo1; }
  [[nodiscard]] QtDesignComponents& Design() noexcept { return design_; }

 private:
  // Declared first, destroyed last: the controls below are its children.
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<QLabel> TntLabel1;
  std::unique_ptr<QLineEdit> edAction;
  std::unique_ptr<QLabel> TntLabel2;
  std::unique_ptr<QLineEdit> edParam1;
  std::unique_ptr<QLabel> TntLabel3;
  std::unique_ptr<QLineEdit> edParam2;
  std::unique_ptr<QPushButton> TntButton1;
  std::unique_ptr<QPlainTextEdit> Memo1;
  std::unique_ptr<QtLineEditText> actionText_;
  std::unique_ptr<QtLineEditText> param1Text_;
  std::unique_ptr<QtLineEditText> param2Text_;
  std::unique_ptr<QtMemoText> memoText_;
  std::unique_ptr<TLogBox> logBox_;
  std::unique_ptr<QtLogBoxRealizer> logBoxRealizer_;
  QtDesignComponents design_;
  std::unique_ptr<QtNotificationArea> area_;
  std::unique_ptr<TMainForm> form_;
};

}  // namespace ostrivane
