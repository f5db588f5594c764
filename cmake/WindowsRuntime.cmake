# The Windows build puts every program in the build folder's top, beside the DLLs they load:
# Qt and the C++ runtime of mingw-w64 (wine, like Windows, looks beside the .exe first), with
# Qt's plugins in platforms/ and styles/ and Qt's Polish texts in translations/ below it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

set(_tandel_runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "The mingw-w64 runtime ${dll} is not found")
  endif()
  list(APPEND _tandel_runtime_dlls "${_path}")
endforeach()
# What the installer and the zip carry besides the programs, as paths below the build folder.
set(TANDEL_WINDOWS_RUNTIME libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll
  Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll
  qt.conf)
set(_tandel_qt_prefix "${QT6_INSTALL_PREFIX}")
set(_tandel_polish "${_tandel_qt_prefix}/translations/qtbase_pl.qm")
set(_tandel_copy_polish)
if(EXISTS "${_tandel_polish}")
  list(APPEND TANDEL_WINDOWS_RUNTIME translations/qtbase_pl.qm)
  set(_tandel_copy_polish COMMAND ${CMAKE_COMMAND} -E copy_if_different "${_tandel_polish}"
    ${CMAKE_BINARY_DIR}/translations/)
endif()
# Qt finds its plugins and texts relative to the programs' folder, wherever it is installed.
file(WRITE ${CMAKE_BINARY_DIR}/qt.conf "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")
add_custom_target(windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_tandel_runtime_dlls}
    $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
    ${CMAKE_BINARY_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/platforms
    ${CMAKE_BINARY_DIR}/styles ${CMAKE_BINARY_DIR}/translations
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
    ${CMAKE_BINARY_DIR}/platforms/
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
    ${CMAKE_BINARY_DIR}/styles/
  ${_tandel_copy_polish}
  COMMENT "DLLs, plugins and translations beside the programs")
