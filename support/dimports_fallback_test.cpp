// The fallbacks that compute something, against the platform's real locale
// comparison and screen, and the entries bound by the system's own loader.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/dimports.h"
#include "support/test_util.h"

#ifdef _WIN32
#define OSTRIVANE_TEXT(s) L##s
#else
#define OSTRIVANE_TEXT(s) u##s
#endif

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
    {"DigitsCompareAsText", OSTRIVANE_TEXT("file10"), OSTRIVANE_TEXT("file9"), -1},
    {"DigitsCompareAsTextReversed", OSTRIVANE_TEXT("file9"), OSTRIVANE_TEXT("file10"), 1},
    {"Equal", OSTRIVANE_TEXT("Readme"), OSTRIVANE_TEXT("Readme"), 0},
    {"Greater", OSTRIVANE_TEXT("b"), OSTRIVANE_TEXT("a"), 1},
    {"EmptyFirst", OSTRIVANE_TEXT(""), OSTRIVANE_TEXT("a"), -1},
    {"NullIsEmpty", nullptr, OSTRIVANE_TEXT(""), 0},
    {"LastLetterDecides", OSTRIVANE_TEXT("abc"), OSTRIVANE_TEXT("abd"), -1},
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
    {"IgnoredCaseEqual", OSTRIVANE_TEXT("Hello"), -1, OSTRIVANE_TEXT("hELLO"), -1, 1, 2},
    {"SameTextEqual", OSTRIVANE_TEXT("Hello"), -1, OSTRIVANE_TEXT("Hello"), -1, 0, 2},
    {"IgnoredCaseStillOrders", OSTRIVANE_TEXT("apple"), -1, OSTRIVANE_TEXT("BANANA"), -1, 1, 1},
    {"Greater", OSTRIVANE_TEXT("b"), -1, OSTRIVANE_TEXT("a"), -1, 0, 3},
    {"LengthsAreNotUsed", OSTRIVANE_TEXT("ab"), 1, OSTRIVANE_TEXT("ac"), 1, 0, 1},
    {"ZeroLengthsAreNotUsed", OSTRIVANE_TEXT("b"), 0, OSTRIVANE_TEXT("a"), 0, 1, 3},
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
  EXPECT_NE(DImports::Fallback::CompareStringOrdinal(OSTRIVANE_TEXT("Hello"), -1,
                                                     OSTRIVANE_TEXT("hELLO"), -1, 0),
            2);
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

#ifdef _WIN32

TEST_F(DImportsFallbackTest, TheInterfaceLanguageComesFromTheSystem) {
  const LANGID first = DImports::GetUserDefaultUILanguage();
  EXPECT_NE(first, 0);
  EXPECT_EQ(DImports::GetUserDefaultUILanguage(), first);
  EXPECT_EQ(first, ::GetUserDefaultUILanguage());
}

TEST_F(DImportsFallbackTest, TheSystemsStrCmpLogicalWComparesNumbersByValue) {
  EXPECT_EQ(DImports::StrCmpLogicalW(L"file10", L"file9"), 1);
  EXPECT_EQ(DImports::StrCmpLogicalW(L"file9", L"file10"), -1);
}

TEST_F(DImportsFallbackTest, TheSystemsCompareStringOrdinalIgnoresCaseOnRequest) {
  EXPECT_EQ(DImports::CompareStringOrdinal(L"Hello", -1, L"hELLO", -1, TRUE), CSTR_EQUAL);
  EXPECT_NE(DImports::CompareStringOrdinal(L"Hello", -1, L"hELLO", -1, FALSE), CSTR_EQUAL);
}

TEST_F(DImportsFallbackTest, GetDpiForMonitorFallbackMatchesTheScreen) {
  HDC screen = ::GetDC(nullptr);
  const int expectedX = ::GetDeviceCaps(screen, LOGPIXELSX);
  const int expectedY = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  UINT x = 0;
  UINT y = 0;
  ASSERT_EQ(DImports::Fallback::GetDpiForMonitor(nullptr, MDT_RAW_DPI, &x, &y), S_OK);
  EXPECT_EQ(static_cast<int>(x), expectedX);
  EXPECT_EQ(static_cast<int>(y), expectedY);
}

#else

TEST_F(DImportsFallbackTest, TheInterfaceLanguageIsZeroOnEveryCall) {
  EXPECT_EQ(DImports::GetUserDefaultUILanguage(), 0);
  EXPECT_EQ(DImports::GetUserDefaultUILanguage(), 0);
}

