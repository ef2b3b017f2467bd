// Reads the switches and the file names of the command line.
#include "options.h"

#include <cstring>

bool is_standard_stream(const char* name) { return std::strcmp(name, "-") == 0; }

Options parse_options(int argc, char** argv) {
  Options o;
  if (argc < 2) {
    o.action = Action::kUsage;
    return o;
  }
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) {
      ++i;
      break;
    }
    if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      o.action = Action::kUsage;
      return o;
    }
    if (std::strcmp(a, "--version") == 0) {
      o.action = Action::kVersion;
      return o;
    }
    // Only the second character counts: -nq has always meant -n.
    if (a[1] == 'n') {
      o.no_copy = true;
      continue;
    }
    o.action = Action::kBadSwitch;
    o.error = std::string("Error: unknown key '") + a[1] + "'\n";
    return o;
  }
  if (i < argc) o.input_name = argv[i];
  if (i + 1 < argc) o.output_name = argv[i + 1];
  if (i + 2 < argc) o.log_name = argv[i + 2];
  return o;
}
