# The shipped shared libraries: two deliverables under the one library name,
# built from the same sources.
#
#   current  every entry point, version 2.5.0.10
#   legacy   the first ten entry points, version 1.5.0.17; getdata and
#            senddata bound to the legacy profile, the other eight to the
#            same C++ functions as in the current build
#
# Which entry points a deliverable has, and under which ordinals, is its
# export unit's and the entry point table's (src/exports/entry_point_table.h):
# its .def file is written from the table at configure time. Each exports
# exactly the names of its .def: on Windows the .def gives them undecorated
# with their ordinals; on Linux a linker version script written from the same
# names hides everything else. The DLLs link the runtime in, so they import
# nothing but the system.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  enable_language(RC)
endif()

# Name, ordinal and whether the legacy build has it, from the first line of
# each row of the table; "ordinal name" entries in ordinal order.
set(tarvex_table ${CMAKE_SOURCE_DIR}/src/exports/entry_point_table.h)
set(tarvex_header ${CMAKE_SOURCE_DIR}/include/tarvex.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tarvex_table} ${tarvex_header})
file(READ ${tarvex_table} table)
string(REGEX MATCHALL "\n *ROW\\([A-Za-z0-9_, ]*" rows "${table}")
set(tarvex_current_entries)
set(tarvex_legacy_entries)
set(table_names)
foreach(row IN LISTS rows)
  if(NOT row MATCHES "ROW\\(([A-Za-z_][A-Za-z0-9_]*), *([0-9]+), *(no|same|own),")
    message(FATAL_ERROR "${tarvex_table}: a row's first line is not 'ROW(name, ordinal, no|same|own, ...'")
  endif()
  list(APPEND table_names ${CMAKE_MATCH_1})
  list(APPEND tarvex_current_entries "${CMAKE_MATCH_2} ${CMAKE_MATCH_1}")
  if(NOT CMAKE_MATCH_3 STREQUAL "no")
    list(APPEND tarvex_legacy_entries "${CMAKE_MATCH_2} ${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT tarvex_current_entries COMPARE NATURAL)
list(SORT tarvex_legacy_entries COMPARE NATURAL)

# The header stays written for people; it declares exactly the table's names.
# (Each declaration's signature is held to its row by the export units: a C
# function defined otherwise than declared does not compile.)
file(STRINGS ${tarvex_header} declarations REGEX "TARVEX_CALL [A-Za-z_][A-Za-z0-9_]*\\(")
set(header_names)
foreach(declaration IN LISTS declarations)
  string(REGEX MATCH "TARVEX_CALL ([A-Za-z_][A-Za-z0-9_]*)\\(" _ "${declaration}")
  list(APPEND header_names ${CMAKE_MATCH_1})
endforeach()
set(undeclared ${table_names})
list(REMOVE_ITEM undeclared ${header_names})
set(unlisted ${header_names})
list(REMOVE_ITEM unlisted ${table_names})
if(undeclared OR unlisted)
  message(FATAL_ERROR "include/tarvex.h and src/exports/entry_point_table.h disagree: "
                      "rows the header does not declare: ${undeclared}; "
                      "declarations with no row: ${unlisted}")
endif()

set(tarvex_current_exports src/exports/current_exports.cpp)
set(tarvex_legacy_exports src/exports/legacy/legacy_exports.cpp)

# tarvex_version_resource(<target> <a.b.c.d> <comments> <file type> <file name>)
# The version block of a Windows deliverable, a DLL (VFT_DLL) or the tool
# (VFT_APP), from src/exports/version.rc.in.
function(tarvex_version_resource target version comments file_type file_name)
  string(REPLACE "." ";" numbers ${version})
  list(JOIN numbers "," TARVEX_VERSION_NUMBERS)
  list(JOIN numbers ", " TARVEX_VERSION_TEXT)
  set(TARVEX_COMMENTS "${comments}")
  set(TARVEX_FILE_TYPE ${file_type})
  set(TARVEX_ORIGINAL_FILENAME ${file_name})
  get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  configure_file(${CMAKE_SOURCE_DIR}/src/exports/version.rc.in ${dir}/version.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/version.rc)
endfunction()

# tarvex_deliverable(<target> VARIANT <dir> VERSION <a.b.c.d> COMMENTS <text>
#                    SOURCES <export units>... ENTRIES <"ordinal name">...)
function(tarvex_deliverable target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "VARIANT;VERSION;COMMENTS" "SOURCES;ENTRIES")
  set(dir ${CMAKE_BINARY_DIR}/${arg_VARIANT})
  set(def ${dir}/tarvex.def)
  set(def_lines)
  set(names)
  foreach(entry IN LISTS arg_ENTRIES)
    string(REPLACE " " ";" fields "${entry}")
    list(GET fields 0 ordinal)
    list(GET fields 1 name)
    string(APPEND def_lines "  ${name} @${ordinal}\n")
    list(APPEND names ${name})
  endforeach()
  file(CONFIGURE OUTPUT ${def} CONTENT
    "; Written from src/exports/entry_point_table.h: the ${arg_VARIANT} build's exports,\n; undecorated, with their ordinals.\nLIBRARY tarvex.dll\nEXPORTS\n${def_lines}")
  string(REPLACE "." ";" numbers ${arg_VERSION})
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 patch)

  set(tarvex_${arg_VARIANT}_version ${arg_VERSION} PARENT_SCOPE)
  set(tarvex_${arg_VARIANT}_def ${def} PARENT_SCOPE)

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
    tarvex_version_resource(${target} ${arg_VERSION} "${arg_COMMENTS}" VFT_DLL tarvex.dll)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_sources(${target} PRIVATE ${def})
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static
      -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  else()
    list(JOIN names ";\n    " globals)
    file(CONFIGURE OUTPUT ${dir}/exports.map CONTENT
      "/* Generated from ${def}: the names this shared object exports. */\n{\n  global:\n    ${globals};\n  local: *;\n};\n")
    set_target_properties(${target} PROPERTIES
      VERSION ${major}.${minor}.${patch}
      SOVERSION ${major}
      LINK_DEPENDS ${dir}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--no-undefined
      -Wl,--version-script=${dir}/exports.map)
  endif()
endfunction()

tarvex_deliverable(tarvex_current VARIANT current
  VERSION 2.5.0.10 COMMENTS "通讯动态库"
  SOURCES ${tarvex_current_exports} ENTRIES ${tarvex_current_entries})
tarvex_deliverable(tarvex_legacy VARIANT legacy
  VERSION 1.5.0.17 COMMENTS "通讯动态库9600bps"
  SOURCES ${tarvex_legacy_exports} ENTRIES ${tarvex_legacy_entries})

include(cmake/install.cmake)
