// MainUnit_Receiver: the hidden main window's logic. The platform layer
// builds the window's controls and hands them over; everything the window
// does is here.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/lv_udp.h"
#include "relay/lv_sync.h"
#include "relay/mailslot.h"

namespace ostrivane {

// A control that holds a text (an edit box, the log box).
class ITextControl {
 public:
  virtual ~ITextControl() = default;
  [[nodiscard]] virtual std::u16string Text() const = 0;
  virtual void SetText(std::u16string_view text) = 0;
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

inline constexpr char16_t kLyravoxSlotName[] = u"Lyravox\\Messages";

class TMainForm : public IRelayTarget {
 public:
  struct Controls {
    ITextControl& edAction;
    ITextControl& edParam1;
    ITextControl& edParam2;
    ITextControl& Memo1;
  };

  TMainForm(Controls controls, IApplication& application, IUdpPlatform& udp,
            IMailSlotSystem& mailslots = DefaultMailSlotSystem());
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

  // IRelayTarget
  void ShowInLogBox(std::u16string_view text) override;
  TMailSlotWriter* Messenger() noexcept override { return FMessenger.get(); }

  // Runs after the receiver was activated in FormCreate; the language
  // choice goes here.
  std::function<void()> OnChooseLanguage;

  [[nodiscard]] TLVUDPReceiver* Receiver() const noexcept { return FReceiver.get(); }

 private:
  Controls controls_;
  IApplication& application_;
  IUdpPlatform& udp_;
  IMailSlotSystem& mailslots_;
  std::unique_ptr<TMailSlotWriter> FMessenger;
  std::unique_ptr<TLVUDPReceiver> FReceiver;
  bool destroyed_ = false;
};

}  // namespace ostrivane
