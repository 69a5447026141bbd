// A scripted stand-in for the system's sockets, for the tests of the
// receiver and of the window that owns it: it lists the addresses it is
// given, logs every call, raises the error asked for, and delivers the
// datagrams that the test queues. It can also hold a read until the
// receiver is being deactivated (holdReadsUntilLeave).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "net/socket_error.h"
#include "net/udp_platform.h"
#include "support/dutil.h"
#include "support/system_error.h"

namespace ostrivane::testutil {

class FakeUdpPlatform final : public IUdpPlatform {
 public:
  // Set these before the receiver uses the platform.
  std::vector<LocalAddress> addresses;  // what LocalAddresses returns
  bool listFails = false;               // LocalAddresses raises the system's report
  std::string failOn;  // "socket", "reuse", "bind" or "join": that call raises its error
  // Sees every log entry as it is made, e.g. to merge it into a log of the
  // test's own. Called on the thread that made the call, without a lock held.
  std::function<void(const std::string&)> onCall;
  // A read holds the datagram it takes until its socket leaves its group
  // (the receiver is being deactivated), and delivers it then, also when
  // the socket is closed in the meantime: the datagram then reaches the
  // main thread while the shutdown waits for the listener. Without it a
  // read returns at once, and fails on a closed socket.
  bool holdReadsUntilLeave = false;

  // "list", "socket", then per socket #n (counting from 1): "reuse#n=0",
  // "bind#n ADDRESS:PORT", "join#n GROUP on ADDRESS", "leave#n GROUP on
  // ADDRESS", "close#n", "release#n"; the wildcard address reads 0.0.0.0.
  [[nodiscard]] std::vector<std::string> Log() const {
    const std::lock_guard guard(lock_);
    return log_;
  }
  // The next socket read delivers `datagram`; queued datagrams wait in order.
  void Queue(Bytes datagram) {
    {
      const std::lock_guard guard(lock_);
      datagrams_.push_back(std::move(datagram));
    }
    changed_.notify_all();
  }
  // Queued datagrams not yet read.
  [[nodiscard]] std::size_t Pending() const {
    const std::lock_guard guard(lock_);
    return datagrams_.size();
  }
  // Sockets created and not yet closed.
  [[nodiscard]] int OpenSockets() const {
    const std::lock_guard guard(lock_);
    return openSockets_;
  }
  // Waits for a datagram begun so far, on any socket.
  [[nodiscard]] int Waits() const {
    const std::lock_guard guard(lock_);
    return waits_;
  }
  // Sockets created so far.
  [[nodiscard]] int Created() const {
    const std::lock_guard guard(lock_);
    return created_;
  }
  // With holdReadsUntilLeave: waits until a listener sits in a held read;
  // false when none does after `limit`.
  bool WaitUntilReading(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, limit, [this] { return heldReads_ > 0; });
  }

  std::vector<LocalAddress> LocalAddresses() override {
    Record("list");
    if (listFails) throw ESystemError(5, "Access is denied.");
    return addresses;
  }
  std::unique_ptr<IUdpSocket> CreateSocket() override;

 private:
  friend class FakeUdpSocket;

  void Record(const std::string& entry) {
    {
      const std::lock_guard guard(lock_);
      log_.push_back(entry);
    }
    if (onCall) onCall(entry);
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> log_;
  std::deque<Bytes> datagrams_;
  int openSockets_ = 0;
  int created_ = 0;
  int waits_ = 0;
  int heldReads_ = 0;  // reads sitting in their hold
};

class FakeUdpSocket final : public IUdpSocket {
 public:
  FakeUdpSocket(FakeUdpPlatform& platform, int id) : p_(platform), id_("#" + std::to_string(id)) {}
  ~FakeUdpSocket() override {
    Close();
    p_.Record("release" + id_);
  }
  FakeUdpSocket(const FakeUdpSocket&) = delete;
  FakeUdpSocket& operator=(const FakeUdpSocket&) = delete;

  void SetReuseAddress(bool on) override {
    p_.Record("reuse" + id_ + "=" + (on ? "1" : "0"));
    if (p_.failOn == "reuse") throw ESocketError(10042);
  }
  void Bind(const std::string& address, std::uint16_t port) override {
    p_.Record("bind" + id_ + " " + Shown(address) + ":" + std::to_string(port));
    if (p_.failOn == "bind") throw EBindError();
  }
  void JoinGroup(const std::string& group, const std::string& address) override {
    p_.Record("join" + id_ + " " + group + " on " + Shown(address));
    if (p_.failOn == "join") throw ESocketError(10049);
  }
  void LeaveGroup(const std::string& group, const std::string& address) noexcept override {
    p_.Record("leave" + id_ + " " + group + " on " + Shown(address));
    {
      const std::lock_guard guard(p_.lock_);
      left_ = true;
    }
    p_.changed_.notify_all();
  }
  WaitResult WaitForDatagram(std::chrono::milliseconds timeout) override {
    std::unique_lock guard(p_.lock_);
    ++p_.waits_;
    p_.changed_.wait_for(guard, timeout, [&] { return closed_ || !p_.datagrams_.empty(); });
    if (closed_) return WaitResult::Closed;
    return p_.datagrams_.empty() ? WaitResult::Timeout : WaitResult::Ready;
  }
  ReadResult Read(std::span<std::uint8_t> buffer) override {
    std::unique_lock guard(p_.lock_);
    if (p_.holdReadsUntilLeave) {
      ++p_.heldReads_;
      p_.changed_.notify_all();
      // Closing without a leave (no group joined) ends the hold too.
      p_.changed_.wait(guard, [this] { return left_ || closed_; });
      --p_.heldReads_;
    } else if (closed_) {
      return {ReadStatus::Failed, 0};
    }
    if (p_.datagrams_.empty()) return {ReadStatus::Empty, 0};
    const Bytes datagram = std::move(p_.datagrams_.front());
    p_.datagrams_.pop_front();
    if (datagram.size() > buffer.size()) return {ReadStatus::Dropped, 0};
    std::copy(datagram.begin(), datagram.end(), buffer.begin());
    return {ReadStatus::Datagram, datagram.size()};
  }
  void Close() noexcept override {
    {
      const std::lock_guard guard(p_.lock_);
      if (closed_) return;
      closed_ = true;
      --p_.openSockets_;
    }
    p_.changed_.notify_all();
    p_.Record("close" + id_);
  }
  [[nodiscard]] bool IsOpen() const noexcept override {
    const std::lock_guard guard(p_.lock_);
    return !closed_;
  }

 private:
  static std::string Shown(const std::string& address) {
    return address.empty() ? "0.0.0.0" : address;
  }

  FakeUdpPlatform& p_;
  std::string id_;
  bool closed_ = false;  // guarded by p_.lock_
  bool left_ = false;    // guarded by p_.lock_
};

inline std::unique_ptr<IUdpSocket> FakeUdpPlatform::CreateSocket() {
  Record("socket");
  if (failOn == "socket") throw ESocketError(10024);
  int id = 0;
  {
    const std::lock_guard guard(lock_);
    ++openSockets_;
    id = ++created_;
  }
  return std::make_unique<FakeUdpSocket>(*this, id);
}

}  // namespace ostrivane::testutil
