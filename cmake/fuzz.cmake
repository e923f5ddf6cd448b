# The fuzz targets: libFuzzer with AddressSanitizer and UBSan, every finding
# fatal. The codec core is instrumented for coverage as well, so that the
# fuzzer sees its branches.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang (use the preset fuzz)")
endif()

set(KELDA_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer)
foreach(library pxm pxm_reference)
  target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
endforeach()

foreach(target header_fuzzer picture_fuzzer)
  add_executable(${target} fuzz/${target}.cpp)
  target_link_libraries(${target} PRIVATE pxm pxm_reference)
  target_compile_options(${target} PRIVATE ${KELDA_FUZZ_FLAGS})
  target_link_options(${target} PRIVATE ${KELDA_FUZZ_FLAGS})
endforeach()

include(cmake/seeds.cmake)
