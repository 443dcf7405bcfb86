# zlib (Debian's mingw package), minizip and libdeflate's decompressor
# (compiled from Debian's zlib and libdeflate source packages, cached in the
# build tree) and GoogleTest (Debian's sources).

find_path(ZERDA_ZLIB_INCLUDE zlib.h REQUIRED)
find_library(ZERDA_ZLIB_LIB NAMES libz.a z REQUIRED)
add_library(zlib_static STATIC IMPORTED GLOBAL)
set_target_properties(zlib_static PROPERTIES
  IMPORTED_LOCATION ${ZERDA_ZLIB_LIB}
  INTERFACE_INCLUDE_DIRECTORIES ${ZERDA_ZLIB_INCLUDE})

set(ZERDA_ZLIB_SRC ${CMAKE_BINARY_DIR}/_deps/zlib-src CACHE PATH "unpacked zlib source package")
set(ZERDA_LIBDEFLATE_SRC ${CMAKE_BINARY_DIR}/_deps/libdeflate-src CACHE PATH "unpacked libdeflate source package")
function(zerda_fetch_source package dest marker)
  if(NOT EXISTS ${dest}/${marker})
    message(STATUS "fetching Debian's source package ${package}")
    execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fetch-source.sh ${package} ${dest} ${marker}
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "could not get the source package ${package} (run scripts/install-deps.sh)")
    endif()
  endif()
endfunction()
zerda_fetch_source(zlib=1:1.2.13.dfsg-1 ${ZERDA_ZLIB_SRC} contrib/minizip/unzip.c)
zerda_fetch_source(libdeflate=1.14-1 ${ZERDA_LIBDEFLATE_SRC} lib/deflate_decompress.c)
set(_mz ${ZERDA_ZLIB_SRC}/contrib/minizip)
add_library(minizip STATIC ${_mz}/unzip.c ${_mz}/ioapi.c ${_mz}/iowin32.c ${_mz}/zip.c)
target_include_directories(minizip PUBLIC ${_mz})
target_compile_definitions(minizip PRIVATE NOCRYPT NOUNCRYPT)
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC zlib_static)

# Only the decompressor: the payload read into memory is decoded in one go.
set(_ld ${ZERDA_LIBDEFLATE_SRC})
add_library(libdeflate_decompress STATIC ${_ld}/lib/deflate_decompress.c ${_ld}/lib/utils.c
  ${_ld}/lib/x86/cpu_features.c)
target_include_directories(libdeflate_decompress PUBLIC ${_ld})
target_compile_options(libdeflate_decompress PRIVATE -O2 -w)

if(ZERDA_BUILD_TESTS)
  set(ZERDA_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources (Debian googletest)")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZERDA_GTEST_SRC} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
endif()
