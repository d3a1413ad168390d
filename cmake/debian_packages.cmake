# The Debian packages (cpack -G DEB, see scripts/package.sh). They split the
# files by use rather than by build, so that no file belongs to two packages:
#   libtarvex2     component runtime: both builds' shared objects, in the
#                  multiarch directory (the legacy one in tarvex-legacy/ there)
#   libtarvex-dev  component development: the header, the libtarvex.so links,
#                  the pkg-config and CMake files, the declarations for C#,
#                  VB and Python; depends on libtarvex2
#   tarvex         component tool: the tool and its man page
# Each has /usr/share/doc/<package>/copyright (the licence) and changelog.gz.
# The runtime package runs ldconfig by libc-bin's trigger
# (cmake/debian/ldconfig_trigger.cmake). runtime and development, and the
# packages' docs, are left out of a plain cmake --install.

set(tarvex_deb_libdir lib/${CMAKE_LIBRARY_ARCHITECTURE})
if(NOT CMAKE_LIBRARY_ARCHITECTURE)
  set(tarvex_deb_libdir ${CMAKE_INSTALL_LIBDIR})
endif()

# The libraries and host files at /usr, by use. The current build lies where
# the loader looks, so its .pc file gives hosts no run path; the legacy
# build's directory needs one.
tarvex_install_build(current LAYOUT debian LIBDIR ${tarvex_deb_libdir}
  LIBRARY_COMPONENT runtime HOST_COMPONENT development EXCLUDE_FROM_ALL)
tarvex_install_build(legacy LAYOUT debian LIBDIR ${tarvex_deb_libdir}
  LIBRARY_COMPONENT runtime HOST_COMPONENT development RPATH EXCLUDE_FROM_ALL)
tarvex_install_host_files(LAYOUT debian LIBDIR ${tarvex_deb_libdir} COMPONENT development
  EXCLUDE_FROM_ALL)

# Who answers for the packages (the Maintainer field and the changelog).
set(TARVEX_PACKAGE_MAINTAINER "tarvex developers <tarvex@example.org>" CACHE STRING
  "Maintainer of the Debian packages: a name and an address")

# copyright: the licence in Debian's machine-readable form, its text taken
# from LICENSE (a blank line of it is " ." there).
file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE license_lines REGEX "^Copyright")
string(REGEX REPLACE "^Copyright \\([cC]\\) *" "" TARVEX_COPYRIGHT_HOLDER "${license_lines}")
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license_text)
string(STRIP "${license_text}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")
set(TARVEX_LICENSE_TEXT " ${license_text}")
set(deb_docs ${CMAKE_BINARY_DIR}/debian)
configure_file(cmake/debian/copyright.in ${deb_docs}/copyright @ONLY)

# changelog.gz: Debian's format, one entry for this version, compressed as
# Debian wants it (gzip -9n: no name, no time stamp).
string(TIMESTAMP TARVEX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/changelog.in ${deb_docs}/changelog @ONLY)
add_custom_command(OUTPUT ${deb_docs}/changelog.gz
  COMMAND gzip -9nkf ${deb_docs}/changelog
  DEPENDS ${deb_docs}/changelog
  COMMENT "The Debian packages' changelog.gz")
add_custom_target(tarvex_debian_changelog ALL DEPENDS ${deb_docs}/changelog.gz)

foreach(package_component libtarvex2:runtime libtarvex-dev:development tarvex:tool)
  string(REPLACE ":" ";" pair ${package_component})
  list(GET pair 0 package)
  list(GET pair 1 component)
  install(FILES ${deb_docs}/copyright ${deb_docs}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VERSION ${tarvex_current_version})
set(CPACK_PACKAGE_CONTACT "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE tarvex)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# A host built against this version runs on any later one of the same soname.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/debian/ldconfig_trigger.cmake)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
# Each package's description: its synopsis, then the text, whose lines cpack
# indents as Debian wants them. No CPACK_PACKAGE_DESCRIPTION_SUMMARY: cpack
# would put it before each.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarvex2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "library to talk to terminals on an RS-485 multi-drop bus
Each entry point is one blocking conversation with one terminal on a bus
behind one serial port (address bytes with MARK parity, the rest SPACE).
The shared library (libtarvex.so.2, every entry point) and its legacy build
(libtarvex.so.1 in a directory of its own, the first ten entry points).")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarvex-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The Python module is for Python hosts only; C hosts need no python3.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS python3)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "library to talk to RS-485 bus terminals - development files
What a host program needs to build against either build of the library:
tarvex.h, pkg-config tarvex and tarvex-legacy, find_package(tarvex); and
for hosts in other languages, the declarations of every entry point:
/usr/share/tarvex/tarvex.cs (C#, with a dllmap for mono), tarvex.bas (VB6
and VBA) and the Python module tarvex.")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "command-line tool for terminals on an RS-485 multi-drop bus
Pokes a terminal without writing a host program, shows what went over the
line, and puts demo terminals on a pseudo-terminal or a simulated bus.")
include(CPack)
