# The compression library for the cross target, built from Debian's own
# source package, which scripts/fetch-bzip2-source.sh unpacks into the build
# folder. Nothing of it is kept in the repository.
set(SETUP_BZIP2_FETCH_DIR ${CMAKE_BINARY_DIR}/bzip2-source)
file(GLOB _bzip2_dirs ${SETUP_BZIP2_FETCH_DIR}/bzip2-*/bzlib.c)
if(NOT _bzip2_dirs)
  execute_process(
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-bzip2-source.sh ${SETUP_BZIP2_FETCH_DIR}
    RESULT_VARIABLE _bzip2_fetch)
  if(NOT _bzip2_fetch EQUAL 0)
    message(FATAL_ERROR "No bzip2 source in ${SETUP_BZIP2_FETCH_DIR}; run scripts/install-cross-deps.sh ${CMAKE_BINARY_DIR}")
  endif()
  file(GLOB _bzip2_dirs ${SETUP_BZIP2_FETCH_DIR}/bzip2-*/bzlib.c)
endif()
list(GET _bzip2_dirs 0 _bzip2_first)
get_filename_component(SETUP_BZIP2_SOURCE_DIR ${_bzip2_first} DIRECTORY)
message(STATUS "bzip2 source: ${SETUP_BZIP2_SOURCE_DIR}")

# The library proper: the program and its tools are not needed.
add_library(bz2 STATIC
  ${SETUP_BZIP2_SOURCE_DIR}/blocksort.c
  ${SETUP_BZIP2_SOURCE_DIR}/huffman.c
  ${SETUP_BZIP2_SOURCE_DIR}/crctable.c
  ${SETUP_BZIP2_SOURCE_DIR}/randtable.c
  ${SETUP_BZIP2_SOURCE_DIR}/compress.c
  ${SETUP_BZIP2_SOURCE_DIR}/decompress.c
  ${SETUP_BZIP2_SOURCE_DIR}/bzlib.c)
target_include_directories(bz2 SYSTEM PUBLIC ${SETUP_BZIP2_SOURCE_DIR})
target_compile_definitions(bz2 PRIVATE _FILE_OFFSET_BITS=64)
# Its own sources, its own warnings: none of ours apply here.
target_compile_options(bz2 PRIVATE -w)
