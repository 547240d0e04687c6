# build/bin/registry.reg: the scanner key that lets FERROX.DLL in build/bin find
# the virtual scanner with no set-up. On Linux "System Directory" is the
# canonical bin folder with a trailing "/", the form the library compares with
# its own. On Windows (build-win32) the paths are the bin folder as Wine shows
# it (drive Z: is the root), with backslashes; the library compares "System
# Directory" with the short form of its folder, which only the system can
# tell, so tests/win32/import_registry.cmake puts that in when it imports the
# file into a Wine prefix.
file(MAKE_DIRECTORY ${SUITE_BIN_DIR})
file(REAL_PATH ${SUITE_BIN_DIR} suite_bin_canonical)
set(suite_bin_separator "/")
if(WIN32)
  string(REPLACE "/" "\\" suite_bin_canonical "Z:${suite_bin_canonical}")
  set(suite_bin_separator "\\")
endif()
function(reg_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
reg_quote(REG_SYSTEM_DIRECTORY "${suite_bin_canonical}${suite_bin_separator}")
reg_quote(REG_DRIVER_PATHNAME "${suite_bin_canonical}${suite_bin_separator}virtscan.dll")
reg_quote(REG_SCAN_TUNE "${suite_bin_canonical}${suite_bin_separator}scan-tune.wav")
reg_quote(REG_END_TUNE "${suite_bin_canonical}${suite_bin_separator}end-tune.wav")
# Beside it two examples that work by themselves (WINPORT_REGISTRY=FILE):
# registry-feeder.reg, a scanner with a document feeder holding three pages,
# and registry-document.reg, one that scans a sample image instead of its chart.
function(write_registry file comment extra)
  set(REG_COMMENT "${comment}")
  set(REG_EXTRA "${extra}")
  file(CONFIGURE OUTPUT ${SUITE_BIN_DIR}/${file} CONTENT [[REGEDIT4

; Written by the build: @REG_COMMENT@
[HKEY_LOCAL_MACHINE\Software\Duzizaziz\Ridezodu\Scanners\Virtual Scanner]
"System Directory"="@REG_SYSTEM_DIRECTORY@"
"Driver Pathname"="@REG_DRIVER_PATHNAME@"
"Product Name"="Virtual Flatbed Scanner"@REG_EXTRA@

[HKEY_LOCAL_MACHINE\Software\Duzizaziz\Ridezodu\Scanners\Virtual Scanner\Music]
"PlayMusic"=dword:00000001
"StopMusic"=dword:00000001
"ScanMusic PathName"="@REG_SCAN_TUNE@"
"StopMusic PathName"="@REG_END_TUNE@"
]] @ONLY)
  # The registry refuses a file that others may write, since it names libraries to load.
  file(CHMOD ${SUITE_BIN_DIR}/${file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()
write_registry(registry.reg "the virtual scanner in this folder." "")
write_registry(registry-feeder.reg
  "the virtual scanner in this folder, with a document feeder holding three pages."
  "\n\"Capabilities\"=dword:00000001\n\"ADF Pages\"=dword:00000003")
# (The samples are made by the Linux build.)
if(NOT WIN32)
  reg_quote(REG_DOCUMENT "${CMAKE_BINARY_DIR}/samples/bmp-rgb-24.bmp")
  write_registry(registry-document.reg
    "the virtual scanner in this folder, scanning a sample image (build the samples target)."
    "\n\"Document\"=\"${REG_DOCUMENT}\"")
endif()
