# Installation and the Debian package: the desktop program, the headless
# program and the pseudo-terminal scanner simulator, with the desktop entry,
# the icon and the manual pages. `cpack -G DEB` in the build folder makes
# vantorel_<version>_<arch>.deb; its run-time dependencies (Debian's own Qt 6
# packages among them) are computed by dpkg-shlibdeps.
include(GNUInstallDirs)

# `cpack` and `cmake --install` install what has been built; they do not build
# the whole tree (the tests and benchmarks are not part of the package).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VT_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/packaging)
install(TARGETS vantorel-cli vantorel-simpty RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VT_PACKAGE_DIR}/vantorel-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET vantorel)
  install(TARGETS vantorel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${VT_PACKAGE_DIR}/vantorel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${VT_PACKAGE_DIR}/vantorel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${VT_PACKAGE_DIR}/vantorel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME vantorel)
set(CPACK_PACKAGE_VENDOR "Vantorel")
set(CPACK_PACKAGE_CONTACT "Vantorel maintainers <vantorel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware programming station for QZ scanners")
set(CPACK_PACKAGE_DESCRIPTION
    "Programs the firmware of QZ500, QZ600 and MV2 scanners attached to serial ports or \
to the maker's USB driver, several scanners at once: the Qt desktop station (vantorel), \
the headless station for production lines and scripts (vantorel-cli) and a simulated \
scanner loader on a pseudo-terminal (vantorel-simpty).")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vantorel)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