TEST_F(DImportsFallbackTest, EntriesBindToTheFallbacks) {
  EXPECT_EQ(DImports::StrCmpLogicalW(u"file10", u"file9"), -1);
  EXPECT_EQ(DImports::CompareStringOrdinal(u"Hello", -1, u"hELLO", -1, 1), 2);
  void* item = &item;
  EXPECT_EQ(DImports::SHCreateItemFromParsingName(u"/tmp", nullptr, DImports::GUID{}, &item),
            DImports::kENotImpl);
  EXPECT_EQ(item, nullptr);
}

struct CollationCase {
  const char* name;
  const char* lcAll;  // nullptr: unset
  const char* lcCollate;
  const char* lang;
  const char16_t* text1;
  const char16_t* text2;
  int expected;
};

// Swedish sorts ö after z, Lithuanian y before k; the root collation does
// neither.
const std::vector<CollationCase> kCollationCases{
    {"RootForC", "C", nullptr, nullptr, u"ö", u"z", 1},
    {"RootForPosix", "POSIX", nullptr, nullptr, u"y", u"k", 3},
    {"RootWhenNothingIsSet", nullptr, nullptr, nullptr, u"ö", u"z", 1},
    {"SwedishFromLcAll", "sv_SE.UTF-8", nullptr, nullptr, u"ö", u"z", 3},
    {"LcAllWinsOverLcCollate", "sv_SE.UTF-8", "de_DE.UTF-8", nullptr, u"ö", u"z", 3},
    {"LcCollateWhenLcAllIsEmpty", "", "sv_SE", "de_DE", u"ö", u"z", 3},
    {"LcCollateWinsOverLang", nullptr, "de_DE.UTF-8", "sv_SE.UTF-8", u"ö", u"z", 1},
    {"LangLast", nullptr, "", "sv_SE.UTF-8@euro", u"ö", u"z", 3},
    {"LithuanianY", "lt_LT.UTF-8", nullptr, nullptr, u"y", u"k", 1},
    {"RootY", "en_US.UTF-8", nullptr, nullptr, u"y", u"k", 3},
};

class DImportsCollationTest : public testing::TestWithParam<CollationCase> {};

TEST_P(DImportsCollationTest, FollowsTheCollationLocaleOfTheEnvironment) {
  const CollationCase& c = GetParam();
  testutil::EnvironmentScope environment;
  environment.Set("LC_ALL", c.lcAll);
  environment.Set("LC_COLLATE", c.lcCollate);
  environment.Set("LANG", c.lang);
  EXPECT_EQ(DImports::Fallback::CompareStringOrdinal(c.text1, -1, c.text2, -1, 0), c.expected);
  EXPECT_EQ(DImports::Fallback::StrCmpLogicalW(c.text1, c.text2), c.expected - 2);
}

INSTANTIATE_TEST_SUITE_P(Locales, DImportsCollationTest, testing::ValuesIn(kCollationCases),
                         testutil::CaseName());

bool FromToolkit(unsigned& x, unsigned& y) {
  x = 120;
  y = 144;
  return true;
}

bool NoScreen(unsigned& x, unsigned& y) {
  x = 1;
  y = 1;
  return false;
}

struct DpiCase {
  const char* name;
  DImports::LogicalDpiSource source;
  DImports::UINT x;
  DImports::UINT y;
};

const std::vector<DpiCase> kDpiCases{
    {"WithoutSource", nullptr, 96, 96},
    {"FromTheToolkit", &FromToolkit, 120, 144},
    {"SourceWithoutScreen", &NoScreen, 96, 96},
};

class DImportsDpiTest : public testing::TestWithParam<DpiCase> {
 protected:
  void TearDown() override { DImports::SetLogicalDpiSource(nullptr); }
};

TEST_P(DImportsDpiTest, AsksTheSourceWhenOneIsSet) {
  const DpiCase& c = GetParam();
  DImports::SetLogicalDpiSource(c.source);
  DImports::UINT x = 0;
  DImports::UINT y = 0;
  EXPECT_EQ(DImports::GetDpiForMonitor(nullptr, DImports::MDT_EFFECTIVE_DPI, &x, &y), 0);
  EXPECT_EQ(x, c.x);
  EXPECT_EQ(y, c.y);
}

INSTANTIATE_TEST_SUITE_P(Sources, DImportsDpiTest, testing::ValuesIn(kDpiCases),
                         testutil::CaseName());

#endif

}  // namespace
}  // namespace ostrivane
