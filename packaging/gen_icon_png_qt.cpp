// Writes the program's icon as PNG files for the hicolor icon theme:
//   gen_icon_png DIR SIZE...
// writes DIR/<SIZE>x<SIZE>/apps/ostrivane.png for every SIZE, drawn by the
// same code as the tray image and the Windows program's icon.
#include <QDir>
#include <QImage>
#include <QString>
#include <charconv>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>

#include "app/tray_image.h"

namespace {

std::optional<int> ParseSize(std::string_view text) {
  int size = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (error != std::errc{} || end != text.data() + text.size() || size < 1 || size > 256) {
    return std::nullopt;
  }
  return size;
}

// The picture as a QImage: TBitmap32's 0xAARRGGBB words, alpha not
// premultiplied, are QImage's ARGB32 pixels.
QImage ToImage(const ostrivane::TBitmap32& bitmap) {
  QImage image(bitmap.Width, bitmap.Height, QImage::Format_ARGB32);
  for (int y = 0; y < bitmap.Height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.Width; ++x) line[x] = bitmap.At(x, y);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: gen_icon_png DIR SIZE...\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  try {
    for (int i = 2; i < argc; ++i) {
      const auto size = ParseSize(argv[i]);
      if (!size) {
        std::fprintf(stderr, "gen_icon_png: not a size from 1 to 256: %s\n", argv[i]);
        return 2;
      }
      const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(*size);
      const QString file = dir + QStringLiteral("/ostrivane.png");
      if (!QDir().mkpath(dir) || !ToImage(ostrivane::DrawProgramIcon(*size)).save(file, "PNG")) {
        std::fprintf(stderr, "gen_icon_png: cannot write %s\n", file.toLocal8Bit().constData());
        return 1;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_icon_png: %s\n", e.what());
    return 1;
  }
  return 0;
}
