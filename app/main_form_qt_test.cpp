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

TEST_F(QtMainWindowTest, HiddenLogBoxLaysOutOnlyWhatIsReadOrShown) {
  QtMainWindow window(application, udp, false);
  QPlainTextEdit& widget = window.LogBoxWidget();
  ITranslatable* lines = window.Design().Find(u"Memo1");
  ASSERT_NE(lines, nullptr);
  EXPECT_EQ(lines->GetText(TTextProperty::Lines), u"Memo1") << "the design's text";

  // One line of 8 KB: what keeps a text layout busy longest.
  const std::u16string line(8000, u'x');
  window.Form().ShowInLogBox(u"<a/>");
  window.Form().ShowInLogBox(line);
  EXPECT_EQ(FromQString(widget.toPlainText()), u"Memo1") << "the hidden widget was given nothing";
  EXPECT_EQ(lines->GetText(TTextProperty::Lines), line) << "read, it has the last command";
  EXPECT_EQ(FromQString(widget.toPlainText()), line);

  // Kept while hidden, handed over as the window is shown.
  window.Form().ShowInLogBox(u"<kept/>");
  EXPECT_EQ(FromQString(widget.toPlainText()), line);
  window.Widget().show();
  EXPECT_EQ(FromQString(widget.toPlainText()), u"<kept/>");
  // Shown, each command goes to the widget at once.
  window.Form().ShowInLogBox(u"<seen/>");
  EXPECT_EQ(FromQString(widget.toPlainText()), u"<seen/>");
  window.Widget().hide();
  EXPECT_EQ(application.reports, 0);
}

}  // namespace
}  // namespace ostrivane
