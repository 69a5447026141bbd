#include "app/main_form_qt.h"

#include <QEvent>
#include <QFont>
#include <QString>

#include "app/qt_text.h"

namespace ostrivane {
namespace {

template <typename T>
std::unique_ptr<T> Place(QWidget& parent, const char* name, int left, int top, int width,
                         int height) {
  auto control = std::make_unique<T>(&parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(left, top, width, height);
  return control;
}

// The window's caption and font. Qt fonts have no character set; the
// window keeps the one it was given.
class QtWindowTexts final : public ITranslatable {
 public:
  explicit QtWindowTexts(QWidget& window) : window_(window) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override {
    switch (property) {
      case TTextProperty::Caption:
        return FromQString(window_.windowTitle());
      case TTextProperty::FontName:
        return FromQString(window_.font().family());
      default:
        return std::nullopt;
    }
  }
  void SetText(TTextProperty property, std::u16string_view text) override {
    if (property == TTextProperty::Caption) {
      window_.setWindowTitle(ToQString(text));
    } else if (property == TTextProperty::FontName) {
      QFont font = window_.font();
      font.setFamily(ToQString(text));
      window_.setFont(font);
    }
  }
  [[nodiscard]] std::optional<int> FontCharset() const override { return charset_; }
  void SetFontCharset(int charset) override { charset_ = charset; }

 private:
  QWidget& window_;
  int charset_ = 1;  // DEFAULT_CHARSET
};

// The log box's lines, through the log box.
class QtMemoLines final : public ITranslatable {
 public:
  explicit QtMemoLines(ITextControl& memo) : memo_(memo) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty property) const override {
    if (property != TTextProperty::Lines) return std::nullopt;
    return memo_.Text();
  }
  void SetText(TTextProperty property, std::u16string_view text) override {
    if (property == TTextProperty::Lines) memo_.SetText(text);
  }

 private:
  ITextControl& memo_;
};

}  // namespace

void QtDesignComponents::Add(std::u16string name, std::unique_ptr<ITranslatable> component) {
  components_.emplace_back(std::move(name), std::move(component));
}

ITranslatable* QtDesignComponents::Find(std::u16string_view name) {
  for (auto& [n, component] : components_) {
    if (n == name) return component.get();
  }
  return nullptr;
}

std::u16string QtLineEditText::Text() const {
  return edit_ != nullptr ? FromQString(edit_->text()) : text_;
}

void QtLineEditText::SetText(std::u16string_view text) {
  if (edit_ != nullptr) {
    edit_->setText(ToQString(text));
  } else {
    text_ = text;
  }
}

void QtLineEditText::Attach(QLineEdit& edit) {
  edit_ = &edit;
  edit_->setText(ToQString(text_));
  text_.clear();
}

std::u16string QtMemoText::Text() const {
  return memo_ != nullptr ? FromQString(memo_->toPlainText()) : text_;
}

void QtMemoText::SetText(std::u16string_view text) {
  if (memo_ != nullptr) {
    memo_->setPlainText(ToQString(text));
  } else {
    text_ = text;
  }
}

void QtMemoText::Attach(QPlainTextEdit& memo) {
  memo_ = &memo;
  memo_->setPlainText(ToQString(text_));
  text_ = std::u16string();
}

bool QtEventHook::eventFilter(QObject* /*watched*/, QEvent* event) {
  if (event->type() == type_ && action_) action_();
  return false;
}

QtMainWindow::QtMainWindow(IApplication& application, IUdpPlatform& udp, bool withTray)
    : window_(std::make_unique<QWidget>()) {
  QWidget& w = *window_;
  w.setObjectName(QStringLiteral("MainForm"));
  w.setWindowTitle(QStringLiteral("MainForm"));
  w.setFixedSize(690, 420);
  QFont font(QStringLiteral("MS Shell Dlg 2"));
  font.setPixelSize(11);  // 8 points at 96 pixels per inch
  w.setFont(font);
  // The controls come as the window is first shown.
  builder_ = std::make_unique<QtEventHook>(QEvent::Show, [this] { BuildControls(); });
  w.installEventFilter(builder_.get());

  auto label1 = std::make_unique<QtCaption<QLabel>>(u"Action:");
  auto label2 = std::make_unique<QtCaption<QLabel>>(u"Param1:");
  auto label3 = std::make_unique<QtCaption<QLabel>>(u"Param2:");
  auto button = std::make_unique<QtCaption<QPushButton>>(u"Send");
  label1Caption_ = label1.get();
  label2Caption_ = label2.get();
  label3Caption_ = label3.get();
  buttonCaption_ = button.get();
  design_.Add(u"TMainForm", std::make_unique<QtWindowTexts>(w));
  design_.Add(u"TntLabel1", std::move(label1));
  design_.Add(u"TntLabel2", std::move(label2));
  design_.Add(u"TntLabel3", std::move(label3));
  design_.Add(u"TntButton1", std::move(button));
  design_.Add(u"Memo1", std::make_unique<QtMemoLines>(logBox_));
  area_ = std::make_unique<QtNotificationArea>(withTray);
  form_ = std::make_unique<TMainForm>(
      TMainForm::Controls{actionText_, param1Text_, param2Text_, logBox_, design_, *area_},
      application, udp);
  area_->SetIconHandler([this](TIconMessage message) {
    if (form_ && form_->CoolTrayIcon1) form_->CoolTrayIcon1->HandleIconMessage(message);
  });
  area_->ExportMenu(&form_->PopupMenu1);
}

void QtMainWindow::BuildControls() {
  if (Memo1) return;
  QWidget& w = *window_;
  TntLabel1 = Place<QLabel>(w, "TntLabel1", 8, 32, 34, 13);
  edAction = Place<QLineEdit>(w, "edAction", 56, 24, 369, 21);
  TntLabel2 = Place<QLabel>(w, "TntLabel2", 8, 64, 40, 13);
  edParam1 = Place<QLineEdit>(w, "edParam1", 56, 56, 369, 21);
  TntLabel3 = Place<QLabel>(w, "TntLabel3", 8, 96, 40, 13);
  edParam2 = Place<QLineEdit>(w, "edParam2", 56, 88, 369, 21);
  TntButton1 = Place<QPushButton>(w, "TntButton1", 440, 85, 75, 25);
  Memo1 = Place<QPlainTextEdit>(w, "Memo1", 176, 128, 313, 201);
  for (QLabel* label : {TntLabel1.get(), TntLabel2.get(), TntLabel3.get()})
    label->setFocusPolicy(Qt::NoFocus);
  QWidget::setTabOrder(edAction.get(), edParam1.get());
  QWidget::setTabOrder(edParam1.get(), edParam2.get());
  QWidget::setTabOrder(edParam2.get(), TntButton1.get());
  QWidget::setTabOrder(TntButton1.get(), Memo1.get());

  label1Caption_->Attach(*TntLabel1);
  label2Caption_->Attach(*TntLabel2);
  label3Caption_->Attach(*TntLabel3);
  buttonCaption_->Attach(*TntButton1);
  actionText_.Attach(*edAction);
  param1Text_.Attach(*edParam1);
  param2Text_.Attach(*edParam2);
  memoText_.Attach(*Memo1);
  // A text the log box kept meanwhile follows as the log box is shown.
  logBoxRealizer_ = std::make_unique<QtEventHook>(QEvent::Show, [this] { logBox_.Realize(); });
  Memo1->installEventFilter(logBoxRealizer_.get());
  QObject::connect(TntButton1.get(), &QPushButton::clicked, [this] { form_->TntButton1Click(); });
  // Made while their window shows, the controls show themselves.
  for (QWidget* control : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    control->show();
  }
}

QtMainWindow::~QtMainWindow() {
  // The icon's menu lets go of the window's menu; then the window's logic
  // goes, while the controls it writes to and the notification area exist.
  area_->ExportMenu(nullptr);
  form_.reset();
  area_.reset();
}

}  // namespace ostrivane
