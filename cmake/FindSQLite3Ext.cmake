# Finds the header of SQLite's loadable extensions (Debian's libsqlite3-dev)
# and provides the imported target SQLite3Ext::SQLite3Ext: its include
# directory alone, since an extension calls SQLite through the routines the
# loading process hands it and links no SQLite library.
find_path(SQLite3Ext_INCLUDE_DIR sqlite3ext.h)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(SQLite3Ext REQUIRED_VARS SQLite3Ext_INCLUDE_DIR)

if(SQLite3Ext_FOUND AND NOT TARGET SQLite3Ext::SQLite3Ext)
  add_library(SQLite3Ext::SQLite3Ext INTERFACE IMPORTED)
  set_target_properties(SQLite3Ext::SQLite3Ext PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${SQLite3Ext_INCLUDE_DIR}")
endif()
mark_as_advanced(SQLite3Ext_INCLUDE_DIR)
