# Installation and the Debian package: the desktop program, the headless
# program and the pseudo-terminal scanner simulator, with the desktop entry,
# the icon, the manual pages, the copyright file and the changelog. `cpack -G
# DEB` in the build folder makes vantorel_<version>_<arch>.deb; its run-time
# dependencies (Debian's own Qt 6 packages among them) are computed by
# dpkg-shlibdeps. tools/package builds it with Debian's hardening flags and CI
# checks it with lintian.
include(GNUInstallDirs)

# `cpack` and `cmake --install` install what has been built; they do not build
# the whole tree (the tests and benchmarks are not part of the package).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VT_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(VT_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vantorel)

# Debian installs manual pages and changelogs compressed with gzip -9; -n
# leaves the name and time out of the header, so the package is reproducible.
# The vantorel-doc target (part of every build) makes them in
# <build>/packaging.
set(VT_GZIP_DIR ${CMAKE_BINARY_DIR}/packaging)
set(VT_MAN_PAGES vantorel-cli.1 vantorel-simpty.1)
if(TARGET vantorel)
  list(APPEND VT_MAN_PAGES vantorel.1)
endif()
set(VT_GZIPPED)
foreach(doc IN LISTS VT_MAN_PAGES ITEMS changelog)
  add_custom_command(
    OUTPUT ${VT_GZIP_DIR}/${doc}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${VT_PACKAGE_DIR}/${doc} ${VT_GZIP_DIR}/${doc}
    COMMAND gzip -9nf ${VT_GZIP_DIR}/${doc}
    DEPENDS ${VT_PACKAGE_DIR}/${doc}
    COMMENT "Compressing ${doc}"
    VERBATIM)
  list(APPEND VT_GZIPPED ${VT_GZIP_DIR}/${doc}.gz)
endforeach()
add_custom_target(vantorel-doc ALL DEPENDS ${VT_GZIPPED})
list(TRANSFORM VT_MAN_PAGES APPEND .gz OUTPUT_VARIABLE VT_MAN_PAGES_GZ)
list(TRANSFORM VT_MAN_PAGES_GZ PREPEND ${VT_GZIP_DIR}/)

install(TARGETS vantorel-cli vantorel-simpty RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VT_MAN_PAGES_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VT_PACKAGE_DIR}/copyright ${VT_GZIP_DIR}/changelog.gz DESTINATION ${VT_DOC_DIR})
# lintian's overrides, each with the reason it does not apply.
install(FILES ${VT_PACKAGE_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vantorel)
if(TARGET vantorel)
  install(TARGETS vantorel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${VT_PACKAGE_DIR}/vantorel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${VT_PACKAGE_DIR}/vantorel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME vantorel)
set(CPACK_PACKAGE_VENDOR "Vantorel")
set(CPACK_PACKAGE_CONTACT "Vantorel maintainers <maintainers@vantorel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware programming station for QZ scanners")
# Lines of the extended description stay under 80 columns (CPack keeps the
# line breaks; an empty line would become a paragraph break).
set(CPACK_PACKAGE_DESCRIPTION
    "Programs the firmware of QZ500, QZ600 and MV2 scanners attached to serial
ports or to the maker's USB driver, several scanners at once. The package
holds the Qt desktop station (vantorel), the headless station for production
lines and scripts (vantorel-cli) and a simulated scanner loader on a
pseudo-terminal (vantorel-simpty).")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vantorel)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The programs are stripped as Debian strips them (dh_strip): the symbols and
# also the compilers' .comment and .note sections, which CPack's own
# stripping keeps. cmake/package_strip.cmake does it on the staged files.
set(CPACK_STRIP_FILES OFF)
set(CPACK_VT_STRIP "${CMAKE_STRIP}")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package_strip.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
