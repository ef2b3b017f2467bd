// The key rules: syntax, then the structure when a rule needs it, then the key.
#include "keys/key_rules.h"

#include <cstring>

#include "keys/annotator.h"
#include "keys/structure.h"

namespace {

// The longest text given to the structure calls. Real InChIs are some
// kilobytes at most (the library takes structures under 1024 atoms), and the
// structure parser's time grows much faster than a text's length: a 30 MB
// line would hold a run for hours.
constexpr size_t kLongestStructureText = size_t{1} << 20;

// True when the formula layer (from the first '/' to the next) has a
// component without atoms: empty, or a multiplier alone. The library's
// structure parser goes down on some of these (InChI=1/CH4., InChI=1/C2H6.2)
// or refuses them, by what its memory held before: refused here, they fail
// the same way at every -j.
bool formula_without_atoms(const char* inchi) {
  const char* p = std::strchr(inchi, '/');
  if (p == nullptr || p[1] == '/' || p[1] == '\0') return false;  // an empty InChI
  for (++p;; ++p) {
    while (*p >= '0' && *p <= '9') ++p;
    if (*p < 'A' || *p > 'Z') return true;
    while (*p != '\0' && *p != '/' && *p != '.') ++p;
    if (*p != '.') return false;
  }
}

}  // namespace

int rule_key(const KeyRules& rules, StructureService* service, const char* inchi, char* key,
             KeyNote& note) {
  note.derived = false;
  note.reason.clear();
  if (rules.validate != Validation::kNone) {
    int code = syntax_code(inchi);
    if (code != kStandardSyntax && code != kNonStandardSyntax) {
      note.reason = syntax_reason(code);
      return kKeyNotValid;
    }
  }
  bool derive = rules.standard && is_non_standard_inchi(inchi);
  if (rules.validate != Validation::kStructure && !derive) return library_key(inchi, key);
  if (formula_without_atoms(inchi)) {
    note.reason = "no structure: a formula component without atoms";
    return rules.validate == Validation::kStructure ? kKeyNotValid : kKeyNotDerived;
  }
  if (std::strlen(inchi) > kLongestStructureText) {
    note.reason = "too long for a structure (over 1 MiB)";
    return rules.validate == Validation::kStructure ? kKeyNotValid : kKeyNotDerived;
  }
  StructureResult structure =
      service != nullptr ? structure_call(*service, inchi) : standard_inchi_of(inchi);
  if (structure.status == kWorkerLost) {
    note.reason = structure.message;
    return kKeyWorkerLost;
  }
  // The library went down on this very text, in a process of its own: the
  // text gets no key, and the run goes on with a new worker.
  if (structure.status == kWorkerCrashed) {
    note.reason = structure.message;
    return rules.validate == Validation::kStructure ? kKeyNotValid : kKeyNotDerived;
  }
  if (rules.validate == Validation::kStructure) {
    note.reason = structure_fault(inchi, structure);
    if (!note.reason.empty()) return kKeyNotValid;
  }
  if (!derive) return library_key(inchi, key);
  StandardKey standard = standard_key_from(inchi, structure);
  if (standard.status != 0) {
    note.reason = standard.message;
    return standard.status == kKeyInvalidInchi ? kKeyNotDerived : standard.status;
  }
  std::memcpy(key, standard.key.c_str(), standard.key.size() + 1);
  note.derived = true;
  return 0;
}
