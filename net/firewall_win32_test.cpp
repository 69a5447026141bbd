// The system's firewall as this process sees it. Under Wine the firewall's
// objects answer E_NOTIMPL for the profiles, so the verdict is "not known";
// on Windows it is whatever the machine's settings give, so the verdict is
// only checked to be one of the three there.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "net/firewall.h"
#include "net/firewall_rules.h"

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
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
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

// The tool that Allow starts, missing (nothing beside this test is called
// so) or present (a copy of a system program that ends at once): either way
// `done` comes later, from the message loop, exactly once.
TEST(FirewallWin32, AllowReportsTheEndFromTheMessageLoop) {
  const std::wstring tool = Beside(L"lvx-firewall.exe");
  DeleteFileW(tool.c_str());
  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "tool present" : "tool missing");
    if (present) {
      std::wstring system(MAX_PATH, L'\0');
      system.resize(GetSystemDirectoryW(system.data(), MAX_PATH));
      ASSERT_TRUE(CopyFileW((system + L"\\hostname.exe").c_str(), tool.c_str(), FALSE));
    }
    int done = 0;
    DefaultFirewall().Allow([&] { ++done; });
    EXPECT_EQ(done, 0) << "never from inside Allow";
    EXPECT_TRUE(PumpUntil([&] { return done > 0; }, 10000));
    PumpUntil([] { return false; }, 600);
    EXPECT_EQ(done, 1);
  }
  DeleteFileW(tool.c_str());
}

}  // namespace
}  // namespace ostrivane
