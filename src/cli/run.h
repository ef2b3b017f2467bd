// The whole program: command line, files, the annotation, the summary.
#ifndef MOLSTAMP_RUN_H
#define MOLSTAMP_RUN_H

// Runs molstamp with argv and returns the exit status, an ExitStatus as the
// process exits with it (sys/exit_status.h): 0 done, 1 bad switch, 2 input,
// 3 output, 4 log, 5 incomplete run, 6 a check that did not pass.
int run_molstamp(int argc, char** argv);

#endif
