// The German-interface test and the locale names behind it.
#include "support/ui_language.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/dimports.h"
#include "support/dimports_fake.h"
#include "support/dutil.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

struct LocaleIdCase {
  const char* name;
  std::string locale;
  std::uint16_t id;
};

const std::vector<LocaleIdCase> kLocaleIdCases{
    {"GermanGermany", "de_DE", 0x0407},
    {"GermanSwitzerland", "de_CH", 0x0807},
    {"GermanAustria", "de_AT", 0x0C07},
    {"GermanLuxembourg", "de_LU", 0x1007},
    {"GermanLiechtenstein", "de_LI", 0x1407},
    {"GermanWithCodesetAndModifier", "de_DE.UTF-8@euro", 0x0407},
    {"GermanWithHyphen", "de-AT", 0x0C07},
    {"GermanAlone", "de", 0x0007},
    {"GermanAloneWithCodeset", "de.UTF-8", 0x0007},
    {"GermanBelgiumHasNoWindowsId", "de_BE", 0x1000},
    {"EnglishUs", "en_US.UTF-8", 0x0409},
    {"EnglishGb", "en_GB", 0x0809},
    {"FrenchFrance", "fr_FR.ISO-8859-1", 0x040C},
    {"SpanishSpainModernSort", "es_ES", 0x0C0A},
    {"ChineseTaiwan", "zh_TW.Big5", 0x0404},
    {"ThreeLetterLanguage", "fil_PH", 0x0464},
    {"SerbianCyrillic", "sr_RS", 0x281A},
    {"SerbianLatinByModifier", "sr_RS@latin", 0x241A},
    {"UnknownModifierIgnored", "fr_FR@euro", 0x040C},
    {"NorwegianNeutral", "nb", 0x7C14},
    {"CaseOfLetters", "DE_de", 0x0407},
    {"C", "C", 0x007F},
    {"CWithCodeset", "C.UTF-8", 0x007F},
    {"Posix", "POSIX", 0x007F},
    {"Empty", "", 0x007F},
    {"UnknownLanguage", "xx_XX", 0x1000},
    {"UnknownLanguageAlone", "qq", 0x1000},
    {"Garbage", "!!garbage!!", 0x1000},
    {"OneLetterLanguage", "d_DE", 0x1000},
    {"FourLetterLanguage", "deut_DE", 0x1000},
    {"ThreeLetterCountry", "de_DEU", 0x1000},
    {"MissingCountry", "de_", 0x1000},
    {"EmptyCodeset", "de_DE.", 0x1000},
    {"EmptyModifier", "de_DE@", 0x1000},
    {"TrailingText", "de_DE.UTF-8@euro x", 0x1000},
    {"EmbeddedNul", std::string("de_DE\0x", 7), 0x1000},
    {"CFollowedByJunk", "C.!", 0x1000},
    {"PathLike", "/usr/lib/locale/de_DE", 0x1000},
    {"VeryLong", "de_DE." + std::string(1000, 'a'), 0x1000},
    {"HighBytes", "d\xC3\xA9_DE", 0x1000},
};

class LanguageIdFromLocaleTest : public testing::TestWithParam<LocaleIdCase> {};

TEST_P(LanguageIdFromLocaleTest, MapsToTheWindowsIdentifier) {
  const LocaleIdCase& c = GetParam();
  EXPECT_EQ(LangIdFromPosixLocale(c.locale), c.id);
}

INSTANTIATE_TEST_SUITE_P(Locales, LanguageIdFromLocaleTest, testing::ValuesIn(kLocaleIdCases),
                         testutil::CaseName());

struct CollatorNameCase {
  const char* name;
  const char* setting;
  const char* collator;
};

const std::vector<CollatorNameCase> kCollatorNameCases{
    {"CodesetAndModifierStripped", "sv_SE.UTF-8@euro", "sv_SE"},
    {"LanguageAlone", "de", "de"},
    {"HyphenBecomesUnderscore", "de-AT", "de_AT"},
    {"CIsRoot", "C.UTF-8", ""},
    {"PosixIsRoot", "POSIX", ""},
    {"EmptyIsRoot", "", ""},
    {"MalformedIsRoot", "../../etc", ""},
};

class LocaleCollatorNameTest : public testing::TestWithParam<CollatorNameCase> {};

TEST_P(LocaleCollatorNameTest, KeepsLanguageAndCountry) {
  const CollatorNameCase& c = GetParam();
  EXPECT_EQ(CollatorLocaleName(c.setting), c.collator);
}

INSTANTIATE_TEST_SUITE_P(Settings, LocaleCollatorNameTest, testing::ValuesIn(kCollatorNameCases),
                         testutil::CaseName());

struct GermanIdCase {
  const char* name;
  std::uint16_t id;
  bool german;
};

const std::vector<GermanIdCase> kGermanIdCases{
    {"Germany", 0x0407, true},
    {"Switzerland", 0x0807, true},
    {"Austria", 0x0C07, true},
    {"Luxembourg", 0x1007, true},
    {"Liechtenstein", 0x1407, true},
    {"Neutral", 0x0007, false},
    {"PhoneBookSortLowBits", static_cast<std::uint16_t>(0x10407 & 0xFFFF), true},
    {"EnglishUs", 0x0409, false},
    {"FrenchFrance", 0x040C, false},
    {"NextSublanguage", 0x1807, false},
    {"Invariant", 0x007F, false},
    {"Zero", 0x0000, false},
};

class GermanLanguageIdTest : public testing::TestWithParam<GermanIdCase> {};

TEST_P(GermanLanguageIdTest, ComparesAllSixteenBits) {
  const GermanIdCase& c = GetParam();
  EXPECT_EQ(IsGermanLanguageId(c.id), c.german);
}

INSTANTIATE_TEST_SUITE_P(Ids, GermanLanguageIdTest, testing::ValuesIn(kGermanIdCases),
                         testutil::CaseName());

// The interface language from a stand-in kernel32.
std::uint16_t gInterfaceLanguage = 0;
DImports::LANGID OSTRIVANE_WINAPI InterfaceLanguage() { return gInterfaceLanguage; }

class GermanInterfaceLanguageTest : public testing::Test {
 protected:
  void TearDown() override { InitializeDImports(DImports::DefaultDynamicLibraries()); }

  // The table binds GetUserDefaultUILanguage to a function answering `id`.
  void UseInterfaceLanguage(std::uint16_t id) {
    gInterfaceLanguage = id;
    libraries_.AddLoaded("kernel32.dll");
    libraries_.AddFunction("kernel32.dll", "GetUserDefaultUILanguage",
                           reinterpret_cast<DImports::ProcAddress>(&InterfaceLanguage));
    InitializeDImports(libraries_);
  }

  testutil::FakeDynamicLibraries libraries_;
};

TEST_F(GermanInterfaceLanguageTest, GermanInterfaceDecides) {
  UseInterfaceLanguage(0x0C07);
  EXPECT_TRUE(IsGermanUILanguage());
}

TEST_F(GermanInterfaceLanguageTest, EnglishInterfaceDecides) {
  UseInterfaceLanguage(0x0409);
  EXPECT_FALSE(IsGermanUILanguage());
}

TEST_F(GermanInterfaceLanguageTest, NeutralGermanInterfaceIsNotGerman) {
  UseInterfaceLanguage(0x0007);
  EXPECT_FALSE(IsGermanUILanguage());
}

}  // namespace
}  // namespace ostrivane
