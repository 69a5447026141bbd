// lvx-slot-monitor, run as a program owning a slot of the test's own, written
// to by the mailslot writer.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "relay/mailslot.h"
#include "support/test_util.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane {
namespace {

using testutil::ChildProcess;
using testutil::RunProcess;

class LvxSlotMonitorTest : public testing::Test {
 protected:
  std::vector<std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), {testutil::ToolPath(LVX_SLOT_MONITOR), "--slot", name_});
    return args;
  }

  // Starts the monitor and waits until its slot is there.
  std::unique_ptr<ChildProcess> StartMonitor(const std::vector<std::string>& args) {
    auto monitor = std::make_unique<ChildProcess>(Command(args), "", slots_.ChildEnvironment());
    if (!monitor->ReadUntil(2, "lvx-slot-monitor: listening at ")) {
      ADD_FAILURE() << "the monitor did not start: " << monitor->Wait().err;
    }
    return monitor;
  }

  std::size_t Send(const std::string& bytes) { return writer_->Write(bytes.data(), bytes.size()); }

  // Whether the slot is there for a writer that opens it afresh. The
  // writer's own held handle is given up first: under Wine a held handle
  // keeps the slot's name alive after its owner has closed it.
  bool SlotIsThere() {
    writer_.reset();
    writer_ = NewWriter();
    return Send("probe") != 0;
  }

  [[nodiscard]] std::unique_ptr<TMailSlotWriter> NewWriter() const {
    return std::make_unique<TMailSlotWriter>(std::u16string(name_.begin(), name_.end()));
  }

  testutil::PrivateSlots slots_;
  std::string name_ = slots_.NewName();
  std::unique_ptr<TMailSlotWriter> writer_ = NewWriter();
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
  const auto monitor = StartMonitor(args);
  for (const auto& m : c.messages) EXPECT_EQ(Send(m), m.size());
  const auto result = monitor->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, c.output);
  EXPECT_FALSE(SlotIsThere()) << "the monitor left its slot behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSlotMonitorOutputTest,
    testing::Values(
        OutputCase{"Text", {}, {"abc", "<x a=\"1\"/>"}, "3 abc\n10 <x a=\"1\"/>\n"},
        OutputCase{"Empty", {}, {"", "after"}, "0 \n5 after\n"},
        OutputCase{"Cp1252ToUtf8",
                   {},
                   {"Gr\xFC\xDF \x80\x9F\xA0\xFF"},
                   "9 Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xBF\n"},
        OutputCase{"EscapedControlsAndBackslash",
                   {},
                   {std::string("a\\b\n\r\t\0\x1F\x7F\x81\x8D\x8F\x90\x9Dz", 15)},
                   "15 a\\\\b\\x0a\\x0d\\x09\\x00\\x1f\\x7f\\x81\\x8d\\x8f\\x90\\x9dz\n"},
        OutputCase{"Hex", {"--hex"}, {"ab", "", std::string("\0\xFF", 2)}, "2 6162\n0 \n2 00ff\n"},
        OutputCase{"LargestDatagramsPayload",
                   {},
                   {std::string(8185, 'x')},
                   "8185 " + std::string(8185, 'x') + "\n"},
        OutputCase{"SlowReaderLosesNothing",
                   {"--read-delay-ms", "3"},
                   {"m0",  "m1",  "m2",  "m3",  "m4",  "m5",  "m6",  "m7",  "m8",  "m9",
                    "m10", "m11", "m12", "m13", "m14", "m15", "m16", "m17", "m18", "m19",
                    "m20", "m21", "m22", "m23", "m24", "m25", "m26", "m27", "m28", "m29"},
                   "2 m0\n2 m1\n2 m2\n2 m3\n2 m4\n2 m5\n2 m6\n2 m7\n2 m8\n2 m9\n3 m10\n3 m11\n"
                   "3 m12\n3 m13\n3 m14\n3 m15\n3 m16\n3 m17\n3 m18\n3 m19\n3 m20\n3 m21\n"
                   "3 m22\n3 m23\n3 m24\n3 m25\n3 m26\n3 m27\n3 m28\n3 m29\n"}),
    testutil::CaseName());

TEST_F(LvxSlotMonitorTest, SecondMonitorForTheSameSlotIsRefused) {
  const auto monitor = StartMonitor({"--count", "1"});
  const auto second = RunProcess(Command({}), "", slots_.ChildEnvironment());
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("already exists"), std::string::npos) << second.err;
  EXPECT_EQ(second.out, "");
  // The first one still owns the slot.
  EXPECT_EQ(Send("still here"), 10U);
  const auto result = monitor->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "10 still here\n");
}

TEST_F(LvxSlotMonitorTest, HelpDescribesTheOutput) {
  const auto result = RunProcess(Command({"--help"}), "", slots_.ChildEnvironment());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("Usage: lvx-slot-monitor"), std::string::npos);
  EXPECT_NE(result.out.find("<length> <text>"), std::string::npos);
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(SlotIsThere()) << "--help created the slot";
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  std::string error;  // a part of the error output
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class LvxSlotMonitorUsageTest : public LvxSlotMonitorTest,
                                public testing::WithParamInterface<UsageCase> {};

TEST_P(LvxSlotMonitorUsageTest, ExitsWithUsageError) {
  const auto& c = GetParam();
  const auto result = RunProcess(Command(c.args), "", slots_.ChildEnvironment());
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Try 'lvx-slot-monitor --help'."), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(SlotIsThere()) << "the slot was created";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSlotMonitorUsageTest,
    testing::Values(UsageCase{"UnknownOption", {"--colour"}, "unknown argument '--colour'"},
                    UsageCase{"CountZero", {"--count", "0"}, "--count"},
                    UsageCase{"CountNotNumber", {"--count", "x"}, "--count"},
                    UsageCase{"NegativeDelay", {"--read-delay-ms", "-1"}, "--read-delay-ms"},
                    UsageCase{"DelayTooLong", {"--read-delay-ms", "3600001"}, "--read-delay-ms"},
                    UsageCase{"MissingValue", {"--count"}, "option --count needs a value"},
                    UsageCase{"ValueOnFlag", {"--hex=1"}, "option --hex takes no value"},
                    UsageCase{"ParentSlotName", {"--slot", "..\\x"}, "invalid slot name"},
                    UsageCase{"ParentAfterSlash", {"--slot", "a/.."}, "invalid slot name"},
                    UsageCase{"EmptySlotName", {"--slot", ""}, "invalid slot name"}),
    testutil::CaseName());

}  // namespace
}  // namespace ostrivane
