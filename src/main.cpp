#include "molstamp.h"

int main(int argc, char** argv) { return run_molstamp(argc, argv); }
