#include "app/main_form_qt.h"

#include <QFont>
#include <QString>

namespace ostrivane {
namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename T>
std::unique_ptr<T> Place(QWidget& parent, const char* name, int left, int top, int width,
                         int height) {
  auto control = std::make_unique<T>(&parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(left, top, width, height);
  return control;
}

}  // namespace

std::u16string QtLineEditText::Text() const { return edit_.text().toStdU16String(); }
void QtLineEditText::SetText(std::u16string_view text) { edit_.setText(ToQString(text)); }

std::u16string QtMemoText::Text() const { return memo_.toPlainText().toStdU16String(); }
void QtMemoText::SetText(std::u16string_view text) { memo_.setPlainText(ToQString(text)); }

QtMainWindow::QtMainWindow(IApplication& application, IUdpPlatform& udp)
    : window_(std::make_unique<QWidget>()) {
  QWidget& w = *window_;
  w.setObjectName(QStringLiteral("MainForm"));
  w.setWindowTitle(QStringLiteral("MainForm"));
  w.setFixedSize(690, 420);
  QFont font(QStringLiteral("MS Shell Dlg 2"));
  font.setPixelSize(11);  // 8 points at 96 pixels per inch
  w.setFont(font);

  TntLabel1 = Place<QLabel>(w, "TntLabel1", 8, 32, 34, 13);
  TntLabel1->setText(QStringLiteral("Action:"));
  edAction = Place<QLineEdit>(w, "edAction", 56, 24, 369, 21);
  TntLabel2 = Place<QLabel>(w, "TntLabel2", 8, 64, 40, 13);
  TntLabel2->setText(QStringLiteral("Param1:"));
  edParam1 = Place<QLineEdit>(w, "edParam1", 56, 56, 369, 21);
  TntLabel3 = Place<QLabel>(w, "TntLabel3", 8, 96, 40, 13);
  TntLabel3->setText(QStringLiteral("Param2:"));
  edParam2 = Place<QLineEdit>(w, "edParam2", 56, 88, 369, 21);
  TntButton1 = Place<QPushButton>(w, "TntButton1", 440, 85, 75, 25);
  TntButton1->setText(QStringLiteral("Send"));
  Memo1 = Place<QPlainTextEdit>(w, "Memo1", 176, 128, 313, 201);
  for (QLabel* label : {TntLabel1.get(), TntLabel2.get(), TntLabel3.get()}) label->setFocusPolicy(Qt::NoFocus);
  QWidget::setTabOrder(edAction.get(), edParam1.get());
  QWidget::setTabOrder(edParam1.get(), edParam2.get());
  QWidget::setTabOrder(edParam2.get(), TntButton1.get());
  QWidget::setTabOrder(TntButton1.get(), Memo1.get());

  actionText_ = std::make_unique<QtLineEditText>(*edAction);
  param1Text_ = std::make_unique<QtLineEditText>(*edParam1);
  param2Text_ = std::make_unique<QtLineEditText>(*edParam2);
  memoText_ = std::make_unique<QtMemoText>(*Memo1);
  form_ = std::make_unique<TMainForm>(
      TMainForm::Controls{*actionText_, *param1Text_, *param2Text_, *memoText_}, application,
      udp);
  QObject::connect(TntButton1.get(), &QPushButton::clicked, [this] { form_->TntButton1Click(); });
}

QtMainWindow::~QtMainWindow() {
  // The window's logic goes first, while the controls it writes to exist.
  form_.reset();
}

}  // namespace ostrivane
