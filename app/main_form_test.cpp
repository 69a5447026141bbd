#include "app/main_form.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

#include "app/test_fakes.h"
#include "net/udp_platform_fake.h"
#include "relay/mailslot_fake.h"
#include "support/ansi.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

using namespace std::chrono_literals;

class FakeText : public ITextControl {
 public:
  [[nodiscard]] std::u16string Text() const override { return text; }
  void SetText(std::u16string_view t) override { text = t; }
  std::u16string text;
};

// A control that counts the texts it is given, and may be hidden.
class CountingText : public FakeText {
 public:
  void SetText(std::u16string_view t) override {
    FakeText::SetText(t);
    ++sets;
  }
  [[nodiscard]] bool Visible() const override { return visible; }
  int sets = 0;
  bool visible = false;
};

class FakeApplication : public IApplication {
 public:
  void ShowException(const std::exception& e) override { reports.emplace_back(e.what()); }
  void Terminate() override { ++terminated; }
  std::vector<std::string> reports;
  int terminated = 0;
};

class MainFormTest : public testing::Test {
 protected:
  void SetUp() override {
    MainThread::Attach();
    udp.addresses = {{false, "10.0.0.5"}};
    slots.slotExists = true;
    testutil::MergeSystemCalls(log, udp, slots);
  }

  std::unique_ptr<TMainForm> MakeForm() {
    auto form = std::make_unique<TMainForm>(
        TMainForm::Controls{action, param1, param2, memo, design, area}, app, udp, slots);
    form->IsGermanUI = [this] {
      ++languageChoices;
      return german;
    };
    return form;
  }

  testutil::CallLog log;
  FakeText action, param1, param2, memo;
  FakeApplication app;
  testutil::FakeUdpPlatform udp;
  testutil::FakeMailSlotSystem slots;
  std::vector<std::string> designSets;
  testutil::FakeDesign design{designSets};
  testutil::FakeNotificationArea area;
  int languageChoices = 0;
  bool german = true;
};

TEST_F(MainFormTest, CreationActivatesTheReceiverAndOpensNoSlot) {
  auto form = MakeForm();
  EXPECT_EQ(memo.text, u"Memo1");
  form->Create();
  EXPECT_TRUE(app.reports.empty());
  ASSERT_NE(form->Receiver(), nullptr);
  EXPECT_TRUE(form->Receiver()->Active());
  ASSERT_NE(form->Messenger(), nullptr);
  EXPECT_EQ(languageChoices, 1);
  EXPECT_TRUE(log.Get().empty()) << "the slot is opened by the first write only";
}

TEST_F(MainFormTest, ReceiverFailureIsReportedOnceAndSkipsTheLanguageChoice) {
  udp.failOn = "bind";
  auto form = MakeForm();
  form->Create();
  ASSERT_EQ(app.reports.size(), 1U);
  EXPECT_EQ(app.reports[0], "Could not bind socket. Address and port are already in use.");
  EXPECT_EQ(languageChoices, 0);
  EXPECT_FALSE(form->Receiver()->Active());
  // The program runs on: the relay still writes.
  form->ReceiverReceiveXML(*form->Receiver(), u"<a/>");
  EXPECT_EQ(slots.delivered, std::vector<std::string>{"<a/>"});
}

TEST_F(MainFormTest, RelayedCommandsReplaceTheLogAndBecomeOneMessageEach) {
  auto form = MakeForm();
  form->Create();
  form->ReceiverReceiveXML(*form->Receiver(), u"first");
  form->ReceiverReceiveXML(*form->Receiver(), u"Gr\u00FC\u00DFe \u20AC \u0416");
  EXPECT_EQ(memo.text, u"Gr\u00FC\u00DFe \u20AC \u0416");
  EXPECT_EQ(slots.delivered, (std::vector<std::string>{"first",
                                                       "Gr\xFC\xDF"
                                                       "e \x80 ?"}));
}

