# What both Windows targets share: Debian's mingw-w64 -posix compilers
# (std::thread needs winpthreads) for CMAKE_SYSTEM_PROCESSOR, set by the includer.
set(CMAKE_SYSTEM_NAME Windows)
set(KORVANE_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_TRIPLET}-windres)
# The target's libraries and headers only; programs (windres, perl) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
