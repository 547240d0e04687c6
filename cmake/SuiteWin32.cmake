# The 32-bit Windows build (scripts/build.sh win32, cmake/toolchain-mingw32.cmake):
# the plug-ins, the Photo CD library stand-in, the host library and imagehost.exe,
# on the system's own API (winport is the Linux implementation of that API and
# is not built here), and the tests that run them under Wine.
include(SuiteModulesWin32)

# Floating-point arithmetic in SSE2 registers, as on x86-64: the x87 unit keeps
# intermediate results in extended precision, so some results (a resolution in
# dots per inch turned into pixels per metre, the single-precision tone curves)
# would round differently, and both builds must give the same bytes.
add_compile_options(-msse2 -mfpmath=sse)

# zlib linked in, like the C++ runtime: no zlib1.dll beside the reader.
set(ZLIB_USE_STATIC_LIBS ON)

# The calibration program's resource library and the setup launcher.
add_subdirectory(standins/quorel)
add_subdirectory(setuplauncher)

add_subdirectory(winport)
add_subdirectory(plugins)
add_subdirectory(standins/pcdlib)
add_subdirectory(host)
# The scanner side: FERROX.DLL, the virtual scanner and the music library.
add_subdirectory(scanapi)
add_subdirectory(standins/common)
add_subdirectory(standins/virtual_scanner)
add_subdirectory(standins/music)
include(${CMAKE_SOURCE_DIR}/standins/registry_file.cmake)

# Calibration.exe, on the scanner API and quorel.dll's dialogs.
add_subdirectory(calibration)

# scanapp.exe, on the scanner API and the host library's writers.
add_subdirectory(tools/scanclient)
if(TARGET imagehost_lib)
  add_subdirectory(tools/scanapp)
endif()

if(SUITE_TESTS)
  # Test programs run under Wine in a prefix of this build's own.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/win32/wine-run.sh
      ${CMAKE_BINARY_DIR}/wineprefix)
  enable_testing()
  add_subdirectory(tests/win32)
endif()
