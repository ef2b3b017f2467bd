// The compressed input's reads, shared by every format.
#include "io/codec/decoder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

ssize_t read_source(Source& src, unsigned char* buf, size_t n) {
  if (src.fd < 0) return 0;
  if (src.max_read > 0 && n > src.max_read) n = src.max_read;
  for (;;) {
    ssize_t r = src.at >= 0 ? ::pread(src.fd, buf, n, src.at) : ::read(src.fd, buf, n);
    if (r > 0 && src.at >= 0) src.at += r;
    if (r >= 0 || errno != EINTR) return r;
  }
}

ssize_t refill(Decoder& d) {
  ssize_t r = read_source(d.src, d.in, kReadChunk);
  d.in_pos = 0;
  d.in_len = r > 0 ? static_cast<size_t>(r) : 0;
  return r;
}

ssize_t gather(Decoder& d, size_t k) {
  size_t held = d.in_len - d.in_pos;
  if (held < k && d.in_pos > 0) {
    std::memmove(d.in, d.in + d.in_pos, held);
    d.in_pos = 0;
    d.in_len = held;
  }
  while (d.in_len - d.in_pos < k) {
    ssize_t r = read_source(d.src, d.in + d.in_len, kReadChunk - d.in_len);
    if (r < 0) return -1;
    if (r == 0) break;
    d.in_len += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(d.in_len - d.in_pos);
}

Input next_input(Decoder& d) {
  if (d.in_pos < d.in_len || d.more_output) return Input::kReady;
  ssize_t r = refill(d);
  if (r > 0) return Input::kReady;
  return r == 0 && !d.in_unit ? Input::kEnd : Input::kFailed;
}

Input next_member(Decoder& d) {
  Input input = next_input(d);
  if (input != Input::kReady || d.in_pos == d.in_len || d.in[d.in_pos] != 0) return input;
  for (;;) {
    for (; d.in_pos < d.in_len; ++d.in_pos)
      if (d.in[d.in_pos] != 0) return Input::kFailed;
    ssize_t r = refill(d);
    if (r <= 0) return r == 0 ? Input::kEnd : Input::kFailed;
  }
}

ssize_t fail(Decoder& d, size_t produced) {
  if (produced > 0) {
    d.failed = true;
    return static_cast<ssize_t>(produced);
  }
  errno = EIO;
  return -1;
}
