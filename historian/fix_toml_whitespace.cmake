# toml++ 3.3's is_non_ascii_horizontal_whitespace() reaches
# TOML_UNREACHABLE (undefined behaviour: __builtin_unreachable) for most
# code points from U+00A1 to U+0499, U+2BAE to U+2FA7 and U+FEC6 to
# U+FEFE, which a hand-edited file can put where the parser looks for
# whitespace. Its switch has no case for three of the ranges it lets
# through; the copy of the headers we compile gets "default: return false"
# there, which is the function's answer for every such code point. A
# toml++ whose function no longer has that default is left as it is.
#
# kha_fix_toml_whitespace(SOURCE DESTINATION): writes SOURCE, fixed, to
# DESTINATION (only when that changes DESTINATION, to spare rebuilds).
function(kha_fix_toml_whitespace source destination)
  file(READ ${source} text)
  string(FIND "${text}" "is_non_ascii_horizontal_whitespace(char32_t c)" function_at)
  if(function_at EQUAL -1)
    kha_write_if_changed(${destination} "${text}")
    return()
  endif()
  string(SUBSTRING "${text}" ${function_at} -1 function_text)
  string(FIND "${function_text}" "default: TOML_UNREACHABLE;" default_at)
  string(FIND "${function_text}" "constexpr bool" next_function_at)
  if(default_at EQUAL -1 OR (NOT next_function_at EQUAL -1 AND next_function_at LESS default_at))
    kha_write_if_changed(${destination} "${text}")
    return()
  endif()
  math(EXPR cut_at "${function_at} + ${default_at}")
  math(EXPR rest_at "${cut_at} + 26")  # the length of "default: TOML_UNREACHABLE;"
  string(SUBSTRING "${text}" 0 ${cut_at} head)
  string(SUBSTRING "${text}" ${rest_at} -1 tail)
  kha_write_if_changed(${destination} "${head}default: return false;${tail}")
endfunction()

function(kha_write_if_changed file text)
  if(EXISTS ${file})
    file(READ ${file} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE ${file} "${text}")
endfunction()
