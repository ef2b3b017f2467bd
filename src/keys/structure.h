// What the library says of an InChI beyond its key: its syntax, the
// structure behind it and that structure's standard InChI and key, how a
// stored key differs from a computed one, and which library said it.
#ifndef MOLSTAMP_STRUCTURE_H
#define MOLSTAMP_STRUCTURE_H

#include <mutex>
#include <string>
#include <string_view>

// CheckINCHI's code for a valid standard InChI.
constexpr int kStandardSyntax = 0;
// CheckINCHI's code for a valid non-standard InChI.
constexpr int kNonStandardSyntax = -1;

// The library's light syntax check of a NUL-terminated InChI: kStandardSyntax,
// kNonStandardSyntax, else the refusal (1 prefix, 2 version, 3 layout, 4
// InChI to InChI failed). Safe on any thread.
int syntax_code(const char* inchi);

// A short reason for a syntax code: "" for the valid codes, "invalid
// prefix", "invalid version", "invalid layout", "InChI to InChI failed",
// else "refused (code N)".
std::string syntax_reason(int code);

// The one lock of the process's structure calls: held by every call of
// this unit into the library's structure code, and while a worker process is
// forked, so that the child's copy of the library is between calls.
std::mutex& structure_lock();

// What a structure call gave: the library's status (0 or 1 succeeded), the
// structure and its standard InChI, or the library's message.
struct StructureResult {
  int status = 0;          // GetStdINCHI's, or GetStructFromINCHI's when that failed
  bool structure = false;  // GetStructFromINCHI rebuilt a structure
  std::string text;        // the standard InChI, when status is 0 or 1
  std::string message;     // the library's message: a warning or why it failed
};

// True when r holds a standard InChI.
bool structure_succeeded(const StructureResult& r);

// How a failed structure call reads in a report: "no structure: <message>"
// or "no standard InChI: <message>", the status when the library gave no
// message.
std::string structure_failure(const StructureResult& r);

// The standard InChI of the structure the library rebuilds from a
// NUL-terminated InChI (GetStructFromINCHI, then GetStdINCHI), serialized
// with every other structure call of the process.
StructureResult standard_inchi_of(const char* inchi);

// True when inchi begins with "InChI=1S/".
bool is_standard_inchi(std::string_view inchi);

// True when inchi begins with "InChI=1/": its standard key needs its structure.
bool is_non_standard_inchi(std::string_view inchi);

// The structure fault of an InChI given what its structure call gave
// (derived): "" when a standard InChI came back byte for byte or a
// non-standard one gave a structure; "not canonical" when a standard InChI
// came back different; else the call's failure.
std::string structure_fault(std::string_view inchi, const StructureResult& derived);

// Why a NUL-terminated text goes to no structure call, "" when it may: a
// formula component without atoms (the library's parser may go down on it,
// taking the process with it) or a text over 1 MiB.
std::string structure_refusal(const char* inchi);

// The fault of a NUL-terminated InChI, "" for none: its syntax reason when
// CheckINCHI refuses it, else its structure refusal, else its structure
// fault (one serialized structure call).
std::string inchi_fault(const char* inchi);

// GetINCHIKeyFromINCHI's status when the InChI is invalid: what a failed
// structure call makes of a key.
constexpr int kKeyInvalidInchi = 20;

// A standard key: the key call's status and key, or why there is none.
struct StandardKey {
  int status = 0;        // 0: key holds the key; kKeyInvalidInchi when the structure call failed
  bool derived = false;  // the key is that of the standard InChI of the InChI's structure
  std::string key;       // the 27 letters, when status is 0
  std::string message;   // the failed structure call's report
};

// The standard key of an InChI given its structure call (derived, read only
// when is_non_standard_inchi(inchi)): the key of the standard InChI it gave,
// or a failed key with its report. Any other InChI is keyed as it stands.
StandardKey standard_key_from(const char* inchi, const StructureResult& derived);

// The standard key of a NUL-terminated InChI: "InChI=1/" strings through
// their structure (one serialized structure call), any other as it stands
// (no structure call).
StandardKey standard_key_of(const char* inchi);

// standard_key_of as a key function of annotate.h: the status, and the key
// into key (at least 256 bytes).
int standard_library_key(const char* inchi, char* key);

// How a stored key (an "InChIKey=" prefix allowed) differs from a computed
// one: "malformed" when CheckINCHIKey refuses the stored key; else the parts
// that differ, comma-separated in key order, among "skeleton", "layers",
// "standard", "version", "protonation"; "" when they are equal.
std::string key_difference(std::string_view stored, std::string_view computed);

// The release at the head of a version text: "1.03" of "1.03+dfsg-4+b2"
// (a Debian epoch skipped) or of "1.03.\n..."; "" when there is none.
std::string upstream_release(std::string_view debian_version);

// The provenance line of a release and a Debian version: "InChI library
// 1.03 (Debian 1.03+dfsg-4+b2)", without the parenthesis when debian_version
// is empty, "InChI library" alone when release is empty too.
std::string provenance_text(std::string_view release, std::string_view debian_version);

// The release of the InChI library this build was configured against, as
// its header states it ("1.03"); "" when it states none. The library itself
// says it only in its help text, and leaks a few bytes each time it does.
std::string header_library_release();

// The Debian version of the InChI library this build was configured
// against, "" when dpkg-query was not there to say.
std::string debian_library_version();

// The provenance line of the linked library: "InChI library 1.03 (Debian
// 1.03+dfsg-4+b2)", the release from its header, else from the Debian
// version's upstream part.
std::string library_provenance();

#endif
