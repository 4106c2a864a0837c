# kha_library_objects(TARGET): the object library TARGET is compiled as
# every source of the library is: position-independent, its names hidden,
# with the library's include paths, definitions and warnings.
function(kha_library_objects target)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_compile_definitions(${target} PRIVATE KESTIHISTADMIN_BUILDING)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  kha_set_warnings(${target})
  kha_lto_objects(${target})
endfunction()
