// Fakes of the window's platform pieces shared by the app tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "net/udp_platform_fake.h"
#include "relay/mailslot_fake.h"
#include "support/test_util.h"

namespace ostrivane::testutil {

// Merges the calls of the window's socket and mailslot fakes into `log`, in
// the order they are made: "udp close" for each socket closed, and "slot
// open", "slot write", "slot close".
inline void MergeSystemCalls(CallLog& log, FakeUdpPlatform& udp, FakeMailSlotSystem& slots) {
  udp.onCall = [&log](const std::string& call) {
    if (call.rfind("close", 0) == 0) log.Add("udp close");
  };
  slots.onCall = [&log](const std::string& call) {
    log.Add("slot " + call.substr(0, call.find(' ')));
  };
}

// A notification area that records every call; the menu "chooses" the
// entry set in `choose`.
class FakeNotificationArea final : public INotificationArea {
 public:
  struct Call {
    TNotifyOp op;
    std::u16string tip;
    bool hasIcon;
    TGUID guid;
  };

  void Attach(TNotificationIcon& icon) override {
    log.emplace_back("attach");
    attached = &icon;
  }
  void Detach(TNotificationIcon& icon) noexcept override {
    log.emplace_back(attached == &icon ? "detach" : "detach of another icon");
    attached = nullptr;
  }
  bool Notify(TNotifyOp op, const TNotifyIconRecord& record) override {
    calls.push_back({op, record.Tip, record.Icon != nullptr, record.Guid});
    log.push_back(OpName(op));
    if (op == TNotifyOp::Add) shown = true;
    if (op == TNotifyOp::Delete) shown = false;
    if (record.Icon != nullptr) lastIcon = *record.Icon;
    return true;
  }
  [[nodiscard]] bool UsesGuid() const override { return usesGuid; }
  TGUID NewGuid() override {
    log.emplace_back("new guid");
    TGUID guid;
    guid.D1 = ++guidsMade;
    return guid;
  }
  std::optional<TPoint> CursorPos() override {
    log.emplace_back("cursor");
    return cursor;
  }
  void SetForeground() override { log.emplace_back("foreground"); }
  void ProcessMessages() override { log.emplace_back("process"); }
  std::optional<std::size_t> TrackPopupMenu(const TPopupMenu& menu, TPoint at) override {
    log.push_back("track " + std::to_string(at.X) + "," + std::to_string(at.Y));
    menuCaptions.clear();
    for (std::size_t i = 0; i < menu.Count(); ++i) menuCaptions.push_back(menu.Item(i).Caption());
    return choose;
  }
  void WakeMainThread() override { log.emplace_back("wake"); }
  bool ShowBalloon(const TNotifyIconRecord& record, const TBalloonHint& balloon) override {
    log.emplace_back("balloon");
    balloons.push_back(balloon);
    balloonTips.push_back(record.Tip);
    return true;
  }

  static std::string OpName(TNotifyOp op) {
    switch (op) {
      case TNotifyOp::Add:
        return "add";
      case TNotifyOp::Modify:
        return "modify";
      case TNotifyOp::Delete:
        return "delete";
      case TNotifyOp::SetVersion:
        return "version";
    }
    return "?";
  }

  std::vector<Call> calls;
  std::vector<std::string> log;
  std::vector<std::u16string> menuCaptions;
  std::vector<TBalloonHint> balloons;
  std::vector<std::u16string> balloonTips;  // the hint each balloon came with
  std::optional<TPoint> cursor = TPoint{300, 200};
  std::optional<std::size_t> choose;
  bool usesGuid = false;
  bool shown = false;
  TNotificationIcon* attached = nullptr;
  std::uint32_t guidsMade = 0;
  TIconImage lastIcon;
};

// A firewall whose verdict the test sets. Each Verdict() is counted; Allow
// keeps its `done` for the test to run (RunAllowDone), as the system's
// would after the user answered.
class FakeFirewall final : public IFirewall {
 public:
  TFirewallVerdict Verdict() noexcept override {
    ++checks;
    return verdict;
  }
  void Allow(std::function<void()> done) override {
    ++allows;
    pending.push_back(std::move(done));
  }
  // Ends the oldest attempt, with `after` as the verdict from then on.
  void RunAllowDone(TFirewallVerdict after) {
    verdict = after;
    auto done = std::move(pending.front());
    pending.erase(pending.begin());
    done();
  }

  TFirewallVerdict verdict = TFirewallVerdict::NotKnown;
  int checks = 0;
  int allows = 0;
  std::vector<std::function<void()>> pending;
};

// A translatable component with any set of text properties; records sets.
class FakeComponent final : public ITranslatable {
 public:
  FakeComponent(std::string name, std::vector<std::string>& sets,
                std::map<TTextProperty, std::u16string> initial)
      : name_(std::move(name)), sets_(sets), texts(std::move(initial)) {}
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty p) const override {
    const auto it = texts.find(p);
    if (it == texts.end()) return std::nullopt;
    return it->second;
  }
  void SetText(TTextProperty p, std::u16string_view text) override {
    texts[p] = text;
    sets_.push_back(name_ + "." + std::to_string(static_cast<int>(p)));
  }
  [[nodiscard]] std::optional<int> FontCharset() const override { return charset; }
  void SetFontCharset(int c) override {
    charset = c;
    sets_.push_back(name_ + ".charset");
  }
  [[nodiscard]] bool ParentFont() const override { return parentFont; }

  std::optional<int> charset;
  bool parentFont = false;

 private:
  std::string name_;
  std::vector<std::string>& sets_;

 public:
  std::map<TTextProperty, std::u16string> texts;
};

// The main window's design components as fakes.
class FakeDesign final : public IDesignComponents {
 public:
  explicit FakeDesign(std::vector<std::string>& sets)
      : window(
            "TMainForm", sets,
            {{TTextProperty::Caption, u"MainForm"}, {TTextProperty::FontName, u"MS Shell Dlg 2"}}),
        label1("TntLabel1", sets, {{TTextProperty::Caption, u"Action:"}}),
        button("TntButton1", sets, {{TTextProperty::Caption, u"Send"}}),
        memo("Memo1", sets, {{TTextProperty::Lines, u"Memo1"}}) {
    window.charset = 1;
  }
  ITranslatable* Find(std::u16string_view name) override {
    if (name == u"TMainForm") return &window;
    if (name == u"TntLabel1") return &label1;
    if (name == u"TntButton1") return &button;
    if (name == u"Memo1") return &memo;
    return nullptr;
  }
  FakeComponent window, label1, button, memo;
};

}  // namespace ostrivane::testutil
