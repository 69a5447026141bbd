#include "app/main_form.h"

#include <utility>

#include "relay/mailslot.h"
#include "relay/remote_command.h"
#include "support/ansi.h"
#include "support/dutil.h"

namespace ostrivane {
namespace {

// Stands in for a design component the platform did not build.
class NoTexts final : public ITranslatable {
 public:
  [[nodiscard]] std::optional<std::u16string> GetText(TTextProperty) const override {
    return std::nullopt;
  }
  void SetText(TTextProperty, std::u16string_view) override {}
};

}  // namespace

std::u16string TLogBox::Text() const {
  Realize();
  return control_.Text();
}

void TLogBox::SetText(std::u16string_view text) {
  if (control_.Visible()) {
    Forget();
    control_.SetText(text);
    return;
  }
  // assign() reuses the kept text's storage: no allocation per command
  // once the longest has been seen.
  kept_.assign(text);
  keeping_ = true;
}

void TLogBox::TakeText(std::u16string text) {
  if (control_.Visible()) {
    SetText(text);
    return;
  }
  kept_ = std::move(text);
  keeping_ = true;
}

void TLogBox::Realize() const {
  if (!keeping_) return;
  // Cleared first: the control may report the new text back through Forget.
  keeping_ = false;
  control_.SetText(kept_);
}

void TLogBox::Forget() noexcept { keeping_ = false; }

std::vector<TTranslationEntry> MainFormTranslationData() {
  using K = TEntryKind;
  return {
      {K::Caption, u"TMainForm", {u"MainForm", u""}},
      {K::Caption, u"TntLabel1", {u"Action:", u""}},
      {K::Caption, u"TntLabel2", {u"Param1:", u""}},
      {K::Caption, u"TntLabel3", {u"Param2:", u""}},
      {K::Caption, u"TntButton1", {u"Send", u""}},
      {K::Caption, u"btnClose", {u"&Beenden", u"Exit"}},
      {K::Hint, u"CoolTrayIcon1", {kTrayHint, kTrayHint}},
      {K::Font, u"TMainForm", {u"MS Shell Dlg 2", u""}},
      {K::MultiLine, u"Memo1.Lines", {u"Memo1", u""}},
      {K::Charset, u"TMainForm", {u"DEFAULT_CHARSET", u""}},
  };
}

TMainForm::TMainForm(Controls controls, IApplication& application, IUdpPlatform& udp,
                     IMailSlotSystem& mailslots, IFirewall& firewall)
    : IsGermanUI([] { return IsGermanUILanguage(); }),
      controls_(controls),
      application_(application),
      udp_(udp),
      mailslots_(mailslots),
      firewall_(firewall) {
  // The design, in the order it loads.
  controls_.Memo1.SetText(u"Memo1");

  // The tray icon is shown while it loads, with its own image and hint. Its
  // GUID is set first, so that the area knows the icon by that one GUID
  // from its first appearance on.
  const TIconImage icon = ProgramIcon();
  CoolTrayIcon1 = std::make_unique<TNotificationIcon>(controls_.NotificationArea);
  CoolTrayIcon1->SetGuid(kTrayIconGuid);
  CoolTrayIcon1->SetHint(kTrayHint);
  CoolTrayIcon1->SetIcon(icon);
  CoolTrayIcon1->SetIconVisible(true);
  CoolTrayIcon1->SetIconIndex(0);
  ImageList1.Add(icon);
  PopupMenu1.Add(u"btnClose", u"&Beenden", [this] { btnCloseClick(); });
  PopupMenu1.OnPopup = [this] { CheckFirewall(); };
  siLang1 = std::make_unique<TTranslationTable>(
      *this, std::vector<std::u16string>{u"German", u"English"}, MainFormTranslationData());

  // Links between the components, once all of them exist.
  CoolTrayIcon1->SetIconList(&ImageList1);
  CoolTrayIcon1->SetPopupMenu(&PopupMenu1);
  siLang1->SetLangDispatcher(&siLangDispatcher1);
  CoolTrayIcon1->Loaded();

  MainForm = this;
}

ITranslatable& TMainForm::Self() {
  static NoTexts none;
  ITranslatable* self = controls_.Design.Find(ClassName());
  return self != nullptr ? *self : none;
}

ITranslatable* TMainForm::FindComponent(std::u16string_view name) {
  if (name == u"CoolTrayIcon1") return CoolTrayIcon1.get();
  if (TMenuItem* item = PopupMenu1.Find(name)) return item;
  return controls_.Design.Find(name);
}

TMainForm::~TMainForm() {
  Destroy();
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::Create() {
  try {
    FormCreate();
  } catch (const std::exception& e) {
    // The hint and the firewall first: the report waits for the user.
    CheckFirewall();
    application_.ShowException(e);
    return;
  }
  // After the language choice, so that the hint speaks the chosen language.
  CheckFirewall();
}

void TMainForm::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    application_.ShowException(e);
  }
  // The components go after FormDestroy: the receiver ends its listener,
  // still handing over what it had read; with the writer gone, such a
  // command is shown but not written. Then the tray icon leaves the
  // notification area. A look at the network that is still waiting is
  // dropped first: nothing activates the receiver again on the way out.
  FNetworkWatch.reset();
  FReceiver.reset();
  CoolTrayIcon1.reset();
  siLang1.reset();
}

