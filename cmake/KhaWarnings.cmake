# Warnings for the project's own targets; errors when KHA_WERROR is on (CI).
function(kha_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KHA_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wno-sign-conversion $<$<BOOL:${KHA_WERROR}>:-Werror>)
  endif()
endfunction()
