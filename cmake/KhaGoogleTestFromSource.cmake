# GoogleTest for cross builds: the distribution's libgtest is built for the
# host only, so the tests of a cross build compile GoogleTest from the
# sources that the distribution ships, with this build's compiler. The
# targets are the same as find_package(GTest) gives: GTest::gtest,
# GTest::gtest_main, GTest::gmock, GTest::gmock_main.
set(KHA_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${KHA_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${KHA_GOOGLETEST_SOURCE_DIR} "
                      "(the Debian package googletest installs them)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KHA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
