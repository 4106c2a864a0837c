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

# Header-only libraries of the build host serve the cross build as well,
# but /usr/include as a whole must never reach the cross compiler (the
# host's C library headers would shadow MinGW's). So each of them is seen
# through a root of its own that holds nothing else: links to its headers
# and to its CMake package files.
set(_kha_header_only
  include/toml++ include/CLI include/nlohmann include/dtl
  share/cmake/CLI11 share/cmake/nlohmann_json)
get_property(_kha_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _kha_in_try_compile)
  set(_kha_header_root ${CMAKE_BINARY_DIR}/header-only-root)
  foreach(_kha_path IN LISTS _kha_header_only)
    if(EXISTS /usr/${_kha_path} AND NOT EXISTS ${_kha_header_root}/usr/${_kha_path})
      get_filename_component(_kha_parent ${_kha_header_root}/usr/${_kha_path} DIRECTORY)
      file(MAKE_DIRECTORY ${_kha_parent})
      file(CREATE_LINK /usr/${_kha_path} ${_kha_header_root}/usr/${_kha_path} SYMBOLIC)
    endif()
  endforeach()
  list(APPEND CMAKE_FIND_ROOT_PATH ${_kha_header_root})
endif()
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
