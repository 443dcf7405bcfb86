# zlib (Debian's mingw package), minizip (compiled from Debian's zlib source
# package, cached in the build tree) and GoogleTest (Debian's sources).

find_path(ZERDA_ZLIB_INCLUDE zlib.h REQUIRED)
find_library(ZERDA_ZLIB_LIB NAMES libz.a z REQUIRED)
add_library(zlib_static STATIC IMPORTED GLOBAL)
set_target_properties(zlib_static PROPERTIES
  IMPORTED_LOCATION ${ZERDA_ZLIB_LIB}
  INTERFACE_INCLUDE_DIRECTORIES ${ZERDA_ZLIB_INCLUDE})

set(ZERDA_ZLIB_SRC ${CMAKE_BINARY_DIR}/_deps/zlib-src CACHE PATH "unpacked zlib source package")
if(NOT EXISTS ${ZERDA_ZLIB_SRC}/contrib/minizip/unzip.c)
  message(STATUS "fetching Debian's zlib source package for minizip")
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-zlib-source.sh ${ZERDA_ZLIB_SRC}
                  RESULT_VARIABLE _zrc)
  if(NOT _zrc EQUAL 0)
    message(FATAL_ERROR "could not get the zlib source package (run scripts/install-deps.sh)")
  endif()
endif()
set(_mz ${ZERDA_ZLIB_SRC}/contrib/minizip)
add_library(minizip STATIC ${_mz}/unzip.c ${_mz}/ioapi.c ${_mz}/iowin32.c ${_mz}/zip.c)
target_include_directories(minizip PUBLIC ${_mz})
target_compile_definitions(minizip PRIVATE NOCRYPT NOUNCRYPT)
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC zlib_static)

if(ZERDA_BUILD_TESTS)
  set(ZERDA_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources (Debian googletest)")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZERDA_GTEST_SRC} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
endif()
