# Run just before a module's link (cmake -P): takes the module-definition and
# resource-script texts that WINPORT_MODULE compiled into one of the module's
# objects, writes OUTPUT.def and OUTPUT.rc and compiles the script into
# OUTPUT.res.o. Exactly one object of the module must carry them.
# The version text that WINPORT_MODULE_VERSION put beside them (when there
# is one) becomes the module's VERSIONINFO resource: "<description> V<a>.<b>"
# or "<a>.<b>" gives file version a.b.0.0, and the text itself is the file
# description. A module without strings or version gets an empty object in
# place of the resources.
#   -DOBJECTS_DIR=<the target's object folder> -DOBJCOPY=... -DRC_COMPILER=...
#   -DC_COMPILER=... -DOUTPUT=<stem> -DFILE_NAME=<the module's file name>
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE objects ${OBJECTS_DIR}/*.obj ${OBJECTS_DIR}/*.o)
set(found "")
foreach(object IN LISTS objects)
  file(REMOVE ${OUTPUT}.def.raw ${OUTPUT}.rc.raw)
  execute_process(COMMAND ${OBJCOPY} --dump-section .winport_def=${OUTPUT}.def.raw
                          --dump-section .winport_rc=${OUTPUT}.rc.raw ${object} /dev/null
                  OUTPUT_QUIET ERROR_QUIET)
  if(EXISTS ${OUTPUT}.def.raw AND EXISTS ${OUTPUT}.rc.raw)
    list(APPEND found ${object})
    file(RENAME ${OUTPUT}.def.raw ${OUTPUT}.def.text)
    file(RENAME ${OUTPUT}.rc.raw ${OUTPUT}.rc.text)
  endif()
endforeach()
list(LENGTH found count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one object with a module descriptor in ${OBJECTS_DIR}, found ${count}: ${found}")
endif()
# Each section holds its text, its terminating NUL and the section's padding.
foreach(kind def rc)
  file(READ ${OUTPUT}.${kind}.text hex HEX)
  string(REGEX REPLACE "(00)+$" "" hex "${hex}")
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  set(text "")
  if(bytes GREATER 0)
    file(READ ${OUTPUT}.${kind}.text text LIMIT ${bytes})
  endif()
  file(WRITE ${OUTPUT}.${kind}.new "${text}")
  file(COPY_FILE ${OUTPUT}.${kind}.new ${OUTPUT}.${kind} ONLY_IF_DIFFERENT)
  file(REMOVE ${OUTPUT}.${kind}.text ${OUTPUT}.${kind}.new)
endforeach()
# The version text, from the same object.
file(REMOVE ${OUTPUT}.ver.raw)
execute_process(COMMAND ${OBJCOPY} --dump-section .winport_ver=${OUTPUT}.ver.raw ${found} /dev/null
                OUTPUT_QUIET ERROR_QUIET)
if(EXISTS ${OUTPUT}.ver.raw)
  # The text, its terminating NUL and the section's padding.
  file(READ ${OUTPUT}.ver.raw hex HEX)
  string(REGEX REPLACE "(00)+$" "" hex "${hex}")
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  file(READ ${OUTPUT}.ver.raw version LIMIT ${bytes})
  file(REMOVE ${OUTPUT}.ver.raw)
  if(version MATCHES "^(.* )?V?([0-9]+)\\.([0-9]+)$")
    set(numbers "${CMAKE_MATCH_2},${CMAKE_MATCH_3},0,0")
    set(dotted "${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
  else()
    message(FATAL_ERROR "version text \"${version}\" ends in no <major>.<minor>")
  endif()
  string(REPLACE "\"" "\"\"" quoted "${version}")
  file(READ ${OUTPUT}.rc rc_text)
  file(WRITE ${OUTPUT}.rc.new "${rc_text}1 VERSIONINFO
FILEVERSION ${numbers}
PRODUCTVERSION ${numbers}
FILEOS 0x40004
FILETYPE 0x2
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904E4\"
    BEGIN
      VALUE \"FileDescription\", \"${quoted}\"
      VALUE \"FileVersion\", \"${dotted}\"
      VALUE \"OriginalFilename\", \"${FILE_NAME}\"
      VALUE \"ProductVersion\", \"${dotted}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1252
  END
END
")
  file(COPY_FILE ${OUTPUT}.rc.new ${OUTPUT}.rc ONLY_IF_DIFFERENT)
  file(REMOVE ${OUTPUT}.rc.new)
endif()
file(SIZE ${OUTPUT}.rc rc_size)
if(rc_size EQUAL 0)
  execute_process(COMMAND ${C_COMPILER} -c -x c /dev/null -o ${OUTPUT}.res.o RESULT_VARIABLE failed)
else()
  execute_process(COMMAND ${RC_COMPILER} -i ${OUTPUT}.rc -o ${OUTPUT}.res.o -O coff
                  RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "${RC_COMPILER} failed on ${OUTPUT}.rc")
endif()