TEST_F(MainFormTest, WithoutSlotTheLogIsStillUpdatedAndNothingIsReported) {
  slots.slotExists = false;
  auto form = MakeForm();
  form->Create();
  EXPECT_EQ(TLVSyncClass::Update(u"lost"), u"OK");
  EXPECT_EQ(memo.text, u"lost");
  EXPECT_TRUE(slots.delivered.empty());
  EXPECT_TRUE(app.reports.empty());
}

TEST_F(MainFormTest, UpdateFromAnotherThreadWaitsForTheMainThread) {
  auto form = MakeForm();
  form->Create();
  std::u16string result;
  ServedThread worker([&] { result = TLVSyncClass::Update(u"from afar"); });
  worker.WaitFor();
  EXPECT_EQ(result, u"OK");
  EXPECT_EQ(memo.text, u"from afar");
  EXPECT_EQ(slots.delivered, std::vector<std::string>{"from afar"});
}

TEST_F(MainFormTest, SendButtonWritesTheDocumentOfTheEditBoxes) {
  auto form = MakeForm();
  form->Create();
  action.text = u"Next";
  param1.text = u"1";
  form->TntButton1Click();
  EXPECT_TRUE(app.reports.empty());
  EXPECT_EQ(slots.delivered,
            std::vector<std::string>{"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
                                     "<LyravoxIPC><Remote><Next Param1=\"1\" Param2=\"\"/>"
                                     "</Remote></LyravoxIPC>\n"});
  EXPECT_EQ(action.text, u"Next") << "the edit boxes keep their texts";
}

TEST_F(MainFormTest, RefusedActionIsReportedAndWritesNothing) {
  auto form = MakeForm();
  form->Create();
  action.text = u"two words";
  form->TntButton1Click();
  EXPECT_TRUE(slots.delivered.empty());
  ASSERT_EQ(app.reports.size(), 1U);
  EXPECT_EQ(app.reports[0], "Illegal character in node name \"two words\"");
}

TEST_F(MainFormTest, ShutdownReleasesTheWriterBeforeTheReceiver) {
  auto form = MakeForm();
  form->Create();
  form->ReceiverReceiveXML(*form->Receiver(), u"opens the slot");
  form->Destroy();
  const auto calls = log.Get();
  const auto slotClose = std::find(calls.begin(), calls.end(), "slot close");
  const auto udpClose = std::find(calls.begin(), calls.end(), "udp close");
  ASSERT_NE(slotClose, calls.end());
  ASSERT_NE(udpClose, calls.end());
  EXPECT_LT(slotClose, udpClose);
}

TEST_F(MainFormTest, AfterTheWriterIsGoneCommandsAreShownButNotWritten) {
  auto form = MakeForm();
  form->Create();
  form->FormDestroy();
  EXPECT_EQ(form->Messenger(), nullptr);
  EXPECT_EQ(TLVSyncClass::Update(u"late"), u"OK");
  EXPECT_EQ(memo.text, u"late");
  EXPECT_TRUE(slots.delivered.empty());
}

TEST_F(MainFormTest, ExitItemEndsTheLoop) {
  auto form = MakeForm();
  form->btnCloseClick();
  EXPECT_EQ(app.terminated, 1);
}

