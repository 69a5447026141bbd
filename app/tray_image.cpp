#include "app/tray_image.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace ostrivane {
namespace {

// The picture in unit coordinates (0..1 across, 0..1 down): a rounded tile.
constexpr double kTileInset = 0.03;
constexpr double kTileRadius = 0.22;
// A "next" triangle pointing right, and two arcs of a signal going out
// from its tip.
constexpr double kTriangleLeft = 0.20;
constexpr double kTriangleTop = 0.27;
constexpr double kTriangleBottom = 0.73;
constexpr double kTriangleTip = 0.50;
constexpr double kSourceX = 0.44;
constexpr double kSourceY = 0.50;
constexpr double kArcWidth = 0.10;
constexpr double kArcRadii[] = {0.22, 0.38};

bool InTile(double x, double y) {
  const double lo = kTileInset + kTileRadius;
  const double hi = 1.0 - kTileInset - kTileRadius;
  const double dx = std::max({lo - x, 0.0, x - hi});
  const double dy = std::max({lo - y, 0.0, y - hi});
  return dx * dx + dy * dy <= kTileRadius * kTileRadius;
}

bool InSignal(double x, double y) {
  // The triangle: left edge upright, tip at mid-height on the right.
  if (x >= kTriangleLeft && x <= kTriangleTip) {
    const double half = (kTriangleBottom - kTriangleTop) / 2.0 * (kTriangleTip - x) /
                        (kTriangleTip - kTriangleLeft);
    if (std::abs(y - kSourceY) <= half) return true;
  }
  // The arcs span 45 degrees either side of the horizontal.
  const double dx = x - kSourceX;
  const double dy = y - kSourceY;
  if (dx <= 0.0 || std::abs(dy) > dx) return false;
  const double r = std::hypot(dx, dy);
  return std::any_of(std::begin(kArcRadii), std::end(kArcRadii),
                     [r](double arc) { return std::abs(r - arc) <= kArcWidth / 2.0; });
}

std::uint32_t Channel(std::uint32_t color, int shift) { return (color >> shift) & 0xFFU; }

}  // namespace

TBitmap32 DrawProgramIcon(int size) {
  if (size < 1 || size > 256) throw std::invalid_argument("icon size out of range");
  constexpr int kSamples = 4;  // per axis and pixel
  TBitmap32 image{size, size, std::vector<std::uint32_t>(static_cast<std::size_t>(size * size))};
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      int tile = 0;
      int signal = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = (px + (sx + 0.5) / kSamples) / size;
          const double y = (py + (sy + 0.5) / kSamples) / size;
          if (!InTile(x, y)) continue;
          ++tile;
          if (InSignal(x, y)) ++signal;
        }
      }
      std::uint32_t pixel = 0;
      if (tile > 0) {
        // Colour: the signal's share of the covered samples over the tile;
        // alpha: the covered share of the pixel.
        const auto mix = [&](int shift) {
          const auto fg = Channel(kIconSignalColor, shift);
          const auto bg = Channel(kIconTileColor, shift);
          return static_cast<std::uint32_t>((fg * static_cast<std::uint32_t>(signal) +
                                             bg * static_cast<std::uint32_t>(tile - signal) +
                                             static_cast<std::uint32_t>(tile / 2)) /
                                            static_cast<std::uint32_t>(tile));
        };
        const auto alpha = static_cast<std::uint32_t>((255 * tile + kSamples * kSamples / 2) /
                                                      (kSamples * kSamples));
        pixel = (alpha << 24) | (mix(16) << 16) | (mix(8) << 8) | mix(0);
      }
      image.Pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(size) +
                   static_cast<std::size_t>(px)] = pixel;
    }
  }
  return image;
}

}  // namespace ostrivane
