// The whole receive path on arbitrary bytes, as the main window wires it:
// the bytes arrive as one datagram on the receiver's socket (the socket
// fake), the listener thread hands them to the main thread, the receiver
// decodes them, the relay shows the command in the log box, converts it to
// the 8-bit code page and writes it to the slot (the mailslot fake).
//
// After each input the window must have relayed exactly what the decoder
// accepts: the unchanged text in the log box, and one message with its
// code page 1252 bytes, one byte per code unit; nothing for anything else.
// By the input's checksum the slot is present, its handle breaks (the writer
// must open it again and deliver), or it is missing (the message is lost and
// nothing else changes).
// A valid datagram of the harness's own follows each input and must arrive
// next: it shows that the input was dealt with and nothing hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_form.h"
#include "app/test_fakes.h"
#include "fuzz/fuzz_input.h"
#include "net/lv_udp.h"
#include "net/remote_datagram.h"
#include "support/cp1252.h"
#include "support/main_thread.h"
#include "support/text_paths.h"

namespace {

using ostrivane::fuzz::Check;
using namespace std::chrono_literals;

// A text control that remembers every text it was given.
class RecordingText final : public ostrivane::ITextControl {
 public:
  [[nodiscard]] std::u16string Text() const override {
    return shown.empty() ? std::u16string() : shown.back();
  }
  void SetText(std::u16string_view text) override { shown.emplace_back(text); }
  std::vector<std::u16string> shown;
};

class CountingApplication final : public ostrivane::IApplication {
 public:
  void ShowException(const std::exception& /*e*/) override { ++reports; }
  void Terminate() override {}
  int reports = 0;
};

// Wakes the harness's wait when the listener has queued a hand-off.
class WakeUp {
 public:
  void Signal() {
    {
      const std::lock_guard guard(lock_);
      woken_ = true;
    }
    signal_.notify_one();
  }
  void Wait(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    signal_.wait_for(guard, limit, [this] { return woken_; });
    woken_ = false;
  }

 private:
  std::mutex lock_;
  std::condition_variable signal_;
  bool woken_ = false;
};

struct Window {
  Window() {
    ostrivane::MainThread::Attach();
    ostrivane::MainThread::SetWakeUp([this] { wakeUp.Signal(); });
    udp.addresses = {{false, "10.0.0.5"}};
    slots.slotExists = true;
    form = std::make_unique<ostrivane::TMainForm>(
        ostrivane::TMainForm::Controls{action, param1, param2, memo, design, area}, app, udp,
        slots);
    form->IsGermanUI = [] { return true; };
    form->Create();
    Check(app.reports == 0 && form->Receiver()->Active(), "the window starts and listens");
  }
  ~Window() {
    form.reset();
    ostrivane::MainThread::SetWakeUp({});
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  WakeUp wakeUp;
  RecordingText action, param1, param2, memo;
  CountingApplication app;
  ostrivane::testutil::FakeUdpPlatform udp;
  ostrivane::testutil::FakeMailSlotSystem slots;
  std::vector<std::string> designSets;
  ostrivane::testutil::FakeDesign design{designSets};
  ostrivane::testutil::FakeNotificationArea area;
  std::unique_ptr<ostrivane::TMainForm> form;
};

Window& TheWindow() {
  static Window window;
  return window;
}

enum class Slot { Present, BrokenHandle, Missing };

Slot SlotFor(const std::uint8_t* data, std::size_t size) {
  const unsigned sum = std::accumulate(data, data + size, 0U);
  switch (sum % 4) {
    case 2:
      return Slot::BrokenHandle;
    case 3:
      return Slot::Missing;
    default:
      return Slot::Present;
  }
}

// The command the reference loops read in `datagram`: the frame, then the
// payload one code point at a time; nothing when it is to be dropped.
std::optional<std::u16string> ReferenceCommand(std::span<const std::uint8_t> datagram) {
  constexpr std::string_view kStart("\x02LVXML\x02");
  if (datagram.size() <= kStart.size() ||
      !std::equal(kStart.begin(), kStart.end(), datagram.begin(),
                  [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; })) {
    return std::nullopt;
  }
  auto text = ostrivane::text_paths::Utf8ToUtf16Reference(datagram.subspan(kStart.size()));
  if (!text || text->empty()) return std::nullopt;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Window& w = TheWindow();
  const std::vector<std::uint8_t> datagram(data, data + size);
  // The receiver reads into a buffer of kReceiveBufferSize bytes and drops
  // empty and longer datagrams before decoding. What it relays is checked
  // against the reference loops of the text path.
  const auto command =
      size == 0 || size > ostrivane::kReceiveBufferSize ? std::nullopt : ReferenceCommand(datagram);
  Check(
      size > ostrivane::kReceiveBufferSize || command == ostrivane::DecodeRemoteDatagram(datagram),
      "the decoding reads what the reference reads");
  const std::u16string end = u"<end/>";
  const std::string endBytes = ostrivane::Cp1252FromUtf16(end);
  const Slot slot = SlotFor(data, size);

  w.memo.shown.clear();
  w.slots.delivered.clear();
  w.slots.log.clear();
  w.slots.openedPaths.clear();
  w.slots.slotExists = slot != Slot::Missing;
  // A missing slot's owner has gone: the handle held so far fails too.
  if (slot != Slot::Present) w.slots.broken = w.slots.held;

  w.udp.Queue(datagram);
  w.udp.Queue(ostrivane::EncodeRemoteDatagram(end));
  const std::size_t expectedShown = command ? 2 : 1;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (w.memo.shown.size() < expectedShown) {
    if (!ostrivane::MainThread::CheckSynchronize()) w.wakeUp.Wait(10ms);
    Check(std::chrono::steady_clock::now() < deadline,
          "the input and the harness's datagram are relayed within 10 s");
  }
  Check(w.memo.shown.size() == expectedShown && w.memo.shown.back() == end,
        "the log box shows the accepted command, then the harness's, and nothing else");
  Check(w.udp.Pending() == 0, "every datagram was read");

  if (slot == Slot::Missing) {
    Check(w.slots.delivered.empty(), "nothing arrives without a slot");
    Check(w.slots.held.empty(), "no handle is held without a slot");
  } else {
    std::vector<std::string> expected;
    if (command) expected.push_back(ostrivane::text_paths::Cp1252FromUtf16Reference(*command));
    expected.push_back(endBytes);
    Check(w.slots.delivered == expected, "one message per accepted command, in order");
    Check(w.slots.held.size() == 1, "the writer keeps one handle");
  }
  if (command) {
    Check(w.memo.shown.front() == *command, "the log box shows the command unchanged");
    if (slot != Slot::Missing) {
      // Independent of the table: one byte per code unit, ASCII and
      // Latin-1 letters (U+00A0 to U+00FF) as themselves.
      const std::string& message = w.slots.delivered.front();
      Check(message.size() == command->size(), "one byte per code unit");
      for (std::size_t i = 0; i < message.size(); ++i) {
        const char16_t unit = (*command)[i];
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
          Check(static_cast<unsigned char>(message[i]) == unit,
                "ASCII and Latin-1 stay as they are");
        }
      }
    }
  }
  Check(w.app.reports == 0, "nothing is reported");
  Check(!testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed(),
        "the fakes saw only calls on handles that were held");
  w.slots.slotExists = true;
  w.slots.broken.clear();
  return 0;
}
