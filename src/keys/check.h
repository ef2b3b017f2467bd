// Check mode: are the keys a file holds the keys of its InChIs? Each
// candidate's computed key is judged against its stored key, and the report
// lists those that do not agree.
#ifndef MOLSTAMP_CHECK_H
#define MOLSTAMP_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "keys/annotate.h"

// A candidate's verdict.
enum class Verdict { kAgree, kDiffers, kMissing, kFailed };

// The report's word for a verdict: "agree", "differs", "missing", "failed".
const char* verdict_word(Verdict v);

// The key in a stored field of n bytes as it is compared: without an
// "InChIKey=" prefix, n set to what is left (0: no stored key).
const char* stored_key(const char* field, size_t& n);

// The verdict on a candidate whose key the library gave (keyed, key) or
// not, against the n-byte stored key (n == 0: none), byte for byte.
Verdict judge(bool keyed, const char* key, const char* stored, size_t n);

// What annotate_line does in check mode: a candidate's report line (line
// number, verdict, stored key, computed key, InChI, TAB-separated) when its
// verdict is not agree, the report's header before line 1, failures logged
// as in annotation. On line files the stored key is the line after the
// candidate, when it begins with "InChIKey="; such a line is never a
// candidate, and the candidate waits in a.pending for it.
bool check_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out);

// Judges the waiting candidate against the line after it, given as its
// stored key (n == 0: that line holds none, or there is none).
void settle_pending(Annotator& a, const char* stored, size_t n, FILE* out);

// Writes the report's header line.
void write_report_header(FILE* out);

// The stored key that a line of a file checked line by line holds for the
// candidate before it: the text after "InChIKey=", n set to its length;
// null when the line holds none.
const char* key_line_key(const char* line, size_t& n);

#endif
