# The codec core's own tests, run on this machine under the sanitizers.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(pxm_tests tests/native/probe_test.cpp tests/native/text_test.cpp tests/native/header_test.cpp tests/native/swap_test.cpp
  tests/native/raster_test.cpp tests/native/dib_test.cpp tests/native/stream_test.cpp tests/native/support.cpp)
target_link_libraries(pxm_tests PRIVATE pxm pxm_reference GTest::gtest_main)
target_include_directories(pxm_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# A test of the core takes well under a second; the timeout catches a hang.
gtest_discover_tests(pxm_tests PROPERTIES TIMEOUT 120)

# The fuzz targets as plain programs, without libFuzzer: they replay the
# regression inputs and the seed corpora under the sanitizers of this build.
# Every regression input goes through both targets.
include(cmake/seeds.cmake)

foreach(target header picture)
  add_executable(${target}_replay fuzz/${target}_fuzzer.cpp fuzz/replay_main.cpp)
  target_link_libraries(${target}_replay PRIVATE pxm pxm_reference)
  add_test(NAME fuzz_replay_${target}
    COMMAND ${target}_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions ${KELDA_SEEDS}/${target})
  # Some regressions were hangs: they fail by running out of time.
  set_tests_properties(fuzz_replay_${target} PROPERTIES TIMEOUT 120)
endforeach()
