// The running program's own file, as Windows names it.
#pragma once

#include <string>

namespace ostrivane {

// The program file's full name (GetModuleFileNameW of the process); empty
// when it cannot be had.
std::wstring ProgramFileName();

}  // namespace ostrivane
