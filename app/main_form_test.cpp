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
        TMainForm::Controls{action, param1, param2, memo, design, area}, app, udp, slots, firewall);
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
  testutil::FakeFirewall firewall;
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

TEST_F(MainFormTest, EnglishInterfaceChangesOnlyTheMenuEntryAndTheHintsStatusLine) {
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
  EXPECT_EQ(form->CoolTrayIcon1->Hint(), u"Lyravox Remote Server\nListening on 10.0.0.5");
  // The status line comes once, already in the chosen language.
  ASSERT_EQ(area.calls.size(), callsBefore + 1);
  EXPECT_EQ(area.calls.back().op, TNotifyOp::Modify);
  EXPECT_EQ(area.calls.back().tip, u"Lyravox Remote Server\nListening on 10.0.0.5");
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

// The names of the menu's entries, in order.
std::vector<std::u16string> EntryNames(const TPopupMenu& menu) {
  std::vector<std::u16string> names;
  for (std::size_t i = 0; i < menu.Count(); ++i) names.push_back(menu.Item(i).Name());
  return names;
}

// The hint's second line, or the whole hint when it has one line.
std::u16string StatusLine(const std::u16string& hint) {
  const auto newline = hint.find(u'\n');
  return newline == std::u16string::npos ? hint : hint.substr(newline + 1);
}

// A look at the network that is due now, as the shell's timer makes it.
void LookNow(TMainForm& form) {
  ASSERT_NE(form.NetworkWatch(), nullptr);
  form.NetworkWatch()->Changed(TNetworkWatch::Clock::now() - 1h);
  EXPECT_EQ(form.CheckNetwork(), std::nullopt);
}

TEST_F(MainFormTest, FirewallVerdictsGiveTheMenuAndOneBalloonPerBlockedEpisode) {
  using V = TFirewallVerdict;
  using Names = std::vector<std::u16string>;
  const Names one{u"btnClose"};
  const Names two{u"btnFirewall", u"btnClose"};
  struct Case {
    const char* name;
    std::vector<V> verdicts;            // at creation, then at each opening of the menu
    std::vector<Names> menus;           // the menu after each check
    std::vector<std::size_t> balloons;  // balloons shown so far, after each check
  };
  const Case cases[] = {
      {"not known", {V::NotKnown, V::NotKnown}, {one, one}, {0, 0}},
      {"allowed", {V::Allowed, V::Allowed}, {one, one}, {0, 0}},
      {"blocked, blocked again: one balloon", {V::Blocked, V::Blocked}, {two, two}, {1, 1}},
      {"allowed between: a new episode",
       {V::Blocked, V::Allowed, V::Blocked},
       {two, one, two},
       {1, 1, 2}},
      {"not known between: the same episode",
       {V::Blocked, V::NotKnown, V::Blocked},
       {two, one, two},
       {1, 1, 1}},
      {"blocked only from a later check on", {V::Allowed, V::Blocked}, {one, two}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    area = testutil::FakeNotificationArea();
    firewall = testutil::FakeFirewall();
    auto form = MakeForm();
    for (std::size_t i = 0; i < c.verdicts.size(); ++i) {
      firewall.verdict = c.verdicts[i];
      if (i == 0) {
        form->Create();
      } else {
        form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
        // The menu as it opened: after the check.
        std::vector<std::u16string> shown;
        for (const auto& name : c.menus[i]) shown.push_back(form->PopupMenu1.Find(name)->Caption());
        EXPECT_EQ(area.menuCaptions, shown) << "check " << i;
      }
      EXPECT_EQ(firewall.checks, static_cast<int>(i + 1)) << "one check per occasion";
      EXPECT_EQ(EntryNames(form->PopupMenu1), c.menus[i]) << "check " << i;
      EXPECT_EQ(area.balloons.size(), c.balloons[i]) << "check " << i;
    }
  }
}

TEST_F(MainFormTest, BlockedBalloonAndEntrySpeakTheInterfaceLanguage) {
  firewall.verdict = TFirewallVerdict::Blocked;
  for (const bool inGerman : {true, false}) {
    SCOPED_TRACE(inGerman ? "German" : "English");
    german = inGerman;
    area = testutil::FakeNotificationArea();
    auto form = MakeForm();
    form->Create();
    ASSERT_EQ(area.balloons.size(), 1U);
    const TBalloonHint& balloon = area.balloons[0];
    EXPECT_EQ(balloon.Icon, TBalloonIcon::Warning);
    EXPECT_EQ(balloon.Title,
              inGerman ? u"Fernbefehle werden blockiert" : u"Remote commands are blocked");
    EXPECT_NE(balloon.Text.find(inGerman ? u"Die Firewall blockiert die Fernbefehle"
                                         : u"The firewall blocks the remote commands"),
              std::u16string::npos);
    // It names the entry that helps, as the menu shows it.
    EXPECT_NE(balloon.Text.find(inGerman ? u"Durch die Firewall lassen\u2026"
                                         : u"Allow through firewall\u2026"),
              std::u16string::npos);
    ASSERT_EQ(form->PopupMenu1.Count(), 2U);
    EXPECT_EQ(form->PopupMenu1.Item(0).Caption(),
              inGerman ? u"Durch die &Firewall lassen\u2026" : u"Allow through firewall\u2026");
    EXPECT_EQ(form->PopupMenu1.Item(1).Caption(), inGerman ? u"&Beenden" : u"Exit");
    // The balloon belongs to the icon as it is shown, status line included.
    EXPECT_EQ(area.balloonTips[0], form->CoolTrayIcon1->Hint());
  }
}

TEST_F(MainFormTest, TheFirewallEntryAllowsAndTheEndOfTheAttemptChecksAgain) {
  firewall.verdict = TFirewallVerdict::Blocked;
  auto form = MakeForm();
  form->Create();
  area.choose = 0;  // the entry before the exit entry
  form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(firewall.allows, 1);
  EXPECT_EQ(app.terminated, 0);
  const int checks = firewall.checks;
  // A second choice while the first attempt runs starts no second one.
  form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(firewall.allows, 1);
  ASSERT_EQ(firewall.pending.size(), 1U);
  const int checksBeforeDone = firewall.checks;
  EXPECT_EQ(checksBeforeDone, checks + 1) << "only the menu's opening asked";
  firewall.RunAllowDone(TFirewallVerdict::Allowed);
  EXPECT_EQ(firewall.checks, checksBeforeDone + 1) << "asked again when the attempt ended";
  EXPECT_EQ(EntryNames(form->PopupMenu1), std::vector<std::u16string>{u"btnClose"});
  EXPECT_EQ(StatusLine(form->CoolTrayIcon1->Hint()), u"Empf\u00E4ngt auf 10.0.0.5");
  // The attempt has ended: the entry, once it is back, works again.
  firewall.verdict = TFirewallVerdict::Blocked;
  form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(firewall.allows, 2);
  // An attempt that ends after the window went changes nothing.
  form->Destroy();
  const int checksAtEnd = firewall.checks;
  firewall.RunAllowDone(TFirewallVerdict::Allowed);
  form.reset();
  EXPECT_EQ(firewall.checks, checksAtEnd);
}

TEST_F(MainFormTest, EachLookAtTheNetworkAsksTheFirewallOnce) {
  auto form = MakeForm();
  form->Create();
  EXPECT_EQ(firewall.checks, 1);
  // A notice alone, and a timer that comes early, ask nothing.
  EXPECT_EQ(form->NetworkChanged(), kNetworkQuietPeriod);
  EXPECT_NE(form->CheckNetwork(), std::nullopt);
  EXPECT_EQ(firewall.checks, 1);
  firewall.verdict = TFirewallVerdict::Blocked;
  LookNow(*form);
  EXPECT_EQ(firewall.checks, 2);
  EXPECT_EQ(area.balloons.size(), 1U);
  EXPECT_EQ(form->CheckNetwork(), std::nullopt) << "no look without a notice";
  EXPECT_EQ(firewall.checks, 2);
}

TEST_F(MainFormTest, TheHintsSecondLineFollowsTheReceiverAndTheVerdict) {
  using V = TFirewallVerdict;
  struct Case {
    const char* name;
    bool german;
    std::vector<LocalAddress> addresses;
    bool bindFails;
    V verdict;
    std::u16string line;
  };
  const Case cases[] = {
      {"listening",
       true,
       {{false, "192.168.1.20"}},
       false,
       V::NotKnown,
       u"Empf\u00E4ngt auf 192.168.1.20"},
      {"listening",
       false,
       {{false, "192.168.1.20"}},
       false,
       V::Allowed,
       u"Listening on 192.168.1.20"},
      {"no address", true, {}, false, V::NotKnown, u"Wartet auf ein Netzwerk"},
      {"no address", false, {{true, "fe80::1"}}, false, V::NotKnown, u"Waiting for a network"},
      {"blocked", true, {{false, "10.0.0.5"}}, false, V::Blocked, u"Von der Firewall blockiert"},
      {"blocked", false, {{false, "10.0.0.5"}}, false, V::Blocked, u"Blocked by the firewall"},
      {"no address, blocked", false, {}, false, V::Blocked, u"Waiting for a network"},
      // The failed start leaves the interface German.
      {"not active", false, {{false, "10.0.0.5"}}, true, V::NotKnown, u"Wartet auf ein Netzwerk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.german ? " (German)" : " (English)"));
    german = c.german;
    udp.addresses = c.addresses;
    udp.failOn = c.bindFails ? "bind" : "";
    firewall.verdict = c.verdict;
    area = testutil::FakeNotificationArea();
    auto form = MakeForm();
    form->Create();
    const std::u16string hint = form->CoolTrayIcon1->Hint();
    EXPECT_EQ(hint, u"Lyravox Remote Server\n" + c.line);
    ASSERT_FALSE(area.calls.empty());
    EXPECT_EQ(area.calls.back().tip, hint) << "the area was told";
  }
}

TEST_F(MainFormTest, TheHintFollowsTheNetworkAndTheVerdictAsTheyChange) {
  german = false;
  auto form = MakeForm();
  form->Create();
  EXPECT_EQ(StatusLine(form->CoolTrayIcon1->Hint()), u"Listening on 10.0.0.5");
  const auto lastTip = [this] { return StatusLine(area.calls.back().tip); };
  udp.addresses = {{false, "172.31.0.7", 4}};
  LookNow(*form);
  EXPECT_EQ(lastTip(), u"Listening on 172.31.0.7");
  udp.addresses = {};
  LookNow(*form);
  EXPECT_EQ(lastTip(), u"Waiting for a network");
  udp.addresses = {{false, "10.0.0.9", 5}};
  LookNow(*form);
  EXPECT_EQ(lastTip(), u"Listening on 10.0.0.9");
  firewall.verdict = TFirewallVerdict::Blocked;
  form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
  EXPECT_EQ(lastTip(), u"Blocked by the firewall");
  // Nothing changed: the area is not told again.
  const auto calls = area.calls.size();
  form->CoolTrayIcon1->HandleIconMessage(TIconMessage::RButtonDown);
  LookNow(*form);
  EXPECT_EQ(area.calls.size(), calls);
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
