# Shared part of the MinGW toolchain files; PACKMETER_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${PACKMETER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PACKMETER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PACKMETER_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PACKMETER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest (and gtest_discover_tests) put this in front of every test program.
find_program(PACKMETER_WINE wine)
if(PACKMETER_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PACKMETER_WINE})
endif()
