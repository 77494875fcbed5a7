# The part of the MinGW-w64 cross builds both toolchain files share; they set
# CMAKE_SYSTEM_PROCESSOR and KELVANE_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)
find_program(CMAKE_C_COMPILER NAMES ${KELVANE_MINGW_PREFIX}-gcc-posix ${KELVANE_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KELVANE_MINGW_PREFIX}-g++-posix ${KELVANE_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KELVANE_MINGW_PREFIX}-windres)
find_program(KELVANE_MINGW_OBJDUMP NAMES ${KELVANE_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs run under wine when CMake or ctest needs to start one (64-bit ones under the
# distribution's wine64 loader, which is not on the PATH).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
  find_program(KELVANE_WINE NAMES wine64 PATHS /usr/lib/wine)
else()
  find_program(KELVANE_WINE NAMES wine)
endif()
if(KELVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVANE_WINE})
endif()
