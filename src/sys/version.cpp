// The version, in the one unit the build defines it for.
#include "sys/version.h"

#ifndef MOLSTAMP_VERSION
#define MOLSTAMP_VERSION "unknown"
#endif

const char* molstamp_version() { return MOLSTAMP_VERSION; }
