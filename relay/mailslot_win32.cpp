// The system's mailslots on Windows: the client side, CreateFileW on the
// slot path.
#include <windows.h>

#include <string>

#include "relay/mailslot_platform.h"

namespace ostrivane {
namespace {

HANDLE ToHandle(MailSlotHandle handle) { return reinterpret_cast<HANDLE>(handle); }

class Win32MailSlotSystem final : public IMailSlotSystem {
 public:
  MailSlotHandle Open(std::u16string_view fullPath) override {
    // A zero character would cut the path short and name another slot.
    if (fullPath.find(u'\0') != std::u16string_view::npos) return kInvalidMailSlotHandle;
    const std::wstring path(fullPath.begin(), fullPath.end());
    // OPEN_EXISTING: attach to the slot its owner created, never create one.
    // On failure this is INVALID_HANDLE_VALUE, which is kInvalidMailSlotHandle.
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<MailSlotHandle>(handle);
  }

  // A mailslot takes a message at once or not at all: nothing to wait for.
  MailSlotWriteResult Write(MailSlotHandle handle, const std::uint8_t* data, std::size_t count,
                            MailSlotClock::duration /*roomWait*/) override {
    if (count > MAXDWORD) return {};
    DWORD written = 0;
    if (!WriteFile(ToHandle(handle), data, static_cast<DWORD>(count), &written, nullptr)) {
      return {};
    }
    return {MailSlotWriteStatus::Written, static_cast<std::size_t>(written)};
  }

  void Close(MailSlotHandle handle) override { CloseHandle(ToHandle(handle)); }

  MailSlotClock::time_point Now() override { return MailSlotClock::now(); }
};

}  // namespace

IMailSlotSystem& DefaultMailSlotSystem() {
  static Win32MailSlotSystem system;
  return system;
}

// No write ever waits here.
void platform::CancelMailSlotWaits() noexcept {}

}  // namespace ostrivane
