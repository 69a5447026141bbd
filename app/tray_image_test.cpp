#include "app/tray_image.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ostrivane {
namespace {

class ProgramIconSizeTest : public testing::TestWithParam<int> {};

TEST_P(ProgramIconSizeTest, TileWithSignalOnTransparentCorners) {
  const int size = GetParam();
  const TBitmap32 icon = DrawProgramIcon(size);
  ASSERT_EQ(icon.Width, size);
  ASSERT_EQ(icon.Height, size);
  ASSERT_EQ(icon.Pixels.size(), static_cast<std::size_t>(size * size));
  // Rounded corners: nothing drawn there.
  for (const auto& [x, y] : {std::pair{0, 0}, {size - 1, 0}, {0, size - 1}, {size - 1, size - 1}}) {
    EXPECT_EQ(icon.At(x, y) >> 24, 0U) << x << "," << y;
  }
  const auto count = [&](std::uint32_t color) {
    return std::count(icon.Pixels.begin(), icon.Pixels.end(), color);
  };
  // Both colours appear unmixed, the tile's most.
  EXPECT_GT(count(kIconTileColor), size * size / 3);
  EXPECT_GT(count(kIconSignalColor), 0);
  // The edges are smoothed: some pixels are partly transparent.
  EXPECT_TRUE(std::any_of(icon.Pixels.begin(), icon.Pixels.end(), [](std::uint32_t p) {
    const auto alpha = p >> 24;
    return alpha > 0 && alpha < 255;
  }));
  // The "next" sign sits left of the middle, on the middle line.
  EXPECT_EQ(icon.At(size * 3 / 10, size / 2), kIconSignalColor);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProgramIconSizeTest, testing::ValuesIn(kProgramIconSizes));

TEST(ProgramIcon, SizesOutOfRangeAreRefused) {
  EXPECT_THROW(DrawProgramIcon(0), std::invalid_argument);
  EXPECT_THROW(DrawProgramIcon(257), std::invalid_argument);
  EXPECT_EQ(DrawProgramIcon(1).Pixels.size(), 1U);
}

}  // namespace
}  // namespace ostrivane
