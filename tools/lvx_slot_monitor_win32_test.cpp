// lvx-slot-monitor on Windows: a real mailslot server, written to by a
// client of the test's own with CreateFileW and WriteFile.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/test_util.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane {
namespace {

class LvxSlotMonitorWin32Test : public testing::Test {
 protected:
  std::wstring SlotPath() const {
    return L"\\\\.\\mailslot\\" + std::wstring(name_.begin(), name_.end());
  }

  // Writes each message with one WriteFile through one client handle.
  void WriteMessages(const std::vector<std::string>& messages) {
    const HANDLE client = CreateFileW(SlotPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
    for (const std::string& message : messages) {
      DWORD written = 0;
      EXPECT_TRUE(
          WriteFile(client, message.data(), static_cast<DWORD>(message.size()), &written, nullptr))
          << GetLastError();
      EXPECT_EQ(written, message.size());
    }
    CloseHandle(client);
  }

  testutil::PrivateSlots slots_;
  std::string name_ = slots_.NewName();
};

TEST_F(LvxSlotMonitorWin32Test, ReceivesWhatAClientWritesAndNamesTheSlot) {
  testutil::ChildProcess monitor(
      {testutil::ToolPath(LVX_SLOT_MONITOR), "--slot", name_, "--count", "2"});
  ASSERT_TRUE(
      monitor.ReadUntil(2, "lvx-slot-monitor: listening at \\\\.\\mailslot\\" + name_ + "\n"));
  WriteMessages({"first <a/>", "second"});
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "10 first <a/>\n6 second\n");
}

// The read buffer fits every message the slot takes, so nothing is cut
// short (Wine would cut a message into a smaller buffer without a word).
// Wine's slots refuse messages much over 150 000 bytes, so the message is no
// longer than that.
TEST_F(LvxSlotMonitorWin32Test, LargeMessageArrivesWhole) {
  testutil::ChildProcess monitor(
      {testutil::ToolPath(LVX_SLOT_MONITOR), "--slot", name_, "--count", "2"});
  ASSERT_TRUE(monitor.ReadUntil(2, "listening at"));
  std::string big(150000, 'y');
  big.back() = 'z';
  WriteMessages({big, "ab"});
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.out == "150000 " + big + "\n2 ab\n") << result.out.substr(0, 80);
}

TEST_F(LvxSlotMonitorWin32Test, SlotTakenByAnotherOwnerIsLeftAlone) {
  const HANDLE owner = CreateMailslotW(SlotPath().c_str(), 0, 0, nullptr);
  ASSERT_NE(owner, INVALID_HANDLE_VALUE) << GetLastError();
  const auto result = testutil::RunProcess({testutil::ToolPath(LVX_SLOT_MONITOR), "--slot", name_});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("a live slot already exists at \\\\.\\mailslot\\" + name_),
            std::string::npos)
      << result.err;
  // The owner's slot still works.
  WriteMessages({"x"});
  char buffer[16];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(owner, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 1U);
  CloseHandle(owner);
}

}  // namespace
}  // namespace ostrivane
