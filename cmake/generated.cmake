# Sources generated at build time from the data shipped in the tree.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
