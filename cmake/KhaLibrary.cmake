# libkestihistadmin (shared, exports exactly the interface's names) and
# kestihistadmin_static (the same objects, for tests that reach inside).

set(KHA_VERSION_SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/kestihistadmin.map)
list(JOIN KHA_EXPORTED_NAMES ";\n    " _kha_names)
file(WRITE ${KHA_VERSION_SCRIPT}.in "KESTIHISTADMIN_1 {\n  global:\n    ${_kha_names};\n  local: *;\n};\n")
configure_file(${KHA_VERSION_SCRIPT}.in ${KHA_VERSION_SCRIPT} COPYONLY)

set(KHA_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/kestihistadmin.def)
list(JOIN KHA_EXPORTED_NAMES "\n  " _kha_def_names)
file(WRITE ${KHA_DEF_FILE}.in "LIBRARY kestihistadmin\nEXPORTS\n  ${_kha_def_names}\n")
configure_file(${KHA_DEF_FILE}.in ${KHA_DEF_FILE} COPYONLY)

add_library(kestihistadmin SHARED $<TARGET_OBJECTS:kha_core>)
add_library(kestihistadmin::kestihistadmin ALIAS kestihistadmin)
target_include_directories(kestihistadmin PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
if(TARGET marnuser AND TARGET drell)
  target_link_libraries(kestihistadmin PRIVATE marnuser drell)
endif()
set_target_properties(kestihistadmin PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
if(WIN32)
  # The core calls marnuser and drell by their plain names, not through
  # dllimport: the same objects link against the two DLLs' import
  # libraries (here) and against static stand-ins (the tests).
  target_compile_definitions(kha_core PRIVATE MARNUSER_STATIC DRELL_STATIC)
  target_sources(kestihistadmin PRIVATE ${KHA_DEF_FILE})
  set_target_properties(kestihistadmin PROPERTIES PREFIX "" SOVERSION "" VERSION "")
else()
  target_link_options(kestihistadmin PRIVATE "LINKER:--version-script=${KHA_VERSION_SCRIPT}"
    "LINKER:--no-undefined")
  set_property(TARGET kestihistadmin APPEND PROPERTY LINK_DEPENDS ${KHA_VERSION_SCRIPT})
  find_package(Threads REQUIRED)
  target_link_libraries(kestihistadmin PRIVATE Threads::Threads)
endif()
target_link_libraries(kestihistadmin PRIVATE $<TARGET_PROPERTY:kha_core,INTERFACE_LINK_LIBRARIES>)

add_library(kestihistadmin_static STATIC $<TARGET_OBJECTS:kha_core>)
target_include_directories(kestihistadmin_static PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(kestihistadmin_static PUBLIC KESTIHISTADMIN_STATIC)
target_link_libraries(kestihistadmin_static PUBLIC $<TARGET_PROPERTY:kha_core,INTERFACE_LINK_LIBRARIES>)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(kestihistadmin_static PUBLIC Threads::Threads)
endif()
