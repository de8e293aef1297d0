# SPDX-License-Identifier: GPL-3.0-or-later
# Debian's hardening flags, as dpkg-buildflags gives them with hardening=+all:
# fortified libc calls, the strong stack protector, format checks, read-only
# relocations and immediate binding. Only those: the build type still chooses
# optimisation and debug information (so "-g -O2" is stripped), and file paths
# in the build stay as they are. _FORTIFY_SOURCE needs optimisation, so a
# Debug build goes without; so do the sanitizer and fuzz builds, whose own
# checks the fortified functions would bypass.
option(TANDO_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)

string(TOUPPER "${CMAKE_BUILD_TYPE}" _build_type)
if(NOT TANDO_HARDENING OR TANDO_SANITIZE OR TANDO_FUZZ OR _build_type STREQUAL "DEBUG" OR _build_type STREQUAL "")
  return()
endif()
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: building without Debian's hardening flags")
  return()
endif()

set(_shown)
foreach(flag CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
            "DEB_CXXFLAGS_MAINT_STRIP=-g -O2"
            ${DPKG_BUILDFLAGS} --get ${flag}
    OUTPUT_VARIABLE _value
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${flag} failed: ${_rc}")
  endif()
  string(APPEND _shown " ${_value}")
  separate_arguments(_hardening_${flag} UNIX_COMMAND "${_value}")
endforeach()
message(STATUS "Hardening flags (dpkg-buildflags):${_shown}")
add_compile_options(${_hardening_CPPFLAGS} ${_hardening_CXXFLAGS})
add_link_options(${_hardening_LDFLAGS})