void TMainForm::FormCreate() {
  FMessenger = std::make_unique<TMailSlotWriter>(kLyravoxSlotName, mailslots_);
  FReceiver = std::make_unique<TLVUDPReceiver>(udp_);
  FReceiver->SetOnReceiveXML([this](TLVUDPReceiver& Sender, std::u16string XML) {
    ReceiverReceiveXML(Sender, std::move(XML));
  });
  // Before the activation, which may fail: a later change tries again.
  FNetworkWatch = std::make_unique<TNetworkWatch>(*FReceiver);
  FReceiver->SetActive(true);
  if (!IsGermanUI()) siLangDispatcher1.SetActiveLanguage(2);
}

void TMainForm::FormDestroy() {
  auto writer = std::move(FMessenger);
  FMessenger = nullptr;
  writer.reset();  // closes the slot handle
}

void TMainForm::ReceiverReceiveXML(TLVUDPReceiver& /*Sender*/, std::u16string XML) {
  TLVSyncClass::Update(std::move(XML));
}

void TMainForm::TntButton1Click() {
  const std::u16string param2 = controls_.edParam2.Text();
  const std::u16string param1 = controls_.edParam1.Text();
  const std::u16string action = controls_.edAction.Text();
  try {
    SendToLyravox(action, param1, param2);
  } catch (const std::exception& e) {
    application_.ShowException(e);
  }
}

void TMainForm::SendToLyravox(std::u16string_view Action, std::u16string_view Param1,
                              std::u16string_view Param2) {
  const std::string document = BuildRemoteCommandDocument(
      Action, Param1, Param2, [](std::u16string_view text) { return ToAnsi(text); });
  if (FMessenger) FMessenger->WriteString(document);
}

void TMainForm::btnCloseClick() { application_.Terminate(); }

std::optional<std::chrono::milliseconds> TMainForm::NetworkChanged() {
  if (!FNetworkWatch) return std::nullopt;
  return FNetworkWatch->Changed(TNetworkWatch::Clock::now());
}

std::optional<std::chrono::milliseconds> TMainForm::CheckNetwork() {
  if (!FNetworkWatch) return std::nullopt;
  const bool due = FNetworkWatch->Pending();
  const auto wait = FNetworkWatch->Check(TNetworkWatch::Clock::now());
  // The look has been made: the receiver may have moved or gone, and the
  // firewall may apply another profile to the new network.
  if (due && !wait) CheckFirewall();
  return wait;
}

void TMainForm::CheckFirewall() {
  if (destroyed_) return;
  FFirewallVerdict = firewall_.Verdict();
  const bool blocked = FFirewallVerdict == TFirewallVerdict::Blocked;
  // Only a verdict of Allowed ends a blocked episode: a firewall that could
  // not be read for a moment says nothing new.
  if (FFirewallVerdict == TFirewallVerdict::Allowed) FBlockedAnnounced = false;
  ShowFirewallEntry(blocked);
  ShowRelayStatus();
  if (blocked && !FBlockedAnnounced && CoolTrayIcon1) {
    FBlockedAnnounced = true;
    const TBalloonHint balloon = FirewallBlocksBalloon(siLangDispatcher1.ActiveLanguage());
    CoolTrayIcon1->ShowBalloonHint(balloon.Title, balloon.Text, balloon.Icon);
  }
}

void TMainForm::ShowFirewallEntry(bool shown) {
  constexpr std::u16string_view kName = u"btnFirewall";
  TMenuItem* entry = PopupMenu1.Find(kName);
  if (!shown) {
    if (entry != nullptr) PopupMenu1.Remove(kName);
    return;
  }
  std::u16string caption = AllowThroughFirewallCaption(siLangDispatcher1.ActiveLanguage());
  if (entry != nullptr) {
    entry->SetCaption(caption);
    return;
  }
  std::size_t beforeExit = PopupMenu1.Count();
  for (std::size_t i = 0; i < PopupMenu1.Count(); ++i) {
    if (PopupMenu1.Item(i).Name() == u"btnClose") beforeExit = i;
  }
  PopupMenu1.Insert(beforeExit, std::u16string(kName), std::move(caption),
                    [this] { btnFirewallClick(); });
}

void TMainForm::btnFirewallClick() {
  if (destroyed_ || FAllowing) return;
  FAllowing = true;
  const std::weak_ptr<TMainForm*> alive = FAlive;
  try {
    firewall_.Allow([alive] {
      const std::shared_ptr<TMainForm*> form = alive.lock();
      if (!form) return;
      (*form)->FAllowing = false;
      (*form)->CheckFirewall();
    });
  } catch (const std::exception& e) {
    FAllowing = false;
    application_.ShowException(e);
  }
}

TRelayStatus TMainForm::RelayStatus() const {
  if (!FReceiver || !FReceiver->Active() || !FReceiver->ChosenAddress()) return {};
  const std::string& address = FReceiver->ChosenAddress()->address;
  if (FFirewallVerdict == TFirewallVerdict::Blocked) return {TRelayState::Blocked, address};
  return {TRelayState::Listening, address};
}

void TMainForm::ShowRelayStatus() {
  if (!CoolTrayIcon1) return;
  const std::u16string hint =
      RelayHint(kTrayHint, RelayStatus(), siLangDispatcher1.ActiveLanguage());
  if (CoolTrayIcon1->Hint() != hint) CoolTrayIcon1->SetHint(hint);
}

void TMainForm::ShowInLogBox(std::u16string text) { controls_.Memo1.TakeText(std::move(text)); }

}  // namespace ostrivane
