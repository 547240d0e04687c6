# The plug-in helpers, the same on both platforms: suite_module and
# suite_export_map come from SuiteModules.cmake or SuiteModulesWin32.cmake.

# suite_reader_plugin(<name> [PAGES] SOURCES ...): <name>.DIL on the reader frame.
function(suite_reader_plugin name)
  cmake_parse_arguments(ARG "PAGES" "" "SOURCES" ${ARGN})
  suite_module(${name} FILE_NAME ${name}.DIL SOURCES ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE reader_frame)
  suite_export_map(${name} ${CMAKE_SOURCE_DIR}/plugins/shared/src/reader/reader_exports.map)
  if(ARG_PAGES)
    target_link_libraries(${name} PRIVATE reader_frame_pages)
  endif()
  set_property(GLOBAL APPEND PROPERTY SUITE_READERS ${name})
endfunction()

# suite_writer_plugin(<name> SOURCES ...): <name>.DEL on the writer frame.
function(suite_writer_plugin name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  suite_module(${name} FILE_NAME ${name}.DEL SOURCES ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE writer_frame)
  suite_export_map(${name} ${CMAKE_SOURCE_DIR}/plugins/shared/src/writer/writer_exports.map)
  set_property(GLOBAL APPEND PROPERTY SUITE_WRITERS ${name})
endfunction()
