# Shared part of the MinGW-w64 cross toolchains. The includer sets
# KHA_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32).
#
# - The posix thread model: the library uses std::mutex, which the win32
#   model of this compiler generation lacks.
# - Everything from the compiler's runtimes (libgcc, libstdc++,
#   winpthread) is linked statically, so the DLLs and programs need only
#   Windows' own DLLs.
# - Programs run under Wine, in a prefix of the build directory's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KHA_MINGW_PROCESSOR})

set(CMAKE_C_COMPILER ${KHA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KHA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KHA_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KHA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_kha_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kha_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kha_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kha_static_runtime}")

# Wine runs every test program: a wrapper gives it a prefix inside the
# build directory and silences its debug channels.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run;${CMAKE_BINARY_DIR}/wineprefix)
