# The codec core's own tests, run on this machine under the sanitizers.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(pxm_tests tests/native/text_test.cpp tests/native/header_test.cpp tests/native/swap_test.cpp
  tests/native/raster_test.cpp tests/native/dib_test.cpp tests/native/support.cpp)
target_link_libraries(pxm_tests PRIVATE pxm pxm_reference GTest::gtest_main)
target_include_directories(pxm_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(pxm_tests)
