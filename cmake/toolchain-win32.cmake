# Cross build of the 32-bit Windows program with MinGW-w64 (posix thread model).
# These machines cannot execute 32-bit code: this build is compiled and linked, never run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NOTELIA_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
