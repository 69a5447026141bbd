#include "net/lv_udp.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "net/ipv4_address.h"
#include "net/remote_datagram.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

// Dotted IPv4 text of a group: 224.0.0.0 to 239.255.255.255.
bool IsIPv4MulticastGroup(std::string_view text) {
  const auto address = ParseIPv4(text);
  return address && IsIPv4Multicast(*address);
}

}  // namespace

std::optional<LocalAddress> FirstIPv4Address(const std::vector<LocalAddress>& addresses) {
  const auto first = std::find_if(addresses.begin(), addresses.end(),
                                  [](const LocalAddress& a) { return !a.ipv6; });
  if (first == addresses.end()) return std::nullopt;
  return *first;
}

// --- listener thread -------------------------------------------------------

void TReadAhead::Missed() noexcept {
  penalty_ = std::clamp(penalty_ * 2, 1, kMaxWaitsAfterMiss);
  waitsLeft_ = penalty_;
  armed_ = false;
}

void TReadAhead::Consumed(bool readFirst) noexcept {
  armed_ = true;
  if (readFirst) {
    penalty_ = 0;
  } else if (waitsLeft_ > 0) {
    --waitsLeft_;
  }
}

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
  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  TReadAhead ahead;
  while (!Stopped()) {
    const bool readFirst = ahead.ReadFirst();
    if (!readFirst) {
      const auto ready = socket.WaitForDatagram(kListenerWait);
      if (ready == IUdpSocket::WaitResult::Closed) break;
      if (ready == IUdpSocket::WaitResult::Timeout) continue;
      if (Stopped()) break;
    }
    const auto read = socket.Read(buffer);
    if (read.status == IUdpSocket::ReadStatus::Failed) break;
    if (read.status == IUdpSocket::ReadStatus::Empty) {
      if (readFirst) ahead.Missed();
      continue;
    }
    ahead.Consumed(readFirst);
    // A datagram that does not fit the buffer is dropped whole, and an empty
    // one carries nothing to hand over.
    if (read.status == IUdpSocket::ReadStatus::Dropped || read.size == 0) continue;
    // The main thread reads the datagram where it lies: this thread waits
    // in the hand-off until it is done with it.
    const std::span<const std::uint8_t> datagram(buffer.data(), read.size);
    try {
      MainThread::Synchronize([this, datagram] { client_.DatagramRead(datagram, binding_); });
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
  ClearBinding();
}

bool TMulticastClient::Active() const noexcept {
  return current_ != nullptr && current_->HandleAllocated();
}

void TMulticastClient::SetBinding(std::string localAddress) {
  auto binding = std::make_unique<TSocketBinding>();
  binding->LocalAddress = std::move(localAddress);
  binding_ = std::move(binding);
}

void TMulticastClient::ClearBinding() noexcept {
  // Inactive: no listener uses the socket that goes with it.
  binding_.reset();
}

void TMulticastClient::Activate() {
  if (Active()) return;
  if (!binding_) SetBinding({});
  TSocketBinding& binding = *binding_;
  binding.Socket.reset();  // a socket left from an earlier attempt
  binding.Socket = platform_.CreateSocket();
  binding.Socket->SetReuseAddress(false);
  binding.Socket->Bind(binding.LocalAddress, binding.Port);
  if (IsIPv4MulticastGroup(MulticastGroup)) {
    binding.Socket->JoinGroup(MulticastGroup, binding.LocalAddress);
  }
  auto listener = std::make_unique<TMulticastListenerThread>(*this, binding);
  listener->Start();
  listener_ = std::move(listener);
  current_ = &binding;
}

void TMulticastClient::Deactivate() {
  if (!listener_) return;
  listener_->Stop();
  if (current_->HandleAllocated()) {
    if (IsIPv4MulticastGroup(MulticastGroup)) {
      current_->Socket->LeaveGroup(MulticastGroup, current_->LocalAddress);
    }
    current_->Socket->Close();
  }
  listener_->WaitFor();
  listener_.reset();
  // The listener has ended, so the closed socket can be released; the
  // binding itself stays for the next activation.
  current_->Socket.reset();
  current_ = nullptr;
}

void TMulticastClient::DatagramRead(std::span<const std::uint8_t> data, TSocketBinding& binding) {
  if (OnDatagramRead) OnDatagramRead(*this, data, binding);
}

// --- receiver ------------------------------------------------------------------

TLVUDPReceiver::TLVUDPReceiver(IUdpPlatform& platform)
    : FMCReceiver(std::make_unique<TMulticastClient>(platform)) {
  FMCReceiver->OnDatagramRead =
      [this](TMulticastClient& Sender, std::span<const std::uint8_t> AData,
             TSocketBinding& ABinding) { MCReceiverIPMCastRead(Sender, AData, ABinding); };
}

TLVUDPReceiver::~TLVUDPReceiver() { FMCReceiver.reset(); }

bool TLVUDPReceiver::Active() const noexcept { return FMCReceiver->Active(); }

void TLVUDPReceiver::SetActive(bool value) {
  if (value != FActive) {
    FActive = value;
    if (value) {
      // A new activation binds the first IPv4 address the system lists now.
      FMCReceiver->Deactivate();
      FMCReceiver->ClearBinding();
      FAddress.reset();
      FAddress = ChooseAddress();
      if (FAddress) FMCReceiver->SetBinding(FAddress->address);
    }
  }
  // Bring the client to the state written. Writing true again after a failed
  // activation lands here alone and retries with the binding already made.
  if (value) {
    FMCReceiver->Activate();
  } else {
    FMCReceiver->Deactivate();
  }
}

std::optional<LocalAddress> TLVUDPReceiver::ChooseAddress() {
  return FirstIPv4Address(FMCReceiver->Platform().LocalAddresses());
}

void TLVUDPReceiver::MCReceiverIPMCastRead(TMulticastClient& /*Sender*/,
                                           std::span<const std::uint8_t> AData,
                                           TSocketBinding& /*ABinding*/) {
  if (auto text = DecodeRemoteDatagram(AData)) DoReceiveXML(std::move(*text));
}

void TLVUDPReceiver::DoReceiveXML(std::u16string XML) {
  // The decoded text moves on to the handler: no copy per command.
  if (FOnReceiveXML) FOnReceiveXML(*this, std::move(XML));
}

}  // namespace ostrivane
