// Fuzzes one candidate line through annotate_line and the real library:
// no crash, no write past the key buffer, and every key written has the
// InChIKey shape.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "fuzz_util.h"
#include "keys/annotate.h"

namespace {

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
  // Heap-allocated at exactly its size, so that the address sanitizer
  // catches any write past the key buffer.
  auto* a = static_cast<Annotator*>(malloc(sizeof(Annotator)));
  new (a) Annotator;
  a->format.no_copy = true;
  a->log = open_memstream(&log_text, &log_size);
  check(annotate_line(*a, line.data(), static_cast<uint32_t>(line.size()), 1, out), "annotated");
  fclose(out);
  fclose(a->log);
  std::string written(out_text, out_size);
  check(a->counts.added + a->counts.failed == 1, "one count per candidate");
  if (a->counts.added == 1) {
    check(written.size() == 9 + 27 + 1 && written.compare(0, 9, "InChIKey=") == 0 &&
              written.back() == '\n',
          "one key line");
    check(key_shaped(written.substr(9, 27)), "key shape");
  } else {
    check(written.empty(), "nothing written for a failed key");
  }
  a->~Annotator();
  free(a);
  free(out_text);
  free(log_text);
  return 0;
}
