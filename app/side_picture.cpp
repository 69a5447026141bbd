#include "app/side_picture.h"

#include <stdexcept>

#include "app/icon_file.h"

namespace ostrivane {
namespace {

std::uint32_t Channel(std::uint32_t color, int shift) { return (color >> shift) & 0xFFU; }

// `a` where weight is 0 to `b` where it is `scale`, rounded.
std::uint32_t Blend(std::uint32_t a, std::uint32_t b, std::uint32_t weight, std::uint32_t scale) {
  return (a * (scale - weight) + b * weight + scale / 2) / scale;
}

std::uint32_t BlendColors(std::uint32_t a, std::uint32_t b, std::uint32_t weight,
                          std::uint32_t scale) {
  std::uint32_t color = 0xFF000000U;
  for (const int shift : {0, 8, 16}) {
    color |= Blend(Channel(a, shift), Channel(b, shift), weight, scale) << shift;
  }
  return color;
}

}  // namespace

TBitmap32 DrawSidePicture() {
  TBitmap32 picture{
      kSidePictureWidth, kSidePictureHeight,
      std::vector<std::uint32_t>(static_cast<std::size_t>(kSidePictureWidth * kSidePictureHeight))};
  const TBitmap32 icon = DrawProgramIcon(kSidePictureIconSize);
  for (int y = 0; y < kSidePictureHeight; ++y) {
    const std::uint32_t background =
        BlendColors(kSidePictureTopColor, kSidePictureBottomColor, static_cast<std::uint32_t>(y),
                    static_cast<std::uint32_t>(kSidePictureHeight - 1));
    for (int x = 0; x < kSidePictureWidth; ++x) {
      std::uint32_t pixel = background;
      const int ix = x - kSidePictureIconLeft;
      const int iy = y - kSidePictureIconTop;
      if (ix >= 0 && ix < icon.Width && iy >= 0 && iy < icon.Height) {
        const std::uint32_t over = icon.At(ix, iy);
        pixel = BlendColors(background, over, over >> 24, 255);
      }
      picture.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(kSidePictureWidth) +
                     static_cast<std::size_t>(x)] = pixel;
    }
  }
  return picture;
}

std::vector<std::uint8_t> EncodeBitmapFile(const TBitmap32& image) {
  if (image.Width < 1 || image.Height < 1 ||
      image.Pixels.size() !=
          static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height)) {
    throw std::invalid_argument("bitmap without pixels, or not width x height of them");
  }
  const auto width = static_cast<std::uint32_t>(image.Width);
  const auto height = static_cast<std::uint32_t>(image.Height);
  const std::uint32_t rowSize = (width * 3 + 3) / 4 * 4;
  constexpr std::uint32_t kHeaders = 14 + 40;
  std::vector<std::uint8_t> out;
  out.reserve(kHeaders + rowSize * height);
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  PutLittleEndian32(out, kHeaders + rowSize * height);
  PutLittleEndian32(out, 0);
  PutLittleEndian32(out, kHeaders);
  // BITMAPINFOHEADER: bottom-up rows, 24 bits, uncompressed, 72 dpi.
  PutLittleEndian32(out, 40);
  PutLittleEndian32(out, width);
  PutLittleEndian32(out, height);
  PutLittleEndian16(out, 1);
  PutLittleEndian16(out, 24);
  PutLittleEndian32(out, 0);
  PutLittleEndian32(out, rowSize * height);
  PutLittleEndian32(out, 2835);
  PutLittleEndian32(out, 2835);
  PutLittleEndian32(out, 0);
  PutLittleEndian32(out, 0);
  for (int y = image.Height - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width; ++x) {
      const std::uint32_t pixel = image.At(x, y);
      out.push_back(static_cast<std::uint8_t>(Channel(pixel, 0)));
      out.push_back(static_cast<std::uint8_t>(Channel(pixel, 8)));
      out.push_back(static_cast<std::uint8_t>(Channel(pixel, 16)));
    }
    out.resize(out.size() + (rowSize - width * 3), 0);
  }
  return out;
}

}  // namespace ostrivane
