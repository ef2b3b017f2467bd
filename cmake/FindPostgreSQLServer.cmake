# Finds what a PostgreSQL server extension is built against, through the
# pg_config of postgresql-server-dev-NN, and provides the imported target
# PostgreSQLServer::PostgreSQLServer (the server's headers: an extension
# links no library, the backend that loads it provides every symbol), and
#   PostgreSQLServer_PKGLIBDIR      where modules go
#   PostgreSQLServer_EXTENSION_DIR  where control files and scripts go
#   PostgreSQLServer_SHAREDIR       the server's shared files (extension/ below it)
#   PostgreSQLServer_BINDIR         the server's programs (initdb, pg_ctl)
#   PostgreSQLServer_VERSION        its release, "15.18"
find_program(PG_CONFIG pg_config)
if(PG_CONFIG)
  foreach(item includedir-server pkglibdir sharedir bindir version)
    execute_process(COMMAND ${PG_CONFIG} --${item} OUTPUT_VARIABLE value
      RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
      set(value "")
    endif()
    string(MAKE_C_IDENTIFIER "${item}" name)
    set(pg_${name} "${value}")
  endforeach()
  # libpq-dev ships a pg_config too; only the server's package has postgres.h.
  find_path(PostgreSQLServer_INCLUDE_DIR postgres.h HINTS "${pg_includedir_server}"
    NO_DEFAULT_PATH)
  set(PostgreSQLServer_PKGLIBDIR "${pg_pkglibdir}")
  set(PostgreSQLServer_SHAREDIR "${pg_sharedir}")
  set(PostgreSQLServer_EXTENSION_DIR "${pg_sharedir}/extension")
  set(PostgreSQLServer_BINDIR "${pg_bindir}")
  string(REGEX REPLACE "^PostgreSQL ([0-9.]+).*" "\\1" PostgreSQLServer_VERSION "${pg_version}")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(PostgreSQLServer
  REQUIRED_VARS PostgreSQLServer_INCLUDE_DIR PostgreSQLServer_PKGLIBDIR
  VERSION_VAR PostgreSQLServer_VERSION)

if(PostgreSQLServer_FOUND AND NOT TARGET PostgreSQLServer::PostgreSQLServer)
  add_library(PostgreSQLServer::PostgreSQLServer INTERFACE IMPORTED)
  set_target_properties(PostgreSQLServer::PostgreSQLServer PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${PostgreSQLServer_INCLUDE_DIR}")
endif()
mark_as_advanced(PG_CONFIG PostgreSQLServer_INCLUDE_DIR)
