#include "keys/key_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "keys/annotator.h"

namespace {

// What rule_key gives where the rules decide before the library keys: a text
// too long for the structure calls is refused at once (the parser's time
// grows much faster than its length), and only under a rule that needs them.
TEST(KeyRules, TextTooLongForAStructureIsRefusedAtOnce) {
  const std::string methane = "InChI=1/CH4/h1H4";
  const std::string longest =
      methane + "/" + std::string((size_t{1} << 20) - methane.size() - 1, 'x');
  const std::string too_long = longest + "x";
  struct Case {
    KeyRules rules;
    const std::string& inchi;
    int status;
    std::string reason;
  };
  const std::string refused = "too long for a structure (over 1 MiB)";
  KeyRules standard, structure, syntax;
  standard.standard = true;
  structure.validate = Validation::kStructure;
  syntax.validate = Validation::kSyntax;
  const Case cases[] = {
      {standard, too_long, kKeyNotDerived, refused},
      {structure, too_long, kKeyNotValid, refused},
      // One byte shorter goes to the structure calls, which refuse it as no
      // InChI: a refusal with the library's own reason.
      {standard, longest, kKeyNotDerived, ""},
      // No structure call asked for: the library keys what it is given.
      {syntax, too_long, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inchi.size());
    char key[kKeyBufferBytes] = {};
    KeyNote note;
    EXPECT_EQ(rule_key(c.rules, nullptr, c.inchi.c_str(), key, note), c.status);
    if (!c.reason.empty()) {
      EXPECT_EQ(note.reason, c.reason);
    } else if (c.status != 0) {
      EXPECT_NE(note.reason, refused);
    }
  }
}

}  // namespace

namespace {

// A formula component without atoms, on which the library's structure
// parser goes down or not by what its memory held before, is refused before
// any structure call: the same failure at every -j. The next string is keyed.
TEST(KeyRules, AFormulaComponentWithoutAtomsFailsAlone) {
  KeyRules standard, structure;
  standard.standard = true;
  structure.validate = Validation::kStructure;
  StructureService service;
  const std::string refused = "no structure: a formula component without atoms";
  struct Case {
    const KeyRules& rules;
    const char* inchi;
    int status;
    std::string reason;
  };
  const Case cases[] = {
      {standard, "InChI=1/CH4.", kKeyNotDerived, refused},
      {standard, "InChI=1/C6H6/c1-2-4-6-5-3-1/h1-6H", 0, ""},
      {structure, "InChI=1S/C2H6.2", kKeyNotValid, refused},
      {structure, "InChI=1S/C2H6.2/c1-2", kKeyNotValid, refused},
      {standard, "InChI=1/4C10H15N.2", kKeyNotDerived, refused},
      {standard, "InChI=1/.CH4", kKeyNotDerived, refused},
      {standard, "InChI=1/C6H6/c1-2-4-6-5-3-1/h1-6H", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inchi);
    char key[kKeyBufferBytes] = {};
    KeyNote note;
    EXPECT_EQ(rule_key(c.rules, &service, c.inchi, key, note), c.status);
    if (!c.reason.empty() || c.status == 0) {
      EXPECT_EQ(note.reason, c.reason);
    } else {
      EXPECT_NE(note.reason, refused);
    }
    if (c.status == 0) {
      EXPECT_STREQ(key, "UHOVQNZJYSORNB-UHFFFAOYSA-N");
    }
  }
  stop_structure_service(service);
}

}  // namespace
