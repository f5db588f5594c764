# The Windows build puts every program in the build folder's top, beside the DLLs they load:
# Qt Core and the C++ runtime of mingw-w64 (wine, like Windows, looks beside the .exe first).
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
add_custom_target(windows_runtime ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_tandel_runtime_dlls}
    $<TARGET_FILE:Qt6::Core> ${CMAKE_BINARY_DIR}
  COMMENT "DLLs beside the programs")
