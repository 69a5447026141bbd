#include "support/guid.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/test_util.h"

namespace ostrivane {
namespace {

struct GuidCase {
  const char* name;
  std::u16string text;
  bool valid;
};

class ParseGuidTest : public testing::TestWithParam<GuidCase> {};

TEST_P(ParseGuidTest, OnlyTheBracedFormParses) {
  EXPECT_EQ(ParseGuid(GetParam().text).has_value(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseGuidTest,
    testing::Values(GuidCase{"upper", u"{2547D847-3F7E-44CD-B27C-EFE9602A2672}", true},
                    GuidCase{"lower", u"{2547d847-3f7e-44cd-b27c-efe9602a2672}", true},
                    GuidCase{"noBraces", u"2547D847-3F7E-44CD-B27C-EFE9602A2672", false},
                    GuidCase{"short", u"{2547D847-3F7E-44CD-B27C-EFE9602A267}", false},
                    GuidCase{"badDigit", u"{2547D847-3F7E-44CD-B27C-EFE9602A267G}", false},
                    GuidCase{"dashMoved", u"{2547D8473-F7E-44CD-B27C-EFE9602A2672}", false},
                    GuidCase{"dashReplaced", u"{2547D847+3F7E-44CD-B27C-EFE9602A2672}", false},
                    GuidCase{"parenthesis", u"{2547D847-3F7E-44CD-B27C-EFE9602A2672)", false},
                    GuidCase{"fullWidthDigit", u"{2547D847-3F7E-44CD-B27C-EFE9602A267\uFF12}",
                             false},
                    GuidCase{"empty", u"", false}),
    testutil::CaseName());

TEST(Guid, ParsedFieldsAndNewOnes) {
  const auto guid = ParseGuid(u"{2547D847-3F7E-44CD-B27C-EFE9602A2672}");
  ASSERT_TRUE(guid);
  EXPECT_EQ(guid->D1, 0x2547D847U);
  EXPECT_EQ(guid->D2, 0x3F7E);
  EXPECT_EQ(guid->D3, 0x44CD);
  EXPECT_EQ(guid->D4,
            (std::array<std::uint8_t, 8>{0xB2, 0x7C, 0xEF, 0xE9, 0x60, 0x2A, 0x26, 0x72}));
  EXPECT_EQ(ParseGuid(u"{2547d847-3f7e-44cd-b27c-efe9602a2672}"), guid) << "letter case is free";
  const TGUID a = NewGuid();
  const TGUID b = NewGuid();
  EXPECT_FALSE(a == b);
  EXPECT_EQ(a.D3 >> 12, 4) << "version 4";
  EXPECT_EQ(a.D4[0] >> 6, 2) << "RFC 4122 variant";
}

}  // namespace
}  // namespace ostrivane
