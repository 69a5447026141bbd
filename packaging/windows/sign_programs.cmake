# cpack, before packing: signs every program of the package's staging
# folder (sign.cmake says when and how).
include(${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
list(SORT programs)
ostrivane_sign_files(${programs})
