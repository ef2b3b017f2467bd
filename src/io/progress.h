// Where a run looks up from its lines, the same in every mode: a progress
// print every 5000 lines, and a check of its output every 256 KiB of input.
#ifndef MOLSTAMP_PROGRESS_H
#define MOLSTAMP_PROGRESS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Progress is shown after every this many lines.
constexpr int64_t kProgressEvery = 5000;

// True when the line numbered `number` is followed by a progress print.
inline bool is_progress_line(int64_t number) { return number % kProgressEvery == 0; }

// Where progress is shown. Off a terminal a print is the line count alone,
// every time; on a terminal it also gives the rate and, when the input's size
// is known, the share read and the time left, at most about ten times a
// second, at once.
struct Progress {
  FILE* console = nullptr;
  bool terminal = false;
  int input_fd = -1;             // the input's descriptor, whose offset tells how much is read
  uint64_t input_size = 0;       // its size when it is a regular file, else 0
  double start = 0;              // when the run began, in monotonic seconds
  double shown_at = -1;          // when a print last reached the terminal
  int64_t unshown = 0;           // a count not shown for the rate limit (0: none)
  size_t width = 0;              // the last print's width, to blank what it leaves; 0: line clear
  bool log_on_terminal = false;  // the log shows on the terminal the prints are on
};

// Starts progress for a run that reads fd (size: its size if known, or 0)
// and warns on log.
Progress start_progress(FILE* console, FILE* log, int fd, uint64_t size);

// Shows that `lines` lines are done, overwriting the previous print.
void print_progress(Progress& p, int64_t lines);

// Shows the last count a rate limit held back, so that the terminal's last
// print before the summary is the last one made.
void end_progress(Progress& p);

// Before a message to to (the console or the log): when it shows on the
// terminal the prints are on and a print is there, blanks that line, so
// that the message does not mix with what the print leaves. Writes nothing
// otherwise.
void clear_progress(Progress& p, FILE* to);

// The output and log are checked (flushed, and their errors read) after the
// line in which each this many bytes of input end, so that a run whose
// output cannot be written stops reading soon, at the same line whatever the
// number of threads.
constexpr uint64_t kCheckpointBytes = uint64_t{1} << 18;

// True when the line that ends at input offset `end`, after a line that
// ended at `previous`, is a checkpoint.
inline bool is_checkpoint(uint64_t previous, uint64_t end) {
  return previous / kCheckpointBytes != end / kCheckpointBytes;
}

#endif
