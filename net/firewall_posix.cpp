// POSIX systems have no firewall the relay could read in one way for all
// (nftables, iptables, firewalld and ufw each keep their own rules, most of
// them readable by root only), so the verdict is always "not known" and the
// relay says nothing. The Debian package brings a firewalld service and a
// ufw application profile instead, for the administrator to enable.
#include <optional>
#include <string>
#include <utility>

#include "net/firewall.h"
#include "net/firewall_rules.h"
#include "support/main_thread.h"

namespace ostrivane {
namespace {

class PosixFirewall final : public IFirewall {
 public:
  TFirewallVerdict Verdict() noexcept override { return TFirewallVerdict::NotKnown; }
  // Nothing to do; `done` still comes later, on the main thread.
  void Allow(std::function<void()> done) override {
    if (done) MainThread::Post(std::move(done));
  }
};

class NoPolicy final : public firewall::IFirewallPolicy {
 public:
  std::optional<firewall::PolicySettings> Read() override { return std::nullopt; }
  std::string Remove(const firewall::Rule& /*rule*/) override { return kNone; }
  std::string Add(const firewall::Rule& /*rule*/) override { return kNone; }

 private:
  static constexpr const char* kNone = "this system has no firewall settings of this kind";
};

}  // namespace

IFirewall& DefaultFirewall() {
  static PosixFirewall firewall;
  return firewall;
}

namespace firewall {

std::unique_ptr<IFirewallPolicy> DefaultFirewallPolicy() { return std::make_unique<NoPolicy>(); }

}  // namespace firewall
}  // namespace ostrivane
