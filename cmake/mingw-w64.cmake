# Cross-compiling for 64-bit Windows with mingw-w64 from a Debian host.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The posix thread variant of the compiler is required: the program uses
# std::thread, std::mutex and std::condition_variable, which the win32 thread
# variant of libstdc++ does not provide.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Release is -O2 without debug information: the programs ship in the
# installer as they are built here, and wine gives no symbolised stacks to
# use it for. (CMake's own Release default, -O3, compiles far slower.)
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")

# Self-contained programs: without this every program needs libstdc++-6.dll,
# libgcc_s_seh-1.dll and libwinpthread-1.dll next to it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here run on this host only through wine (test discovery
# included). Discovery waits until the tests are run, so that a build never
# starts wine.
find_program(VT_WINE NAMES wine wine64)
if(VT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VT_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
