# Test helpers shared by every folder.
#
#   vestrel_native_test(name SOURCES ... LIBS ...)  gtest program run natively
#   vestrel_wine_test(name SOURCES ... LIBS ... [GUI] [SUPPORT] [RESOURCES])
#       gtest program run under Wine; SUPPORT links tests/support/WinTestSupport,
#       RESOURCES the program's resource script (dialogs, menu, pictures)
#   vestrel_fuzz_target(name SOURCES ... LIBS ... CORPUS dir)  libFuzzer target,
#       run for VESTREL_FUZZ_SECONDS as a test over a copy of its seed corpus
include(CMakeParseArguments)

# The resource compiler reports no dependencies: a script is rebuilt when the
# manifest, pictures or icon it embeds change only if they are named here.
# Source properties are per folder, so each folder that compiles it calls this.
function(vestrel_resource_depends script)
  file(GLOB embedded ${PROJECT_SOURCE_DIR}/res/*.manifest ${PROJECT_SOURCE_DIR}/res/*.bmp
       ${PROJECT_SOURCE_DIR}/res/*.gif ${PROJECT_SOURCE_DIR}/res/*.ico ${PROJECT_SOURCE_DIR}/res/*.h)
  set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS "${embedded}")
endfunction()

function(vestrel_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 OR VESTREL_FUZZ)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
endfunction()

function(vestrel_wine_test name)
  cmake_parse_arguments(T "GUI;SUPPORT;RESOURCES" "" "SOURCES;LIBS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set(extra ${PROJECT_SOURCE_DIR}/tests/support/CrashExit.cpp)
  if(T_SUPPORT)
    list(APPEND extra ${PROJECT_SOURCE_DIR}/tests/support/WinTestSupport.cpp)
  endif()
  if(T_RESOURCES)
    list(APPEND extra ${PROJECT_SOURCE_DIR}/res/vestrel.rc)
    vestrel_resource_depends(${PROJECT_SOURCE_DIR}/res/vestrel.rc)
  endif()
  add_executable(${name} ${T_SOURCES} ${extra})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support ${PROJECT_SOURCE_DIR}/res)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  # One ctest entry per program: every Wine start costs, so cases are not
  # discovered one by one. gtest prints each case in the test's output.
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS wine)
  if(T_GUI)
    set_property(TEST ${name} APPEND PROPERTY LABELS gui)
    set_property(TEST ${name} PROPERTY RESOURCE_LOCK display)
  endif()
endfunction()

function(vestrel_fuzz_target name)
  cmake_parse_arguments(T "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT VESTREL_FUZZ)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${VESTREL_FUZZ_SECONDS} -timeout=10
                   -rss_limit_mb=2048 -print_final_stats=1 ${work} ${T_CORPUS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS fuzz)
endfunction()
