# Checks that a Windows program needs only the system's own DLLs and runs in
# the GUI subsystem.
#   cmake -DOBJDUMP=<mingw objdump> -DPROGRAM=<file.exe> -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT OBJDUMP OR NOT PROGRAM)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DPROGRAM=... -P check_imports.cmake")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM}
  OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${errors}")
endif()

# DLLs that every Windows from 7 on has in its system folder.
set(system_dlls
  advapi32.dll comctl32.dll comdlg32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll
  ntdll.dll ole32.dll oleaut32.dll rpcrt4.dll shell32.dll shlwapi.dll user32.dll
  userenv.dll uxtheme.dll version.dll winmm.dll ws2_32.dll)

string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${headers}")
set(imports)
set(foreign)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(APPEND imports ${dll})
  if(NOT dll IN_LIST system_dlls)
    list(APPEND foreign ${dll})
  endif()
endforeach()
message(STATUS "${PROGRAM} imports: ${imports}")
if(NOT "kernel32.dll" IN_LIST imports)
  message(FATAL_ERROR "no import table read from ${PROGRAM}")
endif()
if(foreign)
  message(FATAL_ERROR "${PROGRAM} needs DLLs that Windows does not have: ${foreign}")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+0*2[ \t]+\\(Windows GUI\\)")
  message(FATAL_ERROR "${PROGRAM} is not a Windows GUI program")
endif()
