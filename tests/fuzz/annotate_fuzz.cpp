// Fuzzes one candidate line through annotate_line and the real library:
// no crash, no write past the 256-byte key buffer, and every key written
// has the InChIKey shape.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "molstamp.h"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "annotate check failed: %s\n", what);
    abort();
  }
}

// 14 letters, '-', 10 letters, '-', 1 letter.
bool key_shaped(const std::string& key) {
  if (key.size() != 27 || key[14] != '-' || key[25] != '-') return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (i != 14 && i != 25 && !isupper(static_cast<unsigned char>(key[i]))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The line as the reader hands it over: NUL-terminated, "InC" in front.
  std::string line = "InC" + std::string(reinterpret_cast<const char*>(data), size);
  line.resize(strlen(line.c_str()));

  char* out_text = nullptr;
  char* log_text = nullptr;
  size_t out_size = 0, log_size = 0;
  FILE* out = open_memstream(&out_text, &out_size);
  FILE* log = open_memstream(&log_text, &log_size);
  // Heap-allocated at exactly 256 bytes so that the address sanitizer
  // catches any write past it.
  char* key = static_cast<char*>(malloc(256));
  int64_t added = 0, failed = 0;
  annotate_line(line.c_str(), 1, out, log, key, added, failed);
  fclose(out);
  fclose(log);
  std::string written(out_text, out_size);
  check(added + failed == 1, "one count per candidate");
  if (added == 1) {
    check(written.size() == 9 + 27 + 1 && written.compare(0, 9, "InChIKey=") == 0 &&
              written.back() == '\n',
          "one key line");
    check(key_shaped(written.substr(9, 27)), "key shape");
  } else {
    check(written.empty(), "nothing written for a failed key");
  }
  free(key);
  free(out_text);
  free(log_text);
  return 0;
}
