# Linux i386 with the native gcc (-m32, from gcc-multilib/g++-multilib): the
# unit tier as a 32-bit program, so every unit test runs on 32-bit
# arithmetic. The build machines' kernel runs no 32-bit program, so tests run
# under qemu-user (qemu-i386-static, from qemu-user-static) as the cross
# compiling emulator; ctest and gtest_discover_tests put it in front.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

find_program(TARVEX_QEMU_I386 NAMES qemu-i386-static qemu-i386)
if(NOT TARVEX_QEMU_I386)
  message(FATAL_ERROR "i386 preset: qemu-i386-static not found (Debian: qemu-user-static; "
                      "scripts/setup.sh installs it)")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEX_QEMU_I386})
