# Checks a Windows image built by the cross build, from its headers as
# objdump shows them:
#   cmake -DOBJDUMP=... -DIMAGE=... -DFORMAT=pei-i386
#         [-DEXPORTS_FILE=names.exports] [-DOWN_DLLS=a.dll,b.dll]
#         -P check_pe_image.cmake
# - FORMAT: the image's file format (pei-i386 for 32-bit, pei-x86-64).
# - EXPORTS_FILE: the image exports exactly these names, one a line,
#   undecorated (no leading underscore, no @n suffix).
# - Every imported DLL is one of Windows' own or one of OWN_DLLS: the
#   compiler's runtimes must be linked in, not needed beside the image.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump could not read ${IMAGE}")
endif()

set(failures "")

if(NOT dump MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]*" found "${dump}")
  list(APPEND failures "expected file format ${FORMAT}, found '${found}'")
endif()

if(DEFINED EXPORTS_FILE)
  file(STRINGS ${EXPORTS_FILE} wanted REGEX "[^ \t]")
  list(SORT wanted)
  set(exported "")
  if(dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[[ 0-9]+\\] [^\n]*\n)*)")
    # One "[ ordinal] name" line per export; brackets must not reach a list.
    string(REGEX REPLACE "[ \t]+\\[[ 0-9]+\\] ([^\n]*)\n" "\\1;" exported "${CMAKE_MATCH_1}")
    list(REMOVE_ITEM exported "")
  endif()
  list(SORT exported)
  if(NOT exported STREQUAL wanted)
    set(missing ${wanted})
    list(REMOVE_ITEM missing ${exported})
    set(extra ${exported})
    list(REMOVE_ITEM extra ${wanted})
    list(LENGTH exported count)
    list(JOIN missing ", " missing)
    list(JOIN extra ", " extra)
    list(APPEND failures "export table has ${count} names (missing: ${missing}) (unexpected: ${extra})")
  endif()
endif()

set(windows_dlls kernel32.dll advapi32.dll msvcrt.dll ntdll.dll user32.dll)
string(TOLOWER "${OWN_DLLS}" own)
string(REPLACE "," ";" own "${own}")
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(SUBSTRING "${line}" 10 -1 dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST windows_dlls AND NOT dll IN_LIST own AND NOT dll MATCHES "^api-ms-win-")
    list(APPEND failures "imports ${dll}, which is not part of Windows")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${IMAGE}:\n  ${text}")
endif()
message(STATUS "${IMAGE}: ${FORMAT}, exports and imports as expected")
