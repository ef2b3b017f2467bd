// The SQL functions' bodies on plain values, one set for every database's
// extension: the same keys, validation, verdicts and differences as the
// tool. An extension reads its arguments, calls these and turns the result
// into its own value or error; none of them throws.
#ifndef MOLSTAMP_SQL_FUNCTIONS_H
#define MOLSTAMP_SQL_FUNCTIONS_H

#include <cstddef>
#include <string>
#include <string_view>

#include "keys/key_rules.h"
#include "keys/structure_service.h"

// What a function gives back to the database.
enum class SqlOutcome : unsigned char {
  kText,         // text holds the value
  kTruth,        // truth holds the value
  kNull,         // SQL NULL
  kOutOfMemory,  // the database's own out-of-memory error
  kError,        // an SQL error whose message text holds
};

// A function's result.
struct SqlResult {
  SqlOutcome outcome = SqlOutcome::kNull;
  bool truth = false;  // for kTruth
  std::string text;    // for kText, and kError's message
};

// inchikey(inchi) of a NUL-terminated argument: the library's key, NULL when
// it gives none.
SqlResult sql_inchikey(const char* inchi) noexcept;

// inchikey_standard(inchi): the key -s gives. Its structure call runs in
// service's worker process, so that an InChI on which the library corrupts
// its memory or goes down takes only that process with it (the call then
// fails, and the next starts another); an error when the worker ended for
// another reason or could not start. A database's services are made with
// may_run_in_process false, so that the library never runs in its process.
SqlResult sql_inchikey_standard(StructureService& service, const char* inchi) noexcept;

// The level named by inchi_valid's second argument, "syntax" or
// "structure", into level; false for any other text.
bool sql_validation_level(std::string_view name, Validation& level) noexcept;

// inchi_valid(inchi, level): whether --validate at that level (kSyntax or
// kStructure) passes the InChI; a structure call runs as in
// sql_inchikey_standard.
SqlResult sql_inchi_valid(StructureService& service, const char* inchi, Validation level) noexcept;

// inchikey_verdict(inchi, stored): check mode's verdict word on a stored key
// of n bytes ("InChIKey=" allowed; null stored is missing); NULL for what is
// not a candidate.
SqlResult sql_inchikey_verdict(const char* inchi, const char* stored, size_t n) noexcept;

// inchikey_difference(stored, computed): the check report's difference
// column for two keys; NULL when computed is no well-formed key.
SqlResult sql_inchikey_difference(std::string_view stored, std::string_view computed) noexcept;

// molstamp_version(): "molstamp <version>, <the InChI library's provenance>".
SqlResult sql_version() noexcept;

#endif
