// The rules a candidate's key may be asked under beyond the plain key call:
// refuse what is not an InChI (--validate), and give a non-standard InChI the
// standard key of its structure (-s). One place for the tool's annotator and
// check, and for the batches of the Python module.
#ifndef MOLSTAMP_KEY_RULES_H
#define MOLSTAMP_KEY_RULES_H

#include <string>

#include "keys/structure_service.h"

// How far a candidate is validated before its key is computed.
enum class Validation : unsigned char {
  kNone,       // the library keys what it is given, as always
  kSyntax,     // the library's syntax check (CheckINCHI) must pass
  kStructure,  // and the structure round trip: a standard InChI comes back byte for byte
};

// The rules of a run or a batch: the same for every thread.
struct KeyRules {
  bool standard = false;                    // -s: standard keys of non-standard InChIs
  Validation validate = Validation::kNone;  // --validate
};

// Statuses of a key asked under rules that are not the library's own (which
// are 0 and positive).
constexpr int kKeyNotValid = -10;    // refused by validation; the note says why
constexpr int kKeyNotDerived = -11;  // -s: no standard InChI from the structure; the note says why
constexpr int kKeyWorkerLost = -12;  // the thread's worker process ended; the note says how

// What a key asked under rules says beside its status.
struct KeyNote {
  bool derived = false;  // the key is the standard key derived from a non-standard InChI
  std::string reason;    // why there is no key, for the statuses above
};

// True when keys under these rules may need the library's structure calls,
// which run one at a time in a process: -s, or --validate=structure.
inline bool needs_structure(const KeyRules& r) {
  return r.standard || r.validate == Validation::kStructure;
}

// The key of a NUL-terminated candidate under rules, into key
// (kKeyBufferBytes): the library's status, or one of the statuses above with
// note.reason. Structure calls go through service (a worker process of this
// thread's) when it is not null, else run here, serialized. With no rule in
// force it is library_key, and with -s a standard InChI is keyed as always:
// no structure call.
int rule_key(const KeyRules& rules, StructureService* service, const char* inchi, char* key,
             KeyNote& note);

#endif
