# The plug-in, the command-line host and the tests that load the plug-in as a
# viewer does. Everything is linked statically: one file, system DLLs only.
set(KELDA_STATIC_LINK -static -static-libgcc -static-libstdc++)

# kelda.spi for 32-bit viewers; kelda.sph, with the Unicode exports, for
# 64-bit ones.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KELDA_SUFFIX .sph)
  set(KELDA_DEF plugin/kelda64.def)
else()
  set(KELDA_SUFFIX .spi)
  set(KELDA_DEF plugin/kelda.def)
endif()
add_library(kelda SHARED plugin/exports.cpp plugin/input.cpp ${KELDA_DEF})
set_target_properties(kelda PROPERTIES PREFIX "" OUTPUT_NAME kelda SUFFIX ${KELDA_SUFFIX})
target_link_libraries(kelda PRIVATE pxm)
target_link_options(kelda PRIVATE ${KELDA_STATIC_LINK} -Wl,--enable-stdcall-fixup)

# A 32-bit host that may use addresses above 2 GiB, as the viewers that
# open the largest pictures are; a 64-bit one has them anyway.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KELDA_HOST_LINK ${KELDA_STATIC_LINK} -Wl,--large-address-aware)
else()
  set(KELDA_HOST_LINK ${KELDA_STATIC_LINK})
endif()

add_executable(spihost tools/spihost.cpp)
target_include_directories(spihost PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_options(spihost PRIVATE ${KELDA_HOST_LINK})

# GoogleTest from Debian's source package, built for Windows.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_executable(plugin_tests tests/windows/frame_test.cpp tests/windows/picture_test.cpp
  tests/windows/hostile_test.cpp tests/windows/soak_test.cpp tests/windows/host.cpp
  tests/native/swap_test.cpp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_sources(plugin_tests PRIVATE tests/windows/unicode_test.cpp)
endif()
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

# The 32-bit host's flag for addresses above 2 GiB, read from its header.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_test(NAME spihost_large_address_aware
    COMMAND sh -c "i686-w64-mingw32-objdump -p \"$1\" | grep -q '^[[:space:]]*large address aware$'"
      sh $<TARGET_FILE:spihost>)
  set_tests_properties(spihost_large_address_aware PROPERTIES TIMEOUT 30)
endif()

# Pictures written by netpbm and ImageMagick, decoded through the plug-in by
# spihost, against both toolkits' own reading of them.
# The 64-bit build also holds its BMPs against the 32-bit build's, byte for
# byte.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KELDA_32BIT_BUILD ${CMAKE_CURRENT_SOURCE_DIR}/build/win32 CACHE PATH
    "The 32-bit build whose plug-in must give the same pictures")
  add_test(NAME oracle COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/oracle/run ${CMAKE_BINARY_DIR}
    ${KELDA_32BIT_BUILD})
else()
  add_test(NAME oracle COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/oracle/run ${CMAKE_BINARY_DIR})
endif()

# The Windows-side benchmark: the plug-in's exports against the copies and
# ReadFile under Wine. scripts/bench runs both builds' where they run; it is
# no test, so scripts/test never runs it.
add_executable(spibench bench/win_bench.cpp bench/pictures.cpp)
target_include_directories(spibench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(spibench PRIVATE psapi)
target_link_options(spibench PRIVATE ${KELDA_HOST_LINK})
add_dependencies(spibench kelda)
