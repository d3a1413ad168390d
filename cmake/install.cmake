# Installing and packaging the two deliverables.
#
# Linux (cmake --install build/linux --prefix P), three components, all
# installed by default:
#   current  P/include/tarvex.h, P/lib/libtarvex.so*, P/lib/pkgconfig/tarvex.pc,
#            P/lib/cmake/tarvex/ (find_package(tarvex): target tarvex::tarvex)
#   legacy   P/lib/tarvex-legacy/libtarvex.so*, P/lib/pkgconfig/tarvex-legacy.pc,
#            and the target tarvex::legacy in the same CMake package
#   tool     P/bin/tarvex (its rule is in the top CMakeLists.txt, after the tool)
# Either library component alone (--component current|legacy) is a complete
# install: both carry the header and the CMake package files.
#
# Debian packages (cpack -G DEB, see scripts/package.sh) split the same files
# by use rather than by build, so that no file belongs to two packages:
#   libtarvex2     component runtime: both builds' shared objects
#   libtarvex-dev  component development: the header, the libtarvex.so links,
#                  the pkg-config and CMake files; depends on libtarvex2
#   tarvex         component tool
# runtime and development are left out of a plain cmake --install.
#
# Windows: one zip per deliverable and CPU (cpack, see scripts/package.sh),
# each with the DLL, its .def, an import library and the header.

