// The library's word on an InChI beyond its key. The structure calls share
// one lock; the syntax and key calls need none.
#include "keys/structure.h"

#include <inchi_api.h>

#include <cstdio>
#include <cstring>

#include "keys/annotate.h"

static_assert(kStandardSyntax == INCHI_VALID_STANDARD &&
              kNonStandardSyntax == INCHI_VALID_NON_STANDARD);
static_assert(kKeyInvalidInchi == INCHIKEY_INVALID_INCHI);

// Set by CMake from the library's header and from dpkg-query; none where
// they do not say.
#ifndef MOLSTAMP_INCHI_RELEASE
#define MOLSTAMP_INCHI_RELEASE ""
#endif
#ifndef MOLSTAMP_INCHI_DEBIAN_VERSION
#define MOLSTAMP_INCHI_DEBIAN_VERSION ""
#endif

int syntax_code(const char* inchi) {
  // Strict mode (1) refuses valid InChIs such as caffeine's in this release:
  // the layout check alone, and the structure calls for the rest.
  return CheckINCHI(inchi, 0);
}

std::string syntax_reason(int code) {
  switch (code) {
    case kStandardSyntax:
    case kNonStandardSyntax:
      return "";
    case INCHI_INVALID_PREFIX:
      return "invalid prefix";
    case INCHI_INVALID_VERSION:
      return "invalid version";
    case INCHI_INVALID_LAYOUT:
      return "invalid layout";
    case INCHI_FAIL_I2I:
      return "InChI to InChI failed";
    default:
      return "refused (code " + std::to_string(code) + ")";
  }
}

std::mutex& structure_lock() {
  // The library's structure calls are not re-entrant within a process: a
  // second thread inside them gets inchi_Ret_BUSY, and some runs abort. One
  // lock for the process, whichever thread or module asks.
  static std::mutex lock;
  return lock;
}

bool structure_succeeded(const StructureResult& r) {
  return r.status == inchi_Ret_OKAY || r.status == inchi_Ret_WARNING;
}

std::string structure_failure(const StructureResult& r) {
  std::string text = r.structure ? "no standard InChI: " : "no structure: ";
  if (r.message.empty()) return text + "status " + std::to_string(r.status);
  return text + r.message;
}

StructureResult standard_inchi_of(const char* inchi) {
  StructureResult r;
  // The library takes its input as writable but does not write it.
  inchi_InputINCHI in{const_cast<char*>(inchi), const_cast<char*>("")};
  inchi_OutputStruct st;
  std::memset(&st, 0, sizeof st);
  std::lock_guard<std::mutex> hold(structure_lock());
  r.status = GetStructFromINCHI(&in, &st);
  if (r.status != inchi_Ret_OKAY && r.status != inchi_Ret_WARNING) {
    if (st.szMessage != nullptr) r.message = st.szMessage;
    FreeStructFromINCHI(&st);
    return r;
  }
  r.structure = true;
  inchi_Input structure{st.atom, st.stereo0D, const_cast<char*>(""), st.num_atoms, st.num_stereo0D};
  inchi_Output out;
  std::memset(&out, 0, sizeof out);
  r.status = GetStdINCHI(&structure, &out);
  if (structure_succeeded(r) && out.szInChI != nullptr) {
    r.text = out.szInChI;
  } else if (structure_succeeded(r)) {
    r.status = inchi_Ret_ERROR;  // success without a string is none
  }
  if (out.szMessage != nullptr) r.message = out.szMessage;
  FreeStdINCHI(&out);
  FreeStructFromINCHI(&st);
  return r;
}

bool is_standard_inchi(std::string_view inchi) { return inchi.substr(0, 9) == "InChI=1S/"; }

bool is_non_standard_inchi(std::string_view inchi) { return inchi.substr(0, 8) == "InChI=1/"; }

std::string structure_fault(std::string_view inchi, const StructureResult& derived) {
  if (is_standard_inchi(inchi)) {
    if (!structure_succeeded(derived)) return structure_failure(derived);
    return derived.text == inchi ? "" : "not canonical";
  }
  if (derived.structure) return "";
  return structure_failure(derived);
}

