# ostrivane_gtest_once(TARGET [PROPERTIES prop value ...])
#
# A test program of the cross build as ctest tests, for a program that runs
# under an emulator (Wine), where starting a process costs far more than
# most cases take. The program runs once for all its cases: the ctest test
# named after the target (cmake/gtest_once.py, with PROPERTIES). Each case
# is a ctest test of its own, named as gtest_discover_tests names it
# (Suite.Case), that prints that run's output for the case and passes, fails
# or is skipped as the case did (cmake/gtest_case.sh). The cases are listed
# when ctest starts (the program's --gtest_list_tests, run again only after
# the program was rebuilt), which keeps the build free of running Windows
# programs. `ctest -R Suite.Case` runs the program too, as the case's fixture.
set(OSTRIVANE_GTEST_ONCE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(ostrivane_gtest_once target)
  cmake_parse_arguments(G "" "" "PROPERTIES" ${ARGN})
  get_property(emulator TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR)
  if(NOT emulator)
    set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_once)
  set(include_file ${dir}/include.cmake)
  file(GENERATE OUTPUT ${include_file} CONTENT
"set(target [==[${target}]==])
set(program [==[$<TARGET_FILE:${target}>]==])
set(emulator [==[${emulator}]==])
set(python [==[${Python3_EXECUTABLE}]==])
set(dir [==[${dir}]==])
set(run_properties [==[${G_PROPERTIES}]==])
include([==[${OSTRIVANE_GTEST_ONCE_DIR}/GTestOnceAddTests.cmake]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
