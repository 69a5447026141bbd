#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "relay/mailslot.h"
#include "relay/mailslot_platform.h"

namespace ostrivane {
namespace {

// A slot of the test's own, created as the presentation application does.
class ServerSlot {
 public:
  explicit ServerSlot(const std::wstring& path)
      : handle_(CreateMailslotW(path.c_str(), 0, 0, nullptr)), error_(GetLastError()) {
    if (handle_ == INVALID_HANDLE_VALUE) ADD_FAILURE() << "CreateMailslotW: " << error_;
  }
  ~ServerSlot() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ServerSlot(const ServerSlot&) = delete;
  ServerSlot& operator=(const ServerSlot&) = delete;

  // The next message, or nullopt when none is waiting.
  std::optional<std::string> Read() {
    std::vector<char> buffer(65536);
    DWORD read = 0;
    if (!ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return std::nullopt;
    }
    return std::string(buffer.data(), read);
  }

  // Every message waiting, in order.
  std::vector<std::string> ReadAll() {
    std::vector<std::string> messages;
    while (auto m = Read()) messages.push_back(*m);
    return messages;
  }

  [[nodiscard]] bool Created() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  [[nodiscard]] DWORD Error() const noexcept { return error_; }

 private:
  HANDLE handle_;
  DWORD error_;
};

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

// Messages of this size fill Wine's queue of a slot after a dozen or so.
constexpr std::size_t kBigMessage = 8000;
// More than any queue of a slot under Wine holds of them.
constexpr std::size_t kEnoughToFill = 1000;

std::string Numbered(std::size_t i) {
  std::string text = std::to_string(i) + ":";
  text.resize(kBigMessage, 'm');
  return text;
}

std::size_t WriteText(TMailSlotWriter& writer, const std::string& text) {
  return writer.Write(text.data(), text.size());
}

// Writes numbered messages into a slot nobody reads until one is given up;
// answers the messages that went in, and how long the given-up one took.
struct Filled {
  std::vector<std::string> delivered;
  steady_clock::duration refusalTook{};
};

Filled FillUntilRefused(TMailSlotWriter& writer) {
  Filled filled;
  while (filled.delivered.size() < kEnoughToFill) {
    const std::string text = Numbered(filled.delivered.size());
    const auto start = steady_clock::now();
    if (WriteText(writer, text) != text.size()) {
      filled.refusalTook = steady_clock::now() - start;
      break;
    }
    filled.delivered.push_back(text);
  }
  return filled;
}

class MailSlotWin32Test : public testing::Test {
 protected:
  // A slot name no other test run uses at the same time.
  std::u16string Name() const {
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    return u"ostrivane-test-" + std::u16string(id.begin(), id.end()) + u"\\Messages";
  }
  std::wstring Path() const {
    const std::u16string full = std::u16string(kMailSlotPrefix) + Name();
    return std::wstring(full.begin(), full.end());
  }
};

TEST_F(MailSlotWin32Test, EachWriteIsOneMessage) {
  ServerSlot slot(Path());
  TMailSlotWriter writer(Name());
  writer.WriteString("first");
  EXPECT_EQ(writer.Write("x\0y", 3), 3U);
  writer.WriteString(std::string(8185, 'z'));
  EXPECT_EQ(slot.Read(), "first");
  EXPECT_EQ(slot.Read(), std::string("x\0y", 3));
  EXPECT_EQ(slot.Read(), std::string(8185, 'z'));
  EXPECT_EQ(slot.Read(), std::nullopt);
}

TEST_F(MailSlotWin32Test, MissingSlotThenAppearing) {
  TMailSlotWriter writer(Name());
  EXPECT_EQ(writer.Write("lost", 4), 0U);
  ServerSlot slot(Path());
  EXPECT_EQ(writer.Write("found", 5), 5U);
  EXPECT_EQ(slot.Read(), "found");
  EXPECT_EQ(slot.Read(), std::nullopt);
}

TEST_F(MailSlotWin32Test, SendStringReachesTheSlot) {
  ServerSlot slot(Path());
  TMailSlotWriter::SendString(Name(), u"Gr\u00FC\u00DF");
  EXPECT_EQ(slot.Read(), "Gr\xFC\xDF");
}

// Where the slot's queue fills up (under Wine; a Windows mailslot takes every
// message at once), a reader that has stopped costs the writer one bounded
// wait, later messages are dropped at once, none of those arrives later, and
// once the reader reads again, what was queued arrives and the next message
// goes through.
TEST_F(MailSlotWin32Test, ReaderThatStoppedCostsOneBoundedWaitThenWhatWasQueuedArrives) {
  ServerSlot slot(Path());
  TMailSlotWriter writer(Name());
  const Filled filled = FillUntilRefused(writer);
  if (filled.delivered.size() == kEnoughToFill) {
    GTEST_SKIP() << "this system's mailslot took every message at once";
  }
  EXPECT_GE(filled.refusalTook, milliseconds(400));
  EXPECT_LT(filled.refusalTook, milliseconds(1500));
  const auto start = steady_clock::now();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(WriteText(writer, Numbered(9000 + i)), 0U) << i;
  EXPECT_LT(steady_clock::now() - start, milliseconds(500)) << "later messages waited too";
  EXPECT_EQ(slot.ReadAll(), filled.delivered);
  EXPECT_EQ(writer.Write("again", 5), 5U);
  EXPECT_EQ(slot.ReadAll(), std::vector<std::string>{"again"});
}

// A message given up closes the writer's handle. Wine keeps a slot, and its
// name, while any writer holds a handle on it: an owner that went away could
// not come back otherwise.
TEST_F(MailSlotWin32Test, MessageGivenUpLetsGoOfTheSlotForTheNextOwner) {
  TMailSlotWriter writer(Name());
  {
    ServerSlot first(Path());
    if (FillUntilRefused(writer).delivered.size() == kEnoughToFill) {
      GTEST_SKIP() << "this system's mailslot took every message at once";
    }
  }
  ServerSlot next(Path());
  ASSERT_TRUE(next.Created()) << "the name is still taken: " << next.Error();
  EXPECT_EQ(writer.Write("back", 4), 4U);
  EXPECT_EQ(next.ReadAll(), std::vector<std::string>{"back"});
}

// A stop request ends a wait for room at once, from another thread, and no
// later write waits. The request lasts for the rest of the process, so the
// test runs in a process of its own.
TEST_F(MailSlotWin32Test, StopRequestEndsTheWaitForRoom) {
  EXPECT_EXIT(
      {
        ServerSlot slot(Path());
        IMailSlotSystem& system = DefaultMailSlotSystem();
        const MailSlotHandle handle = system.Open(std::u16string(kMailSlotPrefix) + Name());
        const std::string big = Numbered(0);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(big.data());
        std::size_t queued = 0;
        while (queued < kEnoughToFill &&
               system.Write(handle, bytes, big.size(), MailSlotClock::duration::zero()).status ==
                   MailSlotWriteStatus::Written) {
          ++queued;
        }
        if (queued == kEnoughToFill) {
          std::fprintf(stderr, "this system's mailslot took every message at once\n");
          std::_Exit(0);
        }
        std::thread stopper([] {
          std::this_thread::sleep_for(milliseconds(200));
          platform::CancelMailSlotWaits();
        });
        auto start = MailSlotClock::now();
        const MailSlotWriteResult cut = system.Write(handle, bytes, big.size(), seconds(10));
        const auto cutAfter = MailSlotClock::now() - start;
        stopper.join();
        start = MailSlotClock::now();
        const MailSlotWriteResult later = system.Write(handle, bytes, big.size(), seconds(10));
        const auto laterAfter = MailSlotClock::now() - start;
        system.Close(handle);
        const std::size_t arrived = slot.ReadAll().size();
        const bool ok = cut.status == MailSlotWriteStatus::Full && cutAfter >= milliseconds(150) &&
                        cutAfter < seconds(2) && later.status == MailSlotWriteStatus::Full &&
                        laterAfter < milliseconds(100) && arrived == queued;
        std::fprintf(
            stderr, "queued %zu, arrived %zu, cut after %lld ms, later after %lld ms\n", queued,
            arrived,
            static_cast<long long>(std::chrono::duration_cast<milliseconds>(cutAfter).count()),
            static_cast<long long>(std::chrono::duration_cast<milliseconds>(laterAfter).count()));
        std::_Exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ostrivane