namespace {

// The longest text given to the structure calls. Real InChIs are some
// kilobytes at most (the library takes structures under 1024 atoms), and the
// structure parser's time grows much faster than a text's length: a 30 MB
// line would hold a run for hours.
constexpr size_t kLongestStructureText = size_t{1} << 20;

// True when the formula layer (from the first '/' to the next) has a
// component without atoms: empty, or a multiplier alone. The library's
// structure parser goes down on some of these (InChI=1/CH4., InChI=1/C2H6.2)
// or refuses them, by what its memory held before.
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

std::string structure_refusal(const char* inchi) {
  if (formula_without_atoms(inchi)) return "no structure: a formula component without atoms";
  if (std::strlen(inchi) > kLongestStructureText) return "too long for a structure (over 1 MiB)";
  return "";
}

std::string inchi_fault(const char* inchi) {
  int code = syntax_code(inchi);
  if (code != kStandardSyntax && code != kNonStandardSyntax) return syntax_reason(code);
  std::string refusal = structure_refusal(inchi);
  if (!refusal.empty()) return refusal;
  return structure_fault(inchi, standard_inchi_of(inchi));
}

StandardKey standard_key_from(const char* inchi, const StructureResult& derived) {
  StandardKey k;
  const char* source = inchi;
  if (is_non_standard_inchi(inchi)) {
    k.derived = true;
    if (!structure_succeeded(derived)) {
      k.status = kKeyInvalidInchi;
      k.message = structure_failure(derived);
      return k;
    }
    source = derived.text.c_str();
  }
  char key[256] = {};
  k.status = library_key(source, key);
  if (k.status == 0) k.key = key;
  return k;
}

StandardKey standard_key_of(const char* inchi) {
  if (!is_non_standard_inchi(inchi)) return standard_key_from(inchi, StructureResult());
  return standard_key_from(inchi, standard_inchi_of(inchi));
}

int standard_library_key(const char* inchi, char* key) {
  StandardKey k = standard_key_of(inchi);
  std::snprintf(key, 256, "%s", k.key.c_str());
  return k.status;
}

namespace {

// A key's parts, in key order: where each begins and how long it is.
struct KeyPart {
  const char* name;
  size_t begin;
  size_t length;
};

constexpr KeyPart kKeyParts[] = {{"skeleton", 0, 14},
                                 {"layers", 15, 8},
                                 {"standard", 23, 1},
                                 {"version", 24, 1},
                                 {"protonation", 26, 1}};

constexpr size_t kKeyLength = 27;

// key without an "InChIKey=" prefix.
std::string_view bare_key(std::string_view key) {
  constexpr std::string_view prefix = "InChIKey=";
  return key.substr(0, prefix.size()) == prefix ? key.substr(prefix.size()) : key;
}

// The bytes of key in a part, fewer (or none) when key is short.
std::string_view part_of(std::string_view key, const KeyPart& p) {
  return p.begin < key.size() ? key.substr(p.begin, p.length) : std::string_view();
}

}  // namespace

std::string key_difference(std::string_view stored, std::string_view computed) {
  stored = bare_key(stored);
  computed = bare_key(computed);
  // The library reads up to a NUL: a NUL inside would hide the bytes after it.
  std::string text(stored);
  if (text.size() != kKeyLength || CheckINCHIKey(text.c_str()) > 0) return "malformed";
  std::string parts;
  for (const KeyPart& p : kKeyParts) {
    if (part_of(stored, p) == part_of(computed, p)) continue;
    if (!parts.empty()) parts += ',';
    parts += p.name;
  }
  return parts;
}

std::string upstream_release(std::string_view debian_version) {
  auto digits = [](std::string_view text, bool dots) {
    size_t n = 0;
    while (n < text.size() && ((text[n] >= '0' && text[n] <= '9') || (dots && text[n] == '.'))) ++n;
    return n;
  };
  size_t epoch = digits(debian_version, false);
  if (epoch > 0 && epoch < debian_version.size() && debian_version[epoch] == ':')
    debian_version.remove_prefix(epoch + 1);
  size_t n = digits(debian_version, true);
  while (n > 0 && debian_version[n - 1] == '.') --n;
  if (n == 0 || debian_version[0] == '.') return "";
  return std::string(debian_version.substr(0, n));
}

std::string provenance_text(std::string_view release, std::string_view debian_version) {
  std::string text = "InChI library";
  if (!release.empty()) text.append(" ").append(release);
  if (!debian_version.empty()) text.append(" (Debian ").append(debian_version).append(")");
  return text;
}

std::string header_library_release() { return MOLSTAMP_INCHI_RELEASE; }

std::string debian_library_version() { return MOLSTAMP_INCHI_DEBIAN_VERSION; }

std::string library_provenance() {
  std::string debian = debian_library_version();
  std::string release = header_library_release();
  if (release.empty()) release = upstream_release(debian);
  return provenance_text(release, debian);
}
