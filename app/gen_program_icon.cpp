// Writes the program's icon file, for the Windows program's resources. The
// Windows build runs it on the build machine.
#include <cstdio>
#include <exception>
#include <fstream>

#include "app/icon_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen_program_icon OUTPUT.ico\n");
    return 2;
  }
  try {
    const auto bytes = ostrivane::ProgramIconFile();
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      std::fprintf(stderr, "gen_program_icon: cannot write %s\n", argv[1]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_program_icon: %s\n", e.what());
    return 1;
  }
  return 0;
}
