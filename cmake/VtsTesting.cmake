# One helper for every test program: GoogleTest, a CTest label, and a main() that gives
# each test process its own VOXTRAILSTUDY_ROOT, so parallel tests never share folders.
include(GoogleTest)

set(VTS_TEST_ROOT_BASE "${CMAKE_BINARY_DIR}/test-root")
file(MAKE_DIRECTORY "${VTS_TEST_ROOT_BASE}")

# vts_add_gtest(NAME <target> LABEL <unit|ui|pulse> SOURCES ... [LIBS ...] [TIMEOUT s]
#               [RESOURCE_LOCK name] [RUN_SERIAL])
#   unit:  no display, no sound server (virtual audio backend)
#   ui:    Qt on the offscreen platform; main() creates the QApplication
#   pulse: needs the private PulseAudio server started by scripts/run-tests.sh
function(vts_add_gtest)
  cmake_parse_arguments(T "RUN_SERIAL" "NAME;LABEL;TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(T_LABEL STREQUAL "ui")
    set(main_src "${PROJECT_SOURCE_DIR}/tests/support/qt_test_main.cpp")
  else()
    set(main_src "${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp")
  endif()
  add_executable(${T_NAME} ${T_SOURCES} ${main_src})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vts_test_support GTest::gtest GTest::gmock Threads::Threads)
  if(T_LABEL STREQUAL "ui")
    target_link_libraries(${T_NAME} PRIVATE Qt6::Widgets Qt6::Test)
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    VTS_TEST_LABEL="${T_LABEL}"
    VTS_TEST_ROOT_BASE="${VTS_TEST_ROOT_BASE}"
    VTS_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VTS_BINARY_DIR="${CMAKE_BINARY_DIR}")
  # RESOURCE_LOCK: tests that must not run beside each other (the recorder program's copies
  # see each other).
  set(scheduling "")
  if(T_RESOURCE_LOCK)
    set(scheduling RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  # RUN_SERIAL: tests that hear real-time sound as it plays; beside the suite's other tests
  # the machine can be too busy to keep the sound going, which they would take for a gap.
  if(T_RUN_SERIAL)
    list(APPEND scheduling RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ${scheduling})
endfunction()

# vts_add_benchmark(NAME <target> SOURCES ... [LIBS ...]): a program the README names;
# never run by CTest.
function(vts_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT VTS_BUILD_BENCHMARKS)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  # Shared fixtures and the timing helpers (tests/support).
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} vts_test_files Threads::Threads)
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
endfunction()
