// lvx-firewall as a program, under Wine: what Wine's firewall shows. Its
// objects answer no profile (so the verdict is "not known") and keep no rule
// (so "allow" finds its rule missing afterwards, and "remove" finds none),
// and Wine runs every process with administrator rights. The verdict and the changes
// themselves are tested through the fake policy (net/firewall_rules_test);
// on Windows the commands that change the firewall are not run by a test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tools/lvx_tools_test_platform.h"

namespace ostrivane {
namespace {

using testing::HasSubstr;

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

testutil::ProcessResult Firewall(std::vector<std::string> args) {
  args.insert(args.begin(), testutil::ToolPath(LVX_FIREWALL));
  return testutil::RunProcess(args);
}

TEST(LvxFirewall, UsageAndItsErrors) {
  const auto help = Firewall({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, HasSubstr("status:         0 allowed, 3 blocked, 4 not known"));
  EXPECT_THAT(help.out,
              HasSubstr("\n  --elevate        for allow and remove without administrator"));
  struct UsageCase {
    std::vector<std::string> args;
    std::string message;
  };
  for (const UsageCase& c :
       {UsageCase{{}, "lvx-firewall: give a command: status, allow or remove\n"},
        UsageCase{{"status", "allow"}, "lvx-firewall: give one command: status, allow or remove\n"},
        UsageCase{{"open"}, "lvx-firewall: unknown argument 'open'\n"},
        UsageCase{{"status", "--program"}, "lvx-firewall: option --program needs a value\n"}}) {
    const auto result = Firewall(c.args);
    EXPECT_EQ(result.exitCode, 2) << c.message;
    EXPECT_EQ(result.err, c.message + "Try 'lvx-firewall --help'.\n");
    EXPECT_EQ(result.out, "");
  }
}

TEST(LvxFirewall, StatusUnderWineIsNotKnown) {
  if (!UnderWine()) GTEST_SKIP() << "the verdict depends on this machine's firewall";
  const auto beside = Firewall({"status"});
  EXPECT_EQ(beside.exitCode, 4) << beside.err;
  const std::string tool = testutil::ToolPath(LVX_FIREWALL);
  const std::string folder = tool.substr(0, tool.find_last_of('\\') + 1);
  EXPECT_EQ(beside.out, folder +
                            "Ostrivane.exe, inbound UDP port 19151: not known\n"
                            "  no active profile is known\n");
  const auto given = Firewall({"status", "--program=C:\\Apps\\..\\Relay\\Ostrivane.exe"});
  EXPECT_EQ(given.exitCode, 4);
  EXPECT_THAT(given.out, HasSubstr("C:\\Relay\\Ostrivane.exe, inbound UDP port 19151: not known"));
}

// Wine's firewall accepts the rule and keeps nothing: the tool reads the
// rules again and says so. With --elevate the same: an administrator (as
// every process under Wine is) runs the command itself, with its lines.
TEST(LvxFirewall, AllowAndRemoveUnderWine) {
  if (!UnderWine()) GTEST_SKIP() << "a test does not change this machine's firewall";
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, std::vector<std::string>{"--elevate"}}) {
    SCOPED_TRACE(extra.empty() ? "as given" : "--elevate");
    std::vector<std::string> args = {"allow", "--program", "C:\\Relay\\Ostrivane.exe"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto allow = Firewall(args);
    EXPECT_EQ(allow.exitCode, 1);
    EXPECT_EQ(allow.out,
              "added \"Ostrivane\" (allow inbound, UDP port 19151, program "
              "C:\\Relay\\Ostrivane.exe, all profiles, from LocalSubnet)\n");
    EXPECT_EQ(allow.err,
              "lvx-firewall: allow did not take effect: the firewall did not keep the rule "
              "\"Ostrivane\"\n");
    args = {"remove"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto remove = Firewall(args);
    EXPECT_EQ(remove.exitCode, 0) << remove.err;
    EXPECT_EQ(remove.out, "no rule \"Ostrivane\" to remove\n");
  }
}

}  // namespace
}  // namespace ostrivane
