#include "app/exception_report.h"

#include <gtest/gtest.h>

#include "support/test_util.h"

namespace ostrivane {
namespace {

struct TitleCase {
  const char* name;
  const char* path;
  const char* title;
};

class ApplicationTitleTest : public testing::TestWithParam<TitleCase> {};

TEST_P(ApplicationTitleTest, IsTheFileNameUpToItsFirstFullStop) {
  EXPECT_EQ(ApplicationTitle(GetParam().path), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationTitleTest,
    testing::Values(TitleCase{"WindowsExe", "C:\\Programs\\Ostrivane.exe", "Ostrivane"},
                    TitleCase{"LinuxBinary", "/usr/bin/ostrivane", "ostrivane"},
                    TitleCase{"RestLowered", "/opt/OSTRIVANE", "Ostrivane"},
                    TitleCase{"FirstDotCuts", "/x/My.Relay.exe", "My"},
                    TitleCase{"NoFolder", "Relay", "Relay"},
                    TitleCase{"DotFirst", "/x/.hidden", ""}),
    testutil::CaseName());

struct TextCase {
  const char* name;
  const char* message;
  const char* text;
};

class ExceptionReportTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(ExceptionReportTextTest, AppendsAFullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ExceptionReportText(GetParam().message), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExceptionReportTextTest,
    testing::Values(
        TextCase{"Empty", "", ""},
        TextCase{"Letter", "Could not bind socket", "Could not bind socket."},
        TextCase{"AlreadyFullStop", "Address and port are already in use.",
                 "Address and port are already in use."},
        TextCase{"Digit", "Socket Error # 10048", "Socket Error # 10048."},
        TextCase{"Slash", "a/", "a/."},
        TextCase{"Comma", "a,", "a,"},
        TextCase{"Quote", "Illegal character in node name \"a b\"",
                 "Illegal character in node name \"a b\""},
        TextCase{"LineBreak", "Socket Error # 10022\r\n", "Socket Error # 10022\r\n"},
        TextCase{"HighByte", "Gr\xC3\xBC\xC3\x9F", "Gr\xC3\xBC\xC3\x9F."}),
    testutil::CaseName());

}  // namespace
}  // namespace ostrivane
