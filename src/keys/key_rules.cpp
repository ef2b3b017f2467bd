// The key rules: syntax, then the structure when a rule needs it, then the key.
#include "keys/key_rules.h"

#include <cstring>

#include "keys/annotator.h"
#include "keys/structure.h"

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
  note.reason = structure_refusal(inchi);
  if (!note.reason.empty()) {
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
