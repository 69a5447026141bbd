#include "app/main_form.h"

#include "relay/mailslot.h"
#include "relay/remote_command.h"
#include "support/ansi.h"

namespace ostrivane {

TMainForm::TMainForm(Controls controls, IApplication& application, IUdpPlatform& udp,
                     IMailSlotSystem& mailslots)
    : controls_(controls), application_(application), udp_(udp), mailslots_(mailslots) {
  controls_.Memo1.SetText(u"Memo1");
  MainForm = this;
}

TMainForm::~TMainForm() {
  Destroy();
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::Create() {
  try {
    FormCreate();
  } catch (const std::exception& e) {
    application_.ShowException(e);
  }
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
  // command is shown but not written.
  FReceiver.reset();
}

void TMainForm::FormCreate() {
  FMessenger = std::make_unique<TMailSlotWriter>(kLyravoxSlotName, mailslots_);
  FReceiver = std::make_unique<TLVUDPReceiver>(udp_);
  FReceiver->SetOnReceiveXML(
      [this](TLVUDPReceiver& Sender, std::u16string XML) { ReceiverReceiveXML(Sender, std::move(XML)); });
  FReceiver->SetActive(true);
  if (OnChooseLanguage) OnChooseLanguage();
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

void TMainForm::ShowInLogBox(std::u16string_view text) { controls_.Memo1.SetText(text); }

}  // namespace ostrivane
