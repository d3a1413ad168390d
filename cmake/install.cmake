# Installing and packaging the two deliverables.
#
# Linux (cmake --install build/linux --prefix P), three components, all
# installed by default:
#   current  P/include/tarvex.h, P/lib/libtarvex.so*, P/lib/pkgconfig/tarvex.pc,
#            P/lib/cmake/tarvex/ (find_package(tarvex): target tarvex::tarvex)
#   legacy   P/lib/tarvex-legacy/libtarvex.so*, P/lib/pkgconfig/tarvex-legacy.pc,
#            and the target tarvex::legacy in the same CMake package
#   tool     P/bin/tarvex and its man page (the rules are in cmake/tool_install.cmake,
#            after the tool)
# Either library component alone (--component current|legacy) is a complete
# install: both carry the header, the CMake package files and the
# declarations for other hosts' languages (bindings/: P/share/tarvex/ and
# P/lib/python3/dist-packages/tarvex.py).
#
# Debian packages: cmake/debian_packages.cmake. Windows: one zip per
# deliverable and CPU (cpack, see scripts/package.sh), each with the DLL, its
# .def, an import library, the header, the declarations, the licence and a
# short readme.

set(tarvex_bindings ${CMAKE_SOURCE_DIR}/bindings)

if(NOT WIN32)
  set_target_properties(tarvex_current PROPERTIES EXPORT_NAME tarvex)
  set_target_properties(tarvex_legacy PROPERTIES EXPORT_NAME legacy)

  # tarvex_install_build(<variant> LAYOUT <name> LIBDIR <dir> LIBRARY_COMPONENT <c>
  #                      HOST_COMPONENT <c> [RPATH] [EXCLUDE_FROM_ALL])
  # One build's shared object, and what a C host builds against it with: its
  # namelink, its CMake targets and its .pc file. A layout is one tree of
  # such files (the plain install, the Debian packages); RPATH gives the .pc
  # file the library's directory as a run path, for a directory the loader
  # does not search by itself.
  function(tarvex_install_build variant)
    cmake_parse_arguments(PARSE_ARGV 1 arg "RPATH;EXCLUDE_FROM_ALL"
      "LAYOUT;LIBDIR;LIBRARY_COMPONENT;HOST_COMPONENT" "")
    set(exclude)
    if(arg_EXCLUDE_FROM_ALL)
      set(exclude EXCLUDE_FROM_ALL)
    endif()
    set(pc tarvex)
    set(library_dir ${arg_LIBDIR})
    set(export_file tarvexTargets.cmake)
    if(variant STREQUAL "legacy")
      set(pc tarvex-legacy)
      set(library_dir ${arg_LIBDIR}/tarvex-legacy)
      set(export_file tarvexLegacyTargets.cmake)
    endif()
    set(export_set tarvex_${arg_LAYOUT}_${variant})

    # Debian wants shared objects not executable; nothing runs them.
    install(TARGETS tarvex_${variant} EXPORT ${export_set}
      LIBRARY DESTINATION ${library_dir} COMPONENT ${arg_LIBRARY_COMPONENT}
      NAMELINK_COMPONENT ${arg_HOST_COMPONENT}
      PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ ${exclude})
    install(EXPORT ${export_set} FILE ${export_file} NAMESPACE tarvex::
      DESTINATION ${arg_LIBDIR}/cmake/tarvex COMPONENT ${arg_HOST_COMPONENT} ${exclude})

    # The .pc files find the prefix from where they lie, so the install tree
    # can go to any --prefix and be moved.
    file(RELATIVE_PATH TARVEX_PC_TO_PREFIX /prefix/${arg_LIBDIR}/pkgconfig /prefix)
    string(REGEX REPLACE "/$" "" TARVEX_PC_TO_PREFIX "${TARVEX_PC_TO_PREFIX}")
    set(TARVEX_PC_LIBDIR ${arg_LIBDIR})
    set(TARVEX_PC_RPATH "")
    if(arg_RPATH)
      set(TARVEX_PC_RPATH "-Wl,-rpath,\${libdir} ")
    endif()
    set(out ${CMAKE_BINARY_DIR}/install/${arg_LAYOUT}/${pc}.pc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/${pc}.pc.in ${out} @ONLY)
    install(FILES ${out} DESTINATION ${arg_LIBDIR}/pkgconfig COMPONENT ${arg_HOST_COMPONENT}
      ${exclude})
  endfunction()

  # tarvex_install_host_files(LAYOUT <name> LIBDIR <dir> COMPONENT <c> [EXCLUDE_FROM_ALL])
  # What hosts of either build share: the header, the CMake package's
  # configuration, and the declarations for C#, VB and Python.
  function(tarvex_install_host_files)
    cmake_parse_arguments(PARSE_ARGV 0 arg "EXCLUDE_FROM_ALL" "LAYOUT;LIBDIR;COMPONENT" "")
    set(exclude)
    if(arg_EXCLUDE_FROM_ALL)
      set(exclude EXCLUDE_FROM_ALL)
    endif()
    set(to COMPONENT ${arg_COMPONENT} ${exclude})
    set(cmake_dir ${arg_LIBDIR}/cmake/tarvex)
    set(out ${CMAKE_BINARY_DIR}/install/${arg_LAYOUT})
    configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/tarvexConfig.cmake.in
      ${out}/tarvexConfig.cmake INSTALL_DESTINATION ${cmake_dir})
    write_basic_package_version_file(${out}/tarvexConfigVersion.cmake
      VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${out}/tarvexConfig.cmake ${out}/tarvexConfigVersion.cmake
      DESTINATION ${cmake_dir} ${to})
    install(FILES ${CMAKE_SOURCE_DIR}/include/tarvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} ${to})
    install(FILES ${tarvex_bindings}/tarvex.cs ${tarvex_bindings}/tarvex.dllmap.config
      ${tarvex_bindings}/tarvex.bas DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex ${to})
    # Where Debian's python3 looks (dist-packages); the module is the same
    # for every CPU, so it lies outside the multiarch directory.
    install(FILES ${tarvex_bindings}/tarvex.py DESTINATION lib/python3/dist-packages ${to})
  endfunction()

  # The plain install: one component per build, each complete.
  foreach(variant current legacy)
    tarvex_install_build(${variant} LAYOUT plain LIBDIR ${CMAKE_INSTALL_LIBDIR}
      LIBRARY_COMPONENT ${variant} HOST_COMPONENT ${variant} RPATH)
    tarvex_install_host_files(LAYOUT plain LIBDIR ${CMAKE_INSTALL_LIBDIR} COMPONENT ${variant})
  endforeach()

  include(cmake/debian_packages.cmake)

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
    set(TARVEX_ZIP_CPU "32-bit Windows (win32, i686)")
    set(TARVEX_ZIP_CONVENTION "The functions are __stdcall, exported\nundecorated (getdata, not _getdata@20).")
  else()
    set(package_cpu win64)
    set(TARVEX_ZIP_CPU "64-bit Windows (win64, x86_64)")
    set(TARVEX_ZIP_CONVENTION "")
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

    # A short readme for the zip: which build, which CPU, what each file is.
    if(variant STREQUAL "current")
      set(TARVEX_ZIP_BUILD "the current build: every entry point")
      set(TARVEX_ZIP_TOOL "  tarvex.exe   the command-line tool: tarvex.exe --help\n")
    else()
      set(TARVEX_ZIP_BUILD "the legacy build: its ten entry points, ordinals 1 to 10")
      set(TARVEX_ZIP_TOOL "")
    endif()
    set(TARVEX_ZIP_VERSION ${tarvex_${variant}_version})
    configure_file(${CMAKE_SOURCE_DIR}/cmake/zip_readme.txt.in ${dir}/README.txt @ONLY)

    install(TARGETS tarvex_${variant} RUNTIME DESTINATION . COMPONENT ${variant})
    install(FILES ${def} DESTINATION . RENAME tarvex.def COMPONENT ${variant})
    install(FILES ${dir}/tarvex.lib include/tarvex.h ${dir}/README.txt LICENSE
      ${tarvex_bindings}/tarvex.cs ${tarvex_bindings}/tarvex.bas ${tarvex_bindings}/tarvex.py
      DESTINATION . COMPONENT ${variant})
  endforeach()

  set(CPACK_PACKAGE_NAME tarvex)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL current legacy)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # The static C++ runtime brings its debugging sections into the DLLs and
  # the tool; the zips ship them without.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_ARCHIVE_CURRENT_FILE_NAME tarvex-${tarvex_current_version}-${package_cpu})
  set(CPACK_ARCHIVE_LEGACY_FILE_NAME tarvex-legacy-${tarvex_legacy_version}-${package_cpu})
  include(CPack)
endif()
