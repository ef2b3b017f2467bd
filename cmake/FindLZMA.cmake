# Finds liblzma (Debian's liblzma-dev), which reads xz, and provides the
# imported target LZMA::LZMA.
find_path(LZMA_INCLUDE_DIR lzma.h)
find_library(LZMA_LIBRARY NAMES lzma)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LZMA REQUIRED_VARS LZMA_LIBRARY LZMA_INCLUDE_DIR)

if(LZMA_FOUND AND NOT TARGET LZMA::LZMA)
  add_library(LZMA::LZMA UNKNOWN IMPORTED)
  set_target_properties(LZMA::LZMA PROPERTIES
    IMPORTED_LOCATION "${LZMA_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${LZMA_INCLUDE_DIR}")
endif()
mark_as_advanced(LZMA_INCLUDE_DIR LZMA_LIBRARY)
