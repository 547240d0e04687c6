# Helpers that build modules on the platform layer under their fixed file names.

# suite_module(<target> FILE_NAME <name> [SHARED] SOURCES ...)
# A module loaded at run time by its file name (plug-ins, ferrox, stand-ins).
function(suite_module target)
  cmake_parse_arguments(ARG "SHARED" "FILE_NAME" "SOURCES" ${ARGN})
  if(ARG_SHARED)
    add_library(${target} SHARED ${ARG_SOURCES})
  else()
    add_library(${target} MODULE ${ARG_SOURCES})
  endif()
  get_filename_component(stem ${ARG_FILE_NAME} NAME_WLE)
  get_filename_component(ext ${ARG_FILE_NAME} LAST_EXT)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${stem} SUFFIX ${ext})
  target_link_libraries(${target} PRIVATE winport)
  # A module's calls to its own functions stay inside it, whatever else is loaded.
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic)
  if(NOT SUITE_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,-z,defs)
  endif()
endfunction()

# Only the entry points and the module descriptor are dynamic symbols: the
# export table names the exact set, and tests compare the built module with it.
function(suite_export_map target map)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()

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
