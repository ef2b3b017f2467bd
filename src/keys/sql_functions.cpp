#include "keys/sql_functions.h"

#include <new>

#include "keys/annotator.h"
#include "keys/check.h"
#include "keys/structure.h"
#include "sys/version.h"

namespace {

SqlResult text_result(std::string text) {
  SqlResult r;
  r.outcome = SqlOutcome::kText;
  r.text = std::move(text);
  return r;
}

SqlResult out_of_memory() {
  SqlResult r;
  r.outcome = SqlOutcome::kOutOfMemory;
  return r;
}

// A key call's result: the key for status 0, out of memory for the
// library's own, NULL for a key it refused.
SqlResult key_result(int status, const char* key) {
  if (status == 0) return text_result(key);
  if (status == kKeyOutOfMemory) return out_of_memory();
  return SqlResult{};
}

// The error of a structure call whose worker process ended other than by the
// library's fault (killed, say), or could not start: not an answer about the
// InChI.
SqlResult worker_lost(const KeyNote& note) {
  SqlResult r;
  r.outcome = SqlOutcome::kError;
  r.text = "the structure call failed: " + note.reason;
  return r;
}

// Runs a body so that running out of memory anywhere in it, in the library
// or in our own strings, is the out-of-memory outcome and nothing escapes.
template <typename Body>
SqlResult guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {  // bad_alloc, or length_error from a string that cannot grow
    return out_of_memory();
  }
}

}  // namespace

SqlResult sql_inchikey(const char* inchi) noexcept {
  return guarded([&] {
    char key[kKeyBufferBytes] = {};
    int status = library_key(inchi, key);
    return key_result(status, key);
  });
}

SqlResult sql_inchikey_standard(StructureService& service, const char* inchi) noexcept {
  return guarded([&] {
    KeyRules rules;
    rules.standard = true;
    KeyNote note;
    char key[kKeyBufferBytes] = {};
    int status = rule_key(rules, &service, inchi, key, note);
    if (status == kKeyWorkerLost) return worker_lost(note);
    return key_result(status, key);
  });
}

bool sql_validation_level(std::string_view name, Validation& level) noexcept {
  if (name == "syntax") {
    level = Validation::kSyntax;
  } else if (name == "structure") {
    level = Validation::kStructure;
  } else {
    return false;
  }
  return true;
}

SqlResult sql_inchi_valid(StructureService& service, const char* inchi, Validation level) noexcept {
  return guarded([&] {
    // The key rules validate before they key: the key a valid InChI gets, or
    // fails to get, does not matter here.
    KeyRules rules;
    rules.validate = level;
    KeyNote note;
    char key[kKeyBufferBytes] = {};
    int status = rule_key(rules, &service, inchi, key, note);
    if (status == kKeyWorkerLost) return worker_lost(note);
    SqlResult r;
    r.outcome = SqlOutcome::kTruth;
    r.truth = status != kKeyNotValid;
    return r;
  });
}

SqlResult sql_inchikey_verdict(const char* inchi, const char* stored, size_t n) noexcept {
  return guarded([&] {
    if (!is_candidate(inchi)) return SqlResult{};
    char key[kKeyBufferBytes] = {};
    int status = library_key(inchi, key);
    if (status == kKeyOutOfMemory) return out_of_memory();
    if (stored == nullptr) n = 0;
    strip_key_prefix(stored, n);
    return text_result(verdict_word(judge(status == 0, key, stored, n)));
  });
}

SqlResult sql_inchikey_difference(std::string_view stored, std::string_view computed) noexcept {
  return guarded([&] {
    // In the tool the computed key is the library's; here it is any text,
    // and one that is no key has no parts to tell apart.
    if (key_difference(computed, computed) == "malformed") return SqlResult{};
    return text_result(key_difference(stored, computed));
  });
}

SqlResult sql_version() noexcept {
  return guarded([] {
    return text_result(std::string("molstamp ") + molstamp_version() + ", " + library_provenance());
  });
}
