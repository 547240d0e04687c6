# Install rules: `cmake --install build --prefix P` (and the Debian package,
# which is made from the same rules) lays the suite out as
#   P/lib/ferrox/                the deliverables, stand-ins and tools, one folder
#                                (they find one another there by file name), and
#                                libferrox, the application library
#   P/bin/                       imagehost, scanapp, Calibration, rundll: links into it
#   P/lib/<multiarch>/sane/      the SANE backend
#   <etc>/ferrox/registry.reg    the scanner key naming the installed driver
#   <etc>/sane.d/dll.d/ferrox,   the SANE configuration: the backend's entry and
#   <etc>/sane.d/ferrox.conf     the suite folder it drives
#   P/include/ferrox/ferrox.h, P/lib/<multiarch>/pkgconfig/ferrox.pc
#   P/share/ferrox/samples, P/share/doc/ferrox, P/share/man/man1, man5
# where <etc> is <root>/etc for a prefix <root>/usr (so /etc for /usr), P/etc
# otherwise. Files in
# <etc> are written at install time with the installed paths and never
# replace one that exists.
include(GNUInstallDirs)

set(SUITE_NAME ferrox)
set(SUITE_INSTALL_DIR lib/${SUITE_NAME})
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(SUITE_INSTALL_ARCH_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
  set(suite_from_sane "../../${SUITE_NAME}")
else()
  set(SUITE_INSTALL_ARCH_DIR lib)
  set(suite_from_sane "../${SUITE_NAME}")
endif()

# The platform layer finds the installation's registry from its own folder.
target_compile_definitions(winport PRIVATE
  WINPORT_INSTALLED_LIBRARY_FOLDER="${SUITE_INSTALL_DIR}"
  WINPORT_INSTALLED_REGISTRY="etc/${SUITE_NAME}/registry.reg")

get_property(suite_readers GLOBAL PROPERTY SUITE_READERS)
get_property(suite_writers GLOBAL PROPERTY SUITE_WRITERS)
set(suite_programs imagehost scanapp Calibration rundll)
set(suite_libraries winport winport_fltk imagehost_lib ferrox ferrox_app mendle rdpcd
    ${suite_readers} ${suite_writers} virtscan music_standin quorel_standin pcdlib32)
# They lie side by side in build/bin as in the installed folder, so the build
# uses the installed search path as it is. Otherwise CMake pads the build's
# path with empty entries, for the install to overwrite, and an empty entry
# makes the loader look in the current folder (for libc.so.6 too).
set_target_properties(${suite_programs} ${suite_libraries} PROPERTIES
                      INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
install(TARGETS ${suite_programs} ${suite_libraries}
        RUNTIME DESTINATION ${SUITE_INSTALL_DIR}
        LIBRARY DESTINATION ${SUITE_INSTALL_DIR} NAMELINK_SKIP)
install(TARGETS ferrox_app LIBRARY DESTINATION ${SUITE_INSTALL_DIR} NAMELINK_ONLY)

set_target_properties(sane_ferrox PROPERTIES INSTALL_RPATH "$ORIGIN/${suite_from_sane}")
target_compile_definitions(sane_ferrox PRIVATE FERROX_SANE_SUITE_FROM_BACKEND="${suite_from_sane}")
install(TARGETS sane_ferrox LIBRARY DESTINATION ${SUITE_INSTALL_ARCH_DIR}/sane)

install(FILES ${CMAKE_SOURCE_DIR}/scanapi/include/ferrox/ferrox.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${SUITE_NAME})
# The .pc file names its prefix relative to itself, so a tree unpacked
# elsewhere (a package extracted into a scratch root) still compiles.
file(WRITE ${CMAKE_BINARY_DIR}/install/ferrox.pc
"prefix=\${pcfiledir}/../../..
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}
suitedir=\${prefix}/${SUITE_INSTALL_DIR}

Name: ferrox
Description: The scanner API: ScannerCommander and its records
Version: ${PROJECT_VERSION}
Cflags: -I\${includedir}
Libs: -L\${suitedir} -Wl,-rpath,\${suitedir} -lferrox
")
if(NOT CMAKE_LIBRARY_ARCHITECTURE)
  file(READ ${CMAKE_BINARY_DIR}/install/ferrox.pc pc_text)
  string(REPLACE "/../../.." "/../.." pc_text "${pc_text}")
  file(WRITE ${CMAKE_BINARY_DIR}/install/ferrox.pc "${pc_text}")
endif()
install(FILES ${CMAKE_BINARY_DIR}/install/ferrox.pc DESTINATION ${SUITE_INSTALL_ARCH_DIR}/pkgconfig)

install(DIRECTORY ${SUITE_SAMPLES_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/${SUITE_NAME}/samples
        FILES_MATCHING PATTERN "*.img" PATTERN "*.bmp" PATTERN "CMakeFiles" EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${SUITE_NAME})
install(FILES ${CMAKE_SOURCE_DIR}/standins/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${SUITE_NAME} RENAME standins.md)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/sane-ferrox.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
file(GLOB suite_man1 ${CMAKE_SOURCE_DIR}/docs/man/*.1)
install(FILES ${suite_man1} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The links on P/bin, the registry and the SANE configuration: written by the
# install step itself, with the installed paths.
install(CODE "set(SUITE_NAME ${SUITE_NAME})
set(SUITE_INSTALL_DIR ${SUITE_INSTALL_DIR})
set(SUITE_PROGRAMS \"${suite_programs}\")")
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/SuiteInstallConfig.cmake)

# The Debian package, from the same rules: `cpack -G DEB` in the build folder.
# It installs under /usr; its files in /etc are conffiles, which dpkg keeps
# when an administrator changed them. The libraries' dependencies come from
# dpkg-shlibdeps; the SANE frontends are recommended.
file(WRITE ${CMAKE_BINARY_DIR}/install/conffiles
     "/etc/${SUITE_NAME}/registry.reg\n/etc/sane.d/dll.d/${SUITE_NAME}\n/etc/sane.d/${SUITE_NAME}.conf\n")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${SUITE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ferrox suite maintainers <ferrox@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "scanner suite: scanner library, SANE backend, image file-format plug-ins")
set(CPACK_PACKAGE_DESCRIPTION
    "The scanner API library FERROX.DLL with a virtual scanner, the Calibration utility, image file-format plug-ins with the imagehost tool, scanapp, and a SANE backend, on the winport platform layer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)  # the prefix the install step sees (with CPACK_SET_DESTDIR)
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sane-utils, pkg-config")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/install/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
