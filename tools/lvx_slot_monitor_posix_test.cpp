// lvx-slot-monitor on POSIX systems, run as a program in a private
// XDG_RUNTIME_DIR: the folders and the socket it makes, signals, and what it
// finds in its way.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "relay/mailslot.h"
#include "support/test_util.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using testutil::ChildProcess;
using testutil::RunProcess;

// Waits until a socket exists at `path` (a guard, not a measured time).
bool WaitForSocket(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + testutil::kChildGuard;
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// The writer in this process and the monitor look in the same private
// XDG_RUNTIME_DIR.
class LvxSlotMonitorPosixTest : public testutil::TempRuntimeDirTest {
 protected:
  void SetUp() override {
    root_ = RuntimeDir() + "/mailslot";
    path_ = root_ + "/Lyravox/Messages";
  }

  std::vector<std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), testutil::ToolPath(LVX_SLOT_MONITOR));
    return args;
  }
  [[nodiscard]] std::map<std::string, std::string> Env() const {
    return {{"XDG_RUNTIME_DIR", RuntimeDir()}};
  }

  static std::size_t Send(TMailSlotWriter& writer, const std::string& bytes) {
    return writer.Write(bytes.data(), bytes.size());
  }

  static unsigned Mode(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777U;
  }

  std::string root_;
  std::string path_;
};

TEST_F(LvxSlotMonitorPosixTest, CreatesPrivateFolders) {
  ChildProcess monitor(Command({"--count", "1"}), "", Env());
  ASSERT_TRUE(WaitForSocket(path_));
  EXPECT_EQ(Mode(root_), 0700U);
  EXPECT_EQ(Mode(root_ + "/Lyravox"), 0700U);
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(Send(writer, "x"), 1U);
  EXPECT_EQ(monitor.Wait().exitCode, 0);
}

TEST_F(LvxSlotMonitorPosixTest, OtherSlotName) {
  ChildProcess monitor(Command({"--slot", "Other\\Deep\\Name", "--count", "1"}), "", Env());
  ASSERT_TRUE(WaitForSocket(root_ + "/Other/Deep/Name"));
  TMailSlotWriter writer(u"Other\\Deep\\Name");
  EXPECT_EQ(Send(writer, "deep"), 4U);
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "4 deep\n");
}

struct SignalCase {
  const char* name;
  int signal;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class LvxSlotMonitorPosixSignalTest : public LvxSlotMonitorPosixTest,
                                      public testing::WithParamInterface<SignalCase> {};

TEST_P(LvxSlotMonitorPosixSignalTest, EndsCleanlyAndRemovesTheEndpoint) {
  ChildProcess monitor(Command({}), "", Env());
  ASSERT_TRUE(WaitForSocket(path_));
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(Send(writer, "before"), 6U);
  // A second monitor for the same slot leaves the live one alone.
  const auto second = RunProcess(Command({}), "", Env());
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("live endpoint already exists"), std::string::npos) << second.err;
  EXPECT_EQ(Send(writer, "after"), 5U);
  EXPECT_TRUE(monitor.ReadUntil(1, "5 after\n"));
  ::kill(static_cast<pid_t>(monitor.Id()), GetParam().signal);
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "6 before\n5 after\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  EXPECT_EQ(Send(writer, "gone"), 0U);
}

INSTANTIATE_TEST_SUITE_P(Cases, LvxSlotMonitorPosixSignalTest,
                         testing::Values(SignalCase{"Interrupt", SIGINT},
                                         SignalCase{"Terminate", SIGTERM}),
                         testutil::CaseName());

TEST_F(LvxSlotMonitorPosixTest, StaleSocketIsReplaced) {
  ASSERT_EQ(::mkdir(root_.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((root_ + "/Lyravox").c_str(), 0700), 0);
  {
    // An endpoint whose owner ended without removing it.
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path_.size(), sizeof address.sun_path);
    path_.copy(address.sun_path, path_.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(Send(writer, "old"), 0U);
  ChildProcess monitor(Command({"--count", "1"}), "", Env());
  ASSERT_TRUE(monitor.ReadUntil(2, "listening at " + path_));
  EXPECT_EQ(Send(writer, "new"), 3U);
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "3 new\n");
}

struct FailureCase {
  const char* name;
  std::function<void(const std::string& root, const std::string& path)> arrange;
  std::vector<std::string> args;
  int exitCode;
  std::string error;  // a part of the error output
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class LvxSlotMonitorPosixFailureTest : public LvxSlotMonitorPosixTest,
                                       public testing::WithParamInterface<FailureCase> {};

TEST_P(LvxSlotMonitorPosixFailureTest, ExitsWithError) {
  const auto& c = GetParam();
  c.arrange(root_, path_);
  const auto result = RunProcess(Command(c.args), "", Env());
  EXPECT_EQ(result.exitCode, c.exitCode);
  EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
}

const auto kNothing = [](const std::string&, const std::string&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSlotMonitorPosixFailureTest,
    testing::Values(
        FailureCase{"NameTooLong", kNothing, {"--slot", std::string(200, 'n')}, 1, "too long"},
        FailureCase{"RegularFileInTheWay",
                    [](const std::string& root, const std::string& path) {
                      fs::create_directories(root + "/Lyravox");
                      std::ofstream(path) << "keep";
                    },
                    {},
                    1,
                    "not a socket"},
        FailureCase{"RootOthersCanWrite",
                    [](const std::string& root, const std::string&) {
                      fs::create_directories(root);
                      ::chmod(root.c_str(), 0777);
                    },
                    {},
                    1,
                    "other users"},
        FailureCase{"FolderIsSymlink",
                    [](const std::string& root, const std::string&) {
                      fs::create_directories(root);
                      ::chmod(root.c_str(), 0700);
                      fs::create_directory_symlink("/tmp", root + "/Lyravox");
                    },
                    {},
                    1,
                    "not a folder of this user"}),
    testutil::CaseName());

TEST_F(LvxSlotMonitorPosixTest, RegularFileInTheWayIsKept) {
  fs::create_directories(root_ + "/Lyravox");
  std::ofstream(path_) << "keep";
  EXPECT_EQ(RunProcess(Command({}), "", Env()).exitCode, 1);
  std::ifstream in(path_);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
}

TEST_F(LvxSlotMonitorPosixTest, HelpCreatesNothing) {
  const auto result = RunProcess(Command({"--help"}), "", Env());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(fs::exists(root_)) << "--help created the endpoint's folder";
}

}  // namespace
}  // namespace ostrivane
