# The scanner side under Wine: the scanner API suites of the Linux build from
# the same sources, against the scripted driver (with the Windows-only tests of
# other processes and of the short folder), the registry file of the build
# imported into the prefix for the virtual scanner.
set(SUITE_TEST_MODULES_DIR ${CMAKE_BINARY_DIR}/tests/modules)
if(NOT COMMAND suite_test_module)
  function(suite_test_module target)
    suite_module(${target} ${ARGN})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SUITE_TEST_MODULES_DIR})
  endfunction()
endif()
set(scanapi_tests ${CMAKE_SOURCE_DIR}/tests/scanapi)
add_subdirectory(${scanapi_tests}/fake_driver ${CMAKE_BINARY_DIR}/tests/scanapi/fake_driver)
# The platform layer's test hooks do nothing here (see win32/test_hooks.h).
target_sources(fake_scanner_driver PRIVATE ${scanapi_tests}/win32/test_hooks.cpp)
target_compile_options(fake_scanner_driver PRIVATE -include ${scanapi_tests}/win32/test_hooks.h)

add_executable(lock_contender ${scanapi_tests}/win32/lock_contender.cpp)
target_link_libraries(lock_contender PRIVATE ferrox_headers winport)
set_target_properties(lock_contender PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SUITE_TEST_MODULES_DIR})

win32_test(win32_scanapi_tests SOURCES
  ${scanapi_tests}/commander_test.cpp
  ${scanapi_tests}/tone_map_test.cpp
  ${scanapi_tests}/scan_start_test.cpp
  ${scanapi_tests}/enhancement_test.cpp
  ${scanapi_tests}/scan_setup_test.cpp
  ${scanapi_tests}/ferrox_fixture.cpp
  ${scanapi_tests}/win32/fixture_platform.cpp
  ${scanapi_tests}/win32/processes_test.cpp
  ${scanapi_tests}/win32/test_hooks.cpp
  LIBS ferrox_headers winport)
target_include_directories(win32_scanapi_tests PRIVATE ${scanapi_tests} ${scanapi_tests}/fake_driver)
target_compile_options(win32_scanapi_tests PRIVATE -include ${scanapi_tests}/win32/test_hooks.h)
target_compile_definitions(win32_scanapi_tests PRIVATE SUITE_BIN_DIR="${SUITE_BIN_DIR}"
                           SUITE_TEST_MODULES_DIR="${SUITE_TEST_MODULES_DIR}")
add_dependencies(win32_scanapi_tests ferrox fake_scanner_driver fake_scanner_nodriver fake_music
                 lock_contender)
# Left out: what needs the platform layer's frozen clock or failing allocations.
set_tests_properties(win32_scanapi_tests PROPERTIES
  ENVIRONMENT "GTEST_FILTER=-ScanStart.DeviceNeverReadyGivesUpAfterFortySeconds:ScanStart.WaitReportsTheWholeWaitThenElapsedPartsCappedAtWhatRemains:ScanStart.CallbackEndsTheWaitEarly:Commander.FailedMapAllocationFailsTheOpenAndClosesTheDevice:Enhancement.SpoolThatCannotBeCreatedFailsWithNothingLeft")

# The build's registry file, imported before the tests of the virtual scanner.
add_executable(short_path short_path.cpp)
target_link_libraries(short_path PRIVATE winport)
set_target_properties(short_path PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SUITE_TEST_MODULES_DIR})
add_test(NAME win32_import_registry
         COMMAND ${CMAKE_COMMAND} -DWINE_RUN=${CMAKE_SOURCE_DIR}/tests/win32/wine-run.sh
                 -DPREFIX=${CMAKE_BINARY_DIR}/wineprefix -DSHORT_PATH=$<TARGET_FILE:short_path>
                 -DBIN_DIR=${SUITE_BIN_DIR} -DOUTPUT=${CMAKE_BINARY_DIR}/tests/registry.reg
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/import_registry.cmake)
set_tests_properties(win32_import_registry PROPERTIES FIXTURES_SETUP scanner_registry TIMEOUT 300)

# The virtual scanner and the music library under the library, once the
# build's registry file is in the prefix.
win32_test(win32_standins_tests SOURCES
  ${CMAKE_SOURCE_DIR}/tests/standins/win32/virtual_scanner_test.cpp
  ${scanapi_tests}/ferrox_fixture.cpp
  ${scanapi_tests}/win32/fixture_platform.cpp
  LIBS ferrox_headers winport)
target_include_directories(win32_standins_tests PRIVATE ${scanapi_tests} ${scanapi_tests}/fake_driver
                           ${CMAKE_SOURCE_DIR}/standins/virtual_scanner/include)
target_compile_definitions(win32_standins_tests PRIVATE SUITE_BIN_DIR="${SUITE_BIN_DIR}"
                           SUITE_TEST_MODULES_DIR="${SUITE_TEST_MODULES_DIR}")
add_dependencies(win32_standins_tests ferrox virtscan music_standin fake_scanner_driver lock_contender)
set_tests_properties(win32_standins_tests PROPERTIES FIXTURES_REQUIRED scanner_registry)

# The C header, compiled as a Windows application's C code.
add_library(ferrox_c_header_check OBJECT ${scanapi_tests}/win32/c_header_check.c)
target_link_libraries(ferrox_c_header_check PRIVATE ferrox_headers)
set_target_properties(ferrox_c_header_check PROPERTIES C_STANDARD 11)

# Both programs write scanner keys of the same names into the one prefix.
set_tests_properties(win32_scanapi_tests win32_standins_tests PROPERTIES RESOURCE_LOCK wine_scanner_keys)

# scanapp.exe scanning through the imported registry, compared byte for byte
# with the Linux scanapp (skipped without the Linux build).
add_test(NAME win32_scanapp_matches_linux
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scanapp_exe.sh ${CMAKE_BINARY_DIR} ${SUITE_LINUX_BUILD}
                 ${CMAKE_CURRENT_BINARY_DIR}/scanapp)
set_tests_properties(win32_scanapp_matches_linux PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77
                     FIXTURES_REQUIRED scanner_registry RESOURCE_LOCK wine_scanner_keys)

# Calibration.exe in each mode on a virtual display, its dialogs answered by
# dlgclick.exe, against the virtual scanner named in the display prefix's
# registry (the test imports the build's registry file there first).
add_test(NAME win32_calibration_on_display
         COMMAND ${SUITE_WINE_DISPLAY} ${CMAKE_CURRENT_SOURCE_DIR}/calibration_on_display.sh
                 ${SUITE_BIN_DIR} ${CMAKE_BINARY_DIR}/tests ${CMAKE_BINARY_DIR}/screenshots
                 ${CMAKE_COMMAND} $<TARGET_FILE:short_path>)
set_tests_properties(win32_calibration_on_display PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77
                     RESOURCE_LOCK wine_display)

# Calibration.exe where no window can be made: it neither hangs nor skips the pass.
add_test(NAME win32_calibration_without_desktop
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/calibration_without_desktop.sh ${CMAKE_BINARY_DIR}
                 ${CMAKE_CURRENT_BINARY_DIR}/calibration)
set_tests_properties(win32_calibration_without_desktop PROPERTIES TIMEOUT 300
                     FIXTURES_REQUIRED scanner_registry RESOURCE_LOCK wine_scanner_keys)
