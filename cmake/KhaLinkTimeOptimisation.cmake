# Link-time optimisation of the library (GCC, optimised builds, no
# sanitizer, not Windows). The lock, the accessors and the backend are a
# few instructions each, spread over files and behind the platform
# interface; inlined across them, an exported call costs little more than
# its own work (lock + unlock: about half). The objects are fat, with
# machine code beside the compiler's own form: the test programs that link
# the static library link them as before, without the optimiser's pass.
set(KHA_LTO OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32 AND NOT KHA_SANITIZE)
  set(KHA_LTO ON)
endif()
set(_kha_lto_configs "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")

# kha_lto_objects(TARGET): the object library TARGET is compiled for it.
function(kha_lto_objects target)
  if(KHA_LTO)
    target_compile_options(${target} PRIVATE
      "$<${_kha_lto_configs}:-flto=auto;-ffat-lto-objects>")
  endif()
endfunction()

# kha_lto_link(TARGET): TARGET is linked with it.
function(kha_lto_link target)
  if(KHA_LTO)
    target_link_options(${target} PRIVATE "$<${_kha_lto_configs}:-flto=auto>")
  endif()
endfunction()
