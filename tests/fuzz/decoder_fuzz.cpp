// Fuzzes the decompressing reader. Raw mode feeds the bytes as they are
// (mostly damaged gzip, zstd, bzip2, xz and lz4, thanks to the seeds), and
// looks at their first decoded bytes from a file or from the bytes alone:
// any outcome but a crash or a hang is fine. Valid mode compresses the bytes
// with our encoder, in one to three members or frames, and the lines read
// back through the decoder must be the model's lines of the original bytes,
// the first decoded bytes their start.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "io/codec/codec.h"
#include "io/codec/encoder.h"
#include "line_model.h"

namespace {

std::string compress(Encoder* e, const std::string& bytes) {
  std::string out;
  check(encode_block(e, bytes.data(), bytes.size(), out), "encode");
  return out;
}

// The lines read through the decoder, and whether the reader met an error.
std::vector<std::string> read_lines(const std::string& stored, size_t max_read, int& error) {
  int fd = memory_file(stored);
  unsigned char head[kMagicBytes];
  size_t n = static_cast<size_t>(read(fd, head, kMagicBytes));
  FILE* in = open_decoder(fd, format_of(head, n), head, n, max_read);
  check(in != nullptr, "decoder");
  std::vector<char> stdio_buffer(4096);
  setvbuf(in, stdio_buffer.data(), _IOFBF, stdio_buffer.size());
  std::vector<std::string> lines = serial_lines(in, error);
  fclose(in);
  return lines;
}

// The first decoded bytes of stored, looked at as the input path does: from
// a file, or (fd_too false) from the bytes alone, as of a pipe.
std::string preview(const std::string& stored, bool fd_too) {
  int fd = memory_file(stored);
  unsigned char head[kMagicBytes];
  size_t n = static_cast<size_t>(read(fd, head, kMagicBytes));
  std::string first(kArchiveBytes, '\0');
  auto* to = reinterpret_cast<unsigned char*>(&first[0]);
  Format format = format_of(head, n);
  if (fd_too) {
    first.resize(preview_decoded(fd, format, head, n, to, first.size()));
  } else {
    auto* bytes = reinterpret_cast<const unsigned char*>(stored.data());
    first.resize(preview_decoded(-1, format, bytes, stored.size(), to, first.size()));
  }
  close(fd);
  return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  bool valid = data[0] & 1;
  Format format = data[0] & 2 ? Format::kZstd : Format::kGzip;
  size_t max_read = 1 + data[1] % 64;
  std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);
  int error = 0;
  if (!valid) {
    read_lines(bytes, max_read, error);
    preview(bytes, data[2] & 1);
    return 0;
  }
  // Up to three members, cut at places the input chooses.
  size_t cut1 = bytes.empty() ? 0 : data[2] % (bytes.size() + 1);
  size_t cut2 = cut1 + (bytes.size() - cut1) / 2;
  static Encoder* encoders[] = {new_encoder(Format::kGzip), new_encoder(Format::kZstd)};
  Encoder* e = encoders[format == Format::kZstd];
  std::string stored = compress(e, bytes.substr(0, cut1));
  if (data[2] & 0x80) {
    stored += compress(e, bytes.substr(cut1, cut2 - cut1)) + compress(e, bytes.substr(cut2));
  } else {
    stored += compress(e, bytes.substr(cut1));
  }
  std::vector<std::string> lines = read_lines(stored, max_read, error);
  check(error == kReadOk, "valid data read without error");
  check(lines == model_lines(bytes), "lines differ from the model");
  check(preview(stored, data[2] & 1) == bytes.substr(0, kArchiveBytes), "first bytes differ");
  return 0;
}
