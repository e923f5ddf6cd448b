# The native benchmark of the codec core against memcpy and the peers. Google
# Benchmark and the peers' development packages are installed by
# scripts/bench; the plug-in's own build needs none of them.
find_package(benchmark REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(NETPBM REQUIRED IMPORTED_TARGET netpbm)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
pkg_check_modules(GDK_PIXBUF REQUIRED IMPORTED_TARGET gdk-pixbuf-2.0)
# FreeImage and OpenCV's imgcodecs come without pkg-config files in Debian's
# -dev packages that the benchmark installs.
find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
find_library(FREEIMAGE_LIBRARY freeimage REQUIRED)
find_path(OPENCV_INCLUDE_DIR opencv2/imgcodecs.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIBRARY opencv_core REQUIRED)
find_library(OPENCV_IMGCODECS_LIBRARY opencv_imgcodecs REQUIRED)

add_executable(pxm_bench bench/pxm_bench.cpp bench/pictures.cpp bench/kelda_decoder.cpp
  bench/peers.cpp)
target_include_directories(pxm_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(pxm_bench SYSTEM PRIVATE ${FREEIMAGE_INCLUDE_DIR} ${OPENCV_INCLUDE_DIR})
# Netpbm's headers are included by their folder, <netpbm/pam.h>.
target_include_directories(pxm_bench SYSTEM PRIVATE /usr/include)
# Netpbm's library has no version call and its pkg-config file no number:
# the table names the Debian package's version.
execute_process(COMMAND dpkg-query -W -f=\${Version} libnetpbm-dev
  OUTPUT_VARIABLE KELDA_BENCH_NETPBM_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
target_compile_definitions(pxm_bench PRIVATE
  KELDA_BENCH_NETPBM_VERSION="${KELDA_BENCH_NETPBM_VERSION}")
target_link_libraries(pxm_bench PRIVATE pxm benchmark::benchmark PkgConfig::NETPBM
  PkgConfig::STB PkgConfig::GDK_PIXBUF ${FREEIMAGE_LIBRARY} ${OPENCV_IMGCODECS_LIBRARY}
  ${OPENCV_CORE_LIBRARY})
