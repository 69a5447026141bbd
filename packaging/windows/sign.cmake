# Authenticode signing of the Windows package's programs and installer,
# with osslsigncode, when a certificate is given through the environment:
#
#   OSTRIVANE_SIGN_PKCS12         the certificate and its private key, a
#                                 PKCS#12 file (.p12/.pfx)
#   OSTRIVANE_SIGN_PASSWORD       that file's password (may be empty)
#   OSTRIVANE_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping
#                                 server; the signatures then stay valid
#                                 after the certificate expires
#
# Without OSTRIVANE_SIGN_PKCS12 it signs nothing and says so.
#
# cpack runs it twice per generator (packaging/CMakeLists.txt): before
# packing (sign_programs.cmake), on every .exe of the staging folder,
# whatever programs the package holds; after packing
# (sign_installer.cmake), on the packages that are .exe files, that is the
# installer. By hand, on every .exe below a folder or on single files:
#
#   cmake -DSIGN_PATHS="DIR;FILE.exe" -P packaging/windows/sign.cmake

function(ostrivane_sign_files)
  set(files ${ARGN})
  if(files STREQUAL "")
    return()
  endif()
  if("$ENV{OSTRIVANE_SIGN_PKCS12}" STREQUAL "")
    list(LENGTH files count)
    message(STATUS "Not signing ${count} file(s): OSTRIVANE_SIGN_PKCS12 is not set "
      "(an unsigned program or installer meets SmartScreen's warning)")
    return()
  endif()
  set(pkcs12 "$ENV{OSTRIVANE_SIGN_PKCS12}")
  if(NOT EXISTS "${pkcs12}")
    message(FATAL_ERROR "OSTRIVANE_SIGN_PKCS12 names no file: ${pkcs12}")
  endif()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (apt-get install osslsigncode)")
  endif()
  # The password goes to osslsigncode in a file only this user can read, not
  # on its command line, where every user's `ps` would see it.
  set(temp "$ENV{TMPDIR}")
  if(temp STREQUAL "")
    set(temp /tmp)
  endif()
  string(RANDOM LENGTH 16 tag)
  set(password_file "${temp}/ostrivane-sign-${tag}")
  file(TOUCH "${password_file}")
  file(CHMOD "${password_file}" PERMISSIONS OWNER_READ OWNER_WRITE)
  file(WRITE "${password_file}" "$ENV{OSTRIVANE_SIGN_PASSWORD}")
  set(timestamp "")
  if(NOT "$ENV{OSTRIVANE_SIGN_TIMESTAMP_URL}" STREQUAL "")
    set(timestamp -ts "$ENV{OSTRIVANE_SIGN_TIMESTAMP_URL}")
  endif()
  set(failed "")
  foreach(file IN LISTS files)
    set(signed "${file}.signed")
    file(REMOVE "${signed}")
    execute_process(
      COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${pkcs12}" -readpass "${password_file}"
              -h sha256 -n Ostrivane ${timestamp} -in "${file}" -out "${signed}"
      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(status EQUAL 0 AND EXISTS "${signed}")
      file(RENAME "${signed}" "${file}")
      get_filename_component(name "${file}" NAME)
      message(STATUS "Signed ${name}")
    else()
      file(REMOVE "${signed}")
      list(APPEND failed "${file}")
      message(SEND_ERROR "Signing ${file} failed:\n${output}")
    endif()
  endforeach()
  file(REMOVE "${password_file}")
  if(failed)
    message(FATAL_ERROR "Not signed: ${failed}")
  endif()
endfunction()

if(DEFINED SIGN_PATHS)
  # By hand: folders and files.
  set(files "")
  foreach(path IN LISTS SIGN_PATHS)
    if(IS_DIRECTORY "${path}")
      file(GLOB_RECURSE found LIST_DIRECTORIES false "${path}/*.exe")
      list(APPEND files ${found})
    else()
      list(APPEND files "${path}")
    endif()
  endforeach()
  list(SORT files)
  ostrivane_sign_files(${files})
elseif(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  message(FATAL_ERROR "usage: cmake -DSIGN_PATHS=\"DIR;FILE.exe\" -P sign.cmake")
endif()
