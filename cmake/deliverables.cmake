# The shipped shared libraries: two deliverables under the one library name,
# built from the same sources.
#
#   current  every entry point, version 2.5.0.10
#   legacy   the first ten entry points, version 1.5.0.17; getdata and
#            senddata bound to the legacy profile, the other eight to the
#            same C++ functions as in the current build
#
# Which entry points a deliverable has is decided by the export units it
# links (src/exports/) and by its .def file. Each exports exactly the names of
# its .def: on Windows the .def gives them undecorated with their ordinals; on
# Linux a linker version script generated from the same .def hides everything
# else, so an export unit that also defines other entry points does not leak
# them. The DLLs link the runtime in, so they import nothing but the system.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  enable_language(RC)
endif()

file(GLOB tarvex_current_exports CONFIGURE_DEPENDS src/exports/*_exports.cpp)
set(tarvex_legacy_exports
  src/exports/legacy/legacy_exports.cpp   # senddata, getdata: the legacy profile
  src/exports/transform_exports.cpp       # cardLock, keylock, ascc, abcd
  src/exports/hex_text_exports.cpp        # senddata_hex, getdata_hex
  src/exports/blacklist_exports.cpp)      # sendBlack_hex, sendBlack

# The exported names of a .def file ("  name @ordinal" lines), in file order.
function(tarvex_def_names def_file out_var)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
  file(STRINGS ${def_file} lines REGEX "^[ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]+@[0-9]+")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "[A-Za-z_][A-Za-z0-9_]*" name "${line}")
    list(APPEND names ${name})
  endforeach()
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()

# tarvex_deliverable(<target> VARIANT <dir> DEF <.def> VERSION <a.b.c.d>
#                    COMMENTS <text> SOURCES <export units>...)
function(tarvex_deliverable target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "VARIANT;DEF;VERSION;COMMENTS" "SOURCES")
  set(dir ${CMAKE_BINARY_DIR}/${arg_VARIANT})
  string(REPLACE "." ";" numbers ${arg_VERSION})
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 patch)
  list(GET numbers 3 build)

  set(tarvex_${arg_VARIANT}_version ${arg_VERSION} PARENT_SCOPE)
  set(tarvex_${arg_VARIANT}_def ${arg_DEF} PARENT_SCOPE)

  add_library(${target} SHARED ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE tarvex_trace tarvex_os tarvex_core)
  # Who wrote a block of the exchange log (src/exports/entry_point.h).
  set(log_name tarvex)
  if(arg_VARIANT STREQUAL "legacy")
    set(log_name tarvex-legacy)
  endif()
  target_compile_definitions(${target} PRIVATE TARVEX_LOG_LIBRARY="${log_name} ${arg_VERSION}")
  target_include_directories(${target} INTERFACE
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME tarvex
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    RUNTIME_OUTPUT_DIRECTORY ${dir}
    ARCHIVE_OUTPUT_DIRECTORY ${dir}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

  if(WIN32)
    set(TARVEX_VERSION_NUMBERS "${major},${minor},${patch},${build}")
    set(TARVEX_VERSION_TEXT "${major}, ${minor}, ${patch}, ${build}")
    set(TARVEX_COMMENTS "${arg_COMMENTS}")
    configure_file(${CMAKE_SOURCE_DIR}/src/exports/version.rc.in ${dir}/version.rc @ONLY)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_sources(${target} PRIVATE ${arg_DEF} ${dir}/version.rc)
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static
      -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  else()
    tarvex_def_names(${arg_DEF} names)
    list(JOIN names ";\n    " globals)
    file(CONFIGURE OUTPUT ${dir}/exports.map CONTENT
      "/* Generated from ${arg_DEF}: the names this shared object exports. */\n{\n  global:\n    ${globals};\n  local: *;\n};\n")
    set_target_properties(${target} PROPERTIES
      VERSION ${major}.${minor}.${patch}
      SOVERSION ${major}
      LINK_DEPENDS ${dir}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--no-undefined
      -Wl,--version-script=${dir}/exports.map)
  endif()
endfunction()

tarvex_deliverable(tarvex_current VARIANT current
  DEF ${CMAKE_SOURCE_DIR}/src/exports/tarvex.def
  VERSION 2.5.0.10 COMMENTS "通讯动态库"
  SOURCES ${tarvex_current_exports})
tarvex_deliverable(tarvex_legacy VARIANT legacy
  DEF ${CMAKE_SOURCE_DIR}/src/exports/tarvex_legacy.def
  VERSION 1.5.0.17 COMMENTS "通讯动态库9600bps"
  SOURCES ${tarvex_legacy_exports})

include(cmake/install.cmake)
