#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "relay/mailslot.h"

namespace ostrivane {
namespace {

// A slot of the test's own, created as the presentation application does.
class ServerSlot {
 public:
  explicit ServerSlot(const std::wstring& path)
      : handle_(CreateMailslotW(path.c_str(), 0, 0, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) ADD_FAILURE() << "CreateMailslotW: " << GetLastError();
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

 private:
  HANDLE handle_;
};

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

}  // namespace
}  // namespace ostrivane
