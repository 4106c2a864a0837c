# Checks kestihistadmin(3) against the header it was written from: every
# result code, status value and update mode of the header's enums must
# have its entry in the page, or the page is incomplete (a change of the
# header's layout once left the page without a single code, and nothing
# noticed).
#   cmake -DHEADER=include/kestihistadmin.h -DPAGE=kestihistadmin.3 -P KhaManPageCheck.cmake
file(STRINGS ${HEADER} _header_lines REGEX "^[ \t]*KHA_[A-Z0-9_]+[ \t]*=[ \t]*-?[0-9]+")
file(READ ${PAGE} _page)
set(_constants 0)
set(_codes 0)
set(_missing "")
foreach(_line IN LISTS _header_lines)
  string(REGEX MATCH "(KHA_[A-Z0-9_]+)[ \t]*=[ \t]*(-?[0-9]+)" _ "${_line}")
  set(_name ${CMAKE_MATCH_1})
  set(_value ${CMAKE_MATCH_2})
  math(EXPR _constants "${_constants} + 1")
  if(_value LESS 0)
    math(EXPR _codes "${_codes} + 1")
  endif()
  # troff writes a minus sign as \-.
  string(REPLACE "-" "\\-" _shown "${_value}")
  string(FIND "${_page}" ".B ${_shown} ${_name}\n" _at)
  if(_at EQUAL -1)
    list(APPEND _missing "${_value} ${_name}")
  endif()
endforeach()
if(_codes EQUAL 0)
  message(FATAL_ERROR "${HEADER}: no result codes found: is it the library's header?")
endif()
if(_missing)
  list(LENGTH _missing _count)
  list(JOIN _missing "\n  " _list)
  message(FATAL_ERROR
    "${PAGE} lacks ${_count} of the header's ${_constants} constants:\n  ${_list}")
endif()
