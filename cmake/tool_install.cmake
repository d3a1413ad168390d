# The tool as it ships. Linux: bin/tarvex and its man page (component tool,
# in the plain install and the Debian package tarvex). Windows: tarvex.exe in
# the current build's zips beside the DLL; it links the library's static
# core, so it needs neither DLL and one copy per CPU does. It carries a
# version block as the DLLs do.
if(WIN32)
  tarvex_version_resource(tarvex_tool ${tarvex_current_version} "command-line tool"
    VFT_APP tarvex.exe)
  install(TARGETS tarvex_tool RUNTIME DESTINATION . COMPONENT current)
  return()
endif()

install(TARGETS tarvex_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

# The man page is the tool's own --help and --version, so it cannot drift.
find_program(TARVEX_HELP2MAN help2man)
if(NOT TARVEX_HELP2MAN)
  message(STATUS "help2man not found: the tool is installed without a man page "
                 "(scripts/setup.sh installs it)")
  return()
endif()
set(man_page ${CMAKE_BINARY_DIR}/man/tarvex.1)
add_custom_command(OUTPUT ${man_page}.gz
  COMMAND ${TARVEX_HELP2MAN} --no-info --section 1
          --name "talk to terminals on an RS-485 bus, or to a simulated one"
          --output ${man_page} $<TARGET_FILE:tarvex_tool>
  COMMAND gzip -9nf ${man_page}
  DEPENDS tarvex_tool
  COMMENT "The tool's man page, from its --help")
add_custom_target(tarvex_man_page ALL DEPENDS ${man_page}.gz)
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
