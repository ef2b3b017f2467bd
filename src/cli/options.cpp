// The command line: its switches and file names, and the usage text.
#include "cli/options.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Reads the number of a switch such as -t 3 or -t3 into value; on failure
// sets error to a line naming the switch.
bool parse_number(const char* text, const char* what, int64_t lowest, int64_t highest,
                  int64_t& value, std::string& error) {
  value = 0;
  bool digits = *text != '\0';
  for (const char* c = text; *c != '\0' && digits; ++c) {
    if (*c < '0' || *c > '9') {
      digits = false;
    } else if (value <= highest) {
      value = value * 10 + (*c - '0');
    }
  }
  if (!digits || value < lowest) {
    error = std::string("Error: ") + what + " takes a number from " + std::to_string(lowest) +
            ", not '" + text + "'\n";
    return false;
  }
  if (value > highest) {
    error = std::string("Error: ") + what + " number '" + text + "' is too big\n";
    return false;
  }
  return true;
}

// For a switch that takes a value, written "-x V" or "-xV": its text, or null
// when it is missing. Moves i past a separate argument.
const char* number_text(int argc, char** argv, int& i) {
  if (argv[i][2] != '\0') return argv[i] + 2;
  if (i + 1 >= argc) return nullptr;
  return argv[++i];
}

// Reads the number of -t or -k (a field, from 1) or -j (jobs, from 0 to
// kMostJobs) into value.
bool number_switch(int argc, char** argv, int& i, uint32_t& value, std::string& error) {
  bool field = argv[i][1] != 'j';
  int64_t lowest = field ? 1 : 0;
  int64_t highest = field ? INT32_MAX : kMostJobs;
  char what[3] = {'-', argv[i][1], '\0'};
  const char* text = number_text(argc, argv, i);
  int64_t number = 0;
  if (text == nullptr) {
    error = std::string("Error: ") + what + " needs a number\n";
    return false;
  }
  if (!parse_number(text, what, lowest, highest, number, error)) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

}  // namespace

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
      o.format.header = true;
      continue;
    }
    if (std::strcmp(a, "-s") == 0 || std::strcmp(a, "--standard") == 0) {
      o.format.rules.standard = true;
      continue;
    }
    if (std::strncmp(a, "--validate", 10) == 0 && (a[10] == '\0' || a[10] == '=')) {
      const char* level = a[10] == '=' ? a + 11 : "syntax";
      if (std::strcmp(level, "syntax") == 0) {
        o.format.rules.validate = Validation::kSyntax;
        continue;
      }
      if (std::strcmp(level, "structure") == 0) {
        o.format.rules.validate = Validation::kStructure;
        continue;
      }
      o.action = Action::kBadSwitch;
      o.error = std::string("Error: --validate takes syntax or structure, not '") + level + "'\n";
      return o;
    }
    if (std::strcmp(a, "--difference") == 0) {
      o.format.difference = true;
      continue;
    }
    if (a[1] == 't' || a[1] == 'k') {
      // A column by its header's name: anything that does not begin with a
      // digit, resolved once the header is read.
      int at = i;
      const char* text = number_text(argc, argv, i);
      if (text != nullptr && *text != '\0' && *text != '-' && (*text < '0' || *text > '9')) {
        (a[1] == 't' ? o.field_name : o.key_field_name) = text;
        continue;
      }
      i = at;
    }
    if (a[1] == 't' || a[1] == 'j' || a[1] == 'k') {
      uint32_t& value = a[1] == 't' ? o.format.field : a[1] == 'j' ? o.jobs : o.format.key_field;
      if (number_switch(argc, argv, i, value, o.error)) continue;
      o.action = Action::kBadSwitch;
      return o;
    }
    if (a[1] == 'd') {
      // One byte, given as "-d C" or "-dC"; a quote or a line end cannot
      // split fields that quotes and line ends delimit.
      const char* text = number_text(argc, argv, i);
      if (text == nullptr) {
        o.error = "Error: -d needs a delimiter\n";
      } else if (std::strlen(text) != 1 || std::strchr("\"\r\n", text[0]) != nullptr) {
        o.error = std::string("Error: -d takes one byte other than '\"', CR and LF, not '") + text +
                  "'\n";
      } else {
        o.format.delimiter = text[0];
        continue;
      }
      o.action = Action::kBadSwitch;
      return o;
    }
    if (std::strcmp(a, "-c") == 0) {
      o.format.check = true;
      continue;
    }
    // Only the second character counts: -nq has always meant -n.
    if (a[1] == 'n') {
      o.format.no_copy = true;
      continue;
    }
    o.action = Action::kBadSwitch;
    o.error = std::string("Error: unknown key '") + a[1] + "'\n";
    return o;
  }
  // A named column stands for a number until the header gives it one.
  uint32_t field = o.field_name != nullptr ? 1 : o.format.field;
  uint32_t key_field = o.key_field_name != nullptr ? 1 : o.format.key_field;
  const LineFormat& f = o.format;
  const char* conflict = nullptr;
  // Without a header a name is no column: the switch wanted a number.
  if ((o.field_name != nullptr || o.key_field_name != nullptr) && !f.header) {
    o.action = Action::kBadSwitch;
    o.error = std::string("Error: ") + (o.field_name != nullptr ? "-t" : "-k") +
              " takes a number from 1, not '" +
              (o.field_name != nullptr ? o.field_name : o.key_field_name) + "'\n";
    return o;
  }
  if (f.difference && !f.check) {
    conflict = "Error: --difference needs -c\n";
  } else if (f.header && field == 0) {
    conflict = "Error: -H needs -t\n";
  } else if (f.check && f.no_copy) {
    conflict = "Error: -n does not go with -c\n";
  } else if (key_field != 0 && !f.check) {
    conflict = "Error: -k needs -c\n";
  } else if (key_field != 0 && field == 0) {
    conflict = "Error: -k needs -t\n";
  } else if (f.key_field != 0 && f.key_field == f.field) {
    conflict = "Error: -k and -t name the same field\n";
  } else if (f.delimiter != '\t' && field == 0) {
    conflict = "Error: -d needs -t\n";
  }
  if (conflict != nullptr) {
    o.action = Action::kBadSwitch;
    o.error = conflict;
    return o;
  }
  if (i < argc) o.input_name = argv[i];
  if (i + 1 < argc) o.output_name = argv[i + 1];
  if (i + 2 < argc) o.log_name = argv[i + 2];
  return o;
}

