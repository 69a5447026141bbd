#include "support/system_error.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/test_util.h"
#include "support/text_platform.h"

namespace ostrivane {
namespace {

struct ErrorCase {
  const char* name;
  std::uint32_t code;
  friend void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }
};

class SystemErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(SystemErrorTest, TextIsTheSystemsMessageTrimmed) {
  const std::string message = platform::SystemErrorMessage(GetParam().code);
  const std::string text = SystemErrorText(GetParam().code);
  ASSERT_FALSE(text.empty());
  // The system's messages end in ".\r\n"; reports show them without it.
  EXPECT_NE(message, text);
  EXPECT_EQ(message.substr(0, text.size()), text);
  EXPECT_EQ(message.substr(text.size()).find_first_not_of(".\r\n "), std::string::npos);
  EXPECT_EQ(std::string(".\r\n ").find(text.back()), std::string::npos);
}

TEST_P(SystemErrorTest, ReportNamesNumberAndText) {
  const ESystemError error(GetParam().code);
  EXPECT_EQ(error.Code(), GetParam().code);
  EXPECT_EQ(std::string(error.what()), "System Error.  Code: " + std::to_string(GetParam().code) +
                                           ".\r\n" + SystemErrorText(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(Cases, SystemErrorTest,
                         testing::Values(ErrorCase{"OutOfMemory", kErrorOutOfMemory},
                                         ErrorCase{"InsufficientBuffer", kErrorInsufficientBuffer},
                                         ErrorCase{"NotEnoughMemory", kErrorNotEnoughMemory},
                                         ErrorCase{"InvalidParameter", kErrorInvalidParameter}),
                         testutil::CaseName());

TEST(ESystemError, UnknownNumberHasNoText) {
  EXPECT_EQ(SystemErrorText(99999), "");
  EXPECT_STREQ(ESystemError(99999).what(), "System Error.  Code: 99999.\r\n");
}

TEST(ESystemError, ReportWithTheSystemsOwnTextTrimsIt) {
  const ESystemError error(24, "Too many open files.\r\n");
  EXPECT_EQ(error.Code(), 24U);
  EXPECT_STREQ(error.what(), "System Error.  Code: 24.\r\nToo many open files");
}

}  // namespace
}  // namespace ostrivane
