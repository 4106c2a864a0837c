# histadmin(1) from the tool's own --help (help2man, with the commands'
# help and docs/man/histadmin.h2m), kestihistadmin(3) from the public
# header (tools/manpage); the build fails when that page lacks a result
# code, status value or update mode of the header (KhaManPageCheck.cmake).
# Both are rebuilt whenever their source changes and installed gzipped, as
# Debian keeps manual pages.
if(CMAKE_CROSSCOMPILING OR NOT TARGET histadmin)
  return()
endif()
find_program(KHA_HELP2MAN help2man)
find_program(KHA_GZIP gzip)
if(NOT KHA_HELP2MAN OR NOT KHA_GZIP)
  message(STATUS "help2man or gzip not found: no manual pages (scripts/install-deps package)")
  return()
endif()

set(_kha_man ${CMAKE_BINARY_DIR}/man)
add_custom_command(
  OUTPUT ${_kha_man}/histadmin.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_kha_man}
  COMMAND ${CMAKE_COMMAND} -DHISTADMIN=$<TARGET_FILE:histadmin>
          -DOUTPUT=${_kha_man}/histadmin-commands.h2m
          -P ${PROJECT_SOURCE_DIR}/cmake/KhaHistadminCommands.cmake
  COMMAND ${KHA_HELP2MAN} --no-info --no-discard-stderr --section=1
          --version-string=${PROJECT_VERSION} --source=kestihistadmin
          --manual="kestihistadmin manual"
          --include=${PROJECT_SOURCE_DIR}/docs/man/histadmin.h2m
          --include=${_kha_man}/histadmin-commands.h2m
          --output=${_kha_man}/histadmin.1 $<TARGET_FILE:histadmin>
  COMMAND ${KHA_GZIP} -9nf ${_kha_man}/histadmin.1
  DEPENDS histadmin ${PROJECT_SOURCE_DIR}/docs/man/histadmin.h2m
          ${PROJECT_SOURCE_DIR}/cmake/KhaHistadminCommands.cmake
  COMMENT "histadmin(1)"
  VERBATIM)
add_custom_command(
  OUTPUT ${_kha_man}/kestihistadmin.3.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_kha_man}
  COMMAND kha_header_manpage ${PROJECT_SOURCE_DIR}/include/kestihistadmin.h ${PROJECT_VERSION}
          ${_kha_man}/kestihistadmin.3
  COMMAND ${CMAKE_COMMAND} -DHEADER=${PROJECT_SOURCE_DIR}/include/kestihistadmin.h
          -DPAGE=${_kha_man}/kestihistadmin.3 -P ${PROJECT_SOURCE_DIR}/cmake/KhaManPageCheck.cmake
  COMMAND ${KHA_GZIP} -9nf ${_kha_man}/kestihistadmin.3
  DEPENDS kha_header_manpage ${PROJECT_SOURCE_DIR}/include/kestihistadmin.h
          ${PROJECT_SOURCE_DIR}/cmake/KhaManPageCheck.cmake
  COMMENT "kestihistadmin(3)"
  VERBATIM)
add_custom_target(man_pages ALL DEPENDS ${_kha_man}/histadmin.1.gz ${_kha_man}/kestihistadmin.3.gz)
install(FILES ${_kha_man}/histadmin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT runtime)
install(FILES ${_kha_man}/kestihistadmin.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
        COMPONENT development)
