# Cross build for 64-bit Windows (Debian: g++-mingw-w64-x86-64-posix): the same sources
# as the 32-bit build, for running the test programs under wine64 on machines that
# cannot run 32-bit programs (tools/test-windows.sh).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KELVANE_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
