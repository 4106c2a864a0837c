# Packages made by CPack from the normal build:
#   Linux:   cpack -G DEB  -> kestihistadmin_VERSION_ARCH.deb: the libraries,
#            the header, the CMake and pkg-config files, histadmin, the
#            manual pages, the docs, the example configuration, and
#            kestihistadmin.service with its /etc/default/kestihistadmin,
#            its account, state directory and maintainer scripts
#            (scripts/package);
#   Windows: cpack -G ZIP  -> kestihistadmin-VERSION-win32.zip: the DLLs,
#            histadmin.exe, the header, the .def, the MinGW import library
#            and the MSVC one (kestihistadmin.lib, made by llvm-dlltool).
set(CPACK_PACKAGE_NAME kestihistadmin)
set(CPACK_PACKAGE_VENDOR "kestihistadmin maintainers")
set(CPACK_PACKAGE_CONTACT
    "kestihistadmin maintainers <maintainers@users.noreply.c-seed-966cedd2.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "history administration library of a process historian")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  get_target_property(KHA_DEF_FILE kestihistadmin KHA_DEF_FILE)
  # The MSVC import library: made from the same .def as the DLL's exports.
  find_program(KHA_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 NO_CMAKE_FIND_ROOT_PATH)
  if(KHA_LLVM_DLLTOOL)
    set(KHA_MSVC_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/msvc/kestihistadmin.lib)
    add_custom_command(
      OUTPUT ${KHA_MSVC_IMPORT_LIBRARY}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/msvc
      COMMAND ${KHA_LLVM_DLLTOOL} -m i386 -d ${KHA_DEF_FILE} -D kestihistadmin.dll
              -l ${KHA_MSVC_IMPORT_LIBRARY}
      DEPENDS ${KHA_DEF_FILE}
      COMMENT "kestihistadmin.lib (MSVC import library)"
      VERBATIM)
    add_custom_target(msvc_import_library ALL DEPENDS ${KHA_MSVC_IMPORT_LIBRARY})
    install(FILES ${KHA_MSVC_IMPORT_LIBRARY} DESTINATION lib COMPONENT development)
  else()
    message(STATUS "llvm-dlltool not found: no MSVC import library (scripts/install-deps windows)")
  endif()
  install(FILES ${KHA_DEF_FILE} DESTINATION lib COMPONENT development)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

# The service: its unit and its settings. Outside the prefix, so only the
# package installs them (cmake --install leaves /etc and /lib alone).
set(KHA_INSTALLED_HISTADMIN /usr/${CMAKE_INSTALL_BINDIR}/histadmin)
configure_file(${PROJECT_SOURCE_DIR}/packaging/kestihistadmin.service.in
               ${CMAKE_BINARY_DIR}/packaging/kestihistadmin.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/kestihistadmin.service
        DESTINATION /lib/systemd/system COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestihistadmin.default
        DESTINATION /etc/default RENAME kestihistadmin COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestihistadmin.sysusers
        DESTINATION lib/sysusers.d RENAME kestihistadmin.conf
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestihistadmin.tmpfiles
        DESTINATION lib/tmpfiles.d RENAME kestihistadmin.conf
        COMPONENT service EXCLUDE_FROM_ALL)

# Debian's documentation folder: copyright, changelog, the docs.
set(_kha_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestihistadmin)
find_program(KHA_GZIP gzip)
if(KHA_GZIP)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${KHA_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
            > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
  add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${_kha_doc}
          COMPONENT service EXCLUDE_FROM_ALL)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_kha_doc}
        COMPONENT service EXCLUDE_FROM_ALL)
# The lintian tags the package's one-package layout raises on purpose.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestihistadmin.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME kestihistadmin
        COMPONENT service EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/histadmin.md
              ${PROJECT_SOURCE_DIR}/docs/region.md ${PROJECT_SOURCE_DIR}/docs/configuration-files.md
              ${PROJECT_SOURCE_DIR}/docs/reliability.md
        DESTINATION ${_kha_doc} COMPONENT runtime)
# The example configuration, to start the service's state directory from.
install(FILES ${PROJECT_SOURCE_DIR}/examples/config/config.dat
              ${PROJECT_SOURCE_DIR}/examples/config/tune.dat
              ${PROJECT_SOURCE_DIR}/examples/config/running.dat
              ${PROJECT_SOURCE_DIR}/examples/config/shares.dat
        DESTINATION ${_kha_doc}/examples/config COMPONENT service EXCLUDE_FROM_ALL)

file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "/etc/default/kestihistadmin\n")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL runtime development service)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "The library keeps one machine-wide table of history repositories and their\n"
  "archive file sets in a named shared-memory region, with a cross-process\n"
  "mutex. The package holds the library and its development files, the\n"
  "stand-in historian configuration libraries, the histadmin tool and the\n"
  "kestihistadmin.service unit that keeps the region alive.")
# The maintainer scripts do for the unit what dh_installsystemd's do
# (deb-systemd-helper, deb-systemd-invoke).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles
                                       ${CMAKE_BINARY_DIR}/packaging/triggers
                                       ${PROJECT_SOURCE_DIR}/packaging/postinst
                                       ${PROJECT_SOURCE_DIR}/packaging/prerm
                                       ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
