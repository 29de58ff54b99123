# The reliability suite: faults injected into the real program, hostile and
# damaged archives, special files, load, and round trips of real trees. One
# GoogleTest program; every test runs the built varkel (and its compression
# tool) in scratch directories, a few also call the core library directly.
# Labels: "reliability" for all; "heavy" for the ones that move gigabytes or
# hundreds of thousands of files.

file(GLOB VARKEL_RELIABILITY_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
if(VARKEL_RELIABILITY_SOURCES AND TARGET varkel)
  add_executable(varkel_reliability ${VARKEL_RELIABILITY_SOURCES})
  target_include_directories(varkel_reliability PRIVATE
    ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../unit)
  target_link_libraries(varkel_reliability PRIVATE varkel_core GTest::gtest GTest::gtest_main)
  target_compile_definitions(varkel_reliability PRIVATE
    VARKEL_BINARY_DIR="${CMAKE_BINARY_DIR}"
    VARKEL_SANITIZED=$<BOOL:${VARKEL_SANITIZE}>)
  # Measures a program's peak memory from a small process of its own.
  add_executable(varkel_peak_memory ${CMAKE_CURRENT_LIST_DIR}/tools/peak_memory.cpp)
  target_compile_definitions(varkel_reliability PRIVATE
    VARKEL_PEAK_MEMORY="$<TARGET_FILE:varkel_peak_memory>")
  add_dependencies(varkel_reliability varkel varkel_peak_memory)
  if(TARGET compression_tool)
    add_dependencies(varkel_reliability compression_tool)
  endif()
  # The heavy ones move gigabytes or hundreds of thousands of files: each
  # runs alone, since two of them at once only fight over the disk.
  set(VARKEL_HEAVY_RELIABILITY "Load.*:RealTrees.*:ByteFlips.*:UnusualEntries.*:AttributeTrips.*")
  gtest_discover_tests(varkel_reliability
    TEST_PREFIX reliability/
    TEST_FILTER "-${VARKEL_HEAVY_RELIABILITY}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS reliability TIMEOUT 900)
  gtest_discover_tests(varkel_reliability
    TEST_PREFIX reliability/
    TEST_FILTER "${VARKEL_HEAVY_RELIABILITY}"
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS reliability-heavy TIMEOUT 900 RUN_SERIAL TRUE)
endif()
