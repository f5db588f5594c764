# tandel_add_gtest(name SOURCES a.cpp b.cpp LIBS lib1 lib2)
# A GoogleTest binary registered with CTest, run in its own build folder.
function(tandel_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  tandel_isolate_test(${name})
endfunction()

# tandel_add_qtest(name SOURCES a.cpp LIBS lib1)
# A QtTest binary (window tests) run under the offscreen platform.
function(tandel_add_qtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 180)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  tandel_isolate_test(${name})
endfunction()

# tandel_isolate_test(name)
# The test runs with a HOME and XDG_STATE_HOME of its own in the build tree, so that it never
# reads or writes the user's files (journal, working and demo folders). Every test of the
# suite gets it; the pair home_guard_record / home_guard_compare, which keep the environment
# ctest was started with, enclose the whole run and fail when the real state folder or home
# folders changed under it.
function(tandel_isolate_test name)
  set(scratch ${CMAKE_BINARY_DIR}/test-home/${name})
  file(MAKE_DIRECTORY ${scratch}/state)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION
    HOME=set:${scratch} XDG_STATE_HOME=set:${scratch}/state)
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED real_home)
endfunction()

function(tandel_guard_real_home)
  set(guard ${PROJECT_SOURCE_DIR}/tests/support/home-guard)
  set(snapshot ${CMAKE_BINARY_DIR}/test-home/real-home.snapshot)
  add_test(NAME home_guard_record COMMAND bash ${guard} record ${snapshot})
  add_test(NAME home_guard_compare COMMAND bash ${guard} compare ${snapshot})
  set_tests_properties(home_guard_record PROPERTIES FIXTURES_SETUP real_home)
  set_tests_properties(home_guard_compare PROPERTIES FIXTURES_CLEANUP real_home)
endfunction()
