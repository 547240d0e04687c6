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

include(SuitePlugins)
