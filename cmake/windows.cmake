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

# The version and names for exports.cpp and the version resource.
set(KELDA_FILE_NAME kelda${KELDA_SUFFIX})
configure_file(plugin/version.h.in ${CMAKE_BINARY_DIR}/generated/plugin/version.h @ONLY)
enable_language(RC)

add_library(kelda SHARED plugin/exports.cpp plugin/input.cpp plugin/kelda.rc ${KELDA_DEF})
set_target_properties(kelda PROPERTIES PREFIX "" OUTPUT_NAME kelda SUFFIX ${KELDA_SUFFIX})
target_include_directories(kelda PRIVATE ${CMAKE_BINARY_DIR}/generated)
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

# The same sources give the same bytes, wherever they are built and
# whenever. No folder of this machine goes into what the compiler writes: the
# sources are /kelda and the build folder /kelda/build (given last, so it wins
# when it lies inside the sources). The linker writes no time, which also
# leaves the export directory's timestamp at 0.
foreach(target pxm kelda spihost)
  target_compile_options(${target} PRIVATE
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/kelda
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=/kelda/build)
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
endforeach()
# The plug-in throws no exception and unwinds no frame: it needs no unwind
# tables. The DLL carries only the width of the ASCII block reader that its
# processor uses; the tests of the core run both widths natively.
foreach(target pxm kelda)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-asynchronous-unwind-tables)
endforeach()
target_compile_definitions(pxm PRIVATE PXM_NATIVE_BLOCKS_ONLY)
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  # The plug-in ships stripped; its symbols and line tables (-g changes no
  # code) stay beside it in kelda.spi.debug or kelda.sph.debug, which a
  # debugger finds through the debug link, for reading crash reports.
  target_compile_options(pxm PRIVATE -g)
  target_compile_options(kelda PRIVATE -g)
  # objcopy stamps the files it writes with the time unless
  # SOURCE_DATE_EPOCH names one; 0 is what the linker left.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET kelda POST_BUILD
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE_NAME:kelda> $<TARGET_FILE_NAME:kelda>.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:kelda>.debug
      $<TARGET_FILE_NAME:kelda>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:kelda>
    VERBATIM)
  target_link_options(spihost PRIVATE -s)
endif()

# GoogleTest from Debian's source package, built for Windows.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_executable(plugin_tests tests/windows/frame_test.cpp tests/windows/picture_test.cpp
  tests/windows/bounds_test.cpp tests/windows/hostile_test.cpp tests/windows/soak_test.cpp
  tests/windows/host.cpp tests/windows/version_test.cpp tests/native/swap_test.cpp)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_sources(plugin_tests PRIVATE tests/windows/unicode_test.cpp)
endif()
target_include_directories(plugin_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  ${CMAKE_BINARY_DIR}/generated)
# version reads the plug-in's version resource; the plug-in itself needs none.
target_link_libraries(plugin_tests PRIVATE pxm gtest_main psapi version)
target_link_options(plugin_tests PRIVATE ${KELDA_STATIC_LINK})
add_dependencies(plugin_tests kelda)
# Every test that runs a Windows program carries the label "wine"; the
# static checks need no Wine and run on every machine. The soak and the
# threads take a minute under Wine; the timeouts catch hangs, not slowness.
gtest_discover_tests(plugin_tests
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 600 LABELS wine)

# A randomized run through the exports: the fuzz seed corpus and the fuzz
# regressions, mutated, from a file and from memory, for a fixed time with a
# fixed seed. plugin_random --seed N --iteration K (from the build folder,
# with the same folders) replays iteration K alone.
include(cmake/seeds.cmake)
set(KELDA_RANDOM_SECONDS 45 CACHE STRING "Wall time of the randomized run through the exports, in seconds")
add_executable(plugin_random tests/windows/random_test.cpp tests/windows/host.cpp)
target_include_directories(plugin_random PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(plugin_random PRIVATE gtest)
target_link_options(plugin_random PRIVATE ${KELDA_STATIC_LINK})
add_dependencies(plugin_random kelda fuzz_seeds)
# The default time; KELDA_RANDOM_SECONDS in the environment changes it for a run.
target_compile_definitions(plugin_random PRIVATE KELDA_RANDOM_SECONDS=${KELDA_RANDOM_SECONDS})
file(RELATIVE_PATH KELDA_REGRESSIONS ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions)
add_test(NAME plugin_random COMMAND plugin_random seeds/header ${KELDA_REGRESSIONS}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
# Well above the run's time: the program ends an iteration that hangs
# itself after a minute, with the seed and the iteration.
math(EXPR KELDA_RANDOM_TIMEOUT "${KELDA_RANDOM_SECONDS} + 240")
set_tests_properties(plugin_random PROPERTIES TIMEOUT ${KELDA_RANDOM_TIMEOUT})

# The DLL's shape: its exports and the DLLs it imports.
add_test(NAME dll_shape
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-dll $<TARGET_FILE:kelda>)
set_tests_properties(dll_shape PROPERTIES TIMEOUT 60 LABELS static)

# What a release ships: stripped and small, its debug file linked, no time
# and no folder of this machine in it.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  add_test(NAME release_shape
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-release-dll $<TARGET_FILE:kelda>)
  set_tests_properties(release_shape PROPERTIES TIMEOUT 60 LABELS static)
endif()

# The 32-bit host's flag for addresses above 2 GiB, read from its header.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_test(NAME spihost_large_address_aware
    COMMAND sh -c "i686-w64-mingw32-objdump -p \"$1\" | grep -q '^[[:space:]]*large address aware$'"
      sh $<TARGET_FILE:spihost>)
  set_tests_properties(spihost_large_address_aware PROPERTIES TIMEOUT 30 LABELS static)
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
set_tests_properties(oracle PROPERTIES TIMEOUT 1200 LABELS wine)

# The Windows-side benchmark: the plug-in's exports against the copies and
# ReadFile under Wine. scripts/bench runs both builds' where they run; it is
# no test, so scripts/test never runs it.
add_executable(spibench bench/win_bench.cpp bench/pictures.cpp)
target_include_directories(spibench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(spibench PRIVATE psapi)
target_link_options(spibench PRIVATE ${KELDA_HOST_LINK})
add_dependencies(spibench kelda)

include(cmake/package.cmake)
