// The exit statuses of a run, named once for every unit that returns or
// tests one.
#ifndef MOLSTAMP_EXIT_STATUS_H
#define MOLSTAMP_EXIT_STATUS_H

// Why a run ended; its value is the process's exit status, which scripts
// test, so the numbers never change.
enum class ExitStatus : int {
  kDone = 0,         // the run got through (or help or the version was shown)
  kBadSwitch = 1,    // a bad switch or another usage error
  kInput = 2,        // the input could not be opened or is refused
  kOutput = 3,       // the output could not be opened or is refused
  kLog = 4,          // the log could not be opened or is refused
  kIncomplete = 5,   // the run did not get through: a read, write or memory failure
  kCheckFailed = 6,  // check mode: a key that differs or is missing, or nothing to check
};

// The status as the process exits with it.
inline int exit_code(ExitStatus status) { return static_cast<int>(status); }

#endif
