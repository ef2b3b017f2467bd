// The PostgreSQL extension: the tool's keys, validation and check verdicts as
// SQL functions over the core library (CREATE EXTENSION molstamp). Each
// backend is a process of its own, so a parallel query runs the library's
// structure calls on every worker at once.
//
// PostgreSQL reports errors with longjmp, which must not cross a C++ frame
// that owns anything: each function reads its arguments into palloc'd C
// strings, lets a noexcept body compute a plain Reply, and raises any error
// only after every C++ object is gone.

// PostgreSQL 15 leaves this empty on Unix; the module is built with hidden
// visibility, so the entry points say themselves that they are exported.
#define PGDLLEXPORT __attribute__((visibility("default")))

extern "C" {
#include "postgres.h"
// Keep this order: fmgr.h and builtins.h need postgres.h first.
#include "catalog/pg_type.h"
#include "fmgr.h"
#include "storage/ipc.h"
#include "utils/builtins.h"
#include "utils/lsyscache.h"
#include "utils/memutils.h"
}

#include <cstring>
#include <new>

#include "keys/sql_functions.h"

extern "C" {
PG_MODULE_MAGIC;
}

namespace {

// A function's result as PostgreSQL takes it: no destructor, so an error may
// be raised while it is alive.
struct Reply {
  SqlOutcome outcome = SqlOutcome::kNull;
  bool truth = false;
  text* value = nullptr;  // palloc'd, for kText and kError's message
};

// The Reply of a result: its text copied into the function's memory context,
// out of memory when even that copy fails.
Reply reply(const SqlResult& r) noexcept {
  Reply out;
  out.outcome = r.outcome;
  out.truth = r.truth;
  if (r.outcome != SqlOutcome::kText && r.outcome != SqlOutcome::kError) return out;
  size_t bytes = VARHDRSZ + r.text.size();
  out.value = static_cast<text*>(palloc_extended(bytes, MCXT_ALLOC_NO_OOM));
  if (out.value == nullptr) {
    out.outcome = SqlOutcome::kOutOfMemory;
    return out;
  }
  SET_VARSIZE(out.value, bytes);
  std::memcpy(VARDATA(out.value), r.text.data(), r.text.size());
  return out;
}

// Argument i, text or bytea, as a palloc'd NUL-terminated copy of its bytes;
// n, when given, gets their count.
char* argument(FunctionCallInfo fcinfo, int i, size_t* n = nullptr) {
  struct varlena* v = PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(i));
  size_t bytes = VARSIZE_ANY_EXHDR(v);
  char* s = static_cast<char*>(palloc(bytes + 1));
  std::memcpy(s, VARDATA_ANY(v), bytes);
  s[bytes] = '\0';
  if (n != nullptr) *n = bytes;
  return s;
}

// Ends the backend's worker process when the backend exits.
void end_service(int, Datum service) {
  stop_structure_service(*reinterpret_cast<StructureService*>(DatumGetPointer(service)));
}

// The backend's worker process for structure calls: one per backend (a
// parallel worker is a backend of its own), made at the first call that may
// need it, kept for the backend's life so that a call costs no fork, and
// ended with the backend. A backend is one thread, and the unit PostgreSQL
// gives an extension's state: this pointer is the module's only state.
StructureService* backend_service = nullptr;

StructureService& service_of() {
  if (backend_service == nullptr) {
    void* room = MemoryContextAlloc(TopMemoryContext, sizeof(StructureService));
    auto* s = new (room) StructureService;  // allocates nothing: no exception
    s->may_run_in_process = false;
    on_proc_exit(end_service, PointerGetDatum(s));
    backend_service = s;
  }
  return *backend_service;
}

// Returns a Reply as the function's Datum; the out-of-memory outcome is
// PostgreSQL's own out-of-memory error, and kError an error with its text.
Datum give(FunctionCallInfo fcinfo, const Reply& r) {
  switch (r.outcome) {
    case SqlOutcome::kText:
      PG_RETURN_TEXT_P(r.value);
    case SqlOutcome::kTruth:
      PG_RETURN_BOOL(r.truth);
    case SqlOutcome::kNull:
      break;
    case SqlOutcome::kOutOfMemory:
      ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory"),
                      errdetail("The InChI library or molstamp could not allocate memory.")));
    case SqlOutcome::kError:
      ereport(ERROR, (errcode(ERRCODE_SYSTEM_ERROR), errmsg("%s", text_to_cstring(r.value))));
  }
  PG_RETURN_NULL();
}

}  // namespace

