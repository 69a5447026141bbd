#include "net/lv_udp.h"

#include <algorithm>
#include <utility>

#include "net/remote_datagram.h"
#include "support/main_thread.h"

namespace ostrivane {

// --- listener thread -------------------------------------------------------

TMulticastListenerThread::TMulticastListenerThread(TMulticastClient& client,
                                                   TSocketBinding& binding)
    : client_(client), binding_(binding) {}

TMulticastListenerThread::~TMulticastListenerThread() {
  Stop();
  WaitFor();
}

void TMulticastListenerThread::Start() {
  thread_ = std::make_unique<ServedThread>([this] { Execute(); });
}

void TMulticastListenerThread::Stop() {
  const std::lock_guard guard(lock_);
  stopped_ = true;
}

bool TMulticastListenerThread::Stopped() const {
  const std::lock_guard guard(lock_);
  return stopped_;
}

void TMulticastListenerThread::WaitFor() {
  if (thread_) thread_->WaitFor();
}

void TMulticastListenerThread::Execute() {
  IUdpSocket& socket = *binding_.Socket;
  std::vector<std::uint8_t> buffer(client_.BufferSize);
  while (!Stopped()) {
    const auto ready = socket.WaitForDatagram(kListenerWait);
    if (ready == IUdpSocket::WaitResult::Closed) break;
    if (ready == IUdpSocket::WaitResult::Timeout) continue;
    if (Stopped()) break;
    const auto read = socket.Read(buffer);
    if (read.status == IUdpSocket::ReadStatus::Failed) break;
    // A datagram that does not fit the buffer is dropped whole, and an empty
    // one carries nothing to hand over.
    if (read.status == IUdpSocket::ReadStatus::Dropped || read.size == 0) continue;
    data_.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(read.size));
    try {
      MainThread::Synchronize([this] { client_.DatagramRead(data_, binding_); });
    } catch (...) {
      // Whatever went wrong with this datagram on the main thread, the next
      // one is read as usual; nothing is reported.
    }
  }
}

// --- multicast client --------------------------------------------------------

TMulticastClient::TMulticastClient(IUdpPlatform& platform) : platform_(platform) {}

TMulticastClient::~TMulticastClient() {
  Deactivate();
  ClearBindings();
}

bool TMulticastClient::Active() const noexcept {
  return current_ != nullptr && current_->HandleAllocated();
}

void TMulticastClient::ClearBindings() {
  // Only called while inactive: no listener uses a socket of these.
  current_ = nullptr;
  bindings_.clear();
}

TSocketBinding& TMulticastClient::AddBinding(std::string localAddress) {
  auto binding = std::make_unique<TSocketBinding>();
  binding->LocalAddress = std::move(localAddress);
  binding->Port = DefaultPort;
  bindings_.push_back(std::move(binding));
  return *bindings_.back();
}

void TMulticastClient::Activate() {
  if (Active()) return;
  if (bindings_.empty()) AddBinding({});
  for (auto& binding : bindings_) {
    binding->Socket.reset();  // a socket left from an earlier attempt
    binding->Socket = platform_.CreateSocket();
    binding->Socket->SetReuseAddress(false);
    binding->Socket->Bind(binding->LocalAddress, binding->Port);
    binding->Socket->JoinGroup(MulticastGroup, binding->LocalAddress);
  }
  current_ = bindings_.front().get();
  listener_ = std::make_unique<TMulticastListenerThread>(*this, *current_);
  listener_->Start();
}

void TMulticastClient::Deactivate() {
  if (!Active()) return;
  listener_->Stop();
  for (auto& binding : bindings_) {
    if (!binding->HandleAllocated()) continue;
    binding->Socket->LeaveGroup(MulticastGroup, binding->LocalAddress);
    binding->Socket->Close();
  }
  listener_->WaitFor();
  listener_.reset();
  current_ = nullptr;
  // The listener has ended, so the closed sockets can be released; the
  // bindings themselves stay for the next activation.
  for (auto& binding : bindings_) {
    if (binding->Socket && !binding->Socket->IsOpen()) binding->Socket.reset();
  }
}

void TMulticastClient::DatagramRead(const Bytes& data, TSocketBinding& binding) {
  if (OnDatagramRead) OnDatagramRead(*this, data, binding);
}

// --- receiver ------------------------------------------------------------------

TLVUDPReceiver::TLVUDPReceiver(IUdpPlatform& platform)
    : FMCReceiver(std::make_unique<TMulticastClient>(platform)) {
  FMCReceiver->OnDatagramRead = [this](TMulticastClient& Sender, const Bytes& AData,
                                       TSocketBinding& ABinding) {
    MCReceiverIPMCastRead(Sender, AData, ABinding);
  };
}

TLVUDPReceiver::~TLVUDPReceiver() { FMCReceiver.reset(); }

bool TLVUDPReceiver::Active() const noexcept { return FMCReceiver->Active(); }

void TLVUDPReceiver::SetActive(bool value) {
  if (value != FActive) {
    FActive = value;
    if (value) {
      FMCReceiver->Deactivate();
      FMCReceiver->ClearBindings();
      const auto addresses = FMCReceiver->Platform().LocalAddresses();
      const auto first = std::find_if(addresses.begin(), addresses.end(),
                                      [](const LocalAddress& a) { return !a.ipv6; });
      if (first != addresses.end()) FMCReceiver->AddBinding(first->address);
      FMCReceiver->Activate();
    } else {
      FMCReceiver->Deactivate();
    }
  }
  if (value) {
    FMCReceiver->Activate();
  } else {
    FMCReceiver->Deactivate();
  }
}

void TLVUDPReceiver::MCReceiverIPMCastRead(TMulticastClient& /*Sender*/, const Bytes& AData,
                                           TSocketBinding& /*ABinding*/) {
  if (auto text = DecodeRemoteDatagram(AData)) DoReceiveXML(*text);
}

void TLVUDPReceiver::DoReceiveXML(const std::u16string& XML) {
  if (FOnReceiveXML) FOnReceiveXML(*this, XML);
}

}  // namespace ostrivane
