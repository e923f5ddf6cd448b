# The release zip, through CPack's ZIP generator. Each Windows build installs
# its plug-in and its spihost; the 64-bit one also the guide, the licence and
# the changelog, and packs both builds (its own and KELDA_32BIT_BUILD) into
# kelda-VERSION.zip. cmake/package-files.cmake finishes the staged files.
# scripts/package builds both from scratch and writes dist/kelda-VERSION.zip.

# Packing installs these files only; it need not build the tests first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(FILES $<TARGET_FILE:kelda> DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  install(PROGRAMS $<TARGET_FILE:spihost> DESTINATION .)
  return()
endif()
# spihost looks for kelda.sph beside itself, whatever its own name.
install(PROGRAMS $<TARGET_FILE:spihost> DESTINATION . RENAME spihost64.exe)
configure_file(package/README.txt.in ${CMAKE_BINARY_DIR}/package/README.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION .)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES CHANGELOG.md DESTINATION . RENAME CHANGELOG.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kelda)
set(CPACK_PACKAGE_FILE_NAME kelda-${PROJECT_VERSION})
# The files sit at the top of the zip, as they go into a viewer's folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${KELDA_32BIT_BUILD};kelda;ALL;/" "${CMAKE_BINARY_DIR};kelda;ALL;/")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-files.cmake)
include(CPack)
