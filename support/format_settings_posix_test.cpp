// The decimal separator read from the locale the environment names. The
// build compiles two locales into OSTRIVANE_TEST_LOCALES (German, with ",",
// and Pashto, whose mark U+066B takes two bytes in UTF-8); LOCPATH points
// the C library at them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ranges>
#include <string>
#include <utility>
#include <vector>

#include "support/format_settings.h"
#include "support/test_util.h"

// glibc's newlocale keeps the search path it builds from LOCPATH (which only
// these tests set) and never frees it; that is no leak of ours.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
#endif

namespace ostrivane {
namespace {

using testutil::EnvironmentScope;

struct LocaleCase {
  const char* name;
  const char* lcAll;  // nullptr: unset
  const char* lcNumeric;
  const char* lang;
  bool needsTestLocales;
  char16_t expected;
};

class LoadFormatSettingsTest : public testing::TestWithParam<LocaleCase> {};

TEST_P(LoadFormatSettingsTest, ReadsTheNumericLocalesMark) {
  const LocaleCase& c = GetParam();
  EnvironmentScope environment;
#ifdef OSTRIVANE_TEST_LOCALES
  environment.Set("LOCPATH", OSTRIVANE_TEST_LOCALES);
#else
  if (c.needsTestLocales) GTEST_SKIP() << "no localedef to build the test locales";
#endif
  environment.Set("LC_ALL", c.lcAll);
  environment.Set("LC_NUMERIC", c.lcNumeric);
  environment.Set("LANG", c.lang);
  const char16_t previous = DecimalSeparator();
  SetDecimalSeparator(u'#');
  LoadFormatSettingsFromSystem();
  EXPECT_EQ(DecimalSeparator(), c.expected);
  SetDecimalSeparator(previous);
}

INSTANTIATE_TEST_SUITE_P(
    All, LoadFormatSettingsTest,
    testing::Values(LocaleCase{"NothingSetIsC", nullptr, nullptr, nullptr, false, u'.'},
                    LocaleCase{"CUtf8", nullptr, nullptr, "C.UTF-8", false, u'.'},
                    LocaleCase{"UnknownLocale", nullptr, nullptr, "xx_YY.UTF-8", false, u'.'},
                    LocaleCase{"LangGerman", nullptr, nullptr, "de_DE.UTF-8", true, u','},
                    LocaleCase{"NumericOverridesLang", nullptr, "de_DE.UTF-8", "C", true, u','},
                    LocaleCase{"AllOverridesNumeric", "C", "de_DE.UTF-8", "de_DE.UTF-8", true,
                               u'.'},
                    LocaleCase{"EmptyAllCountsAsUnset", "", "de_DE.UTF-8", nullptr, true, u','},
                    LocaleCase{"MultiByteMark", nullptr, "ps_AF.UTF-8", nullptr, true, u'\u066B'}),
    testutil::CaseName());

}  // namespace
}  // namespace ostrivane
