// Placeholder until the firewall's own Linux implementation is merged: no
// firewall is read, so the verdict is always NotKnown and the program never
// offers to let itself through.
#include <utility>

#include "net/firewall.h"

namespace ostrivane {
namespace {

class UnknownFirewall final : public IFirewall {
 public:
  TFirewallVerdict Verdict() noexcept override {
    // An attempt that was asked for has ended (there was nothing to do);
    // its `done` runs now, on the main thread, outside Allow.
    RunPending();
    return TFirewallVerdict::NotKnown;
  }
  void Allow(std::function<void()> done) override { pending_ = std::move(done); }

 private:
  void RunPending() noexcept {
    auto done = std::exchange(pending_, nullptr);
    try {
      if (done) done();
    } catch (...) {  // NOLINT(bugprone-empty-catch): a verdict never raises
    }
  }
  std::function<void()> pending_;
};

}  // namespace

IFirewall& DefaultFirewall() {
  static UnknownFirewall firewall;
  return firewall;
}

}  // namespace ostrivane
