# Installs the build into a staging prefix, checks what is there, builds
# examples/c-client against it with find_package and with pkg-config, and
# runs both and the installed histadmin.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=...
#         [-DHISTORIAN=ON] [-DC_COMPILER=...] [-DSANITIZE=...] -P installed_package_test.cmake
# With -DPACKAGE_ROOT=DIR (a Debian package unpacked there by dpkg-deb -x)
# and -DLIBDIR=lib/ARCH the same checks run on the package's /usr instead,
# together with its man pages, its unit and its settings file.
if(DEFINED PACKAGE_ROOT)
  set(BUILD_DIR unused)
endif()
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR GENERATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_in text needle)
  string(FIND "${text}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected '${needle}' in:\n${text}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
include(GNUInstallDirs)
if(DEFINED PACKAGE_ROOT)
  set(prefix ${PACKAGE_ROOT}/usr)
  set(CMAKE_INSTALL_LIBDIR ${LIBDIR})
  foreach(file
      usr/${LIBDIR}/libkestihistadmin.so.0 usr/share/man/man1/histadmin.1.gz
      usr/share/man/man3/kestihistadmin.3.gz usr/share/doc/kestihistadmin/copyright
      lib/systemd/system/kestihistadmin.service etc/default/kestihistadmin)
    if(NOT EXISTS ${PACKAGE_ROOT}/${file})
      message(FATAL_ERROR "not in the package: ${file}")
    endif()
  endforeach()
  file(READ ${PACKAGE_ROOT}/lib/systemd/system/kestihistadmin.service unit)
  expect_in("${unit}" "Type=notify")
  expect_in("${unit}" "ExecStart=/usr/bin/histadmin serve")
  file(READ_SYMLINK ${PACKAGE_ROOT}/usr/${LIBDIR}/libkestihistadmin.so.0 soname_target)
  expect_in("${soname_target}" "libkestihistadmin.so.0.1.0")
else()
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()
set(historian_files "")
if(HISTORIAN)
  set(historian_files include/marnuser.h include/drell.h ${CMAKE_INSTALL_LIBDIR}/libmarnuser.so
      ${CMAKE_INSTALL_LIBDIR}/libdrell.so)
endif()
foreach(file
    include/kestihistadmin.h ${CMAKE_INSTALL_LIBDIR}/libkestihistadmin.so bin/histadmin
    ${historian_files}
    ${CMAKE_INSTALL_LIBDIR}/cmake/kestihistadmin/kestihistadminConfig.cmake
    ${CMAKE_INSTALL_LIBDIR}/cmake/kestihistadmin/kestihistadminConfigVersion.cmake
    ${CMAKE_INSTALL_LIBDIR}/pkgconfig/kestihistadmin.pc)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed tool finds its libraries from wherever the prefix is.
run(${prefix}/bin/histadmin error -2004)
expect_in("${run_output}" "The HISTADMIN shared memory has not been mapped.")

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()
set(compiler_args "")
if(C_COMPILER)
  set(compiler_args -DCMAKE_C_COMPILER=${C_COMPILER})
endif()

# find_package(kestihistadmin)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/c-client -B ${WORK_DIR}/client -G ${GENERATOR}
    ${compiler_args} -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_C_FLAGS=${flags}"
    "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)
# The installed library uses the fixed kernel-object names (only the test
# build puts a prefix in front of them): the client sets up and detaches
# the machine's own region, which nothing else may be using meanwhile.
run(${WORK_DIR}/client/c-client)
expect_in("${run_output}" "repository 'example' in slot 1, number 1")
expect_in("${run_output}" "file set 2 in slot 2: /var/lib/history/example/fs2")
expect_in("${run_output}" "the same path again: refused")
expect_in("${run_output}" "Repository Name = *example*")
expect_in("${run_output}" "FileSetNumber = 2")

# pkg-config
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs kestihistadmin)
  string(STRIP "${run_output}" pc_flags)
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  expect_in("${pc_flags}" "-lkestihistadmin")
  set(cc cc)
  if(C_COMPILER)
    set(cc ${C_COMPILER})
  endif()
  run(${cc} ${flags} ${SOURCE_DIR}/examples/c-client/main.c -o ${WORK_DIR}/c-client-pc ${pc_flags}
      -Wl,-rpath,${prefix}/${CMAKE_INSTALL_LIBDIR})
  run(${WORK_DIR}/c-client-pc)
  expect_in("${run_output}" "the same path again: refused")
endif()
