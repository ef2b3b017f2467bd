# Finds the InChI library (Debian's libinchi-dev ships neither pkg-config nor
# CMake files) and provides the imported target InChI::InChI.
find_path(InChI_INCLUDE_DIR inchi_api.h)
find_library(InChI_LIBRARY NAMES inchi)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(InChI REQUIRED_VARS InChI_LIBRARY InChI_INCLUDE_DIR)

if(InChI_FOUND AND NOT TARGET InChI::InChI)
  add_library(InChI::InChI UNKNOWN IMPORTED)
  set_target_properties(InChI::InChI PROPERTIES
    IMPORTED_LOCATION "${InChI_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${InChI_INCLUDE_DIR}"
    # The shared library uses libm without linking it.
    INTERFACE_LINK_LIBRARIES m)
endif()
mark_as_advanced(InChI_INCLUDE_DIR InChI_LIBRARY)
