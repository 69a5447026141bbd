// The main window's design as Qt widgets: never shown, no taskbar entry.
#pragma once

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/main_form.h"
#include "app/notification_area_qt.h"
#include "app/qt_text.h"

namespace ostrivane {

// The controls are built as the window is first shown: building a text
// control lays out its text, which loads the font database, and a window
// that is never shown has no use for that. Until then the objects below keep
// the controls' texts.

// An edit box's text.
class QtLineEditText final : public ITextControl {
 public:
  [[nodiscard]] std::u16string Text() const override;
  void SetText(std::u16string_view text) override;
  // The edit box is built: it takes the text kept so far.
  void Attach(QLineEdit& edit);

 private:
  QLineEdit* edit_ = nullptr;
  std::u16string text_;
};

// The log box's widget, behind the log box (TLogBox).
class QtMemoText final : public ITextControl {
 public:
  [[nodiscard]] std::u16string Text() const override;
  void SetText(std::u16string_view text) override;
  [[nodiscard]] bool Visible() const override { return memo_ != nullptr && memo_->isVisible(); }
  void Attach(QPlainTextEdit& memo);

 private:
  QPlainTextEdit* memo_ = nullptr;
  std::u16string text_;
};

// The caption of a label or a button.
template <typename Widget>
class QtCaption final : public ITranslatable {
 public:
  explicit QtCaption(std::u16string_view text) : text_(text) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override {
    if (property != TTextProperty::Caption) return std::nullopt;
    return widget_ != nullptr ? FromQString(widget_->text()) : text_;
  }
  void SetText(TTextProperty property, std::u16string_view text) override {
    if (property != TTextProperty::Caption) return;
    if (widget_ != nullptr) {
      widget_->setText(ToQString(text));
    } else {
      text_ = text;
    }
  }
  void Attach(Widget& widget) {
    widget_ = &widget;
    widget_->setText(ToQString(text_));
  }

 private:
  Widget* widget_ = nullptr;
  std::u16string text_;
};

// Calls `action` on each event of type `type` that reaches the objects it
// watches.
class QtEventHook final : public QObject {
 public:
  QtEventHook(QEvent::Type type, std::function<void()> action)
      : type_(type), action_(std::move(action)) {}
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QEvent::Type type_;
  std::function<void()> action_;
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
  [[nodiscard]] QtDesignComponents& Design() noexcept { return design_; }
  // The log box's widget; null until the controls are built.
  [[nodiscard]] QPlainTextEdit* LogBoxWidget() noexcept { return Memo1.get(); }

 private:
  void BuildControls();

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
  QtLineEditText actionText_;
  QtLineEditText param1Text_;
  QtLineEditText param2Text_;
  QtMemoText memoText_;
  TLogBox logBox_{memoText_};
  // Owned by design_.
  QtCaption<QLabel>* label1Caption_ = nullptr;
  QtCaption<QLabel>* label2Caption_ = nullptr;
  QtCaption<QLabel>* label3Caption_ = nullptr;
  QtCaption<QPushButton>* buttonCaption_ = nullptr;
  std::unique_ptr<QtEventHook> builder_;
  std::unique_ptr<QtEventHook> logBoxRealizer_;
  QtDesignComponents design_;
  std::unique_ptr<QtNotificationArea> area_;
  std::unique_ptr<TMainForm> form_;
};

}  // namespace ostrivane
