// Writes the program's icon file, for the Windows program's resources, and
// with a second argument the installer's side picture as a BMP file. The
// Windows build runs it on the build machine.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <vector>

#include "app/icon_file.h"
#include "app/side_picture.h"

namespace {

bool WriteFile(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "gen_program_icon: cannot write %s\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: gen_program_icon OUTPUT.ico [SIDE-PICTURE.bmp]\n");
    return 2;
  }
  try {
    if (!WriteFile(argv[1], ostrivane::ProgramIconFile())) return 1;
    if (argc == 3 &&
        !WriteFile(argv[2], ostrivane::EncodeBitmapFile(ostrivane::DrawSidePicture()))) {
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_program_icon: %s\n", e.what());
    return 1;
  }
  return 0;
}
