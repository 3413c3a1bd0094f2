# Cross build for 32-bit Windows with Debian's mingw-w64 (see mingw-x86_64.cmake). Built to keep
# the sources honest about the 32-bit ABI (stdcall callbacks, pointer sizes); not run in CI.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PACKMETER_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
