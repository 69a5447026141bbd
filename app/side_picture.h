// The side picture of the installer's welcome and finish pages, drawn from
// the program's icon, and the bitmap file (.bmp) the installer reads it from.
#pragma once

#include <cstdint>
#include <vector>

#include "app/tray_image.h"

namespace ostrivane {

// The size NSIS's welcome and finish pages show it in, unscaled.
inline constexpr int kSidePictureWidth = 164;
inline constexpr int kSidePictureHeight = 314;
// The program's icon in it: its size and its top left corner.
inline constexpr int kSidePictureIconSize = 128;
inline constexpr int kSidePictureIconLeft = (kSidePictureWidth - kSidePictureIconSize) / 2;
inline constexpr int kSidePictureIconTop = 48;
// The background, from top to bottom: white into a pale shade of the
// icon's tile.
inline constexpr std::uint32_t kSidePictureTopColor = 0xFFFFFFFF;
inline constexpr std::uint32_t kSidePictureBottomColor = 0xFFCFE4E7;

// The side picture, opaque: the background with DrawProgramIcon laid over
// it at kSidePictureIconLeft, kSidePictureIconTop.
TBitmap32 DrawSidePicture();

// `image` as a 24-bit bottom-up BMP file (alpha dropped), each row padded
// to four bytes. Raises std::invalid_argument for an image without pixels
// or whose pixel count is not width × height.
std::vector<std::uint8_t> EncodeBitmapFile(const TBitmap32& image);

}  // namespace ostrivane
