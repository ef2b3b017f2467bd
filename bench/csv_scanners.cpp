// The CSV record scanner against the Debian-packaged CSV parser that could
// serve instead (libcsv), on the same file: records found and field 2's
// text, in MB/s of input per CPU second. libcsv hands out unquoted field
// contents and record ends, not where a record's bytes begin and end, so a
// byte-exact copy of each record would need a second pass of our own; the
// scanner gives the spans directly.
//
//   molstamp_csv_scanners FILE.csv   (built by bench/run when libcsv-dev is installed)
#include <csv.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "text/record_scanner.h"

namespace {

double cpu_now() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Counts {
  size_t records = 0, field = 0, bytes = 0;  // bytes: of field 2's texts
};

void on_field(void*, size_t n, void* data) {
  auto& c = *static_cast<Counts*>(data);
  if (++c.field == 2) c.bytes += n;
}

void on_record(int, void* data) {
  auto& c = *static_cast<Counts*>(data);
  ++c.records;
  c.field = 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: molstamp_csv_scanners FILE.csv\n");
    return 1;
  }
  std::ifstream f(argv[1], std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  const std::string text = s.str();
  double mb = static_cast<double>(text.size()) / 1e6;

  Counts ours;
  std::string field;
  double start = cpu_now();
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    Quote q = Quote::kFieldStart;
    const char* stop = next_record_end(p, end, ',', q);
    const char *begin, *field_end;
    if (find_csv_field(p, static_cast<size_t>(stop - p), 2, ',', begin, field_end)) {
      csv_field_text(begin, field_end, field);
      ours.bytes += field.size();
    }
    ++ours.records;
    p = stop == end ? end : stop + (*stop == '\r' && stop + 1 < end && stop[1] == '\n' ? 2 : 1);
  }
  double ours_seconds = cpu_now() - start;

  Counts theirs;
  csv_parser parser;
  csv_init(&parser, 0);
  start = cpu_now();
  csv_parse(&parser, text.data(), text.size(), on_field, on_record, &theirs);
  csv_fini(&parser, on_field, on_record, &theirs);
  double theirs_seconds = cpu_now() - start;
  csv_free(&parser);

  printf("| CSV reader, %.0f MB | records | field 2 bytes | MB/s | record spans |\n", mb);
  printf("|---|---|---|---|---|\n");
  printf("| molstamp's record scanner | %zu | %zu | %.0f | yes |\n", ours.records, ours.bytes,
         mb / ours_seconds);
  printf("| libcsv 3.0.3 (csv_parse) | %zu | %zu | %.0f | no |\n", theirs.records, theirs.bytes,
         mb / theirs_seconds);
  return 0;
}
