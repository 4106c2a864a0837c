# The library, from the objects of kha_core and one set of kernel-object
# names:
# - libkestihistadmin (shared, shipped): the fixed names; exports exactly
#   the interface's names;
# - kestihistadmin_static (static, for tests, benchmarks and the fuzzer,
#   which reach inside): the test build's names (a per-test prefix) and
#   the fault-injecting platform;
# - kestihistadmin_test (shared, with the tests): the test build as a
#   shared library with the shipped library's exports, for the programs
#   that the tests run against a shared library (the C interface test,
#   the test build of histadmin) while other tests run beside them.

# kha_shared_library(TARGET OBJECTS...): a shared library of the objects
# of the given object libraries, exporting only the interface.
function(kha_shared_library target)
  set(objects "")
  foreach(library IN LISTS ARGN)
    list(APPEND objects $<TARGET_OBJECTS:${library}>)
  endforeach()
  add_library(${target} SHARED ${objects})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  if(TARGET marnuser AND TARGET drell)
    target_link_libraries(${target} PRIVATE marnuser drell)
  endif()
  set_target_properties(${target} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "" SOVERSION "" VERSION "")
  else()
    find_package(Threads REQUIRED)
    target_link_libraries(${target} PRIVATE Threads::Threads)
  endif()
  target_link_libraries(${target} PRIVATE $<TARGET_PROPERTY:kha_core,INTERFACE_LINK_LIBRARIES>)
  kha_export_only(${target} ${KHA_EXPORTS_FILE} VERSION_NODE KESTIHISTADMIN_1)
  kha_lto_link(${target})
endfunction()

if(WIN32)
  # The core calls marnuser and drell by their plain names, not through
  # dllimport: the same objects link against the two DLLs' import
  # libraries (the shared libraries) and against static stand-ins (the
  # tests).
  target_compile_definitions(kha_core PRIVATE MARNUSER_STATIC DRELL_STATIC)
endif()

kha_shared_library(kestihistadmin kha_core kha_fixed_names)
add_library(kestihistadmin::kestihistadmin ALIAS kestihistadmin)

add_library(kestihistadmin_static STATIC
  $<TARGET_OBJECTS:kha_core> $<TARGET_OBJECTS:kha_test_platform>)
target_include_directories(kestihistadmin_static PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
target_compile_definitions(kestihistadmin_static PUBLIC KESTIHISTADMIN_STATIC)
target_link_libraries(kestihistadmin_static PUBLIC $<TARGET_PROPERTY:kha_core,INTERFACE_LINK_LIBRARIES>)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(kestihistadmin_static PUBLIC Threads::Threads)
endif()

if(KHA_BUILD_TESTS)
  kha_shared_library(kestihistadmin_test kha_core kha_test_platform)
endif()
