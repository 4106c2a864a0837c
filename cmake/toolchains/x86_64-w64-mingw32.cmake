# 64-bit Windows, cross-built with MinGW-w64.
set(KHA_MINGW_TRIPLE x86_64-w64-mingw32)
set(KHA_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
