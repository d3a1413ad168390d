# Fails, saying what to build, when one of the files in DLLS (a list) is
# missing: the wine tier runs the win64 preset's DLLs and tool, which the linux build
# does not make.
foreach(dll IN LISTS DLLS)
  if(NOT EXISTS "${dll}")
    message(FATAL_ERROR "${dll} is missing: the wine tier runs the win64 DLLs and tool. Build them with "
                        "scripts/build_windows.sh (or cmake --preset win64 && cmake --build build/win64 -j2), "
                        "or run scripts/test.sh wine, which builds them first.")
  endif()
  message(STATUS "${dll}: present")
endforeach()
