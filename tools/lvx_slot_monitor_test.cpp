// lvx-slot-monitor, run as a program in a private XDG_RUNTIME_DIR, written to
// by the mailslot writer.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "relay/mailslot.h"
#include "support/test_util.h"
#include "tools/lvx_tools_test_process.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;
using testutil::ChildProcess;
using testutil::RunProcess;

// The writer in this process and the monitor look in the same private
// XDG_RUNTIME_DIR.
class LvxSlotMonitorTest : public testutil::TempRuntimeDirTest {
 protected:
  void SetUp() override {
    root_ = RuntimeDir() + "/mailslot";
    path_ = root_ + "/Lyravox/Messages";
  }

  std::vector<std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), LVX_SLOT_MONITOR);
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

struct OutputCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> messages;
  std::string output;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class LvxSlotMonitorOutputTest : public LvxSlotMonitorTest,
                                 public testing::WithParamInterface<OutputCase> {};

TEST_P(LvxSlotMonitorOutputTest, PrintsEachMessageOnOneLine) {
  const auto& c = GetParam();
  std::vector<std::string> args = c.args;
  args.emplace_back("--count");
  args.push_back(std::to_string(c.messages.size()));
  ChildProcess monitor(Command(args), "", Env());
  ASSERT_TRUE(testutil::WaitForSocket(path_));
  TMailSlotWriter writer(u"Lyravox\\Messages");
  for (const auto& m : c.messages) EXPECT_EQ(Send(writer, m), m.size());
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, c.output);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_))) << "the endpoint was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSlotMonitorOutputTest,
    testing::Values(
        OutputCase{"Text", {}, {"abc", "<x a=\"1\"/>"}, "3 abc\n10 <x a=\"1\"/>\n"},
        OutputCase{"Empty", {}, {""}, "0 \n"},
        OutputCase{"Cp1252ToUtf8",
                   {},
                   {"Gr\xFC\xDF \x80\x9F\xA0\xFF"},
                   "9 Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xBF\n"},
        OutputCase{"EscapedControlsAndBackslash",
                   {},
                   {std::string("a\\b\n\r\t\0\x1F\x7F\x81\x8D\x8F\x90\x9Dz", 15)},
                   "15 a\\\\b\\x0a\\x0d\\x09\\x00\\x1f\\x7f\\x81\\x8d\\x8f\\x90\\x9dz\n"},
        OutputCase{"Hex", {"--hex"}, {"ab", "", std::string("\0\xFF", 2)}, "2 6162\n0 \n2 00ff\n"},
        OutputCase{"SlowReaderLosesNothing",
                   {"--read-delay-ms", "3"},
                   {"m0",  "m1",  "m2",  "m3",  "m4",  "m5",  "m6",  "m7",  "m8",  "m9",
                    "m10", "m11", "m12", "m13", "m14", "m15", "m16", "m17", "m18", "m19",
                    "m20", "m21", "m22", "m23", "m24", "m25", "m26", "m27", "m28", "m29"},
                   "2 m0\n2 m1\n2 m2\n2 m3\n2 m4\n2 m5\n2 m6\n2 m7\n2 m8\n2 m9\n3 m10\n3 m11\n"
                   "3 m12\n3 m13\n3 m14\n3 m15\n3 m16\n3 m17\n3 m18\n3 m19\n3 m20\n3 m21\n"
                   "3 m22\n3 m23\n3 m24\n3 m25\n3 m26\n3 m27\n3 m28\n3 m29\n"}),
    testutil::CaseName());

TEST_F(LvxSlotMonitorTest, CreatesPrivateFolders) {
  ChildProcess monitor(Command({"--count", "1"}), "", Env());
  ASSERT_TRUE(testutil::WaitForSocket(path_));
  EXPECT_EQ(Mode(root_), 0700U);
  EXPECT_EQ(Mode(root_ + "/Lyravox"), 0700U);
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(Send(writer, "x"), 1U);
  EXPECT_EQ(monitor.Wait().exitCode, 0);
}

TEST_F(LvxSlotMonitorTest, OtherSlotName) {
  ChildProcess monitor(Command({"--slot", "Other\\Deep\\Name", "--count", "1"}), "", Env());
  ASSERT_TRUE(testutil::WaitForSocket(root_ + "/Other/Deep/Name"));
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

class LvxSlotMonitorSignalTest : public LvxSlotMonitorTest,
                                 public testing::WithParamInterface<SignalCase> {};

TEST_P(LvxSlotMonitorSignalTest, EndsCleanlyAndRemovesTheEndpoint) {
  ChildProcess monitor(Command({}), "", Env());
  ASSERT_TRUE(testutil::WaitForSocket(path_));
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(Send(writer, "before"), 6U);
  // A second monitor for the same slot leaves the live one alone.
  const auto second = RunProcess(Command({}), "", Env());
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("live endpoint already exists"), std::string::npos) << second.err;
  EXPECT_EQ(Send(writer, "after"), 5U);
  EXPECT_TRUE(monitor.ReadUntil(1, "5 after\n"));
  monitor.Signal(GetParam().signal);
  const auto result = monitor.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "6 before\n5 after\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  EXPECT_EQ(Send(writer, "gone"), 0U);
}

INSTANTIATE_TEST_SUITE_P(Cases, LvxSlotMonitorSignalTest,
                         testing::Values(SignalCase{"Interrupt", SIGINT},
                                         SignalCase{"Terminate", SIGTERM}),
                         testutil::CaseName());

TEST_F(LvxSlotMonitorTest, StaleSocketIsReplaced) {
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

class LvxSlotMonitorFailureTest : public LvxSlotMonitorTest,
                                  public testing::WithParamInterface<FailureCase> {};

TEST_P(LvxSlotMonitorFailureTest, ExitsWithError) {
  const auto& c = GetParam();
  c.arrange(root_, path_);
  const auto result = RunProcess(Command(c.args), "", Env());
  EXPECT_EQ(result.exitCode, c.exitCode);
  EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
}

const auto kNothing = [](const std::string&, const std::string&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSlotMonitorFailureTest,
    testing::Values(
        FailureCase{"UnknownOption", kNothing, {"--colour"}, 2, "unknown argument"},
        FailureCase{"CountZero", kNothing, {"--count", "0"}, 2, "--count"},
        FailureCase{"CountNotNumber", kNothing, {"--count", "x"}, 2, "--count"},
        FailureCase{"NegativeDelay", kNothing, {"--read-delay-ms", "-1"}, 2, "--read-delay-ms"},
        FailureCase{"MissingValue", kNothing, {"--slot"}, 2, "needs a value"},
        FailureCase{"ParentSlotName", kNothing, {"--slot", "..\\x"}, 2, "invalid slot name"},
        FailureCase{"EmptySlotName", kNothing, {"--slot", ""}, 2, "invalid slot name"},
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

TEST_F(LvxSlotMonitorTest, RegularFileInTheWayIsKept) {
  fs::create_directories(root_ + "/Lyravox");
  std::ofstream(path_) << "keep";
  EXPECT_EQ(RunProcess(Command({}), "", Env()).exitCode, 1);
  std::ifstream in(path_);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
}

TEST_F(LvxSlotMonitorTest, HelpDescribesTheOutput) {
  const auto result = RunProcess(Command({"--help"}), "", Env());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("Usage: lvx-slot-monitor"), std::string::npos);
  EXPECT_NE(result.out.find("<length> <text>"), std::string::npos);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(fs::exists(root_)) << "--help created the endpoint's folder";
}

}  // namespace
}  // namespace ostrivane
