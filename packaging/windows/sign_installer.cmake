# cpack, after packing: signs the packages that are programs, that is the
# installer (sign.cmake says when and how).
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
set(installers "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.exe$")
    list(APPEND installers "${package}")
  endif()
endforeach()
ostrivane_sign_files(${installers})