TEST_F(MainFormTest, DesignShowsTheIconWithHintAndLinksImageAndMenu) {
  auto form = MakeForm();
  using Strings = std::vector<std::string>;
  Strings ops;
  for (const auto& c : area.calls) ops.push_back(testutil::FakeNotificationArea::OpName(c.op));
  // Hint, own image, shown, index, list linked, loaded: once more, version.
  EXPECT_EQ(ops,
            (Strings{"modify", "modify", "add", "modify", "modify", "modify", "add", "version"}));
  ASSERT_GE(area.calls.size(), 3U);
  EXPECT_EQ(area.calls[2].tip, u"Lyravox Remote Server");
  EXPECT_TRUE(area.calls[2].hasIcon);
  const auto configured = ParseGuid(kTrayIconGuid);
  for (const auto& call : area.calls) EXPECT_TRUE(call.guid == *configured);
  EXPECT_TRUE(area.shown);
  ASSERT_EQ(form->ImageList1.Count(), 1);
  const TBitmap32& first = form->ImageList1.Get(0).Sizes().front();
  EXPECT_EQ(first.Width, 16);
  EXPECT_EQ(first.Height, 16);
  EXPECT_EQ(form->CoolTrayIcon1->Icon(), form->ImageList1.Get(0));
  EXPECT_EQ(area.lastIcon, form->ImageList1.Get(0));
  EXPECT_EQ(form->CoolTrayIcon1->PopupMenu(), &form->PopupMenu1);
  ASSERT_EQ(form->PopupMenu1.Count(), 1U);
  EXPECT_EQ(form->PopupMenu1.Item(0).Name(), u"btnClose");
  EXPECT_EQ(form->PopupMenu1.Item(0).Caption(), u"&Beenden");
  EXPECT_FALSE(form->PopupMenu1.Item(0).Default);
  EXPECT_EQ(form->siLangDispatcher1.Language(), u"German");
  EXPECT_EQ(form->siLang1->LangDispatcher(), &form->siLangDispatcher1);
}

TEST_F(MainFormTest, EnglishInterfaceChangesOnlyTheMenuEntry) {
  german = false;
  auto form = MakeForm();
  const auto callsBefore = area.calls.size();
  std::vector<std::u16string> menuChanges;
  form->PopupMenu1.OnChange = [&](TMenuItem& item) { menuChanges.push_back(item.Caption()); };
  form->Create();
  EXPECT_EQ(menuChanges, std::vector<std::u16string>{u"Exit"}) << "the menu hears of the switch";
  EXPECT_EQ(languageChoices, 1);
  EXPECT_EQ(form->siLangDispatcher1.ActiveLanguage(), 2);
  EXPECT_EQ(form->siLangDispatcher1.Language(), u"English");
  EXPECT_EQ(form->PopupMenu1.Item(0).Caption(), u"Exit");
  EXPECT_EQ(form->CoolTrayIcon1->Hint(), u"Lyravox Remote Server");
  EXPECT_EQ(area.calls.size(), callsBefore) << "the tray icon is not touched";
  EXPECT_TRUE(designSets.empty()) << designSets.front();
}

TEST_F(MainFormTest, GermanInterfaceOrFailedStartKeepsTheDesignLanguage) {
  {
    auto form = MakeForm();
    form->Create();
    EXPECT_EQ(form->PopupMenu1.Item(0).Caption(), u"&Beenden");
  }
  german = false;
  udp.failOn = "bind";
  auto form = MakeForm();
  form->Create();
  EXPECT_EQ(languageChoices, 1) << "not asked after the receiver failed";
  EXPECT_EQ(form->siLangDispatcher1.ActiveLanguage(), 1);
  EXPECT_EQ(form->PopupMenu1.Item(0).Caption(), u"&Beenden");
}

// A notice of the network watch and the look when it is due, as the
// shell's timer makes it.
void NoticeAndLook(TMainForm& form, TNetworkWatch::Clock::time_point now) {
  ASSERT_NE(form.NetworkWatch(), nullptr);
  const auto delay = form.NetworkWatch()->Changed(now);
  EXPECT_EQ(form.NetworkWatch()->Check(now + delay), std::nullopt);
}

TEST_F(MainFormTest, NetworkChangeActivatesTheReceiverOnTheNewAddressWithoutReport) {
  auto form = MakeForm();
  form->Create();
  const auto* receiver = form->Receiver();
  udp.addresses = {{false, "10.0.0.9", 3}};
  NoticeAndLook(*form, TNetworkWatch::Clock::now());
  EXPECT_EQ(form->Receiver(), receiver) << "the same receiver, activated again";
  EXPECT_TRUE(receiver->Active());
  ASSERT_TRUE(receiver->ChosenAddress().has_value());
  EXPECT_EQ(receiver->ChosenAddress()->address, "10.0.0.9");
  EXPECT_TRUE(app.reports.empty());
}

