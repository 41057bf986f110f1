# Cross-builds the console for 64-bit Windows with mingw-w64 (the POSIX-thread compilers, for
# std::thread and std::mutex). The .exe links its C and C++ runtimes statically and so needs no
# DLL beyond Windows' own; the tests run under Wine. scripts/windows passes OPENSSL_ROOT_DIR and
# GTEST_ROOT for the cross-built libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# printf and friends with C99's conversions (%zu, %lld), as on Linux.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(NORV_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${NORV_WINE})

# Libraries and headers come from the cross-built prefixes only, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${OPENSSL_ROOT_DIR} ${GTEST_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
