# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and std::mutex need) and runs what it builds under Wine (ctest, test discovery).
# The libraries come from tools/windows/deps.sh, which prints their folder:
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQUELVO_WINDOWS_DEPS="$(tools/windows/deps.sh)"
#
# QUELVO_WINDOWS_DEPS may also come from the environment.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELVO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELVO_MINGW_TRIPLET}-windres)
# The -posix suffix hides the triplet from CMake's guess of the binutils' names.
set(CMAKE_AR ${QUELVO_MINGW_TRIPLET}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${QUELVO_MINGW_TRIPLET}-ranlib CACHE FILEPATH "Archive indexer")

# The folder of the Windows libraries. Try-compile projects read this file again: they get it
# through CMAKE_TRY_COMPILE_PLATFORM_VARIABLES.
if(NOT QUELVO_WINDOWS_DEPS AND DEFINED ENV{QUELVO_WINDOWS_DEPS})
  set(QUELVO_WINDOWS_DEPS "$ENV{QUELVO_WINDOWS_DEPS}")
endif()
if(NOT QUELVO_WINDOWS_DEPS)
  message(FATAL_ERROR "QUELVO_WINDOWS_DEPS is not set: build the Windows libraries with "
    "tools/windows/deps.sh and give its last line to -DQUELVO_WINDOWS_DEPS=...")
endif()
if(NOT IS_DIRECTORY "${QUELVO_WINDOWS_DEPS}")
  message(FATAL_ERROR "QUELVO_WINDOWS_DEPS: ${QUELVO_WINDOWS_DEPS} is no folder "
    "(tools/windows/deps.sh builds it)")
endif()
set(QUELVO_WINDOWS_DEPS "${QUELVO_WINDOWS_DEPS}" CACHE PATH
  "Folder of the Windows libraries (tools/windows/deps.sh)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUELVO_WINDOWS_DEPS)

# Headers, libraries and CMake packages only from the MinGW sysroot and that folder; programs
# (code generators, openssl for the release key check) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUELVO_MINGW_TRIPLET} "${QUELVO_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees the Windows libraries' .pc files alone, never this machine's.
set(PKG_CONFIG_EXECUTABLE ${QUELVO_MINGW_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config")
set(ENV{PKG_CONFIG_LIBDIR}
  "${QUELVO_WINDOWS_DEPS}/lib/pkgconfig:/usr/${QUELVO_MINGW_TRIPLET}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# The C++ run time is linked into every executable and DLL: libgcc and libstdc++ by the driver's
# flags, winpthread whole (its symbols are then defined before the driver's own -lpthread could
# import them from libwinpthread-1.dll). A DLL does not export what it took from winpthread.
set(_quelvo_runtime "-static-libgcc -static-libstdc++"
  "-Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic")
string(JOIN " " _quelvo_runtime ${_quelvo_runtime})
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_quelvo_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--exclude-libs,libwinpthread.a ${_quelvo_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--exclude-libs,libwinpthread.a ${_quelvo_runtime}")
unset(_quelvo_runtime)

# ctest and gtest_discover_tests run the test executables with the 64-bit Wine loader (the
# `wine64` command is not on PATH in Debian 12).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
