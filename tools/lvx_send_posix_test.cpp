// lvx-send on POSIX systems, where arguments are bytes that need not be UTF-8
// and a folder can be opened like a file.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane {
namespace {

struct RefusedCase {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::string error;  // a part of the error output
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class LvxSendPosixRefusesTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(LvxSendPosixRefusesTest, SendsNothing) {
  const auto& c = GetParam();
  testutil::LoopbackReceiver receiver;
  std::vector<std::string> argv = {testutil::ToolPath(LVX_SEND), "--to", "127.0.0.1", "--port",
                                   receiver.Port()};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  const auto result = testutil::RunProcess(argv);
  EXPECT_EQ(result.exitCode, c.exitCode);
  EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(receiver.Take(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSendPosixRefusesTest,
    testing::Values(RefusedCase{"ActionNotUtf8", {"--action", "\xFF"}, 2, "UTF-8"},
                    RefusedCase{"TextNotUtf8", {"--text", "a\xC0\x80"}, 2, "UTF-8"},
                    RefusedCase{"FolderAsFile", {"--file", "/"}, 1, "cannot read /: "}),
    testutil::CaseName());

}  // namespace
}  // namespace ostrivane
