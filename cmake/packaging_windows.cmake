# Installation and the Windows installer: `cpack -G NSIS` in a mingw build
# folder (tools/package does it in build-win/) makes
# vantorel-<version>-setup.exe with Debian's makensis. It installs into
# Program Files\Vantorel the programs that this build has: vantorel-cli.exe
# always, the Win32 desktop vantorel.exe and its demonstration
# vantorel-demo.exe once they are built, the manual (README.txt) and the
# copyright file, with a Start-menu folder and an uninstaller. `setup.exe /S`
# installs silently (CI does so under wine).
#
# No runtime DLLs are shipped: the toolchain (cmake/mingw-w64.cmake) links
# every program statically, libstdc++, libgcc and winpthread included, and
# tools/package refuses an installer whose programs import any of them.

# `cpack` installs what has been built; it does not build the whole tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The manual: the README, as plain text that Notepad opens with Windows line
# ends.
set(VT_WIN_DOC_DIR ${CMAKE_BINARY_DIR}/packaging)
file(READ ${CMAKE_SOURCE_DIR}/README.md VT_README_TEXT)
string(REPLACE "\r\n" "\n" VT_README_TEXT "${VT_README_TEXT}")
string(REPLACE "\n" "\r\n" VT_README_TEXT "${VT_README_TEXT}")
file(WRITE ${VT_WIN_DOC_DIR}/README.txt "${VT_README_TEXT}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
file(READ ${CMAKE_SOURCE_DIR}/packaging/copyright VT_COPYRIGHT_TEXT)
string(REPLACE "\n" "\r\n" VT_COPYRIGHT_TEXT "${VT_COPYRIGHT_TEXT}")
file(WRITE ${VT_WIN_DOC_DIR}/copyright.txt "${VT_COPYRIGHT_TEXT}")

# The desktop programs come from folders that may be read after this file:
# what to install is settled once the whole tree has been read.
function(vt_windows_installer)
  set(programs vantorel-cli)
  # Start-menu links: target in the install folder, then the link's name.
  set(links README.txt "Vantorel manual")
  if(TARGET vantorel)
    list(APPEND programs vantorel)
    list(PREPEND links vantorel.exe "Vantorel")
  endif()
  if(TARGET vantorel-demo)
    list(APPEND programs vantorel-demo)
    list(APPEND links vantorel-demo.exe "Vantorel demonstration")
  endif()
  install(TARGETS ${programs} RUNTIME DESTINATION .)
  install(FILES ${VT_WIN_DOC_DIR}/README.txt ${VT_WIN_DOC_DIR}/copyright.txt DESTINATION .)

  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_NAME Vantorel)
  set(CPACK_PACKAGE_VENDOR "Vantorel")
  set(CPACK_PACKAGE_CONTACT "Vantorel maintainers <maintainers@vantorel.org>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware programming station for QZ scanners")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME vantorel-${PROJECT_VERSION}-setup)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Vantorel)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Vantorel)
  set(CPACK_RESOURCE_FILE_LICENSE ${VT_WIN_DOC_DIR}/copyright.txt)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME Vantorel)
  set(CPACK_NSIS_PACKAGE_NAME Vantorel)
  set(CPACK_NSIS_MENU_LINKS ${links})
  if(TARGET vantorel)
    set(CPACK_NSIS_INSTALLED_ICON_NAME vantorel.exe)
  endif()
  # The programs stay out of PATH: the desktop starts from the Start menu,
  # and vantorel-cli from its folder or by its full path.
  set(CPACK_NSIS_MODIFY_PATH OFF)
  # A 64-bit installer for 64-bit programs: it runs where they run (a 64-bit
  # wine prefix needs no 32-bit wine to install them).
  set(CPACK_NSIS_DEFINES "  Target amd64-unicode")
  # An earlier version is removed before the new one goes in.
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vt_windows_installer)
