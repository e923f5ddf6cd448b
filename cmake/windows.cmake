# The plug-in, the command-line host and the tests that load the plug-in as a
# viewer does. Everything is linked statically: one file, system DLLs only.
set(KELDA_STATIC_LINK -static -static-libgcc -static-libstdc++)

add_library(kelda SHARED plugin/exports.cpp plugin/input.cpp plugin/kelda.def)
set_target_properties(kelda PROPERTIES PREFIX "" OUTPUT_NAME kelda SUFFIX ".spi")
target_link_libraries(kelda PRIVATE pxm)
target_link_options(kelda PRIVATE ${KELDA_STATIC_LINK} -Wl,--enable-stdcall-fixup)

add_executable(spihost tools/spihost.cpp)
target_link_options(spihost PRIVATE ${KELDA_STATIC_LINK})

# GoogleTest from Debian's source package, built for Windows.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_executable(plugin_tests tests/windows/frame_test.cpp tests/windows/picture_test.cpp
  tests/windows/hostile_test.cpp tests/windows/soak_test.cpp tests/windows/host.cpp
  tests/native/swap_test.cpp)
target_include_directories(plugin_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(plugin_tests PRIVATE pxm gtest_main psapi)
target_link_options(plugin_tests PRIVATE ${KELDA_STATIC_LINK})
add_dependencies(plugin_tests kelda)
gtest_discover_tests(plugin_tests
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 60)

# The DLL's shape: its exports and the DLLs it imports.
add_test(NAME dll_shape
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-dll $<TARGET_FILE:kelda>)

# Pictures written by netpbm and ImageMagick, decoded through the plug-in by
# spihost, against both toolkits' own reading of them.
add_test(NAME oracle COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/oracle/run ${CMAKE_BINARY_DIR})
