// Placeholder until the firewall's own Windows implementation (read through
// INetFwPolicy2) is merged: the verdict is always NotKnown, and an attempt
// to let the program through ends at once, its `done` run from the main
// thread's message loop by a one-shot thread timer.
#include <windows.h>

#include <map>
#include <utility>

#include "net/firewall.h"

namespace ostrivane {
namespace {

std::map<UINT_PTR, std::function<void()>>& PendingDone() {
  static std::map<UINT_PTR, std::function<void()>> pending;
  return pending;
}

void CALLBACK RunDone(HWND /*window*/, UINT /*message*/, UINT_PTR timer, DWORD /*time*/) {
  KillTimer(nullptr, timer);
  auto& pending = PendingDone();
  const auto found = pending.find(timer);
  if (found == pending.end()) return;
  const std::function<void()> done = std::move(found->second);
  pending.erase(found);
  try {
    if (done) done();
  } catch (...) {  // NOLINT(bugprone-empty-catch): nothing may leave a timer's callback
  }
}

class UnknownFirewall final : public IFirewall {
 public:
  TFirewallVerdict Verdict() noexcept override { return TFirewallVerdict::NotKnown; }
  void Allow(std::function<void()> done) override {
    const UINT_PTR timer = SetTimer(nullptr, 0, 0, &RunDone);
    if (timer == 0) return;
    PendingDone()[timer] = std::move(done);
  }
};

}  // namespace

IFirewall& DefaultFirewall() {
  static UnknownFirewall firewall;
  return firewall;
}

}  // namespace ostrivane
