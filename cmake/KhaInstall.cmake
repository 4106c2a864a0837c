# Installation: the library and its header, the historian's two stand-in
# libraries with theirs, histadmin, a CMake package
# (find_package(kestihistadmin) -> kestihistadmin::kestihistadmin) and a
# pkg-config file (kestihistadmin.pc).
include(CMakePackageConfigHelpers)

set(KHA_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestihistadmin)

# Installed programs and libraries find the libraries beside them, wherever
# the prefix is.
if(NOT WIN32)
  file(RELATIVE_PATH _kha_bin_to_lib ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(kestihistadmin PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET histadmin)
    set_target_properties(histadmin PROPERTIES INSTALL_RPATH "$ORIGIN/${_kha_bin_to_lib}")
  endif()
endif()

set(_kha_installed_targets kestihistadmin)
if(TARGET marnuser AND TARGET drell)
  list(APPEND _kha_installed_targets marnuser drell marnuser_headers drell_headers)
  install(FILES ${PROJECT_SOURCE_DIR}/historian/marnuser.h ${PROJECT_SOURCE_DIR}/historian/drell.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
endif()

install(TARGETS ${_kha_installed_targets}
  EXPORT kestihistadminTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kestihistadmin.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

if(TARGET histadmin)
  install(TARGETS histadmin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

install(EXPORT kestihistadminTargets
  NAMESPACE kestihistadmin::
  DESTINATION ${KHA_CMAKE_PACKAGE_DIR}
  COMPONENT development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/templates/kestihistadminConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kestihistadminConfig.cmake
  INSTALL_DESTINATION ${KHA_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/kestihistadminConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestihistadminConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/kestihistadminConfigVersion.cmake
        DESTINATION ${KHA_CMAKE_PACKAGE_DIR} COMPONENT development)

# pkg-config: paths relative to the .pc file, so that a staged or moved
# installation still works.
file(RELATIVE_PATH _kha_pc_to_prefix ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" _kha_pc_to_prefix "${_kha_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/templates/kestihistadmin.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/kestihistadmin.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestihistadmin.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
