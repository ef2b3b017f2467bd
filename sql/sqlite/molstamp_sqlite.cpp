// The SQLite extension: the tool's keys, validation and check verdicts as SQL
// functions over the core library. Loaded with `.load molstamp` or
// load_extension('molstamp'); SQLite then calls sqlite3_molstamp_init.
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <cstddef>
#include <new>
#include <string>

#include "keys/sql_functions.h"

namespace {

// A text argument as the library reads it: its bytes with a NUL after them.
struct Argument {
  bool null = false;  // the argument is SQL NULL
  std::string text;   // its bytes otherwise
};

// Reads argument v of function `name` into a: text and blobs are taken byte
// for byte, NULL is noted. False, with the SQL error set, for a number or
// when SQLite ran out of memory converting the value.
bool read_argument(sqlite3_context* ctx, sqlite3_value* v, const char* name, Argument& a) {
  int type = sqlite3_value_type(v);
  if (type == SQLITE_NULL) {
    a.null = true;
    return true;
  }
  const void* bytes = nullptr;
  if (type == SQLITE_TEXT) {
    bytes = sqlite3_value_text(v);
  } else if (type == SQLITE_BLOB) {
    bytes = sqlite3_value_blob(v);
  } else {
    std::string message = std::string(name) + "() takes text or a blob, not " +
                          (type == SQLITE_INTEGER ? "an integer" : "a real number");
    sqlite3_result_error(ctx, message.c_str(), -1);
    return false;
  }
  int n = sqlite3_value_bytes(v);
  if (bytes == nullptr && n > 0) {  // SQLite's own conversion ran out of memory
    sqlite3_result_error_nomem(ctx);
    return false;
  }
  a.text.assign(static_cast<const char*>(bytes), static_cast<size_t>(n));
  return true;
}

// Gives a function's result to SQLite.
void give(sqlite3_context* ctx, const SqlResult& r) {
  switch (r.outcome) {
    case SqlOutcome::kText:
      return sqlite3_result_text(ctx, r.text.data(), static_cast<int>(r.text.size()),
                                 SQLITE_TRANSIENT);
    case SqlOutcome::kTruth:
      return sqlite3_result_int(ctx, r.truth ? 1 : 0);
    case SqlOutcome::kNull:
      return sqlite3_result_null(ctx);
    case SqlOutcome::kOutOfMemory:
      return sqlite3_result_error_nomem(ctx);
    case SqlOutcome::kError:
      return sqlite3_result_error(ctx, r.text.c_str(), -1);
  }
}

// inchikey(inchi): the library's key, NULL when it gives none.
void inchikey(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Argument inchi;
  if (!read_argument(ctx, argv[0], "inchikey", inchi)) return;
  if (inchi.null) return sqlite3_result_null(ctx);
  give(ctx, sql_inchikey(inchi.text.c_str()));
}

// The structure calls' worker process of a function on a connection: its
// registration's user data, used by one statement at a time (the
// connection's), ended when the connection closes.
StructureService& service_of(sqlite3_context* ctx) {
  return *static_cast<StructureService*>(sqlite3_user_data(ctx));
}

// inchikey_standard(inchi): the standard key of its structure, as -s gives
// it; the structure call runs in a worker process.
void inchikey_standard(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Argument inchi;
  if (!read_argument(ctx, argv[0], "inchikey_standard", inchi)) return;
  if (inchi.null) return sqlite3_result_null(ctx);
  give(ctx, sql_inchikey_standard(service_of(ctx), inchi.text.c_str()));
}

// inchi_valid(inchi [, level]): 1 when the InChI passes --validate at
// level 'syntax' (the default) or 'structure', else 0.
void inchi_valid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Argument inchi, level;
  if (!read_argument(ctx, argv[0], "inchi_valid", inchi)) return;
  if (argc > 1 && !read_argument(ctx, argv[1], "inchi_valid", level)) return;
  // NULL in, NULL out, as in PostgreSQL, whose function is strict.
  if (inchi.null || (argc > 1 && level.null)) return sqlite3_result_null(ctx);
  Validation validation = Validation::kSyntax;
  if (argc > 1 && !sql_validation_level(level.text, validation)) {
    return sqlite3_result_error(ctx, "inchi_valid(): the level is 'syntax' or 'structure'", -1);
  }
  give(ctx, sql_inchi_valid(service_of(ctx), inchi.text.c_str(), validation));
}

