# The shipped shared libraries. Exported names come from the export units
# under src/exports/; on Windows the .def file gives them undecorated, with
# their ordinals, and the runtime is linked in so the DLL imports nothing but
# the system.
file(GLOB tarvex_current_exports CONFIGURE_DEPENDS src/exports/*_exports.cpp)

function(tarvex_deliverable target variant def_file)
  add_library(${target} SHARED ${ARGN})
  target_link_libraries(${target} PRIVATE tarvex_os tarvex_core)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME tarvex
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${variant}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${variant}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${variant}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
    target_sources(${target} PRIVATE ${def_file})
    target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -static
      -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  else()
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

tarvex_deliverable(tarvex_current current ${CMAKE_SOURCE_DIR}/src/exports/tarvex.def
  ${tarvex_current_exports})
