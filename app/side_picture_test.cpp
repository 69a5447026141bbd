#include "app/side_picture.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ostrivane {
namespace {

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return U16(b, at) | (U16(b, at + 2) << 16);
}

// The pixel (x, y), counted from the top, of a 24-bit bottom-up BMP file, as
// an opaque 0xAARRGGBB.
std::uint32_t StoredPixel(const std::vector<std::uint8_t>& file, int x, int y) {
  const auto width = static_cast<std::size_t>(U32(file, 18));
  const auto height = static_cast<std::size_t>(U32(file, 22));
  const std::size_t rowSize = (width * 3 + 3) / 4 * 4;
  const std::size_t at = U32(file, 10) + (height - 1 - static_cast<std::size_t>(y)) * rowSize +
                         static_cast<std::size_t>(x) * 3;
  return 0xFF000000U | (static_cast<std::uint32_t>(file.at(at + 2)) << 16) |
         (static_cast<std::uint32_t>(file.at(at + 1)) << 8) | file.at(at);
}

TEST(SidePicture, IsTheProgramIconOverTheBackground) {
  const TBitmap32 picture = DrawSidePicture();
  ASSERT_EQ(picture.Width, 164);
  ASSERT_EQ(picture.Height, 314);
  ASSERT_EQ(picture.Pixels.size(), 164U * 314U);
  EXPECT_EQ(picture.At(0, 0), kSidePictureTopColor);
  EXPECT_EQ(picture.At(163, 313), kSidePictureBottomColor);
  const TBitmap32 icon = DrawProgramIcon(kSidePictureIconSize);
  int opaque = 0;
  int mismatches = 0;
  for (int y = 0; y < icon.Height; ++y) {
    for (int x = 0; x < icon.Width; ++x) {
      const std::uint32_t over = icon.At(x, y);
      const std::uint32_t shown = picture.At(kSidePictureIconLeft + x, kSidePictureIconTop + y);
      const std::uint32_t behind = picture.At(0, kSidePictureIconTop + y);
      if (over >> 24 == 0xFF) {
        ++opaque;
        if (shown != over) ++mismatches;
      } else if (over >> 24 == 0 && shown != behind) {
        ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(opaque, icon.Width * icon.Height / 2) << "the icon's tile is there";
  for (const std::uint32_t pixel : picture.Pixels) {
    ASSERT_EQ(pixel >> 24, 0xFFU) << "opaque: a BMP keeps no alpha";
  }
}

TEST(SidePicture, BitmapFileHoldsTheDrawnPixels) {
  const TBitmap32 picture = DrawSidePicture();
  const auto file = EncodeBitmapFile(picture);
  ASSERT_GE(file.size(), 54U);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(U32(file, 2), file.size());
  EXPECT_EQ(U32(file, 10), 54U) << "pixels right after the two headers";
  EXPECT_EQ(U32(file, 14), 40U) << "BITMAPINFOHEADER";
  EXPECT_EQ(U32(file, 18), 164U);
  EXPECT_EQ(U32(file, 22), 314U) << "positive: rows bottom-up";
  EXPECT_EQ(U16(file, 26), 1U);
  EXPECT_EQ(U16(file, 28), 24U);
  EXPECT_EQ(U32(file, 30), 0U) << "uncompressed";
  EXPECT_EQ(U32(file, 34), 164U * 3 * 314);
  EXPECT_EQ(file.size(), 54U + 164 * 3 * 314);
  int mismatches = 0;
  for (int y = 0; y < picture.Height; ++y) {
    for (int x = 0; x < picture.Width; ++x) {
      if (StoredPixel(file, x, y) != picture.At(x, y)) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(SidePicture, RowsGoBottomUpInBlueGreenRedPaddedToFourBytes) {
  // 3 pixels of 3 bytes: each row padded from 9 to 12 bytes.
  const TBitmap32 image{3,
                        2,
                        {0xFF112233U, 0xFF445566U, 0x80778899U,  //
                         0xFFAABBCCU, 0xFFDDEEFFU, 0xFF010203U}};
  const auto file = EncodeBitmapFile(image);
  ASSERT_EQ(file.size(), 54U + 2 * 12);
  EXPECT_EQ(U32(file, 34), 24U);
  const std::vector<std::uint8_t> rows(file.begin() + 54, file.end());
  const std::vector<std::uint8_t> expected = {
      0xCC, 0xBB, 0xAA, 0xFF, 0xEE, 0xDD, 0x03, 0x02, 0x01, 0, 0, 0,  // bottom row first
      0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0x99, 0x88, 0x77, 0, 0, 0};
  EXPECT_EQ(rows, expected);
}

TEST(SidePicture, ImagesWithoutPixelsOrOfTheWrongCountAreRefused) {
  EXPECT_THROW(EncodeBitmapFile(TBitmap32{}), std::invalid_argument);
  EXPECT_THROW(EncodeBitmapFile(TBitmap32{0, 4, {}}), std::invalid_argument);
  EXPECT_THROW(EncodeBitmapFile(TBitmap32{2, 2, {1, 2, 3}}), std::invalid_argument);
}

}  // namespace
}  // namespace ostrivane
