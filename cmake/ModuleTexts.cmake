# Run just before a module's link (cmake -P): takes the module-definition and
# resource-script texts that WINPORT_MODULE compiled into one of the module's
# objects, writes OUTPUT.def and OUTPUT.rc and compiles the script into
# OUTPUT.res.o. Exactly one object of the module must carry them.
# A module without strings gets an empty object in place of the resources.
#   -DOBJECTS_DIR=<the target's object folder> -DOBJCOPY=... -DRC_COMPILER=...
#   -DC_COMPILER=... -DOUTPUT=<stem>
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