void print_usage(FILE* f) {
  fprintf(f, "Demo program illustrating usage of InChIKey API.\n");
  fprintf(f, "Copies the file to output file adding InChIKey string as a separate line after\n");
  fprintf(f, "each found line containing a single InChI string (LF-terminated)\n");
  fprintf(f, "\nUsage: molstamp [switches] input file name [output file name [log file name] ]");
  fprintf(f, "\n       switches:");
  fprintf(f, "\n       -n      do not copy source to output, just print keys.");
  fprintf(f, "\n       -h      print this text and exit (also --help).");
  fprintf(f, "\n       --version print the version and exit.");
  fprintf(f, "\n       --      end of switches; a file name - is standard input or output.");
  fprintf(f, "\n       -t N    table: key field N of TAB-separated lines, as a last field.");
  fprintf(f, "\n       -H      with -t: the first line is a header.");
  fprintf(f, "\n       -j N    N threads (0: one per processor), same output as -j 1.");
  fprintf(f, "\n       -c      check the keys the input holds; report those that are not theirs.");
  fprintf(f, "\n       -k M    with -c -t N: the stored key is field M (default N+1).");
  fprintf(f, "\n       -d C    with -t: fields split by C (default TAB); others: CSV quoting.");
  fprintf(f, "\n       -t NAME, -k NAME with -H: the column whose header is NAME.");
  fprintf(f, "\n       -s      standard keys: an InChI=1/ gets the key of its standard InChI.");
  fprintf(f, "\n       --validate[=syntax|structure] key only what the library accepts.");
  fprintf(f, "\n       --difference with -c: say which part of each key differs.");
  fprintf(f, "\n\n");
  fprintf(f,
          "!This program is only for demo purposes!\nIt only weakly checks if the input is valid "
          "InChI string.\n");
}
