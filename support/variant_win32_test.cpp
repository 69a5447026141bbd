// The Variant runtime's starting slots on Windows: oleaut32's conversions.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/variant.h"

namespace ostrivane {
namespace {

TEST(VariantDefaultSlots, AreOleAutomationsLocaleAwareConversions) {
  // oleaut32 reads the mark of the locale it is given; German uses ",".
  constexpr std::uint32_t kGerman = 0x0407;
  constexpr std::uint32_t kEnglishUs = 0x0409;
  double r8 = 0.0;
  ASSERT_EQ(GetVarR8FromStrSlot()(u"1,5", kGerman, 0, &r8), kHResultOk);
  EXPECT_EQ(r8, 1.5);
  ASSERT_EQ(GetVarR8FromStrSlot()(u"1,5", kEnglishUs, 0, &r8), kHResultOk);
  EXPECT_EQ(r8, 15.0);  // "," separates thousands there
  float r4 = 0.0F;
  ASSERT_EQ(GetVarR4FromStrSlot()(u"2,25", kGerman, 0, &r4), kHResultOk);
  EXPECT_EQ(r4, 2.25F);
  EXPECT_EQ(GetVarR8FromStrSlot()(u"abc", kEnglishUs, 0, &r8), kDispETypeMismatch);
}

}  // namespace
}  // namespace ostrivane
