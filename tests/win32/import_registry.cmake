# Imports the build's bin/registry.reg into the Wine prefix of the tests, with
# "System Directory" in the short form Wine gives the bin folder (the form the
# library compares), and checks that the key reads back so.
#   cmake -DWINE_RUN=wine-run.sh -DPREFIX=<prefix> -DSHORT_PATH=<short_path.exe>
#         -DBIN_DIR=<bin> -DOUTPUT=<registry file to write> -P import_registry.cmake
cmake_minimum_required(VERSION 3.25)
function(windows_path out path)
  string(REPLACE "/" "\\" path "Z:${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
function(wine_run out)
  execute_process(COMMAND ${WINE_RUN} ${PREFIX} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE failed
                  ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "${ARGN}: ${failed} ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

windows_path(bin_windows "${BIN_DIR}/")
wine_run(short_bin ${SHORT_PATH} ${bin_windows})
string(REGEX REPLACE "\r" "" short_bin "${short_bin}")
if(NOT short_bin MATCHES "\\\\$")
  message(FATAL_ERROR "no short form of ${bin_windows}: '${short_bin}'")
endif()
file(READ ${BIN_DIR}/registry.reg text)
# Backslashes doubled for the .reg string, and doubled again for the replacement.
string(REPLACE "\\" "\\\\\\\\" quoted "${short_bin}")
string(REGEX REPLACE "\"System Directory\"=\"[^\n]*\"" "\"System Directory\"=\"${quoted}\"" text "${text}")
file(WRITE ${OUTPUT} "${text}")
windows_path(output_windows "${OUTPUT}")
wine_run(ignored reg import ${output_windows})
wine_run(answer reg query "HKLM\\Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner"
         /v "System Directory")
string(FIND "${answer}" "${short_bin}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the imported key reads back as: ${answer}")
endif()
message(STATUS "Virtual Scanner: System Directory ${short_bin}")
