#include "app/icon_file.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ostrivane {
namespace {

// Little-endian reads from an icon file.
std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return U16(b, at) | (U16(b, at + 2) << 16);
}

struct Entry {
  int width, height;
  std::uint32_t planes, bits, bytes, offset;
};

std::vector<Entry> Directory(const std::vector<std::uint8_t>& file) {
  EXPECT_EQ(U16(file, 0), 0U) << "reserved";
  EXPECT_EQ(U16(file, 2), 1U) << "type: icon";
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < U16(file, 4); ++i) {
    const std::size_t at = 6 + 16 * i;
    const auto side = [&](std::size_t k) { return file.at(at + k) == 0 ? 256 : file.at(at + k); };
    entries.push_back({side(0), side(1), U16(file, at + 4), U16(file, at + 6), U32(file, at + 8),
                       U32(file, at + 12)});
    EXPECT_EQ(file.at(at + 2), 0) << "no palette";
  }
  return entries;
}

// The pixel (x, y), counted from the top, of the image stored at `offset`,
// as 0xAARRGGBB, and whether its mask bit is set.
std::uint32_t StoredPixel(const std::vector<std::uint8_t>& file, const Entry& e, int x, int y) {
  const auto row = static_cast<std::size_t>(e.height - 1 - y);
  return U32(file, e.offset + 40 +
                       (row * static_cast<std::size_t>(e.width) + static_cast<std::size_t>(x)) * 4);
}
bool MaskBit(const std::vector<std::uint8_t>& file, const Entry& e, int x, int y) {
  const std::size_t rowSize = ((static_cast<std::size_t>(e.width) + 31) / 32) * 4;
  const std::size_t maskStart = e.offset + 40 + static_cast<std::size_t>(e.width * e.height) * 4;
  const auto row = static_cast<std::size_t>(e.height - 1 - y);
  const std::uint8_t byte = file.at(maskStart + row * rowSize + static_cast<std::size_t>(x) / 8);
  return (byte & (0x80U >> (x % 8))) != 0;
}

TEST(IconFile, ProgramIconCarriesEverySizeIn32BitsBackToBack) {
  const auto file = ProgramIconFile();
  const auto entries = Directory(file);
  ASSERT_EQ(entries.size(), std::size(kProgramIconFileSizes));
  std::size_t expectedOffset = 6 + 16 * entries.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    SCOPED_TRACE(e.width);
    EXPECT_EQ(e.width, kProgramIconFileSizes[i]);
    EXPECT_EQ(e.height, kProgramIconFileSizes[i]);
    EXPECT_EQ(e.planes, 1U);
    EXPECT_EQ(e.bits, 32U);
    EXPECT_EQ(e.offset, expectedOffset);
    const auto side = static_cast<std::uint32_t>(e.width);
    EXPECT_EQ(e.bytes, 40 + side * side * 4 + ((side + 31) / 32) * 4 * side);
    expectedOffset += e.bytes;
    // BITMAPINFOHEADER: colour and mask rows, 32 bits, uncompressed.
    EXPECT_EQ(U32(file, e.offset), 40U);
    EXPECT_EQ(U32(file, e.offset + 4), side);
    EXPECT_EQ(U32(file, e.offset + 8), side * 2);
    EXPECT_EQ(U16(file, e.offset + 12), 1U);
    EXPECT_EQ(U16(file, e.offset + 14), 32U);
    EXPECT_EQ(U32(file, e.offset + 16), 0U);
  }
  EXPECT_EQ(expectedOffset, file.size());
  EXPECT_EQ(entries.front().width, 16) << "the notification area's size comes first";
}

TEST(IconFile, StoredPixelsAreTheDrawnOnes) {
  const auto file = ProgramIconFile();
  const auto entries = Directory(file);
  for (const std::size_t index : {std::size_t{0}, entries.size() - 1}) {
    const Entry& e = entries.at(index);
    SCOPED_TRACE(e.width);
    const TBitmap32 drawn = DrawProgramIcon(e.width);
    int mismatches = 0;
    for (int y = 0; y < e.height; ++y) {
      for (int x = 0; x < e.width; ++x) {
        if (StoredPixel(file, e, x, y) != drawn.At(x, y)) ++mismatches;
        if (MaskBit(file, e, x, y) != ((drawn.At(x, y) >> 24) == 0)) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(IconFile, RowsGoBottomUpAndTheMaskMarksOnlyTransparentPixels) {
  // 33 pixels across: the mask row needs a second 32-bit word.
  TBitmap32 image{33, 2, std::vector<std::uint32_t>(66, 0xFF102030U)};
  image.Pixels[0] = 0x00000000U;        // top left: transparent
  image.Pixels[32] = 0x01ABCDEFU;       // top right: almost transparent
  image.Pixels[33] = 0x80FF0000U;       // bottom left
  image.Pixels[33 + 32] = 0x00FFFFFFU;  // bottom right: transparent, white
  const auto file = EncodeIconFile({image});
  const auto entries = Directory(file);
  ASSERT_EQ(entries.size(), 1U);
  const Entry& e = entries[0];
  EXPECT_EQ(e.bytes, 40U + 66 * 4 + 8 * 2);
  EXPECT_EQ(file.size(), 6 + 16 + e.bytes);
  // The bottom row is stored first: blue, green, red, alpha.
  const std::size_t first = e.offset + 40;
  EXPECT_EQ(file[first], 0x00);
  EXPECT_EQ(file[first + 2], 0xFF);
  EXPECT_EQ(file[first + 3], 0x80);
  EXPECT_EQ(StoredPixel(file, e, 0, 0), 0x00000000U);
  EXPECT_EQ(StoredPixel(file, e, 32, 0), 0x01ABCDEFU);
  EXPECT_EQ(StoredPixel(file, e, 1, 1), 0xFF102030U);
  EXPECT_TRUE(MaskBit(file, e, 0, 0));
  EXPECT_FALSE(MaskBit(file, e, 32, 0));
  EXPECT_FALSE(MaskBit(file, e, 0, 1));
  EXPECT_TRUE(MaskBit(file, e, 32, 1));
  int set = 0;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 33; ++x) set += MaskBit(file, e, x, y) ? 1 : 0;
  }
  EXPECT_EQ(set, 2);
}

TEST(IconFile, ImagesTheFormatCannotHoldAreRefused) {
  const std::vector<TBitmap32> refused = {
      {0, 0, {}},
      {257, 1, std::vector<std::uint32_t>(257)},
      {1, 257, std::vector<std::uint32_t>(257)},
      {4, 4, std::vector<std::uint32_t>(15)},
      {-1, 1, {}},
  };
  for (const TBitmap32& image : refused) {
    EXPECT_THROW(EncodeIconFile({image}), std::invalid_argument)
        << image.Width << "x" << image.Height;
  }
  EXPECT_NO_THROW(EncodeIconFile({{256, 1, std::vector<std::uint32_t>(256)}}));
}

}  // namespace
}  // namespace ostrivane