TEST_F(MainFormTest, OnlyTheStartUpFailureIsReportedAndANetworkChangeRetries) {
  udp.failOn = "bind";
  auto form = MakeForm();
  form->Create();
  ASSERT_EQ(app.reports.size(), 1U);
  const auto now = TNetworkWatch::Clock::now();
  NoticeAndLook(*form, now);
  EXPECT_FALSE(form->Receiver()->Active());
  EXPECT_EQ(app.reports.size(), 1U) << "a failed look is not reported";
  udp.failOn.clear();
  NoticeAndLook(*form, now + 1h);
  EXPECT_TRUE(form->Receiver()->Active());
  EXPECT_EQ(app.reports.size(), 1U);
}

TEST_F(MainFormTest, NetworkNoticesMeanNothingBeforeCreationAndAfterShutdown) {
  auto form = MakeForm();
  EXPECT_EQ(form->NetworkChanged(), std::nullopt);
  EXPECT_EQ(form->CheckNetwork(), std::nullopt);
  form->Create();
  EXPECT_EQ(form->NetworkChanged(), kNetworkQuietPeriod);
  // Shutdown with the look waiting: the look is dropped with the receiver.
  udp.addresses = {{false, "10.0.0.9", 3}};
  const int sockets = udp.Created();
  form->Destroy();
  EXPECT_EQ(form->NetworkWatch(), nullptr);
  EXPECT_EQ(form->CheckNetwork(), std::nullopt);
  EXPECT_EQ(form->NetworkChanged(), std::nullopt);
  EXPECT_EQ(udp.Created(), sockets) << "nothing activated on the way out";
  EXPECT_EQ(udp.OpenSockets(), 0);
}

TEST_F(MainFormTest, TrayMenuEntryClosesTheWindowAndTheIconGoesLast) {
  auto form = MakeForm();
  form->Create();
  area.choose = 0;
  form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(area.menuCaptions, std::vector<std::u16string>{u"&Beenden"});
  EXPECT_EQ(app.terminated, 1);
  form->Destroy();
  EXPECT_FALSE(area.shown);
  ASSERT_GE(area.log.size(), 2U);
  // The icon leaves the area, then the object lets go of the area.
  EXPECT_EQ((std::vector<std::string>(area.log.end() - 2, area.log.end())),
            (std::vector<std::string>{"delete", "detach"}));
  EXPECT_FALSE(form->Receiver()) << "the receiver went before";
}

TEST(LogBoxTest, HiddenControlIsGivenOnlyTheLastTextAndOnlyWhenRead) {
  CountingText control;
  control.text = u"Memo1";
  TLogBox logBox(control);
  const std::u16string last(8000, u'\u00E9');
  for (const std::u16string& text : {std::u16string(u"<a/>"), std::u16string(u"<b/>"), last}) {
    logBox.SetText(text);
  }
  EXPECT_EQ(control.sets, 0) << "nothing is laid out for a hidden control";
  EXPECT_EQ(control.text, u"Memo1");
  EXPECT_TRUE(logBox.Keeping());
  EXPECT_EQ(logBox.Text(), last) << "reading gives the last text in full";
  EXPECT_EQ(control.text, last);
  EXPECT_EQ(control.sets, 1);
  EXPECT_FALSE(logBox.Keeping());
  EXPECT_EQ(logBox.Text(), last);
  logBox.Realize();
  EXPECT_EQ(control.sets, 1) << "handed over once";
}

