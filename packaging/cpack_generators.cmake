# Read by cpack once per generator: the package file names.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "Ostrivane-${CPACK_PACKAGE_VERSION}-setup")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  # The portable programs, in one folder of that name.
  set(CPACK_PACKAGE_FILE_NAME "Ostrivane-${CPACK_PACKAGE_VERSION}-win64-portable")
endif()
