# Cross-building the engine and the headless tools for Windows (i686) with
# Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
