// The system's firewall as this process sees it. Under Wine the firewall's
// objects answer E_NOTIMPL for the profiles, so the verdict is "not known";
// on Windows it is whatever the machine's settings give, so the verdict is
// only checked to be one of the three there.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "net/firewall.h"
#include "net/firewall_rules.h"
#include "support/program_file_win32.h"

namespace ostrivane {
namespace {

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Runs the thread's message loop until `finished` or `limitMs` has passed.
template <typename Finished>
bool PumpUntil(Finished finished, DWORD limitMs) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  while (!finished()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  return true;
}

std::wstring Beside(const wchar_t* name) {
  const std::wstring path = ProgramFileName();
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

TEST(FirewallWin32, WhatWineShowsIsNotKnown) {
  const TFirewallVerdict verdict = DefaultFirewall().Verdict();
  if (UnderWine()) {
    EXPECT_EQ(verdict, TFirewallVerdict::NotKnown);
    // The rules can be read (Wine keeps none); the profiles cannot.
    const auto settings = firewall::DefaultFirewallPolicy()->Read();
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->currentProfiles, 0U);
    EXPECT_TRUE(settings->profiles.empty());
  } else {
    EXPECT_TRUE(verdict == TFirewallVerdict::NotKnown || verdict == TFirewallVerdict::Allowed ||
                verdict == TFirewallVerdict::Blocked);
  }
}

std::string ReadFile(const std::wstring& path) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  std::string text(4096, '\0');
  DWORD read = 0;
  if (!::ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) read = 0;
  CloseHandle(file);
  text.resize(read);
  return text;
}

int g_ticks = 0;
void CALLBACK Tick(HWND /*window*/, UINT /*message*/, UINT_PTR /*timer*/, DWORD /*time*/) {
  ++g_ticks;
}

// The tool that Allow starts, missing (nothing beside this test is called
// so) or present (a stand-in that records its arguments and ends after two
// seconds, as the tool does while the user has not answered the elevation
// prompt): either way Allow returns at once, the thread's messages go on
// being handled, and `done` comes later, from the message loop, exactly once.
TEST(FirewallWin32, AllowReportsTheEndFromTheMessageLoop) {
  const std::wstring tool = Beside(L"lvx-firewall.exe");
  const std::wstring args = Beside(L"lvx-firewall-args.txt");
  DeleteFileW(tool.c_str());
  DeleteFileW(args.c_str());
  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "tool present" : "tool missing");
    if (present) {
      ASSERT_TRUE(CopyFileW(Beside(L"firewall_test_tool.exe").c_str(), tool.c_str(), FALSE));
    }
    int done = 0;
    int ticksAtDone = -1;
    g_ticks = 0;
    const UINT_PTR ticker = SetTimer(nullptr, 0, 50, &Tick);
    ASSERT_NE(ticker, 0U);
    const ULONGLONG start = GetTickCount64();
    DefaultFirewall().Allow([&] {
      ++done;
      ticksAtDone = g_ticks;
    });
    const ULONGLONG returned = GetTickCount64();
    EXPECT_LT(returned - start, 500U) << "Allow waits for the tool";
    EXPECT_EQ(done, 0) << "never from inside Allow";
    EXPECT_TRUE(PumpUntil([&] { return done > 0; }, 10000));
    const ULONGLONG ended = GetTickCount64();
    PumpUntil([] { return false; }, 600);
    KillTimer(nullptr, ticker);
    EXPECT_EQ(done, 1);
    if (present) {
      // `done` waited for the tool's end, and the loop ran meanwhile.
      EXPECT_GE(ended - start, 1800U);
      EXPECT_GE(ticksAtDone, 10);
      EXPECT_EQ(ReadFile(args), "allow\n--elevate\n");
    }
  }
  DeleteFileW(tool.c_str());
  DeleteFileW(args.c_str());
}

}  // namespace
}  // namespace ostrivane
