# The portable format library's sources, for every build that links it: the
# setup (cross), the packaging tool (native and cross) and the fuzz targets.
set(ZERDA_FORMATS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ZERDA_FORMATS_SOURCES
  ${ZERDA_FORMATS_DIR}/config_layout.cpp
  ${ZERDA_FORMATS_DIR}/entry_rules.cpp
  ${ZERDA_FORMATS_DIR}/setup_image.cpp
  ${ZERDA_FORMATS_DIR}/sha256.cpp
  ${ZERDA_FORMATS_DIR}/sha256_blocks.cpp)
# The folder above, so that includes read "formats/...".
get_filename_component(ZERDA_FORMATS_INCLUDE ${ZERDA_FORMATS_DIR} DIRECTORY)
