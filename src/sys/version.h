// The tool's version, for the command line and the Python module alike.
#ifndef MOLSTAMP_VERSION_H
#define MOLSTAMP_VERSION_H

// The version the build names (CMake's project version), or "unknown" for a
// build that names none.
const char* molstamp_version();

#endif
