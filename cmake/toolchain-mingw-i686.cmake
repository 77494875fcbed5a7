# Cross build for 32-bit Windows with the distribution's MinGW-w64 (Debian:
# g++-mingw-w64-i686-posix, the variant with POSIX threads that std::thread needs).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KELVANE_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
