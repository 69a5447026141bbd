// The program's icon, drawn in code so that every size a desktop asks for
// comes from the same picture.
#pragma once

#include <cstdint>
#include <vector>

namespace ostrivane {

// A 32-bit image with alpha: one 0xAARRGGBB word per pixel (alpha not
// premultiplied), rows from top to bottom.
struct TBitmap32 {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Pixels;

  [[nodiscard]] std::uint32_t At(int x, int y) const {
    return Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                  static_cast<std::size_t>(x)];
  }
};

// The colours of the picture: a rounded tile with a "next" sign sending a
// signal.
inline constexpr std::uint32_t kIconTileColor = 0xFF0E6B78;
inline constexpr std::uint32_t kIconSignalColor = 0xFFFFFFFF;

// The program's icon, `size` × `size` pixels (1 to 256), anti-aliased.
TBitmap32 DrawProgramIcon(int size);

// The sizes the icon is drawn in; the first is the tray's own 16 × 16.
inline constexpr int kProgramIconSizes[] = {16, 22, 24, 32, 48, 64, 128};

}  // namespace ostrivane
