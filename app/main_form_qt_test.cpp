#include "app/main_form_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>

#include "app/qt_text.h"
#include "net/udp_platform_fake.h"

namespace ostrivane {
namespace {

class FakeApplication final : public IApplication {
 public:
  void ShowException(const std::exception& /*e*/) override { ++reports; }
  void Terminate() override {}
  int reports = 0;
};

class QtMainWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "main_form_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  static std::unique_ptr<QApplication> app_;
  FakeApplication application;
  testutil::FakeUdpPlatform udp;
};

std::unique_ptr<QApplication> QtMainWindowTest::app_;

std::u16string TextOf(const QPlainTextEdit* memo) {
  return memo != nullptr ? FromQString(memo->toPlainText()) : u"(no widget)";
}

TEST_F(QtMainWindowTest, HiddenLogBoxLaysOutOnlyWhatIsReadOrShown) {
  QtMainWindow window(application, udp, false);
  ITranslatable* lines = window.Design().Find(u"Memo1");
  ASSERT_NE(lines, nullptr);
  // One line of 8 KB: what keeps a text layout busy longest.
  const std::u16string line(8000, u'x');
  window.Form().ShowInLogBox(u"<a/>");
  window.Form().ShowInLogBox(line);
  EXPECT_EQ(window.LogBoxWidget(), nullptr) << "a window never shown has no controls to lay out";
  EXPECT_EQ(lines->GetText(TTextProperty::Lines), line) << "read, it has the last command";

  // Kept while hidden, handed over as the window is shown.
  window.Form().ShowInLogBox(u"<kept/>");
  window.Widget().show();
  ASSERT_NE(window.LogBoxWidget(), nullptr);
  EXPECT_TRUE(window.LogBoxWidget()->isVisible());
  EXPECT_EQ(TextOf(window.LogBoxWidget()), u"<kept/>");
  // Shown, each command goes to the widget at once.
  window.Form().ShowInLogBox(u"<seen/>");
  EXPECT_EQ(TextOf(window.LogBoxWidget()), u"<seen/>");
  // Hidden again: kept, and handed over as it is shown once more.
  window.Widget().hide();
  window.Form().ShowInLogBox(u"<again/>");
  EXPECT_EQ(TextOf(window.LogBoxWidget()), u"<seen/>");
  window.Widget().show();
  EXPECT_EQ(TextOf(window.LogBoxWidget()), u"<again/>");
  window.Widget().hide();
  EXPECT_EQ(application.reports, 0);
}

TEST_F(QtMainWindowTest, ControlsBuiltAtTheFirstShowCarryTheTextsGivenBefore) {
  QtMainWindow window(application, udp, false);
  ITranslatable* label = window.Design().Find(u"TntLabel2");
  ITranslatable* button = window.Design().Find(u"TntButton1");
  ASSERT_NE(label, nullptr);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(label->GetText(TTextProperty::Caption), u"Param1:");
  EXPECT_EQ(button->GetText(TTextProperty::Caption), u"Send");
  button->SetText(TTextProperty::Caption, u"Senden");

  window.Widget().show();
  struct Expected {
    const char* name;
    const char* kind;
    QRect place;
    QString text;
  };
  const Expected controls[] = {
      {"TntLabel1", "QLabel", {8, 32, 34, 13}, "Action:"},
      {"edAction", "QLineEdit", {56, 24, 369, 21}, ""},
      {"TntLabel2", "QLabel", {8, 64, 40, 13}, "Param1:"},
      {"edParam1", "QLineEdit", {56, 56, 369, 21}, ""},
      {"TntLabel3", "QLabel", {8, 96, 40, 13}, "Param2:"},
      {"edParam2", "QLineEdit", {56, 88, 369, 21}, ""},
      {"TntButton1", "QPushButton", {440, 85, 75, 25}, "Senden"},
      {"Memo1", "QPlainTextEdit", {176, 128, 313, 201}, "Memo1"},
  };
  const QList<QWidget*> children =
      window.Widget().findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), static_cast<qsizetype>(std::size(controls)));
  for (std::size_t i = 0; i < std::size(controls); ++i) {
    const Expected& c = controls[i];
    QWidget* child = children[static_cast<qsizetype>(i)];
    EXPECT_EQ(child->objectName(), QLatin1String(c.name)) << "creation order";
    EXPECT_STREQ(child->metaObject()->className(), c.kind) << c.name;
    EXPECT_EQ(child->geometry(), c.place) << c.name;
    EXPECT_TRUE(child->isVisible()) << c.name;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(child)) text = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(child)) text = e->text();
    if (auto* b = qobject_cast<QPushButton*>(child)) text = b->text();
    if (auto* m = qobject_cast<QPlainTextEdit*>(child)) text = m->toPlainText();
    EXPECT_EQ(text, c.text) << c.name;
  }
  // Built, the controls are the texts' home: a caption set now shows.
  label->SetText(TTextProperty::Caption, u"P1:");
  EXPECT_EQ(window.Widget().findChild<QLabel*>(QStringLiteral("TntLabel2"))->text(),
            QStringLiteral("P1:"));
  window.Widget().hide();
  EXPECT_EQ(application.reports, 0);
}

}  // namespace
}  // namespace ostrivane
