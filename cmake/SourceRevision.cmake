# SPDX-License-Identifier: GPL-3.0-or-later
# The abbreviated revision of the source tree, fixed at configure time.
# A tree without git history still builds and reports "0000000".
set(TANDO_SOURCE_REVISION "0000000")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" rev-parse --short=7 HEAD
    WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
    OUTPUT_VARIABLE _rev
    ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _rc)
  if(_rc EQUAL 0 AND _rev MATCHES "^[0-9a-f]+$")
    string(SUBSTRING "${_rev}" 0 7 TANDO_SOURCE_REVISION)
  endif()
endif()
configure_file("${CMAKE_SOURCE_DIR}/src/buildinfo.h.in" "${CMAKE_BINARY_DIR}/generated/buildinfo.h" @ONLY)
