# Cross-compiles for 32-bit Windows with mingw-w64 (i686, POSIX thread model so that the
# C++ threading headers work), linking the runtime and zlib statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)

find_program(MINGW_CXX ${TOOLCHAIN_PREFIX}-g++-posix)
find_program(MINGW_CC ${TOOLCHAIN_PREFIX}-gcc-posix)
find_program(MINGW_RC ${TOOLCHAIN_PREFIX}-windres)
if(NOT MINGW_CXX OR NOT MINGW_CC)
  message(FATAL_ERROR "The mingw-w64 cross compiler ${TOOLCHAIN_PREFIX}-g++-posix is missing "
                      "(Debian: apt-get install g++-mingw-w64-i686)")
endif()
if(NOT MINGW_RC)
  message(FATAL_ERROR "The resource compiler ${TOOLCHAIN_PREFIX}-windres is missing "
                      "(Debian: apt-get install binutils-mingw-w64-i686)")
endif()
if(NOT EXISTS /usr/${TOOLCHAIN_PREFIX}/lib/libz.a)
  message(FATAL_ERROR "zlib for mingw-w64 is missing (Debian: apt-get install libz-mingw-w64-dev)")
endif()

set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_RC_COMPILER ${MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib statically, never its DLL.
set(ZLIB_LIBRARY /usr/${TOOLCHAIN_PREFIX}/lib/libz.a CACHE FILEPATH "" FORCE)
set(ZLIB_INCLUDE_DIR /usr/${TOOLCHAIN_PREFIX}/include CACHE PATH "" FORCE)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests of this build run under Wine when it is installed.
find_program(WINE_EXECUTABLE wine)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()
