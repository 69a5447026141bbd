// A scripted stand-in for the system's mailslots that logs every call: slots
// that exist or not, writes that fail, handles that break.
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
  // "open N" ("open -" when it failed), "write N COUNT", "close N", in order.
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

  std::optional<std::size_t> Write(MailSlotHandle handle, const std::uint8_t* data,
                                   std::size_t count) override {
    Log("write " + std::to_string(handle) + " " + std::to_string(count));
    if (held.count(handle) == 0) ADD_FAILURE() << "write on a handle not held: " << handle;
    if (throwOnWrite) throw std::runtime_error("write raised");
    if (failWrites || broken.count(handle) != 0) return std::nullopt;
    delivered.emplace_back(reinterpret_cast<const char*>(data), count);
    return count;
  }

  void Close(MailSlotHandle handle) override {
    Log("close " + std::to_string(handle));
    if (held.erase(handle) == 0) ADD_FAILURE() << "close of a handle not held: " << handle;
  }

 private:
  void Log(std::string entry) {
    if (onCall) onCall(entry);
    log.push_back(std::move(entry));
  }

  MailSlotHandle nextHandle_ = 1;
};

}  // namespace ostrivane::testutil
