// The run's mode, annotation or check, chosen once per run: what each line
// becomes, and how the lines end.
#ifndef MOLSTAMP_LINE_STEP_H
#define MOLSTAMP_LINE_STEP_H

#include <cstdint>
#include <cstdio>

#include "keys/annotate.h"
#include "keys/annotator.h"
#include "keys/check.h"

// Writes what line number `number` becomes to out, as annotate_line and
// check_line do; false, with nothing written, when the run must stop.
using LineStep = bool (*)(Annotator& a, char* line, uint32_t length, int64_t number, FILE* out);

// The step of f's mode: check_line in check mode, else annotate_line.
LineStep line_step(const LineFormat& f);

// Ends the lines, `lines` of them, in a's mode: end_check in check mode;
// annotation has nothing left to write.
void end_lines(Annotator& a, int64_t lines, bool complete, FILE* out);

#endif
