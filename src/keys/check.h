// Check mode: are the keys a file holds the keys of its InChIs? Each
// candidate's computed key is judged against its stored key, and the report
// lists those that do not agree.
#ifndef MOLSTAMP_CHECK_H
#define MOLSTAMP_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "keys/annotator.h"

// A candidate's verdict; kNone for a text that is no candidate.
enum class Verdict { kAgree, kDiffers, kMissing, kFailed, kNone };

// The report's word for a verdict: "agree", "differs", "missing", "failed"
// ("" for kNone, which the report never holds).
const char* verdict_word(Verdict v);

// The verdict on a candidate whose key the library gave (keyed, key) or
// not, against the n-byte stored key (n == 0: none), byte for byte; the
// stored key's "InChIKey=" prefix, if any, already stripped.
Verdict judge(bool keyed, const char* key, const char* stored, size_t n);

// What a line becomes in check mode: a candidate's report line (line
// number, verdict, stored key, computed key, InChI, TAB-separated; with
// a.format.difference a difference column after the verdict: the key parts
// that differ or "malformed", "invalid" or the failure's reason, nothing for
// a missing key) when its verdict is not agree, the report's header before
// line 1, failures logged as in annotation. On line files the stored key is the line after the
// candidate, when it begins with "InChIKey="; such a line is never a
// candidate, and the candidate waits in a.pending for it. False, with
// nothing written, when a key call ran out of memory and that stops the run.
bool check_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out);

// Judges the waiting candidate against the line after it, given as its
// stored key (n == 0: that line holds none, or there is none).
void settle_pending(Annotator& a, const char* stored, size_t n, FILE* out);

// Ends a check of `lines` lines: a candidate still waiting for its next line
// has none when the input was read to its end (complete), and gets no
// verdict when a read error may have taken it; the report of an empty input
// is its header alone.
void end_check(Annotator& a, int64_t lines, bool complete, FILE* out);

// Check mode's difference of a verdict: the parts of the computed key that
// the stored one (n bytes, its "InChIKey=" prefix, if any, still there)
// differs in, for kDiffers (key_difference); for kFailed "invalid" when
// validation refused the InChI, else why the key call failed (the words of
// the log's warning); empty for the others.
std::string check_difference(Verdict v, int status, const KeyNote& note, const char* key,
                             const char* stored, size_t n);

#endif