// inchikey_verdict(inchi, stored): check mode's verdict on a candidate's
// stored key ("InChIKey=" allowed); NULL for what is no candidate.
void inchikey_verdict(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Argument inchi, stored;
  if (!read_argument(ctx, argv[0], "inchikey_verdict", inchi)) return;
  if (!read_argument(ctx, argv[1], "inchikey_verdict", stored)) return;
  if (inchi.null) return sqlite3_result_null(ctx);
  give(ctx, sql_inchikey_verdict(inchi.text.c_str(), stored.null ? nullptr : stored.text.data(),
                                 stored.text.size()));
}

// inchikey_difference(stored, computed): the report's difference column for
// two keys; NULL when either is NULL.
void inchikey_difference(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Argument stored, computed;
  if (!read_argument(ctx, argv[0], "inchikey_difference", stored)) return;
  if (!read_argument(ctx, argv[1], "inchikey_difference", computed)) return;
  if (stored.null || computed.null) return sqlite3_result_null(ctx);
  give(ctx, sql_inchikey_difference(stored.text, computed.text));
}

// molstamp_version(): "molstamp <version>, <the library's provenance>".
void version(sqlite3_context* ctx, int, sqlite3_value**) { give(ctx, sql_version()); }

using Function = void (*)(sqlite3_context*, int, sqlite3_value**);

// Runs a function so that no exception reaches SQLite: running out of
// memory is SQLite's out-of-memory error, anything else an SQL error.
template <Function f>
void guarded(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  try {
    f(ctx, argc, argv);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(ctx);
  } catch (...) {
    sqlite3_result_error(ctx, "molstamp: unexpected internal error", -1);
  }
}

// A function's SQL name, its argument count, its body, and whether it may
// make structure calls (and so has a StructureService as its user data).
struct Registration {
  const char* name;
  int arguments;
  Function body;
  bool structure;
};

constexpr Registration kFunctions[] = {
    {"inchikey", 1, guarded<inchikey>, false},
    {"inchikey_standard", 1, guarded<inchikey_standard>, true},
    {"inchi_valid", 1, guarded<inchi_valid>, true},
    {"inchi_valid", 2, guarded<inchi_valid>, true},
    {"inchikey_verdict", 2, guarded<inchikey_verdict>, false},
    {"inchikey_difference", 2, guarded<inchikey_difference>, false},
    {"molstamp_version", 0, guarded<version>, false},
};

// Ends a function's worker process when SQLite lets go of it: the
// connection closes, or the function is registered again.
void end_service(void* service) {
  auto* s = static_cast<StructureService*>(service);
  stop_structure_service(*s);
  delete s;
}

}  // namespace

// The entry point SQLite derives from the file's name: registers the
// functions on db, deterministic and innocuous so that indexes and generated
// columns may use them.
extern "C" __attribute__((visibility("default"))) int sqlite3_molstamp_init(
    sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  for (const Registration& r : kFunctions) {
    StructureService* service = nullptr;
    if (r.structure) {
      service = new (std::nothrow) StructureService;  // its worker starts at its first call
      if (service == nullptr) return SQLITE_NOMEM;
      service->may_run_in_process = false;
    }
    // SQLite calls end_service itself when the registration fails.
    int rc = sqlite3_create_function_v2(db, r.name, r.arguments, flags, service, r.body, nullptr,
                                        nullptr, service != nullptr ? end_service : nullptr);
    if (rc != SQLITE_OK) {
      if (error != nullptr) *error = sqlite3_mprintf("molstamp: cannot register %s()", r.name);
      return rc;
    }
  }
  return SQLITE_OK;
}
