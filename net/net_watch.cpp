#include "net/net_watch.h"

#include <algorithm>

namespace ostrivane {
namespace {

std::chrono::milliseconds Until(TNetworkWatch::Clock::time_point then,
                                TNetworkWatch::Clock::time_point now) {
  return std::max(std::chrono::ceil<std::chrono::milliseconds>(then - now),
                  std::chrono::milliseconds{1});
}

}  // namespace

std::chrono::milliseconds TNetworkWatch::Changed(Clock::time_point now) {
  if (!burstStart_) burstStart_ = now;
  due_ = std::min(now + kNetworkQuietPeriod, *burstStart_ + kNetworkLongestDelay);
  return Until(*due_, now);
}

std::optional<std::chrono::milliseconds> TNetworkWatch::Check(Clock::time_point now) {
  if (!due_) return std::nullopt;
  if (now < *due_) return Until(*due_, now);
  due_.reset();
  burstStart_.reset();
  try {
    if (NeedsActivation()) {
      // Writing false first makes the write of true a new activation: it
      // lets go of the old socket and lists the addresses again.
      receiver_.SetActive(false);
      receiver_.SetActive(true);
    }
  } catch (...) {
    // Not reported: only the start-up's failure is. The receiver stays
    // inactive until the next notice tries again.
  }
  return std::nullopt;
}

bool TNetworkWatch::NeedsActivation() {
  if (!receiver_.Active()) return true;
  return receiver_.ChooseAddress() != receiver_.ChosenAddress();
}

}  // namespace ostrivane
