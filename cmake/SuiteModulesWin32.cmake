# The Windows forms of the module helpers of SuiteModules.cmake: the same
# calls build real DLLs. A module's export names and ordinals and its string
# table are not kept in a second list: its WINPORT_MODULE tables are turned at
# compile time into the texts of a module-definition file and a resource
# script, which cmake/ModuleTexts.cmake takes out of the module's objects just
# before the link.

# suite_module(<target> FILE_NAME <name> [SHARED] SOURCES ...)
function(suite_module target)
  cmake_parse_arguments(ARG "SHARED" "FILE_NAME" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  get_filename_component(stem ${ARG_FILE_NAME} NAME_WLE)
  get_filename_component(ext ${ARG_FILE_NAME} LAST_EXT)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${stem} SUFFIX ${ext})
  target_link_libraries(${target} PRIVATE winport)
  set(texts ${CMAKE_CURRENT_BINARY_DIR}/${target}.module)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_COMMAND} -DOBJECTS_DIR=${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir
            -DOBJCOPY=${CMAKE_OBJCOPY} -DRC_COMPILER=${CMAKE_RC_COMPILER}
            -DC_COMPILER=${CMAKE_C_COMPILER} -DOUTPUT=${texts} -DFILE_NAME=${ARG_FILE_NAME}
            -P ${CMAKE_SOURCE_DIR}/cmake/ModuleTexts.cmake
    VERBATIM)
  # The exports are __stdcall functions under their plain names (the .def
  # names them undecorated); asking for the fix-up by name keeps the link quiet.
  target_link_options(${target} PRIVATE ${texts}.def ${texts}.res.o -Wl,--enable-stdcall-fixup
                      -Wl,--no-undefined)
endfunction()

# The export list is the generated .def; nothing else is exported from a DLL.
function(suite_export_map target map)
endfunction()

include(SuitePlugins)
