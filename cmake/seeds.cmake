# The seed corpora of the fuzz targets, written into the build directory by
# fuzz/make-seeds (and again whenever the script changes): KELDA_SEEDS/header
# and KELDA_SEEDS/picture.
set(KELDA_SEEDS ${CMAKE_BINARY_DIR}/seeds)
add_custom_command(OUTPUT ${KELDA_SEEDS}/stamp
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/make-seeds ${KELDA_SEEDS}
  COMMAND ${CMAKE_COMMAND} -E touch ${KELDA_SEEDS}/stamp
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/make-seeds
  COMMENT "Writing the fuzz seed corpora")
add_custom_target(fuzz_seeds ALL DEPENDS ${KELDA_SEEDS}/stamp)
