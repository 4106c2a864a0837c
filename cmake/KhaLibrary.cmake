# libkestihistadmin (shared, exports exactly the interface's names) and
# kestihistadmin_static (the same objects, for tests that reach inside).

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
  set_target_properties(kestihistadmin PROPERTIES PREFIX "" SOVERSION "" VERSION "")
else()
  find_package(Threads REQUIRED)
  target_link_libraries(kestihistadmin PRIVATE Threads::Threads)
endif()
target_link_libraries(kestihistadmin PRIVATE $<TARGET_PROPERTY:kha_core,INTERFACE_LINK_LIBRARIES>)
kha_export_only(kestihistadmin ${KHA_EXPORTS_FILE} VERSION_NODE KESTIHISTADMIN_1)

add_library(kestihistadmin_static STATIC $<TARGET_OBJECTS:kha_core>)
target_include_directories(kestihistadmin_static PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(kestihistadmin_static PUBLIC KESTIHISTADMIN_STATIC)
target_link_libraries(kestihistadmin_static PUBLIC $<TARGET_PROPERTY:kha_core,INTERFACE_LINK_LIBRARIES>)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(kestihistadmin_static PUBLIC Threads::Threads)
endif()
