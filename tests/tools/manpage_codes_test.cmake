# kestihistadmin(3) as the build writes it: every result code, status
# value and update mode of the header, and the function groups; and the
# check the build runs on the page fails a page that lacks one code.
#   cmake -DWRITER=kha_header_manpage -DHEADER=... -DCHECK=KhaManPageCheck.cmake
#         -DWORK_DIR=... -P manpage_codes_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(_page ${WORK_DIR}/kestihistadmin.3)
execute_process(COMMAND ${WRITER} ${HEADER} 0 ${_page} RESULT_VARIABLE _written)
if(NOT _written EQUAL 0)
  message(FATAL_ERROR "kha_header_manpage failed: ${_written}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DHEADER=${HEADER} -DPAGE=${_page} -P ${CHECK}
                RESULT_VARIABLE _checked ERROR_VARIABLE _said)
if(NOT _checked EQUAL 0)
  message(FATAL_ERROR "the page lacks constants of the header:\n${_said}")
endif()

file(READ ${_page} _text)
foreach(_group "Region lifecycle and locking" "Repository table" "File\\-set table" "Diagnostics")
  string(FIND "${_text}" ".SS ${_group}\n" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "the page has no function group '${_group}'")
  endif()
endforeach()
string(FIND "${_text}" ".B \\-2031 KHA_WRITE_CONFIG_FAILED\nFailed to save" _at)
if(_at EQUAL -1)
  message(FATAL_ERROR "the page gives -2031 without its message")
endif()

string(REPLACE ".B \\-2031 KHA_WRITE_CONFIG_FAILED\n" "" _short "${_text}")
file(WRITE ${WORK_DIR}/short.3 "${_short}")
execute_process(COMMAND ${CMAKE_COMMAND} -DHEADER=${HEADER} -DPAGE=${WORK_DIR}/short.3 -P ${CHECK}
                RESULT_VARIABLE _checked ERROR_VARIABLE _said)
if(_checked EQUAL 0 OR NOT _said MATCHES "lacks 1 of" OR
   NOT _said MATCHES "-2031 KHA_WRITE_CONFIG_FAILED")
  message(FATAL_ERROR "the check passed a page without -2031: ${_checked}\n${_said}")
endif()
