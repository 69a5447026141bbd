#include "app/icon_file.h"

#include <stdexcept>

namespace ostrivane {
namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kBitmapHeaderSize = 40;

// Bytes of one row of the mask: one bit per pixel, rows padded to 32 bits.
std::size_t MaskRowSize(int width) { return ((static_cast<std::size_t>(width) + 31) / 32) * 4; }

std::size_t ImageSize(const TBitmap32& image) {
  const auto width = static_cast<std::size_t>(image.Width);
  const auto height = static_cast<std::size_t>(image.Height);
  return kBitmapHeaderSize + width * height * 4 + MaskRowSize(image.Width) * height;
}

void Check(const TBitmap32& image) {
  if (image.Width < 1 || image.Height < 1 || image.Width > 256 || image.Height > 256) {
    throw std::invalid_argument("icon image size out of range");
  }
  if (image.Pixels.size() !=
      static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height)) {
    throw std::invalid_argument("icon image pixel count does not match its size");
  }
}

void PutImage(std::vector<std::uint8_t>& out, const TBitmap32& image) {
  const auto width = static_cast<std::uint32_t>(image.Width);
  const auto height = static_cast<std::uint32_t>(image.Height);
  // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
  PutLittleEndian32(out, kBitmapHeaderSize);
  PutLittleEndian32(out, width);
  PutLittleEndian32(out, height * 2);
  PutLittleEndian16(out, 1);   // planes
  PutLittleEndian16(out, 32);  // bits per pixel
  PutLittleEndian32(out, 0);   // BI_RGB
  PutLittleEndian32(out, static_cast<std::uint32_t>(ImageSize(image) - kBitmapHeaderSize));
  PutLittleEndian32(out, 0);  // pixels per metre, across
  PutLittleEndian32(out, 0);  // and down
  PutLittleEndian32(out, 0);  // colours used
  PutLittleEndian32(out, 0);  // important colours
  // Colour rows, bottom-up, each pixel blue, green, red, alpha.
  for (int y = image.Height - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width; ++x) PutLittleEndian32(out, image.At(x, y));
  }
  // Mask rows, bottom-up; the first pixel of a byte is its highest bit.
  const std::size_t rowSize = MaskRowSize(image.Width);
  for (int y = image.Height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(rowSize, 0);
    for (int x = 0; x < image.Width; ++x) {
      if ((image.At(x, y) >> 24) == 0) {
        row[static_cast<std::size_t>(x) / 8] |= static_cast<std::uint8_t>(0x80U >> (x % 8));
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeIconFile(const std::vector<TBitmap32>& images) {
  if (images.size() > 0xFFFF) throw std::invalid_argument("too many icon images");
  for (const TBitmap32& image : images) Check(image);

  std::vector<std::uint8_t> out;
  // ICONDIR: reserved, type 1 (icon), count.
  PutLittleEndian16(out, 0);
  PutLittleEndian16(out, 1);
  PutLittleEndian16(out, static_cast<std::uint32_t>(images.size()));
  // ICONDIRENTRY per image; a side of 256 is written as 0.
  std::size_t offset = kDirectorySize + kEntrySize * images.size();
  for (const TBitmap32& image : images) {
    out.push_back(static_cast<std::uint8_t>(image.Width & 0xFF));
    out.push_back(static_cast<std::uint8_t>(image.Height & 0xFF));
    out.push_back(0);            // no palette
    out.push_back(0);            // reserved
    PutLittleEndian16(out, 1);   // planes
    PutLittleEndian16(out, 32);  // bits per pixel
    PutLittleEndian32(out, static_cast<std::uint32_t>(ImageSize(image)));
    PutLittleEndian32(out, static_cast<std::uint32_t>(offset));
    offset += ImageSize(image);
  }
  for (const TBitmap32& image : images) PutImage(out, image);
  return out;
}

std::vector<std::uint8_t> ProgramIconFile() {
  std::vector<TBitmap32> images;
  for (const int size : kProgramIconFileSizes) images.push_back(DrawProgramIcon(size));
  return EncodeIconFile(images);
}

void PutLittleEndian16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFFU));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFFU));
}

void PutLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  PutLittleEndian16(out, value & 0xFFFFU);
  PutLittleEndian16(out, value >> 16);
}

}  // namespace ostrivane
