// MainUnit_Receiver: the hidden main window's logic. The platform layer
// builds the window's controls and hands them over; everything the window
// does is here.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/notification_icon.h"
#include "app/relay_status.h"
#include "app/translation.h"
#include "net/firewall.h"
#include "net/lv_udp.h"
#include "net/net_watch.h"
#include "relay/lv_sync.h"
#include "relay/mailslot.h"

namespace ostrivane {

// A control that holds a text (an edit box, the log box).
class ITextControl {
 public:
  virtual ~ITextControl() = default;
  [[nodiscard]] virtual std::u16string Text() const = 0;
  virtual void SetText(std::u16string_view text) = 0;
  // SetText for a text the caller no longer needs: a control that keeps
  // texts may take it over instead of copying it.
  // NOLINTNEXTLINE(performance-unnecessary-value-param): by value for those that keep it
  virtual void TakeText(std::u16string text) { SetText(text); }
  // Whether the control can be seen now; the controls of a hidden window
  // cannot. One that cannot tell counts as seen.
  [[nodiscard]] virtual bool Visible() const { return true; }
};

// The log box in front of its control. Laying a text out is what showing it
// costs, for a long command far more than relaying it, and the main window
// is never shown. So the log box keeps the last text and hands it to the
// control only when the control can be seen or something reads it: the
// platform calls Realize before the control is shown, painted or read from
// outside. Whoever reads the log box still gets the last text, in full.
class TLogBox final : public ITextControl {
 public:
  explicit TLogBox(ITextControl& control) noexcept : control_(control) {}

  // The control's text, once a kept text has been handed over.
  [[nodiscard]] std::u16string Text() const override;
  // Hands `text` over at once when the control can be seen, keeps it
  // otherwise (in place of any text kept before).
  void SetText(std::u16string_view text) override;
  // SetText, keeping `text` itself.
  void TakeText(std::u16string text) override;
  [[nodiscard]] bool Visible() const override { return control_.Visible(); }

  // Hands a kept text to the control; nothing when none is kept. Handing
  // over does not change what the log box holds, so reading may do it.
  void Realize() const;
  // The control's text was replaced past the log box: a kept text is
  // dropped, since it is no longer the last.
  void Forget() noexcept;
  [[nodiscard]] bool Keeping() const noexcept { return keeping_; }

 private:
  ITextControl& control_;
  mutable std::u16string kept_;
  mutable bool keeping_ = false;
};

// What the window needs from the application around it.
class IApplication {
 public:
  virtual ~IApplication() = default;
  // The standard exception report.
  virtual void ShowException(const std::exception& e) = 0;
  // Ends the message loop (closing the main window).
  virtual void Terminate() = 0;
};

// The window's own controls as the platform built them, by design name,
// for the translation table; the window itself is "TMainForm".
class IDesignComponents {
 public:
  virtual ~IDesignComponents() = default;
  virtual ITranslatable* Find(std::u16string_view name) = 0;
};

inline constexpr char16_t kLyravoxSlotName[] = u"Lyravox\\Messages";
inline constexpr char16_t kTrayHint[] = u"Lyravox Remote Server";
inline constexpr char16_t kTrayIconGuid[] = u"{2547D847-3F7E-44CD-B27C-EFE9602A2672}";

// The window's translation table: language 1 German (the design), 2 English.
std::vector<TTranslationEntry> MainFormTranslationData();

class TMainForm : public IRelayTarget, public ITranslationWindow {
 public:
  struct Controls {
    ITextControl& edAction;
    ITextControl& edParam1;
    ITextControl& edParam2;
    ITextControl& Memo1;
    IDesignComponents& Design;
    INotificationArea& NotificationArea;
  };

  TMainForm(Controls controls, IApplication& application, IUdpPlatform& udp,
            IMailSlotSystem& mailslots = DefaultMailSlotSystem(),
            IFirewall& firewall = DefaultFirewall());
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Window creation after the design is loaded: FormCreate, whose failure is
  // reported and does not stop the program.
  void Create();
  // Window destruction: FormDestroy (reported likewise), then the components.
  void Destroy();

