# Installation (cmake --install) and the Debian package (cpack -G DEB).
#
#   bin/tandel                                  the program (works in the current folder)
#   bin/tandel-launcher                         starts it in $TANDEL_HOME or ~/TANDEL
#   share/applications/tandel.desktop           menu entry (runs tandel-launcher)
#   share/icons/hicolor/128x128/apps/tandel.png
#   share/tandel/init.cfg.example               copied into a new working folder
#   share/doc/tandel/README.md, docs/*.png      the README's user part and its screenshots
include(GNUInstallDirs)

if(TARGET tandel)
  install(TARGETS tandel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/tandel-launcher DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tandel.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tandel.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/init.cfg.example
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tandel)

# The README's user part: from its "Using TANDEL" heading to the end.
set(_tandel_readme ${CMAKE_SOURCE_DIR}/README.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_tandel_readme})
file(READ ${_tandel_readme} _tandel_readme_text)
string(FIND "${_tandel_readme_text}" "\n## Using TANDEL" _tandel_user_start)
if(_tandel_user_start GREATER -1)
  string(SUBSTRING "${_tandel_readme_text}" ${_tandel_user_start} -1 _tandel_user_part)
  file(WRITE ${CMAKE_BINARY_DIR}/doc/README.md "# TANDEL\n${_tandel_user_part}")
else()
  file(WRITE ${CMAKE_BINARY_DIR}/doc/README.md "${_tandel_readme_text}")
endif()
install(FILES ${CMAKE_BINARY_DIR}/doc/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.png")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tandel)
set(CPACK_PACKAGE_VENDOR "Quorvant")
set(CPACK_PACKAGE_CONTACT "TANDEL maintainers <tandel@quorvant.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvant II service tool: LiveUpdate and firmware programming")
set(CPACK_PACKAGE_DESCRIPTION "TANDEL fills a local firmware store from the vendor's update \
server and writes a chosen firmware file into a Quorvant II server or card over a serial port.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the program loads (ldd) and Qt's platform plugins, which it loads at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins, libcurl4 (>= 7.16.2), libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.34)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-translations-l10n")
include(CPack)
