# Cross build for 64-bit Windows with Debian's mingw-w64. The -posix compilers carry the
# winpthreads threading model that std::thread needs; everything is linked statically so the
# programs need no MinGW DLLs beside them. Tests run under Wine through ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PACKMETER_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
