# Cross-compiles for Windows with mingw-w64 (POSIX thread model so that the C++ threading
# headers work), linking the runtime, zlib and libgcrypt statically. AMBREL_WINDOWS_ARCH picks the
# machine: i686 (the default, what ships) or x86_64 (for testing on hosts that cannot run
# 32-bit code). Tests run under the matching Wine loader, which becomes the project's
# CMAKE_CROSSCOMPILING_EMULATOR.
set(AMBREL_WINDOWS_ARCH i686 CACHE STRING "Windows machine to build for: i686 or x86_64")
if(NOT AMBREL_WINDOWS_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "AMBREL_WINDOWS_ARCH must be i686 or x86_64, not '${AMBREL_WINDOWS_ARCH}'")
endif()
# The compiler checks run in sub-projects that must see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AMBREL_WINDOWS_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${AMBREL_WINDOWS_ARCH})
set(TOOLCHAIN_PREFIX ${AMBREL_WINDOWS_ARCH}-w64-mingw32)
if(AMBREL_WINDOWS_ARCH STREQUAL "i686")
  set(MINGW_PACKAGE g++-mingw-w64-i686)
else()
  set(MINGW_PACKAGE g++-mingw-w64-x86-64)
endif()

find_program(MINGW_CXX ${TOOLCHAIN_PREFIX}-g++-posix)
find_program(MINGW_CC ${TOOLCHAIN_PREFIX}-gcc-posix)
find_program(MINGW_RC ${TOOLCHAIN_PREFIX}-windres)
if(NOT MINGW_CXX OR NOT MINGW_CC)
  message(FATAL_ERROR "The mingw-w64 cross compiler ${TOOLCHAIN_PREFIX}-g++-posix is missing "
                      "(Debian: apt-get install ${MINGW_PACKAGE})")
endif()
if(NOT MINGW_RC)
  message(FATAL_ERROR "The resource compiler ${TOOLCHAIN_PREFIX}-windres is missing "
                      "(Debian: apt-get install ${MINGW_PACKAGE})")
endif()
if(NOT EXISTS /usr/${TOOLCHAIN_PREFIX}/lib/libz.a)
  message(FATAL_ERROR "zlib for mingw-w64 is missing (Debian: apt-get install libz-mingw-w64-dev)")
endif()
if(NOT EXISTS /usr/${TOOLCHAIN_PREFIX}/lib/libgcrypt.a OR NOT EXISTS /usr/${TOOLCHAIN_PREFIX}/lib/libgpg-error.a)
  message(FATAL_ERROR "libgcrypt for mingw-w64 is missing (Debian: apt-get install libgcrypt-mingw-w64-dev)")
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
# libgcrypt and libgpg-error statically too, never their DLLs.
set(GCRYPT_LIBRARY /usr/${TOOLCHAIN_PREFIX}/lib/libgcrypt.a CACHE FILEPATH "" FORCE)
set(GPG_ERROR_LIBRARY /usr/${TOOLCHAIN_PREFIX}/lib/libgpg-error.a CACHE FILEPATH "" FORCE)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests of this build run under Wine when it is installed: the 32-bit build through the
# `wine` wrapper, the 64-bit build through the 64-bit loader itself (the wrapper prefers the
# 32-bit loader, which some hosts cannot execute).
if(AMBREL_WINDOWS_ARCH STREQUAL "i686")
  find_program(WINE_EXECUTABLE wine)
else()
  find_program(WINE_EXECUTABLE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()