if(NOT WIN32)
  set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tarvex)
  set(legacy_dir ${CMAKE_INSTALL_LIBDIR}/tarvex-legacy)

  set_target_properties(tarvex_current PROPERTIES EXPORT_NAME tarvex)
  set_target_properties(tarvex_legacy PROPERTIES EXPORT_NAME legacy)
  install(TARGETS tarvex_current EXPORT tarvexTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT current)
  install(TARGETS tarvex_legacy EXPORT tarvexLegacyTargets
    LIBRARY DESTINATION ${legacy_dir} COMPONENT legacy)

  install(EXPORT tarvexTargets NAMESPACE tarvex:: DESTINATION ${cmake_dir} COMPONENT current)
  install(EXPORT tarvexLegacyTargets NAMESPACE tarvex:: DESTINATION ${cmake_dir}
    COMPONENT legacy)
  configure_package_config_file(cmake/tarvexConfig.cmake.in
    ${CMAKE_BINARY_DIR}/install/tarvexConfig.cmake INSTALL_DESTINATION ${cmake_dir})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/tarvexConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  # Either component alone is a complete install: both carry the header and
  # the package files.
  foreach(component current legacy)
    install(FILES include/tarvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT ${component})
    install(FILES ${CMAKE_BINARY_DIR}/install/tarvexConfig.cmake
      ${CMAKE_BINARY_DIR}/install/tarvexConfigVersion.cmake
      DESTINATION ${cmake_dir} COMPONENT ${component})
  endforeach()

  # The .pc files find the prefix from where they lie, so the install tree
  # can go to any --prefix and be moved.
  file(RELATIVE_PATH TARVEX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" TARVEX_PC_TO_PREFIX "${TARVEX_PC_TO_PREFIX}")
  foreach(pc tarvex tarvex-legacy)
    configure_file(cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/install/${pc}.pc @ONLY)
  endforeach()
  install(FILES ${CMAKE_BINARY_DIR}/install/tarvex.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT current)
  install(FILES ${CMAKE_BINARY_DIR}/install/tarvex-legacy.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT legacy)

  # The same files again for the Debian packages, by use.
  install(TARGETS tarvex_current LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT development EXCLUDE_FROM_ALL)
  install(TARGETS tarvex_legacy LIBRARY DESTINATION ${legacy_dir}
    COMPONENT runtime NAMELINK_COMPONENT development EXCLUDE_FROM_ALL)
  install(EXPORT tarvexTargets NAMESPACE tarvex:: DESTINATION ${cmake_dir}
    COMPONENT development EXCLUDE_FROM_ALL)
  install(EXPORT tarvexLegacyTargets NAMESPACE tarvex:: DESTINATION ${cmake_dir}
    COMPONENT development EXCLUDE_FROM_ALL)
  install(FILES include/tarvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT development EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_BINARY_DIR}/install/tarvexConfig.cmake
    ${CMAKE_BINARY_DIR}/install/tarvexConfigVersion.cmake
    DESTINATION ${cmake_dir} COMPONENT development EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_BINARY_DIR}/install/tarvex.pc ${CMAKE_BINARY_DIR}/install/tarvex-legacy.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME tarvex)
  set(CPACK_PACKAGE_VERSION ${tarvex_current_version})
  set(CPACK_PACKAGE_CONTACT "the tarvex developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Talk to terminals on an RS-485 multi-drop bus behind one serial port")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime development tool)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarvex2)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 The shared library (libtarvex.so.2, every entry point) and its legacy build
 (libtarvex.so.1 in a directory of its own, the first ten entry points).")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarvex-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "tarvex: header, pkg-config and CMake files
 What a host program needs to build against either build of the library:
 tarvex.h, pkg-config tarvex and tarvex-legacy, find_package(tarvex).")
  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tarvex)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION electronics)
  set(CPACK_COMPONENT_TOOL_DESCRIPTION "tarvex command-line tool for RS-485 bus terminals
 Pokes a terminal without writing a host program, shows what went over the
 line, and puts demo terminals on a pseudo-terminal or a simulated bus.")
  include(CPack)

else()
  # A 32-bit host links against names decorated for __stdcall (_getdata@20)
  # while the DLL exports them undecorated (getdata). The import library maps
  # one to the other: dlltool builds it from the .def with every name
  # decorated by its argument bytes (read from the public header), and
  # --kill-at makes the import names undecorated again. A 64-bit host has one
  # calling convention and no decoration: its import library comes from the
  # .def as it is.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(package_cpu win32)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
  else()
    set(package_cpu win64)
  endif()
  if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
  endif()

  foreach(variant current legacy)
    set(dir ${CMAKE_BINARY_DIR}/${variant})
    set(def ${tarvex_${variant}_def})
    if(package_cpu STREQUAL win32)
      add_custom_command(OUTPUT ${dir}/tarvex.lib
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/stdcall_def.py
                --def ${def} --header ${CMAKE_SOURCE_DIR}/include/tarvex.h
                --out ${dir}/tarvex_stdcall.def
        COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/tarvex_stdcall.def --dllname tarvex.dll
                --kill-at --output-lib ${dir}/tarvex.lib
        DEPENDS ${def} ${CMAKE_SOURCE_DIR}/include/tarvex.h ${CMAKE_SOURCE_DIR}/cmake/stdcall_def.py
        COMMENT "Import library for 32-bit hosts: ${variant}/tarvex.lib")
    else()
      add_custom_command(OUTPUT ${dir}/tarvex.lib
        COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname tarvex.dll --output-lib ${dir}/tarvex.lib
        DEPENDS ${def}
        COMMENT "Import library for 64-bit hosts: ${variant}/tarvex.lib")
    endif()
    add_custom_target(tarvex_${variant}_import_library ALL DEPENDS ${dir}/tarvex.lib)

    install(TARGETS tarvex_${variant} RUNTIME DESTINATION . COMPONENT ${variant})
    install(FILES ${def} DESTINATION . RENAME tarvex.def COMPONENT ${variant})
    install(FILES ${dir}/tarvex.lib include/tarvex.h DESTINATION . COMPONENT ${variant})
  endforeach()

  set(CPACK_PACKAGE_NAME tarvex)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL current legacy)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_ARCHIVE_CURRENT_FILE_NAME tarvex-${tarvex_current_version}-${package_cpu})
  set(CPACK_ARCHIVE_LEGACY_FILE_NAME tarvex-legacy-${tarvex_legacy_version}-${package_cpu})
  include(CPack)
endif()
