#include "keys/sql_functions.h"

#include <gtest/gtest.h>

#include <string>

#include "reference_set.h"

namespace {

const char kBenzene[] = "InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H";
const char kBenzeneKey[] = "UHOVQNZJYSORNB-UHFFFAOYSA-N";

// A result as one comparable text: "text:<value>", "true", "false", "null"
// or "out of memory".
std::string shown(const SqlResult& r) {
  switch (r.outcome) {
    case SqlOutcome::kText:
      return "text:" + r.text;
    case SqlOutcome::kTruth:
      return r.truth ? "true" : "false";
    case SqlOutcome::kNull:
      return "null";
    case SqlOutcome::kOutOfMemory:
      return "out of memory";
    case SqlOutcome::kError:
      return "error:" + r.text;
  }
  return "?";
}

TEST(SqlFunctions, KeysAreTheLibrarysOrNull) {
  struct Case {
    const char* inchi;
    std::string wanted;
  } cases[] = {
      {kBenzene, std::string("text:") + kBenzeneKey},
      {"InChI=1S/", "null"},
      {"", "null"},
      {"CCO", "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(shown(sql_inchikey(c.inchi)), c.wanted) << c.inchi;
}

TEST(SqlFunctions, StandardKeysOfTheReferenceSet) {
  StructureService service;
  int checked = 0;
  for (const auto& [inchi, key] : reference_keys()) {
    if (inchi.rfind("InChI=1/", 0) != 0 || checked == 40) continue;
    EXPECT_EQ(shown(sql_inchikey_standard(service, inchi.c_str())),
              "text:" + reference_keys().at(paired_standard(inchi)))
        << inchi;
    ++checked;
  }
  EXPECT_EQ(checked, 40);
  EXPECT_EQ(shown(sql_inchikey_standard(service, "InChI=1/")), "null");
  stop_structure_service(service);
}

TEST(SqlFunctions, Levels) {
  struct Case {
    const char* name;
    bool known;
    Validation level;
  } cases[] = {{"syntax", true, Validation::kSyntax},
               {"structure", true, Validation::kStructure},
               {"", false, Validation::kNone},
               {"Syntax", false, Validation::kNone},
               {"structure ", false, Validation::kNone}};
  for (const Case& c : cases) {
    Validation level = Validation::kNone;
    EXPECT_EQ(sql_validation_level(c.name, level), c.known) << c.name;
    EXPECT_EQ(level, c.level) << c.name;
  }
}

TEST(SqlFunctions, Validity) {
  StructureService service;
  struct Case {
    const char* inchi;
    const char* syntax;
    const char* structure;
  } cases[] = {
      {kBenzene, "true", "true"},
      {"InChI=1S/CH4/h1H4/garbage", "true", "false"},
      {"InChI=1S/H2O_h1H2", "false", "false"},
      {"", "false", "false"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shown(sql_inchi_valid(service, c.inchi, Validation::kSyntax)), c.syntax) << c.inchi;
    EXPECT_EQ(shown(sql_inchi_valid(service, c.inchi, Validation::kStructure)), c.structure)
        << c.inchi;
  }
  stop_structure_service(service);
}

TEST(SqlFunctions, Verdicts) {
  const std::string prefixed = std::string("InChIKey=") + kBenzeneKey;
  const std::string other = "XLYOFNOQVPJJNP-UHFFFAOYSA-N";  // water's
  struct Case {
    const char* inchi;
    const char* stored;  // null: SQL NULL
    size_t n;
    std::string wanted;
  } cases[] = {
      {kBenzene, kBenzeneKey, 27, "text:agree"},
      {kBenzene, prefixed.c_str(), prefixed.size(), "text:agree"},
      {kBenzene, other.c_str(), other.size(), "text:differs"},
      {kBenzene, kBenzeneKey, 26, "text:differs"},
      {kBenzene, nullptr, 0, "text:missing"},
      {kBenzene, nullptr, 5, "text:missing"},  // a NULL's length is never read
      {kBenzene, "", 0, "text:missing"},
      {kBenzene, "InChIKey=", 9, "text:missing"},
      {"InChI=1S/", kBenzeneKey, 27, "text:failed"},
      {"InChIgarbage", nullptr, 0, "text:failed"},
      {"CCO", kBenzeneKey, 27, "null"},
      {"", kBenzeneKey, 27, "null"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shown(sql_inchikey_verdict(c.inchi, c.stored, c.n)), c.wanted)
        << c.inchi << " " << (c.stored ? c.stored : "NULL") << " " << c.n;
  }
}

TEST(SqlFunctions, DifferencesAndVersion) {
  EXPECT_EQ(shown(sql_inchikey_difference(kBenzeneKey, kBenzeneKey)), "text:");
  EXPECT_EQ(shown(sql_inchikey_difference("UHOVQNZJYSORNB-UHFFFAOYSA-O", kBenzeneKey)),
            "text:protonation");
  EXPECT_EQ(shown(sql_inchikey_difference("benzene", kBenzeneKey)), "text:malformed");
  EXPECT_EQ(shown(sql_inchikey_difference(kBenzeneKey, std::string(kBenzeneKey) + "XXXX")), "null");
  EXPECT_EQ(shown(sql_inchikey_difference(kBenzeneKey, "")), "null");
  std::string version = shown(sql_version());
  EXPECT_EQ(version.rfind("text:molstamp ", 0), 0u) << version;
  EXPECT_NE(version.find(", InChI library"), std::string::npos) << version;
}

}  // namespace