extern "C" {

// The backend finds a function by its name and its info record: both are
// exported, which PostgreSQL 15's macro does only for the record.
#define MOLSTAMP_FUNCTION(name)             \
  PGDLLEXPORT Datum name(PG_FUNCTION_ARGS); \
  PG_FUNCTION_INFO_V1(name)

MOLSTAMP_FUNCTION(molstamp_inchikey);
MOLSTAMP_FUNCTION(molstamp_inchikey_standard);
MOLSTAMP_FUNCTION(molstamp_inchi_valid);
MOLSTAMP_FUNCTION(molstamp_inchikey_verdict);
MOLSTAMP_FUNCTION(molstamp_inchikey_difference);
MOLSTAMP_FUNCTION(molstamp_version_text);
MOLSTAMP_FUNCTION(molstamp_wrong_type);

// inchikey(inchi): the library's key, NULL when it gives none (strict).
Datum molstamp_inchikey(PG_FUNCTION_ARGS) {
  char* inchi = argument(fcinfo, 0);
  Reply r = reply(sql_inchikey(inchi));
  return give(fcinfo, r);
}

// inchikey_standard(inchi): the key -s gives (strict).
Datum molstamp_inchikey_standard(PG_FUNCTION_ARGS) {
  char* inchi = argument(fcinfo, 0);
  Reply r = reply(sql_inchikey_standard(service_of(), inchi));
  return give(fcinfo, r);
}

// inchi_valid(inchi [, level]): whether --validate at 'syntax' (the default)
// or 'structure' passes the InChI (strict).
Datum molstamp_inchi_valid(PG_FUNCTION_ARGS) {
  char* inchi = argument(fcinfo, 0);
  Validation level = Validation::kSyntax;
  if (PG_NARGS() > 1) {
    char* name = argument(fcinfo, 1);
    if (!sql_validation_level(name, level)) {
      ereport(ERROR,
              (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
               errmsg("inchi_valid(): the level is 'syntax' or 'structure', not \"%s\"", name)));
    }
  }
  Reply r = reply(sql_inchi_valid(service_of(), inchi, level));
  return give(fcinfo, r);
}

// inchikey_verdict(inchi, stored): check mode's verdict; a NULL stored key is
// missing, a NULL InChI or a non-candidate gives NULL (not strict).
Datum molstamp_inchikey_verdict(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(0)) PG_RETURN_NULL();
  char* inchi = argument(fcinfo, 0);
  char* stored = nullptr;
  size_t n = 0;
  if (!PG_ARGISNULL(1)) stored = argument(fcinfo, 1, &n);
  Reply r = reply(sql_inchikey_verdict(inchi, stored, n));
  return give(fcinfo, r);
}

// inchikey_difference(stored, computed): the check report's difference
// column (strict).
Datum molstamp_inchikey_difference(PG_FUNCTION_ARGS) {
  size_t stored_bytes = 0, computed_bytes = 0;
  char* stored = argument(fcinfo, 0, &stored_bytes);
  char* computed = argument(fcinfo, 1, &computed_bytes);
  Reply r = reply(sql_inchikey_difference({stored, stored_bytes}, {computed, computed_bytes}));
  return give(fcinfo, r);
}

// molstamp_version(): the tool's version and the InChI library's provenance.
Datum molstamp_version_text(PG_FUNCTION_ARGS) {
  Reply r = reply(sql_version());
  return give(fcinfo, r);
}

// The functions' overloads on "any": PostgreSQL resolves to them only what
// is neither text (nor a type that becomes text) nor bytea, and this says so.
Datum molstamp_wrong_type(PG_FUNCTION_ARGS) {
  const char* name = get_func_name(fcinfo->flinfo->fn_oid);
  for (int i = 0; i < PG_NARGS(); ++i) {
    Oid type = getBaseType(get_fn_expr_argtype(fcinfo->flinfo, i));
    if (type != TEXTOID && type != BYTEAOID && type != UNKNOWNOID) {  // a literal is text
      ereport(ERROR, (errcode(ERRCODE_DATATYPE_MISMATCH),
                      errmsg("%s() takes text or bytea, not %s", name, format_type_be(type))));
    }
  }
  ereport(ERROR, (errcode(ERRCODE_DATATYPE_MISMATCH),
                  errmsg("%s() takes both arguments as text or both as bytea", name)));
  PG_RETURN_NULL();
}

}  // extern "C"
