# The Windows kit used as an MSVC caller would: msvc_client.c compiled by
# clang-cl for i686-pc-windows-msvc, linked by lld-link against the kit's
# kestihistadmin.lib (and a kernel32.lib made here from kernel32.def), run
# under Wine beside the kit's DLLs.
#   cmake -DKIT=...zip -DSOURCE_DIR=... -DWORK_DIR=... -DEMULATOR=wine-run;PREFIX
#         -P msvc_client_test.cmake
foreach(var KIT SOURCE_DIR WORK_DIR EMULATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
find_program(CLANG NAMES clang clang-14 REQUIRED)
find_program(LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_program(DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
find_program(OBJDUMP NAMES i686-w64-mingw32-objdump objdump REQUIRED)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} -E chdir ${WORK_DIR} ${CMAKE_COMMAND} -E tar xf ${KIT})
file(GLOB kit ${WORK_DIR}/kestihistadmin-*)
foreach(file include/kestihistadmin.h lib/kestihistadmin.lib lib/kestihistadmin.def
             lib/libkestihistadmin.dll.a bin/kestihistadmin.dll bin/marnuser.dll bin/drell.dll
             bin/histadmin.exe)
  if(NOT EXISTS ${kit}/${file})
    message(FATAL_ERROR "not in the kit: ${file}")
  endif()
endforeach()

set(here ${CMAKE_CURRENT_LIST_DIR})
run(${CLANG} --driver-mode=cl --target=i686-pc-windows-msvc /nologo /c /Od /GS- /Zl /W3
    /I${kit}/include /Fo${WORK_DIR}/msvc_client.obj -- ${here}/msvc_client.c)
run(${DLLTOOL} -m i386 -d ${here}/kernel32.def -k -l ${WORK_DIR}/kernel32.lib)
run(${LLD_LINK} /nologo /NODEFAULTLIB /ENTRY:entry /SUBSYSTEM:CONSOLE /MACHINE:X86
    /OUT:${kit}/bin/msvc_client.exe ${WORK_DIR}/msvc_client.obj ${kit}/lib/kestihistadmin.lib
    ${WORK_DIR}/kernel32.lib)

# Every one of the 32 functions is imported from the DLL by its plain name.
run(${OBJDUMP} -p ${kit}/bin/msvc_client.exe)
string(REGEX MATCH "DLL Name: kestihistadmin.dll.*" imports "${run_output}")
string(REGEX REPLACE "DLL Name: [Kk][Ee][Rr][Nn][Ee][Ll]32.*" "" imports "${imports}")
file(STRINGS ${SOURCE_DIR}/include/kestihistadmin.exports names)
foreach(name IN LISTS names)
  string(REGEX MATCH "[ \t]${name}\n" hit "${imports}")
  if(NOT hit)
    message(FATAL_ERROR "msvc_client.exe does not import ${name}:\n${imports}")
  endif()
endforeach()

file(COPY ${SOURCE_DIR}/examples/config DESTINATION ${WORK_DIR})
# The kit's DLL uses the fixed kernel-object names (only the test build
# puts a prefix in front of them): the client works on the Wine prefix's
# own region, which nothing else may be using meanwhile.
set(ENV{KESTI_HISTORY_CONFIG_DIR} ${WORK_DIR}/config)
run(${EMULATOR} ${kit}/bin/msvc_client.exe)
string(FIND "${run_output}" "checks passed" at)
if(at EQUAL -1)
  message(FATAL_ERROR "msvc_client.exe:\n${run_output}")
endif()
message(STATUS "${run_output}")
