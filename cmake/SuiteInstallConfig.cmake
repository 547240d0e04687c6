# Run by `cmake --install` (and by CPack): the links on <prefix>/bin, and the
# files of the configuration folder, which name installed paths. SUITE_NAME,
# SUITE_INSTALL_DIR and SUITE_PROGRAMS come from the install rules.
set(stage "$ENV{DESTDIR}")
set(prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/+$" "" prefix "${prefix}")
# Installed for real (no staging folder): name the canonical paths, the form the
# scanner library compares its own folder with.
if(stage STREQUAL "" AND EXISTS "${prefix}")
  file(REAL_PATH "${prefix}" prefix)
  string(REGEX REPLACE "/+$" "" prefix "${prefix}")
endif()
# A prefix <root>/usr keeps its configuration in <root>/etc (the platform layer
# looks for the registry there too).
if(prefix MATCHES "^(.*)/usr$")
  set(etc "${CMAKE_MATCH_1}/etc")
elseif(prefix STREQUAL "")
  set(etc "/etc")
else()
  set(etc "${prefix}/etc")
endif()
set(suite "${prefix}/${SUITE_INSTALL_DIR}")

file(MAKE_DIRECTORY "${stage}${prefix}/bin")
foreach(program IN LISTS SUITE_PROGRAMS)
  message(STATUS "Installing: ${stage}${prefix}/bin/${program} -> ../${SUITE_INSTALL_DIR}/${program}")
  file(CREATE_LINK "../${SUITE_INSTALL_DIR}/${program}" "${stage}${prefix}/bin/${program}" SYMBOLIC)
endforeach()

# Writes `text` into `file` (a path without the staging folder) unless it exists.
function(suite_write_config file text)
  if(EXISTS "${stage}${file}")
    message(STATUS "Keeping: ${stage}${file} (it exists)")
    return()
  endif()
  message(STATUS "Writing: ${stage}${file}")
  get_filename_component(folder "${stage}${file}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(WRITE "${stage}${file}" "${text}")
  # The platform layer refuses a registry that others may write.
  file(CHMOD "${stage}${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

function(reg_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
reg_quote(system_directory "${suite}/")
reg_quote(driver "${suite}/virtscan.dll")
reg_quote(scan_tune "${suite}/scan-tune.wav")
reg_quote(end_tune "${suite}/end-tune.wav")
suite_write_config("${etc}/${SUITE_NAME}/registry.reg" "REGEDIT4

; Written by the installation: the virtual scanner of ${suite}.
[HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner]
\"System Directory\"=\"${system_directory}\"
\"Driver Pathname\"=\"${driver}\"
\"Product Name\"=\"Virtual Flatbed Scanner\"

[HKEY_LOCAL_MACHINE\\Software\\Duzizaziz\\Ridezodu\\Scanners\\Virtual Scanner\\Music]
\"PlayMusic\"=dword:00000001
\"StopMusic\"=dword:00000001
\"ScanMusic PathName\"=\"${scan_tune}\"
\"StopMusic PathName\"=\"${end_tune}\"
")
suite_write_config("${etc}/sane.d/dll.d/${SUITE_NAME}" "# The scanner suite's backend.\n${SUITE_NAME}\n")
suite_write_config("${etc}/sane.d/${SUITE_NAME}.conf"
  "# Written by the installation: the scanner suite this backend drives.\nsuite ${suite}\n")
