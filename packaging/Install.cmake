# Installation (cmake --install) and the Debian package (cpack -G DEB).
#
#   bin/tandel                                  the program (works in the current folder)
#   bin/tandel-cli                              the same runs from a terminal
#   bin/tandel-launcher                         starts it in $TANDEL_HOME or ~/TANDEL
#   bin/tandel-demo                             the simulated server and devices, to try it
#   libexec/tandel/tandel-{updateserver,devicesim}  the simulators behind tandel-demo
#   share/applications/tandel.desktop           menu entry (runs tandel-launcher)
#   share/icons/hicolor/{48x48,128x128,256x256}/apps/tandel.png
#   share/metainfo/example.quorvant.tandel.metainfo.xml
#   share/man/man1/*.1.gz                       tandel, tandel-cli, tandel-launcher
#   share/tandel/init.cfg.example               copied into a new working folder
#   share/bash-completion/completions/tandel-cli  bash completion
#   share/doc/tandel/README.md, docs/*.png      the README's user part and its screenshots
#   share/doc/tandel/copyright, changelog.Debian.gz
include(GNUInstallDirs)

foreach(program tandel tandel-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/tandel-launcher ${CMAKE_CURRENT_LIST_DIR}/tandel-demo
  DESTINATION ${CMAKE_INSTALL_BINDIR})
# The simulators behind tandel-demo.
foreach(simulator tandel-updateserver tandel-devicesim)
  if(TARGET ${simulator})
    install(TARGETS ${simulator} RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tandel)
  endif()
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tandel.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 48 128 256)
  if(size EQUAL 128)
    set(_tandel_icon ${CMAKE_CURRENT_LIST_DIR}/tandel.png)
  else()
    set(_tandel_icon ${CMAKE_CURRENT_LIST_DIR}/icons/tandel-${size}.png)
  endif()
  install(FILES ${_tandel_icon} RENAME tandel.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tandel.metainfo.xml
  RENAME example.quorvant.tandel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/init.cfg.example
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tandel)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion/tandel-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages and the Debian changelog go in gzip-compressed, without name or time stamp
# (-n), so that the package is the same from every build.
set(_tandel_gz_files)
foreach(source man/tandel.1 man/tandel-cli.1 man/tandel-launcher.1 man/tandel-demo.1
    changelog.Debian)
  get_filename_component(_tandel_name ${source} NAME)
  set(_tandel_gz ${CMAKE_BINARY_DIR}/packaging/${_tandel_name}.gz)
  add_custom_command(OUTPUT ${_tandel_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/${source} > ${_tandel_gz}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${source} VERBATIM)
  list(APPEND _tandel_gz_files ${_tandel_gz})
endforeach()
add_custom_target(tandel-package-docs ALL DEPENDS ${_tandel_gz_files})
install(FILES ${CMAKE_BINARY_DIR}/packaging/tandel.1.gz ${CMAKE_BINARY_DIR}/packaging/tandel-cli.1.gz
  ${CMAKE_BINARY_DIR}/packaging/tandel-launcher.1.gz ${CMAKE_BINARY_DIR}/packaging/tandel-demo.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Tags that do not apply to a package distributed outside Debian, with the reason.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides RENAME tandel
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
# The extended description, in lines of at most 80 characters as Debian's policy wants them.
# CPack puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "TANDEL is a service tool for the Quorvant II family of smart-card devices
(PELTA, ORN, VESTRAND). LiveUpdate fills a local firmware store from the
vendor's update server over HTTP. Programming writes a chosen firmware file
into a Quorvant II server or card over a serial port through the device's
boot loader and reports every step in a Polish log.
.
The window (tandel) is a wizard of five pages; tandel-cli runs the same
LiveUpdate and programming from a terminal and from scripts, with exit
statuses, terminal progress and JSON output.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Debian revision of the package: its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the program loads (ldd) and Qt's platform plugins, which it loads at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins, libcurl4 (>= 7.16.2), libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.34)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-translations-l10n")
include(CPack)
