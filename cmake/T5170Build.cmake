# Common compile settings and helpers for the project's targets.

add_library(t5170_options INTERFACE)
target_compile_options(t5170_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
# A program depends on a shared library only when it uses it: the fuzz
# targets and t5170-report load no serial port or widgets whichever
# compiler links them.
target_link_options(t5170_options INTERFACE -Wl,--as-needed)
if(T5170_WERROR)
  target_compile_options(t5170_options INTERFACE -Werror)
endif()
# Sanitizers: every target of the project links t5170_options, so the whole
# program, its tests and tools are instrumented alike. A fuzz build also
# instruments them for libFuzzer's coverage (the fuzz binaries add
# -fsanitize=fuzzer themselves).
set(_t5170_sanitizers)
if(T5170_SANITIZE)
  set(_t5170_sanitizers address,undefined)
endif()
if(T5170_FUZZ)
  set(_t5170_sanitizers fuzzer-no-link,address,undefined)
endif()
if(_t5170_sanitizers)
  target_compile_options(t5170_options INTERFACE -fsanitize=${_t5170_sanitizers}
    -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(t5170_options INTERFACE -fsanitize=address,undefined)
endif()

# t5170_add_test(NAME SOURCES ... LIBS ... [GUI])
# A GoogleTest binary registered with CTest. GUI tests get a QApplication
# on the offscreen platform; the others a QCoreApplication.
function(t5170_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_GUI)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/gtest_main_gui.cpp)
    target_link_libraries(${name} PRIVATE Qt6::Widgets)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/gtest_main_core.cpp)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_link_libraries(${name} PRIVATE t5170_options GTest::gtest Qt6::Core Qt6::Test ${T_LIBS})
  target_compile_definitions(${name} PRIVATE
    T5170_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures"
    T5170_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    T5170_TEST_SUPPORT_DIR="${CMAKE_SOURCE_DIR}/tests/support")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8" TIMEOUT 300)
endfunction()

# t5170_add_library(NAME SOURCES...)
# A static library of one subsystem. Headers are included by their path
# under src/ ("sheet/Automation.h"), so a reader sees which subsystem each
# belongs to.
function(t5170_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC t5170_options)
endfunction()
