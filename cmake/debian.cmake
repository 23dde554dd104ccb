# SPDX-License-Identifier: ISC
# The Debian package: cpack -G DEB, run in the build directory. It carries
# two files of Debian's own, in /usr/share/doc/ex2-client: the copyright
# file, made from LICENSE, and the changelog, CHANGELOG gzipped. They are
# installed into the package alone (component debian), so that a plain
# `cmake --install`, or another distribution's packager, never meets them.

set(EX2_MAINTAINER "ex2-client maintainers <maintainers@ex2-client.invalid>"
  CACHE STRING "Maintainer named in the Debian package")

set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG
          ${CMAKE_CURRENT_BINARY_DIR}/changelog
  COMMAND ${GZIP_EXECUTABLE} -9nf ${CMAKE_CURRENT_BINARY_DIR}/changelog
  DEPENDS CHANGELOG VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog_gz})

# The machine-readable copyright file: LICENSE's copyright line, then the
# licence text as a paragraph (a blank line becomes " ."). Made anew
# whenever LICENSE changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
file(READ LICENSE license)
string(REGEX MATCH "^Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(copyright_holders "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^Copyright[^\n]*\n\n" "" license_text "${license}")
string(STRIP "${license_text}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text " ${license_text}")
set(copyright ${CMAKE_CURRENT_BINARY_DIR}/copyright)
file(CONFIGURE OUTPUT ${copyright} @ONLY CONTENT [[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ex2-client

Files: *
Copyright: @copyright_holders@
License: ISC

License: ISC
@license_text@
]])

install(FILES ${changelog_gz} ${copyright}
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME ex2-client)
set(CPACK_PACKAGE_VENDOR "ex2-client maintainers")
set(CPACK_PACKAGE_CONTACT "${EX2_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "send hello to a server through the named pipe fifo-2")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "ex2-client is a one-shot client for servers that read a FIFO. Run in a
directory that holds the FIFO fifo-2, it waits until a server has the FIFO
open for reading, writes the five bytes hello in a single write, reports
each step on the console and exits 0, or names the failed call and the
system's reason and exits 1. It is byte-exact, never writes its own messages
into the FIFO, and starts as fast as a plain C program.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${EX2_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# The program and its manual, then Debian's files; not LICENSE, which the
# copyright file holds.
set(CPACK_INSTALL_CMAKE_PROJECTS
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} Unspecified /
  ${CMAKE_BINARY_DIR} ${PROJECT_NAME} debian /)
# Directories as Debian wants them, whatever the umask of the build.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-dir-modes.cmake)

if(NOT CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps (dpkg-dev) works out the libc6 version the binary needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # The package is for the CPU the binary is for, not this machine's.
  execute_process(
    COMMAND dpkg-architecture -qDEB_HOST_ARCH -t${CMAKE_LIBRARY_ARCHITECTURE}
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  # dpkg-shlibdeps knows only this machine's libraries, so the dependency
  # is read off the binary when cpack runs (cmake/debian-cross-depends.cmake).
  set(CPACK_EX2_READELF ${CMAKE_READELF})
  set(CPACK_EX2_CLIENT ${CMAKE_BINARY_DIR}/ex2-client)
  set(CPACK_PROJECT_CONFIG_FILE
    ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-cross-depends.cmake)
endif()

include(CPack)
