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
include(${CMAKE_CURRENT_LIST_DIR}/GTestOnce.cmake)

# ostrivane_add_test(NAME name SOURCES ... LIBS ...)
# One test program; its cases are listed when ctest starts, which keeps the
# cross build free of running Windows programs at build time. Natively each
# case runs in a process of its own; under an emulator (Wine) the program
# runs once for all its cases (ostrivane_gtest_once), each case still a
# ctest test of its own.
function(ostrivane_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main ostrivane_warnings)
  ostrivane_discover_tests(${T_NAME} PROPERTIES TIMEOUT 300)
endfunction()

# ostrivane_discover_tests(TARGET PROPERTIES ...): the cases of a test
# program as ctest tests; PROPERTIES apply to each case natively, and to the
# one run of the whole program under an emulator (its TIMEOUT then at least
# 900 s).
function(ostrivane_discover_tests target)
  cmake_parse_arguments(D "" "" "PROPERTIES" ${ARGN})
  get_property(emulator TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR)
  if(emulator OR CMAKE_CROSSCOMPILING_EMULATOR)
    set(properties ${D_PROPERTIES})
    list(FIND properties TIMEOUT at)
    if(at GREATER_EQUAL 0)
      math(EXPR value_at "${at} + 1")
      list(GET properties ${value_at} timeout)
      if(timeout LESS 900)
        list(REMOVE_AT properties ${at} ${value_at})
        list(APPEND properties TIMEOUT 900)
      endif()
    else()
      list(APPEND properties TIMEOUT 900)
    endif()
    ostrivane_gtest_once(${target} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
      PROPERTIES ${D_PROPERTIES})
  endif()
endfunction()
