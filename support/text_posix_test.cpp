// The text services' POSIX side: the user's locale as the environment names
// it. The build compiles two locales into OSTRIVANE_TEST_LOCALES (German,
// with ",", and Pashto, whose mark U+066B takes two bytes in UTF-8); LOCPATH
// points the C library at them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/dimports.h"
#include "support/dimports_fake.h"
#include "support/dutil.h"
#include "support/format_settings.h"
#include "support/test_util.h"
#include "support/text_platform.h"

// glibc's newlocale keeps the search path it builds from LOCPATH (which only
// these tests set) and never frees it; that is no leak of ours.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
#endif

namespace ostrivane {
namespace {

using testutil::EnvironmentScope;

// --- the decimal separator ------------------------------------------------------

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

// --- the user's locale identifier and the German interface ---------------------

// The interface language from a stand-in kernel32.
std::uint16_t gInterfaceLanguage = 0;
DImports::LANGID OSTRIVANE_WINAPI InterfaceLanguage() { return gInterfaceLanguage; }

struct EnvironmentCase {
  const char* name;
  const char* lcAll;  // nullptr: unset
  const char* lcMessages;
  const char* lang;
  std::uint16_t interfaceLanguage;  // 0: the system has no interface language
  bool german;
};

const std::vector<EnvironmentCase> kEnvironmentCases{
    {"LangGerman", nullptr, nullptr, "de_DE.UTF-8", 0, true},
    {"LangSwiss", nullptr, nullptr, "de_CH.UTF-8", 0, true},
    {"LangEnglish", nullptr, nullptr, "en_US.UTF-8", 0, false},
    {"LangGermanNeutral", nullptr, nullptr, "de", 0, false},
    {"LangBelgianGerman", nullptr, nullptr, "de_BE.UTF-8", 0, false},
    {"LcMessagesWinsOverLang", nullptr, "de_AT.UTF-8", "en_US.UTF-8", 0, true},
    {"LcAllWinsOverLcMessages", "en_GB.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", 0, false},
    {"LcAllGerman", "de_LI.UTF-8", "en_US.UTF-8", "en_US.UTF-8", 0, true},
    {"EmptyLcAllSkipped", "", "de_LU.UTF-8", "en_US.UTF-8", 0, true},
    {"EmptyLcMessagesSkipped", nullptr, "", "de_DE.UTF-8", 0, true},
    {"NothingSet", nullptr, nullptr, nullptr, 0, false},
    {"CLocale", "C", nullptr, nullptr, 0, false},
    {"EnglishInterfaceUnderGermanLocale", nullptr, nullptr, "de_DE.UTF-8", 0x0409, false},
    {"GermanInterfaceUnderEnglishLocale", nullptr, nullptr, "en_US.UTF-8", 0x0407, true},
};

class LanguageEnvironmentTest : public testing::TestWithParam<EnvironmentCase> {
 protected:
  void TearDown() override { InitializeDImports(DImports::DefaultDynamicLibraries()); }

  EnvironmentScope environment_;
  testutil::FakeDynamicLibraries libraries_;
};

TEST_P(LanguageEnvironmentTest, DecidesByInterfaceLanguageThenLocale) {
  const EnvironmentCase& c = GetParam();
  environment_.Set("LC_ALL", c.lcAll);
  environment_.Set("LC_MESSAGES", c.lcMessages);
  environment_.Set("LANG", c.lang);
  if (c.interfaceLanguage != 0) {
    gInterfaceLanguage = c.interfaceLanguage;
    libraries_.AddLoaded("kernel32.dll");
    libraries_.AddFunction("kernel32.dll", "GetUserDefaultUILanguage",
                           reinterpret_cast<DImports::ProcAddress>(&InterfaceLanguage));
    InitializeDImports(libraries_);
  } else {
    InitializeDImports();  // the real loader: no kernel32 here
  }
  EXPECT_EQ(IsGermanUILanguage(), c.german);
}

INSTANTIATE_TEST_SUITE_P(Environments, LanguageEnvironmentTest,
                         testing::ValuesIn(kEnvironmentCases), testutil::CaseName());

TEST(LanguageUserDefaultLcidTest, IsTheIdentifierOfTheMessagesLocale) {
  EnvironmentScope environment;
  environment.Set("LC_ALL", nullptr);
  environment.Set("LC_MESSAGES", "fr_CH.UTF-8");
  environment.Set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(platform::UserDefaultLCID(), 0x100CU);
  environment.Set("LC_MESSAGES", nullptr);
  EXPECT_EQ(platform::UserDefaultLCID(), 0x0407U);
}

}  // namespace
}  // namespace ostrivane