  void FormCreate();
  void FormDestroy();
  void ReceiverReceiveXML(TLVUDPReceiver& Sender, std::u16string XML);
  void TntButton1Click();
  void SendToLyravox(std::u16string_view Action, std::u16string_view Param1,
                     std::u16string_view Param2);
  void btnCloseClick();

  // Following the network (net/net_watch.h). The shell passes each notice
  // of the system's network watch to NetworkChanged and runs a one-shot
  // timer for the delay answered (restarting it), whose end calls
  // CheckNetwork, which may answer a delay for the timer to run again.
  // Nothing is answered before FormCreate and after Destroy. Each look
  // asks the firewall again (CheckFirewall).
  std::optional<std::chrono::milliseconds> NetworkChanged();
  std::optional<std::chrono::milliseconds> CheckNetwork();

  // The firewall, asked once per occasion: after the receiver's activation
  // at creation, after each look at the network, whenever the tray menu
  // opens, and when an attempt to let the relay through has ended. While it
  // blocks, the menu has the entry btnFirewall before btnClose, and the
  // first verdict of each blocked episode shows a balloon; an episode ends
  // with a verdict of Allowed. The hint's second line follows (RelayStatus).
  // Nothing after Destroy.
  void CheckFirewall();
  // Lets the relay through the firewall (the entry btnFirewall): the
  // firewall asks the user, and is asked again when that has ended. Nothing
  // while an earlier attempt runs.
  void btnFirewallClick();
  [[nodiscard]] TFirewallVerdict FirewallVerdict() const noexcept { return FFirewallVerdict; }
  // What the hint's second line says now.
  [[nodiscard]] TRelayStatus RelayStatus() const;
  [[nodiscard]] TNetworkWatch* NetworkWatch() const noexcept { return FNetworkWatch.get(); }

  // IRelayTarget
  void ShowInLogBox(std::u16string text) override;
  TMailSlotWriter* Messenger() noexcept override { return FMessenger.get(); }

  // The German-interface test that FormCreate asks (IsGermanUILanguage
  // unless replaced).
  std::function<bool()> IsGermanUI;

  [[nodiscard]] TLVUDPReceiver* Receiver() const noexcept { return FReceiver.get(); }

  // Components without a window of their own.
  TImageList ImageList1{16, 16};
  TPopupMenu PopupMenu1;
  std::unique_ptr<TNotificationIcon> CoolTrayIcon1;
  TLanguageDispatcher siLangDispatcher1{{u"German", u"English"}};
  std::unique_ptr<TTranslationTable> siLang1;

  // ITranslationWindow
  [[nodiscard]] std::u16string_view ClassName() const override { return u"TMainForm"; }
  [[nodiscard]] std::u16string_view Name() const override { return u"MainForm"; }
  ITranslatable& Self() override;
  ITranslatable* FindComponent(std::u16string_view name) override;

 private:
  Controls controls_;
  IApplication& application_;
  IUdpPlatform& udp_;
  IMailSlotSystem& mailslots_;
  IFirewall& firewall_;
  std::unique_ptr<TMailSlotWriter> FMessenger;
  std::unique_ptr<TLVUDPReceiver> FReceiver;
  std::unique_ptr<TNetworkWatch> FNetworkWatch;  // follows FReceiver's address
  void ShowFirewallEntry(bool shown);
  // Puts the relay's status in the hint's second line, when it changed.
  void ShowRelayStatus();
  TFirewallVerdict FFirewallVerdict = TFirewallVerdict::NotKnown;
  bool FBlockedAnnounced = false;  // the balloon of this blocked episode was shown
  bool FAllowing = false;          // an attempt to let the relay through runs
  // Held while the window lives: an attempt that ends later knows whether
  // the window is still there.
  std::shared_ptr<TMainForm*> FAlive = std::make_shared<TMainForm*>(this);
  bool destroyed_ = false;
};

}  // namespace ostrivane
