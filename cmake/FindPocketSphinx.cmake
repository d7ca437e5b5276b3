# Debian's pocketsphinx.pc names an include directory that does not exist, so the
# headers and libraries are found by hand.
find_path(POCKETSPHINX_INCLUDE_DIR pocketsphinx.h PATH_SUFFIXES pocketsphinx REQUIRED)
find_path(SPHINXBASE_INCLUDE_DIR cmd_ln.h
    PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE}/sphinxbase /usr/include/sphinxbase REQUIRED)
find_library(POCKETSPHINX_LIBRARY pocketsphinx REQUIRED)
find_library(SPHINXBASE_LIBRARY sphinxbase REQUIRED)

add_library(PocketSphinx::PocketSphinx INTERFACE IMPORTED)
target_include_directories(PocketSphinx::PocketSphinx SYSTEM INTERFACE
    ${POCKETSPHINX_INCLUDE_DIR} ${SPHINXBASE_INCLUDE_DIR})
target_link_libraries(PocketSphinx::PocketSphinx INTERFACE
    ${POCKETSPHINX_LIBRARY} ${SPHINXBASE_LIBRARY})
