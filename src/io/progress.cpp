// The progress print: the bare count off a terminal, as it always was; on a
// terminal the rate, the share of the input read and the time left, limited
// to about ten prints a second.
#include "io/progress.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>

namespace {

// On a terminal, prints closer together than this are held back.
constexpr double kShownEvery = 0.1;

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds as "42 s", "3 min 05 s" or "2 h 07 min".
void format_duration(double seconds, char* text, size_t size) {
  auto s = static_cast<int64_t>(seconds + 0.5);
  if (s < 60) {
    snprintf(text, size, "%" PRId64 " s", s);
  } else if (s < 3600) {
    snprintf(text, size, "%" PRId64 " min %02" PRId64 " s", s / 60, s % 60);
  } else {
    snprintf(text, size, "%" PRId64 " h %02" PRId64 " min", s / 3600, s % 3600 / 60);
  }
}

// The terminal's print: the count, the rate, and the share read and time
// left when the size is known, blanking whatever the last print left.
void show(Progress& p, int64_t lines, double at) {
  double seconds = at - p.start;
  char text[160];
  int n = snprintf(text, sizeof text, "%" PRId64 " lines, %.0f lines/s", lines,
                   seconds > 0 ? static_cast<double>(lines) / seconds : 0.0);
  off_t read = p.input_size > 0 ? lseek(p.input_fd, 0, SEEK_CUR) : -1;
  if (read > 0 && n > 0) {
    double share = static_cast<double>(read) / static_cast<double>(p.input_size);
    if (share > 1) share = 1;
    char left[32];
    format_duration(seconds / share - seconds, left, sizeof left);
    n += snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %.1f %%, %s left", 100 * share,
                  left);
  }
  auto width = static_cast<size_t>(n > 0 ? n : 0);
  // Eight blanks, or enough to cover a longer print before this one.
  size_t blanks = p.width > width + 8 ? p.width - width : 8;
  fprintf(p.console, "%s%*s\r", text, static_cast<int>(blanks), "");
  fflush(p.console);
  p.width = width;
  p.shown_at = at;
  p.unshown = 0;
}

// True when b is the terminal a is on.
bool same_terminal(FILE* a, FILE* b) {
  struct stat sa, sb;
  return a == b || (isatty(fileno(b)) != 0 && fstat(fileno(a), &sa) == 0 &&
                    fstat(fileno(b), &sb) == 0 && sa.st_rdev == sb.st_rdev);
}

}  // namespace

Progress start_progress(FILE* console, FILE* log, int fd, uint64_t size) {
  Progress p;
  p.console = console;
  p.terminal = isatty(fileno(console)) != 0;
  p.log_on_terminal = p.terminal && same_terminal(console, log);
  p.input_fd = fd;
  p.input_size = size;
  p.start = p.terminal ? now() : 0;
  return p;
}

void print_progress(Progress& p, int64_t lines) {
  if (!p.terminal) {
    // Eight blanks and a carriage return: the next print overwrites this one.
    fprintf(p.console, "%" PRId64 "        \r", lines);
    return;
  }
  double at = now();
  if (p.shown_at >= 0 && at - p.shown_at < kShownEvery) {
    p.unshown = lines;
    return;
  }
  show(p, lines, at);
}

void end_progress(Progress& p) {
  if (p.terminal && p.unshown > 0) show(p, p.unshown, now());
}

void clear_progress(Progress& p, FILE* to) {
  if (p.width == 0 || (to != p.console && !p.log_on_terminal)) return;
  fputs("\r\033[K", p.console);
  fflush(p.console);
  p.width = 0;
}
