# Installing and packaging the two deliverables.
#
# Linux (cmake --install build/linux --prefix P), two components, both
# installed by default:
#   current  P/include/tarvex.h, P/lib/libtarvex.so*, P/lib/pkgconfig/tarvex.pc,
#            P/lib/cmake/tarvex/ (find_package(tarvex): target tarvex::tarvex)
#   legacy   P/lib/tarvex-legacy/libtarvex.so*, P/lib/pkgconfig/tarvex-legacy.pc,
#            and the target tarvex::legacy in the same CMake package
# Either component alone (--component current|legacy) is a complete install:
# both carry the header and the CMake package files.
#
# Windows i686: one zip per deliverable (cpack, see scripts/package.sh), each
# with the DLL, its .def, an import library for 32-bit hosts and the header.

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

elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # A 32-bit host links against names decorated for __stdcall (_getdata@20)
  # while the DLL exports them undecorated (getdata). The import library maps
  # one to the other: dlltool builds it from the .def with every name
  # decorated by its argument bytes (read from the public header), and
  # --kill-at makes the import names undecorated again.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL i686-w64-mingw32-dlltool REQUIRED)
  endif()

  foreach(variant current legacy)
    set(dir ${CMAKE_BINARY_DIR}/${variant})
    set(def ${tarvex_${variant}_def})
    add_custom_command(OUTPUT ${dir}/tarvex.lib
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/stdcall_def.py
              --def ${def} --header ${CMAKE_SOURCE_DIR}/include/tarvex.h
              --out ${dir}/tarvex_stdcall.def
      COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/tarvex_stdcall.def --dllname tarvex.dll
              --kill-at --output-lib ${dir}/tarvex.lib
      DEPENDS ${def} ${CMAKE_SOURCE_DIR}/include/tarvex.h ${CMAKE_SOURCE_DIR}/cmake/stdcall_def.py
      COMMENT "Import library for 32-bit hosts: ${variant}/tarvex.lib")
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
  set(CPACK_ARCHIVE_CURRENT_FILE_NAME tarvex-${tarvex_current_version}-win32)
  set(CPACK_ARCHIVE_LEGACY_FILE_NAME tarvex-legacy-${tarvex_legacy_version}-win32)
  include(CPack)
endif()
