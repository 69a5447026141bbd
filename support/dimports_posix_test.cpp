// The table on POSIX: the dynamic linker finds no Windows module, so every
// entry binds to its fallback; the locale comparison follows the collation
// locale of the environment; the logical DPI comes from the GUI toolkit.
#include <gtest/gtest.h>

#include <vector>

#include "support/dimports.h"
#include "support/dimports_platform.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

class DImportsPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    InitializeDImports();
    // The root collation, whatever the user running the tests has set.
    environment_.Set("LC_ALL", "C");
  }

  testutil::EnvironmentScope environment_;
};

TEST_F(DImportsPosixTest, TheInterfaceLanguageIsZeroOnEveryCall) {
  EXPECT_EQ(DImports::GetUserDefaultUILanguage(), 0);
  EXPECT_EQ(DImports::GetUserDefaultUILanguage(), 0);
}

TEST_F(DImportsPosixTest, EntriesBindToTheFallbacks) {
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

}  // namespace
}  // namespace ostrivane
