// LV_UDP: the datagram receiver. While active it is a member of the group
// 224.0.0.1 on one local interface and receives the datagrams sent to port
// 19151; a listener thread reads them and hands each to the main thread,
// where it is decoded and, when it carries a remote command, passed on
// through OnReceiveXML.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/udp_platform.h"
#include "support/dutil.h"
#include "support/main_thread.h"

namespace ostrivane {

inline constexpr std::uint16_t kRemotePort = 19151;
inline constexpr char kRemoteGroup[] = "224.0.0.1";
inline constexpr std::size_t kReceiveBufferSize = 8192;
inline constexpr std::chrono::milliseconds kListenerWait{1000};

// The address the receiver binds: the first IPv4 entry of the list of local
// addresses, in the system's order; nothing when the list holds none (the
// receiver then listens on the wildcard address).
std::optional<LocalAddress> FirstIPv4Address(const std::vector<LocalAddress>& addresses);

// One socket and its parameters.
struct TSocketBinding {
  std::string LocalAddress;  // empty: the wildcard address
  std::uint16_t Port = kRemotePort;
  std::unique_ptr<IUdpSocket> Socket;

  [[nodiscard]] bool HandleAllocated() const noexcept { return Socket && Socket->IsOpen(); }
};

// Whether the listener reads before it waits. Under a burst the next
// datagram is already there when the last one has been handed over, and
// reading it at once saves a wait. When a read finds nothing, the listener
// waits first again for a number of datagrams that doubles with each such
// miss, up to kMaxWaitsAfterMiss, so that traffic of one datagram at a time
// pays for a missed read only now and then.
class TReadAhead {
 public:
  static constexpr int kMaxWaitsAfterMiss = 64;

  [[nodiscard]] bool ReadFirst() const noexcept { return armed_ && waitsLeft_ == 0; }
  // A read made without waiting found nothing.
  void Missed() noexcept;
  // A datagram was read, after a wait or (`readFirst`) without one.
  void Consumed(bool readFirst) noexcept;

 private:
  bool armed_ = false;  // a datagram was read since the last miss
  int waitsLeft_ = 0;
  int penalty_ = 0;
};

class TMulticastClient;

// Waits for, reads and hands over the datagrams of one binding.
class TMulticastListenerThread {
 public:
  TMulticastListenerThread(TMulticastClient& client, TSocketBinding& binding);
  ~TMulticastListenerThread();  // stops and waits
  TMulticastListenerThread(const TMulticastListenerThread&) = delete;
  TMulticastListenerThread& operator=(const TMulticastListenerThread&) = delete;

  void Start();
  void Stop();     // sets the stop flag; the thread ends at its next check
  void WaitFor();  // on the main thread, keeps serving hand-offs meanwhile

 private:
  [[nodiscard]] bool Stopped() const;
  void Execute();

  TMulticastClient& client_;
  TSocketBinding& binding_;
  mutable std::mutex lock_;  // guards stopped_
  bool stopped_ = false;
  std::unique_ptr<ServedThread> thread_;
};

// The socket side of the receiver: one binding on port 19151, a member of
// the group on the binding's interface, and its listener thread.
class TMulticastClient {
 public:
  // AData is the listener's buffer, valid while the event runs.
  using TDatagramReadEvent = std::function<void(
      TMulticastClient& Sender, std::span<const std::uint8_t> AData, TSocketBinding& ABinding)>;

  explicit TMulticastClient(IUdpPlatform& platform);
  ~TMulticastClient();  // deactivates
  TMulticastClient(const TMulticastClient&) = delete;
  TMulticastClient& operator=(const TMulticastClient&) = delete;

  // A setting rather than a constant because the join depends on it: only an
  // IPv4 multicast group is joined (the tests try others).
  std::string MulticastGroup = kRemoteGroup;
  TDatagramReadEvent OnDatagramRead;  // called on the main thread

  // True exactly while there is a current binding whose socket is open.
  [[nodiscard]] bool Active() const noexcept;
  // Opens, binds and joins, then starts the listener; nothing when active.
  // Raises at the first failing step; the socket made so far stays with the
  // binding until the next attempt or ClearBinding.
  void Activate();
  // Leaves, closes and waits for the listener; nothing when inactive. Never
  // raises. The binding stays for the next activation.
  void Deactivate();

  // While inactive only: the binding the next activation uses (without one
  // it listens on the wildcard address), and its removal.
  void SetBinding(std::string localAddress);
  void ClearBinding() noexcept;

  [[nodiscard]] IUdpPlatform& Platform() noexcept { return platform_; }

 private:
  friend class TMulticastListenerThread;
  void DatagramRead(std::span<const std::uint8_t> data, TSocketBinding& binding);

  IUdpPlatform& platform_;
  std::unique_ptr<TSocketBinding> binding_;
  TSocketBinding* current_ = nullptr;  // binding_ while the listener runs
  std::unique_ptr<TMulticastListenerThread> listener_;
};

class TLVUDPReceiver {
 public:
  using TLVReceiveXML = std::function<void(TLVUDPReceiver& Sender, std::u16string XML)>;

  explicit TLVUDPReceiver(IUdpPlatform& platform);
  ~TLVUDPReceiver();
  TLVUDPReceiver(const TLVUDPReceiver&) = delete;
  TLVUDPReceiver& operator=(const TLVUDPReceiver&) = delete;

  // True exactly while the client has a current binding whose socket is open.
  [[nodiscard]] bool Active() const noexcept;
  // Binds and joins (true) or leaves and closes (false); raises the
  // activation's errors. A failed activation is retried by writing true again.
  void SetActive(bool value);

  // The address that an activation would bind now: FirstIPv4Address of the
  // system's list. Raises the listing's error.
  [[nodiscard]] std::optional<LocalAddress> ChooseAddress();
  // The address chosen by the last activation that wrote true (nothing: the
  // wildcard address, or no activation yet).
  [[nodiscard]] const std::optional<LocalAddress>& ChosenAddress() const noexcept {
    return FAddress;
  }

  // Read as well as written, like the property it stands for; the window
  // only writes it.
  [[nodiscard]] const TLVReceiveXML& OnReceiveXML() const noexcept { return FOnReceiveXML; }
  void SetOnReceiveXML(TLVReceiveXML handler) { FOnReceiveXML = std::move(handler); }

 private:
  void MCReceiverIPMCastRead(TMulticastClient& Sender, std::span<const std::uint8_t> AData,
                             TSocketBinding& ABinding);
  void DoReceiveXML(std::u16string XML);

  std::unique_ptr<TMulticastClient> FMCReceiver;
  TLVReceiveXML FOnReceiveXML;
  bool FActive = false;
  std::optional<LocalAddress> FAddress;
};

}  // namespace ostrivane
