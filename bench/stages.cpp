// Times the serial stages of the parallel pipeline alone, in MB/s of input:
// the reader (decompression included) cutting blocks of whole lines, and the
// writer emitting annotated blocks. What one worker does per second, divided
// into these, is how many cores the pipeline can keep busy.
//
//   molstamp_stages FILE [FILE.gz FILE.zst]   (run by bench/run)
#include <time.h>

#include <cstdio>
#include <string>

#include "io/streams.h"
#include "pipeline/block_reader.h"

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Cuts name into blocks; returns the plain bytes read, and the seconds taken.
size_t read_all(const char* name, double& seconds) {
  Stream in;
  if (!open_input(name, in)) return 0;
  double start = now();
  Splitter sp;
  Block b;
  size_t bytes = 0;
  while (read_block(in.file, sp, b)) bytes += b.size;
  seconds = now() - start;
  free_block(b);
  free_splitter(sp);
  fclose(in.file);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: molstamp_stages FILE [MORE FILES]\n");
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    double seconds = 0;
    size_t bytes = read_all(argv[i], seconds);
    printf("reader, %s: %.0f MB/s\n", argv[i], static_cast<double>(bytes) / seconds / 1e6);
  }
  // The writer: the annotated copy of the first file, as blocks, into a file.
  Stream in;
  if (!open_input(argv[1], in)) return 1;
  Splitter sp;
  Block b;
  std::string text;
  while (read_block(in.file, sp, b)) text.append(b.data, b.size);
  fclose(in.file);
  Stream out;
  std::string name = std::string(argv[1]) + ".stages-out";
  if (!open_output(name.c_str(), out)) return 1;
  double start = now();
  for (size_t at = 0; at < text.size(); at += kBlockBytes) {
    size_t n = text.size() - at < kBlockBytes ? text.size() - at : kBlockBytes;
    fwrite_unlocked(text.data() + at, 1, n, out.raw);
  }
  bool ok = close_output(out);
  double seconds = now() - start;
  std::remove(name.c_str());
  printf("writer: %.0f MB/s%s\n", static_cast<double>(text.size()) / seconds / 1e6,
         ok ? "" : " (write failed)");
  free_block(b);
  free_splitter(sp);
  return 0;
}
