// The program's icon as an icon file (.ico): one picture in every size the
// Windows shell asks for, in 32-bit colour with alpha, for the icon resource
// of the program file.
#pragma once

#include <cstdint>
#include <vector>

#include "app/tray_image.h"

namespace ostrivane {

// The sizes of the program file's icon: from the notification area's
// 16 × 16 up to the 256 × 256 of large views.
inline constexpr int kProgramIconFileSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

// An icon file holding `images` in the given order, each stored as a 32-bit
// bottom-up device-independent bitmap (alpha not premultiplied) followed by
// its one-bit mask, in which exactly the fully transparent pixels are set.
// Raises std::invalid_argument for an image without pixels, with a side
// over 256, or whose pixel count is not width × height, and for more than
// 65535 images.
std::vector<std::uint8_t> EncodeIconFile(const std::vector<TBitmap32>& images);

// The program's icon file: DrawProgramIcon in every size of
// kProgramIconFileSizes.
std::vector<std::uint8_t> ProgramIconFile();

// Appends a 16- or 32-bit field in the little-endian order of the Windows
// picture files (.ico, .bmp).
void PutLittleEndian16(std::vector<std::uint8_t>& out, std::uint32_t value);
void PutLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value);

}  // namespace ostrivane
