// What a line becomes in annotation: the one definition, for every thread and
// path.
#ifndef MOLSTAMP_ANNOTATE_H
#define MOLSTAMP_ANNOTATE_H

#include <cstdint>
#include <cstdio>

#include "keys/annotator.h"

// Writes what line number `number` (length bytes, NULs included, with a NUL
// at line[length]) becomes to out. Whole lines: the line and LF unless
// no_copy, then "InChIKey=<key>" and LF if the line starts with "InC" and the
// library gives its key. Tables: the line and a TAB unless no_copy, then the
// key of the field (or nothing: no field, no candidate, a failed key) and
// LF; a header gets "InChIKey". A byte order mark before line 1 is copied but
// not read. A failed key is counted and logged as log_failure says. line is
// restored before the return. False, with nothing written, when a key call
// ran out of memory and that stops the run.
bool annotate_line(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out);

#endif
