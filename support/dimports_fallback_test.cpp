// The fallbacks that compute something, against the platform's real locale
// comparison and screen. (What the system's own loader binds, and what only
// one platform does, is in dimports_{posix,win32}_test.cpp.)
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/dimports.h"
#include "support/dimports_platform.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

using DImports::LPCWSTR;

class DImportsFallbackTest : public testing::Test {
 protected:
  void SetUp() override {
    InitializeDImports();
#ifndef _WIN32
    // The root collation, whatever the user running the tests has set.
    environment_.Set("LC_ALL", "C");
#endif
  }

#ifndef _WIN32
  testutil::EnvironmentScope environment_;
#endif
};

struct LogicalCase {
  const char* name;
  LPCWSTR text1;
  LPCWSTR text2;
  int expected;
};

// Orders that hold in every locale.
const std::vector<LogicalCase> kLogicalCases{
    {"DigitsCompareAsText", u"file10", u"file9", -1},
    {"DigitsCompareAsTextReversed", u"file9", u"file10", 1},
    {"Equal", u"Readme", u"Readme", 0},
    {"Greater", u"b", u"a", 1},
    {"EmptyFirst", u"", u"a", -1},
    {"NullIsEmpty", nullptr, u"", 0},
    {"LastLetterDecides", u"abc", u"abd", -1},
};

class DImportsLogicalFallbackTest : public DImportsFallbackTest,
                                    public testing::WithParamInterface<LogicalCase> {};

TEST_P(DImportsLogicalFallbackTest, ComparesInTheUserLocale) {
  const LogicalCase& c = GetParam();
  EXPECT_EQ(DImports::Fallback::StrCmpLogicalW(c.text1, c.text2), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, DImportsLogicalFallbackTest, testing::ValuesIn(kLogicalCases),
                         testutil::CaseName());

struct OrdinalCase {
  const char* name;
  LPCWSTR text1;
  int length1;
  LPCWSTR text2;
  int length2;
  DImports::BOOL ignoreCase;
  int expected;
};

const std::vector<OrdinalCase> kOrdinalCases{
    {"IgnoredCaseEqual", u"Hello", -1, u"hELLO", -1, 1, 2},
    {"SameTextEqual", u"Hello", -1, u"Hello", -1, 0, 2},
    {"IgnoredCaseStillOrders", u"apple", -1, u"BANANA", -1, 1, 1},
    {"Greater", u"b", -1, u"a", -1, 0, 3},
    {"LengthsAreNotUsed", u"ab", 1, u"ac", 1, 0, 1},
    {"ZeroLengthsAreNotUsed", u"b", 0, u"a", 0, 1, 3},
};

class DImportsOrdinalFallbackTest : public DImportsFallbackTest,
                                    public testing::WithParamInterface<OrdinalCase> {};

TEST_P(DImportsOrdinalFallbackTest, ComparesInTheUserLocale) {
  const OrdinalCase& c = GetParam();
  EXPECT_EQ(DImports::Fallback::CompareStringOrdinal(c.text1, c.length1, c.text2, c.length2,
                                                     c.ignoreCase),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, DImportsOrdinalFallbackTest, testing::ValuesIn(kOrdinalCases),
                         testutil::CaseName());

TEST_F(DImportsFallbackTest, CaseCountsWithoutTheIgnoreCaseFlag) {
  EXPECT_NE(DImports::Fallback::CompareStringOrdinal(u"Hello", -1, u"hELLO", -1, 0), 2);
}

TEST_F(DImportsFallbackTest, GetDpiForMonitorReportsTheScreensLogicalDpi) {
  DImports::UINT x = 0;
  DImports::UINT y = 0;
  EXPECT_EQ(DImports::Fallback::GetDpiForMonitor(nullptr, DImports::MDT_EFFECTIVE_DPI, &x, &y), 0);
  EXPECT_GT(x, 0U);
  EXPECT_GT(y, 0U);
}

TEST_F(DImportsFallbackTest, TheTestProgramCountsAsAnExecutable) {
  EXPECT_TRUE(DImports::DefaultDynamicLibraries().IsExecutable());
}

}  // namespace
}  // namespace ostrivane
