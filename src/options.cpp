// Reads the switches and the file names of the command line.
#include "options.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Reads the number of a switch such as -t 3 or -t3 into value; on failure
// sets error to a line naming the switch.
bool parse_number(const char* text, const char* what, int64_t lowest, int64_t& value,
                  std::string& error) {
  const int64_t kHighest = INT32_MAX;
  value = 0;
  bool digits = *text != '\0';
  for (const char* c = text; *c != '\0' && digits; ++c) {
    if (*c < '0' || *c > '9') {
      digits = false;
    } else if (value <= kHighest) {
      value = value * 10 + (*c - '0');
    }
  }
  if (!digits) {
    error = std::string("Error: ") + what + " takes a number from " + std::to_string(lowest) +
            ", not '" + text + "'\n";
    return false;
  }
  if (value > kHighest) {
    error = std::string("Error: ") + what + " number '" + text + "' is too big\n";
    return false;
  }
  if (value < lowest) {
    error = std::string("Error: ") + what + " takes a number from " + std::to_string(lowest) +
            ", not '" + text + "'\n";
    return false;
  }
  return true;
}

// For a switch that takes a number, written "-x N" or "-xN": its text, or null
// when it is missing. Moves i past a separate argument.
const char* number_text(int argc, char** argv, int& i) {
  if (argv[i][2] != '\0') return argv[i] + 2;
  if (i + 1 >= argc) return nullptr;
  return argv[++i];
}

}  // namespace

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
    if (std::strcmp(a, "-H") == 0) {
      o.header = true;
      continue;
    }
    if (a[1] == 't') {
      const char* text = number_text(argc, argv, i);
      int64_t field = 0;
      if (text == nullptr) {
        o.error = "Error: -t needs a field number\n";
      } else if (parse_number(text, "-t", 1, field, o.error)) {
        o.table_field = static_cast<uint32_t>(field);
        continue;
      }
      o.action = Action::kBadSwitch;
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
  if (o.header && o.table_field == 0) {
    o.action = Action::kBadSwitch;
    o.error = "Error: -H needs -t\n";
    return o;
  }
  if (i < argc) o.input_name = argv[i];
  if (i + 1 < argc) o.output_name = argv[i + 1];
  if (i + 2 < argc) o.log_name = argv[i + 2];
  return o;
}