TEST(LogBoxTest, WhatTheControlIsGivenAndWhen) {
  enum class Step { Set, Take, Show, Hide, Realize, ReplacePast };
  struct Case {
    const char* name;
    std::vector<std::pair<Step, std::u16string>> steps;
    std::u16string controlText;  // the control's text after the steps
    int sets;                    // texts the control was given
    std::u16string read;         // what reading the log box then gives
  };
  const Case cases[] = {
      {"a visible control is given each text at once",
       {{Step::Show, u""}, {Step::Set, u"a"}, {Step::Set, u"b"}},
       u"b",
       2,
       u"b"},
      {"a kept text is handed over as the control is shown",
       {{Step::Set, u"a"}, {Step::Set, u"b"}, {Step::Show, u""}, {Step::Realize, u""}},
       u"b",
       1,
       u"b"},
      {"once shown, texts go at once; hidden again, they are kept",
       {{Step::Show, u""}, {Step::Set, u"a"}, {Step::Hide, u""}, {Step::Set, u"b"}},
       u"a",
       1,
       u"b"},
      {"without a kept text, realizing gives the control nothing",
       {{Step::Realize, u""}, {Step::Show, u""}, {Step::Realize, u""}},
       u"Memo1",
       0,
       u"Memo1"},
      {"a text set past the log box is the last one: the kept one is dropped",
       {{Step::Set, u"a"}, {Step::ReplacePast, u"typed"}, {Step::Realize, u""}},
       u"typed",
       1,
       u"typed"},
      {"a text taken over is kept like a text set",
       {{Step::Take, u"a"}, {Step::Take, u"b"}, {Step::Show, u""}, {Step::Realize, u""}},
       u"b",
       1,
       u"b"},
      {"a visible control is given a text taken over at once",
       {{Step::Show, u""}, {Step::Take, u"a"}, {Step::Hide, u""}, {Step::Take, u"b"}},
       u"a",
       1,
       u"b"},
      {"a visible control's text replaces a kept one",
       {{Step::Set, u"a"}, {Step::Show, u""}, {Step::Set, u"b"}, {Step::Realize, u""}},
       u"b",
       1,
       u"b"},
  };
  for (const Case& c : cases) {
    CountingText control;
    control.text = u"Memo1";
    TLogBox logBox(control);
    for (const auto& [step, text] : c.steps) {
      switch (step) {
        case Step::Set:
          logBox.SetText(text);
          break;
        case Step::Take:
          logBox.TakeText(text);
          break;
        case Step::Show:
          control.visible = true;
          break;
        case Step::Hide:
          control.visible = false;
          break;
        case Step::Realize:
          logBox.Realize();
          break;
        case Step::ReplacePast:
          control.SetText(text);
          logBox.Forget();
          break;
      }
    }
    EXPECT_EQ(control.text, c.controlText) << c.name;
    EXPECT_EQ(control.sets, c.sets) << c.name;
    EXPECT_EQ(logBox.Text(), c.read) << c.name;
    EXPECT_EQ(control.text, c.read) << c.name;
  }
}

TEST_F(MainFormTest, RelayingThroughAHiddenLogBoxWritesEveryCommandAndKeepsTheLast) {
  CountingText hidden;
  TLogBox logBox(hidden);
  auto form = std::make_unique<TMainForm>(
      TMainForm::Controls{action, param1, param2, logBox, design, area}, app, udp, slots);
  form->IsGermanUI = [] { return true; };
  form->Create();
  const std::u16string big = u"<c>" + std::u16string(7993, u'x') + u"</c>";
  for (const std::u16string& command : {std::u16string(u"<a/>"), std::u16string(u"<b/>"), big}) {
    form->ReceiverReceiveXML(*form->Receiver(), command);
  }
  EXPECT_EQ(hidden.sets, 0);
  EXPECT_EQ(slots.delivered.size(), 3U);
  EXPECT_EQ(slots.delivered.back(), ToAnsi(big));
  EXPECT_EQ(logBox.Text(), big);
  EXPECT_EQ(hidden.text, big);
}

}  // namespace
}  // namespace ostrivane
