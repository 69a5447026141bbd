// LV_UDP: the datagram receiver. While active it is a member of the group
// 224.0.0.1 on one local interface and receives the datagrams sent to port
// 19151; a listener thread reads them and hands each to the main thread,
// where it is decoded and, when it carries a remote command, passed on
// through OnReceiveXML.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

// One socket and its parameters.
struct TSocketBinding {
  std::string LocalAddress;  // empty: the wildcard address
  std::uint16_t Port = 0;
  std::unique_ptr<IUdpSocket> Socket;

  [[nodiscard]] bool HandleAllocated() const noexcept { return Socket && Socket->IsOpen(); }
};

class TMulticastClient;

class TMulticastListenerThread {
 public:
  TMulticastListenerThread(TMulticastClient& client, TSocketBinding& binding);
  ~TMulticastListenerThread();  // stops and waits
  TMulticastListenerThread(const TMulticastListenerThread&) = delete;
  TMulticastListenerThread& operator=(const TMulticastListenerThread&) = delete;

  void Start();
  void Stop();  // sets the stop flag; the thread ends at its next check
  [[nodiscard]] bool Stopped() const;
  void WaitFor();  // on the main thread, keeps serving hand-offs meanwhile

 private:
  void Execute();

  TMulticastClient& client_;
  TSocketBinding& binding_;
  mutable std::mutex lock_;  // guards stopped_
  bool stopped_ = false;
  Bytes data_;  // the datagram being handed over
  std::unique_ptr<ServedThread> thread_;
};

class TMulticastClient {
 public:
  using TDatagramReadEvent =
      std::function<void(TMulticastClient& Sender, const Bytes& AData, TSocketBinding& ABinding)>;

  explicit TMulticastClient(IUdpPlatform& platform);
  ~TMulticastClient();
  TMulticastClient(const TMulticastClient&) = delete;
  TMulticastClient& operator=(const TMulticastClient&) = delete;

  std::uint16_t DefaultPort = kRemotePort;
  std::string MulticastGroup = kRemoteGroup;
  std::size_t BufferSize = kReceiveBufferSize;
  TDatagramReadEvent OnDatagramRead;

  [[nodiscard]] bool Active() const noexcept;
  void Activate();    // raises on failure
  void Deactivate();  // never raises

  std::vector<std::unique_ptr<TSocketBinding>>& Bindings() noexcept { return bindings_; }
  void ClearBindings();
  TSocketBinding& AddBinding(std::string localAddress);
  [[nodiscard]] TSocketBinding* CurrentBinding() const noexcept { return current_; }
  IUdpPlatform& Platform() noexcept { return platform_; }

 private:
  friend class TMulticastListenerThread;
  void DatagramRead(const Bytes& data, TSocketBinding& binding);

  IUdpPlatform& platform_;
  std::vector<std::unique_ptr<TSocketBinding>> bindings_;
  TSocketBinding* current_ = nullptr;
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

  [[nodiscard]] const TLVReceiveXML& OnReceiveXML() const noexcept { return FOnReceiveXML; }
  void SetOnReceiveXML(TLVReceiveXML handler) { FOnReceiveXML = std::move(handler); }

 private:
  void MCReceiverIPMCastRead(TMulticastClient& Sender, const Bytes& AData,
                             TSocketBinding& ABinding);
  void DoReceiveXML(const std::u16string& XML);

  std::unique_ptr<TMulticastClient> FMCReceiver;
  TLVReceiveXML FOnReceiveXML;
  bool FActive = false;
};

}  // namespace ostrivane
