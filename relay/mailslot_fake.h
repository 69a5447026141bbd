// A scripted stand-in for the system's mailslots that logs every call: slots
// that exist or not, writes that fail, handles that break, and a reader
// whose queue fills up, with a clock that moves only as the writes wait.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "relay/mailslot_platform.h"

namespace ostrivane::testutil {

class FakeMailSlotSystem final : public IMailSlotSystem {
 public:
  bool slotExists = false;
  bool failWrites = false;          // every write fails
  bool throwOnWrite = false;        // a write raises
  std::set<MailSlotHandle> broken;  // handles whose writes fail
  // The reader's queue: how many messages it holds (no limit when unset)
  // and how many wait in it now; the reader empties it at each of
  // `readTimes` (none: it has stopped reading).
  std::optional<std::size_t> queueLimit;
  std::size_t queued = 0;
  std::set<MailSlotClock::time_point> readTimes;
  // The clock: it moves on by what the writes wait, and by what a test adds.
  MailSlotClock::time_point now{};
  // The longest wait for room that each write was allowed, in order.
  std::vector<MailSlotClock::duration> roomWaits;
  // "open N" ("open -" when it failed), "write N COUNT" ("write N COUNT full"
  // when the queue had no room), "close N", in order.
  std::vector<std::string> log;
  std::vector<std::u16string> openedPaths;
  std::vector<std::string> delivered;  // the messages that arrived, in order
  std::set<MailSlotHandle> held;       // handles given out and not closed
  // Called with each entry of `log` as it is made, e.g. to merge the calls
  // into the log of other fakes.
  std::function<void(const std::string&)> onCall;

  MailSlotHandle Open(std::u16string_view fullPath) override {
    openedPaths.emplace_back(fullPath);
    if (!slotExists) {
      Log("open -");
      return kInvalidMailSlotHandle;
    }
    const MailSlotHandle h = nextHandle_++;
    held.insert(h);
    Log("open " + std::to_string(h));
    return h;
  }

  MailSlotWriteResult Write(MailSlotHandle handle, const std::uint8_t* data, std::size_t count,
                            MailSlotClock::duration roomWait) override {
    const std::string entry = "write " + std::to_string(handle) + " " + std::to_string(count);
    roomWaits.push_back(roomWait);
    if (held.count(handle) == 0) ADD_FAILURE() << "write on a handle not held: " << handle;
    if (throwOnWrite || failWrites || broken.count(handle) != 0) {
      Log(entry);
      if (throwOnWrite) throw std::runtime_error("write raised");
      return {};
    }
    if (!RoomWithin(roomWait)) {
      Log(entry + " full");
      return {MailSlotWriteStatus::Full, 0};
    }
    Log(entry);
    ++queued;
    delivered.emplace_back(reinterpret_cast<const char*>(data), count);
    return {MailSlotWriteStatus::Written, count};
  }

  void Close(MailSlotHandle handle) override {
    Log("close " + std::to_string(handle));
    if (held.erase(handle) == 0) ADD_FAILURE() << "close of a handle not held: " << handle;
  }

  MailSlotClock::time_point Now() override { return now; }

  // A reader that reads at `first`, then every `period` up to `last`.
  void ReadEvery(MailSlotClock::duration period, MailSlotClock::time_point first,
                 MailSlotClock::time_point last) {
    for (auto t = first; t <= last; t += period) readTimes.insert(t);
  }

 private:
  // Whether the queue has room now or gets it within `wait` (the clock moves
  // on to then); the clock moves on by the whole wait when it does not.
  bool RoomWithin(MailSlotClock::duration wait) {
    if (!queueLimit) return true;
    // The reads that have passed emptied the queue.
    const auto passed = readTimes.upper_bound(now);
    if (passed != readTimes.begin()) {
      readTimes.erase(readTimes.begin(), passed);
      queued = 0;
    }
    if (queued < *queueLimit) return true;
    if (!readTimes.empty() && *readTimes.begin() - now <= wait) {
      now = *readTimes.begin();
      readTimes.erase(readTimes.begin());
      queued = 0;
      return true;
    }
    now += wait;
    return false;
  }

  void Log(std::string entry) {
    if (onCall) onCall(entry);
    log.push_back(std::move(entry));
  }

  MailSlotHandle nextHandle_ = 1;
};

}  // namespace ostrivane::testutil
