# Shared build conventions of the Korvane folders.

# Sanitizer builds (scripts/test --asan / --tsan): every target of the tree,
# third-party code excepted, is instrumented. Any report ends the process, so a
# test cannot pass over one.
set(KORVANE_SANITIZE "" CACHE STRING "Sanitizers for every target: address,undefined or thread")
# Fuzz builds (scripts/fuzz, clang only): coverage for libFuzzer everywhere and
# the fuzz targets linked against libFuzzer instead of the corpus replay main.
option(KORVANE_FUZZ "Link the fuzz targets with libFuzzer (clang)" OFF)
if(KORVANE_SANITIZE)
  add_compile_options(-fsanitize=${KORVANE_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KORVANE_SANITIZE})
  if(KORVANE_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
  if(KORVANE_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # gcc warns that TSan does not model atomic_thread_fence, which Boost.Asio's
    # headers use; the warning is about those headers, not about our code.
    add_compile_options(-Wno-tsan)
  endif()
endif()

# A program that runs during the build (the artwork painter) is not under test.
# Under ThreadSanitizer it would report the races that the uninstrumented Qt's
# image thread pool appears to have, and fail the build, so it is built plain.
function(korvane_build_time_program target)
  if(KORVANE_SANITIZE MATCHES "thread")
    target_compile_options(${target} PRIVATE -fno-sanitize=all)
    target_link_options(${target} PRIVATE -fno-sanitize=all)
  endif()
endfunction()
if(KORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KORVANE_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(korvane_optional_subdirectory dir)
  if(EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endfunction()

# Warnings for every target of ours.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-unused-parameter)
  if(KORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# korvane_library(NAME kv_core SOURCES a.cpp b.cpp [QT])
# A static library whose headers are reached from the repository root
# ("core/uSettings.h").
function(korvane_library)
  cmake_parse_arguments(KL "QT" "NAME" "SOURCES;LIBS" ${ARGN})
  add_library(${KL_NAME} STATIC ${KL_SOURCES})
  target_include_directories(${KL_NAME} PUBLIC ${CMAKE_SOURCE_DIR})
  if(KL_QT)
    set_target_properties(${KL_NAME} PROPERTIES AUTOMOC ON)
  endif()
  target_link_libraries(${KL_NAME} PUBLIC ${KL_LIBS})
  korvane_warnings(${KL_NAME})
endfunction()

# korvane_test(NAME core_settings SOURCES x_test.cpp LIBS kv_core [QT] [ENV K=V ...])
# A GoogleTest (or Qt Test, with QT) executable registered with CTest.
function(korvane_test)
  cmake_parse_arguments(KT "QT;NOMAIN" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${KT_NAME} ${KT_SOURCES})
  target_include_directories(${KT_NAME} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  # Every test may use the scratch folders of tests/support.
  target_link_libraries(${KT_NAME} PRIVATE kv_testsupport)
  if(KT_QT)
    set_target_properties(${KT_NAME} PROPERTIES AUTOMOC ON)
    target_link_libraries(${KT_NAME} PRIVATE ${KT_LIBS} kv_qt_test_main Qt6::Test GTest::gtest)
  elseif(KT_NOMAIN)
    target_link_libraries(${KT_NAME} PRIVATE ${KT_LIBS} GTest::gtest)
  else()
    target_link_libraries(${KT_NAME} PRIVATE ${KT_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  korvane_warnings(${KT_NAME})
  add_test(NAME ${KT_NAME} COMMAND ${KT_NAME})
  set(env "KORVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "KORVANE_BINARY_DIR=${CMAKE_BINARY_DIR}" "QT_QPA_PLATFORM=offscreen")
  korvane_scratch_env(${KT_NAME} scratch)
  list(APPEND env ${scratch} ${KT_ENV})
  if(NOT KT_TIMEOUT)
    set(KT_TIMEOUT 120)
  endif()
  if(KORVANE_SANITIZE)
    # Instrumented programs run several times slower.
    math(EXPR KT_TIMEOUT "${KT_TIMEOUT} * 4")
  endif()
  set_tests_properties(${KT_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${KT_TIMEOUT})
  if(KT_LABELS)
    set_tests_properties(${KT_NAME} PROPERTIES LABELS "${KT_LABELS}")
    if("threads" IN_LIST KT_LABELS)
      set_property(GLOBAL APPEND PROPERTY KORVANE_THREAD_TESTS ${KT_NAME})
    endif()
  endif()
endfunction()

# The caller's desktop folders never reach a test: XDG_* and HOME point at a
# folder of the test's own under the build tree, made afresh at each run.
function(korvane_scratch_env test out)
  set(home "${CMAKE_BINARY_DIR}/Testing/home/${test}")
  set(${out}
    "HOME=${home}"
    "XDG_DATA_HOME=${home}/.local/share"
    "XDG_CONFIG_HOME=${home}/.config"
    "XDG_CACHE_HOME=${home}/.cache"
    "XDG_STATE_HOME=${home}/.local/state"
    "XDG_RUNTIME_DIR=${home}/run"
    # No session bus unless a test starts its own: without an address libdbus
    # autolaunches one by forking the program, which has threads by then, and under
    # ASan a child forked while another thread holds the allocator's lock hangs before
    # its exec (the parent waits on it, without a window).
    "DBUS_SESSION_BUS_ADDRESS=unix:path=${home}/run/no-session-bus"
    PARENT_SCOPE)
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED korvane_scratch_homes)
  set_property(GLOBAL APPEND PROPERTY KORVANE_SCRATCH_TESTS ${test})
endfunction()

# Called once after every test is registered: the fixture that empties the
# scratch homes before the run, and the target "thread_tests" that builds the
# programs labelled "threads" (the ThreadSanitizer build builds only those).
function(korvane_finish_tests)
  get_property(homes GLOBAL PROPERTY KORVANE_SCRATCH_TESTS)
  string(REPLACE ";" "," homes "${homes}")
  add_test(NAME korvane_scratch_homes
    COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_BINARY_DIR}/Testing/home -DTESTS=${homes}
            -P ${CMAKE_SOURCE_DIR}/cmake/ScratchHomes.cmake)
  set_tests_properties(korvane_scratch_homes PROPERTIES FIXTURES_SETUP korvane_scratch_homes)
  get_property(threaded GLOBAL PROPERTY KORVANE_THREAD_TESTS)
  add_custom_target(thread_tests)
  if(threaded)
    add_dependencies(thread_tests ${threaded})
  endif()
endfunction()

function(korvane_optional_subdirectory_tests dir)
  if(EXISTS "${CMAKE_SOURCE_DIR}/tests/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
  endif()
endfunction()
