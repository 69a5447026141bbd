# GoogleTest from Debian's source package: the same sources build natively
# and with mingw-w64, so both builds test against one version.
set(OSTRIVANE_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
if(NOT EXISTS "${OSTRIVANE_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found at ${OSTRIVANE_GTEST_SOURCE_DIR} (apt-get install googletest)")
endif()
add_subdirectory("${OSTRIVANE_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)

include(GoogleTest)

# ostrivane_add_test(NAME name SOURCES ... LIBS ...)
# One test program; its cases are listed when ctest starts, which keeps the
# cross build free of running Windows programs at build time.
function(ostrivane_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main ostrivane_warnings)
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
    PROPERTIES TIMEOUT 300)
endfunction()
