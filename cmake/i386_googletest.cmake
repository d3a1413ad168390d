# GoogleTest for the i386 preset. Debian's libgtest-dev holds the native
# (x86_64) libraries only, and its sources in /usr/src/googletest (package
# googletest): find_package(GTest) is answered by building those sources here,
# with the build's own -m32 flags. A dependency provider (CMake 3.24), set up
# through CMAKE_PROJECT_TOP_LEVEL_INCLUDES by the preset, so the tiers'
# CMakeLists.txt stay as they are.
set(TARVEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources (i386 preset)")

macro(tarvex_provide_googletest method package_name)
  if("${package_name}" STREQUAL "GTest")
    if(NOT TARGET GTest::gtest)
      if(NOT EXISTS ${TARVEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "i386 preset: no GoogleTest sources in ${TARVEX_GOOGLETEST_SOURCE} "
                            "(Debian: googletest; scripts/setup.sh installs it)")
      endif()
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${TARVEX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      # Not the project's warnings-as-errors: GoogleTest brings its own flags.
      foreach(target gtest gtest_main gmock gmock_main)
        if(TARGET ${target})
          set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS "")
        endif()
      endforeach()
    endif()
    set(GTest_FOUND TRUE)
  endif()
endmacro()
cmake_language(SET_DEPENDENCY_PROVIDER tarvex_provide_googletest SUPPORTED_METHODS FIND_PACKAGE)
