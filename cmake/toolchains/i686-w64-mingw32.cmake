# 32-bit Windows (the library's own word size), cross-built with MinGW-w64.
set(KHA_MINGW_TRIPLE i686-w64-mingw32)
set(KHA_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
