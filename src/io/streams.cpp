// Opens the input and output by name or "-", with compression by content on
// the way in and by name on the way out, and closes them with a check.
#include "io/streams.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "io/codec/codec.h"
#include "sys/stdio_peek.h"

namespace {

// Fewer, larger reads and writes: the stdio default of one page per call
// costs more in system time than the copying itself.
constexpr size_t kStreamBuffer = 1 << 18;

// Without memory for it, stdio's own small buffer does the job, slower.
void give_buffer(FILE* f, std::unique_ptr<char[]>& buffer, size_t size = kStreamBuffer) {
  buffer.reset(new (std::nothrow) char[size]);
  if (buffer != nullptr) setvbuf(f, buffer.get(), _IOFBF, size);
}

// Reads the first bytes: what one read gives (at most n), more only while
// they could still grow into a magic number or a tar header.
size_t read_head(int fd, unsigned char* head, size_t n) {
  size_t got = 0;
  while (got < n && (may_become_magic(head, got) || may_become_tar(head, got))) {
    ssize_t r = ::read(fd, head + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

// What an input's data is that the tool does not read as lines, an archive
// or UTF-16 text, by its first bytes: a compressed regular file is decoded
// as far as it takes, a pipe only as far as the bytes it has already given
// (head) go.
void look_at_data(int fd, Stream& in, const unsigned char* head, size_t n) {
  unsigned char decoded[kArchiveBytes];
  const unsigned char* data = head;
  if (in.format != Format::kPlain) {
    n = preview_decoded(S_ISREG(in.st.st_mode) ? fd : -1, in.format, head, n, decoded,
                        sizeof decoded);
    data = decoded;
  }
  in.archive = archive_of(data, n);
  in.utf16 = is_utf16(data, n);
}

}  // namespace

bool is_standard_stream(const char* name) { return std::strcmp(name, "-") == 0; }

bool open_input(const char* name, Stream& in) {
  in.standard = is_standard_stream(name);
  int fd = in.standard ? STDIN_FILENO : ::open(name, O_RDONLY | O_CLOEXEC);
  // A directory opens, but reading it fails: it is no input.
  if (fd < 0 || fstat(fd, &in.st) != 0 || S_ISDIR(in.st.st_mode)) {
    if (fd > STDIN_FILENO) ::close(fd);
    return false;
  }
  // One read gives what a pipe has (a tar producer's whole first record,
  // an interactive one's first line), more only to finish a magic number.
  std::unique_ptr<unsigned char[]> held(new (std::nothrow) unsigned char[kHeadBytes]);
  if (held == nullptr) {
    if (fd > STDIN_FILENO) ::close(fd);
    return false;
  }
  unsigned char* head = held.get();
  size_t n = read_head(fd, head, kHeadBytes);
  in.format = format_of(head, n);
  look_at_data(fd, in, head, n);
  in.fd = fd;
  if (in.format == Format::kPlain && (n == 0 || lseek(fd, -static_cast<off_t>(n), SEEK_CUR) >= 0)) {
    // A plain file that can be rewound goes straight to stdio, as always;
    // a read error met above will be met again there and reported.
    in.file = fdopen(fd, "rb");
    if (in.file == nullptr) ::close(fd);
  } else {
    in.file = open_decoder(fd, in.format, head, n);
  }
  if (in.file == nullptr) return false;
  size_t chunk = decoded_chunk_for(in.format);
  give_buffer(in.file, in.buffer, chunk > kStreamBuffer ? chunk : kStreamBuffer);
  return true;
}

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return !S_ISCHR(a.st_mode) && same_inode(a, b);
}

bool writes_into(const struct stat& a, const struct stat& b) {
  return (S_ISREG(a.st_mode) || S_ISFIFO(a.st_mode)) && same_inode(a, b);
}

bool descriptor_writes_into(int fd, const struct stat& st) {
  struct stat open;
  return fstat(fd, &open) == 0 && writes_into(open, st);
}

Destination find_destination(const char* name, int dash_fd) {
  Destination d;
  if (is_standard_stream(name)) {
    d.standard_fd = dash_fd;
    d.exists = fstat(dash_fd, &d.st) == 0;
    return d;
  }
  d.exists = stat(name, &d.st) == 0;
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat standard;
    if (d.exists && fstat(fd, &standard) == 0 && same_file(d.st, standard)) {
      d.standard_fd = fd;
      break;
    }
  }
  return d;
}

int open_for_writing(const char* name, bool& created) {
  // O_EXCL tells whether we made the file, so that we remove only our own.
  int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  return fd;
}

bool truncate_opened(int fd, const struct stat& st, bool created) {
  return created || !S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0;
}

bool open_output(const char* name, const Destination& dest, Stream& out) {
  out.standard = is_standard_stream(name);
  if (dest.standard_fd >= 0) {
    out.file = dest.standard_fd == STDOUT_FILENO ? stdout : stderr;
    if (fstat(dest.standard_fd, &out.st) != 0) return false;
  } else {
    int fd = open_for_writing(name, out.created);
    if (fd < 0) return false;
    out.file = fstat(fd, &out.st) == 0 ? fdopen(fd, "w") : nullptr;
    if (out.file == nullptr) {
      ::close(fd);
      if (out.created) ::unlink(name);
      return false;
    }
  }
  out.raw = out.file;
  give_buffer(out.raw, out.raw_buffer);
  // Pipe standard output to a compressor: "-" says nothing about the format.
  out.format = out.standard ? Format::kPlain : format_for_name(name);
  if (out.format != Format::kPlain) {
    out.file = open_encoder(out.raw, out.format, &out.encoder);
    if (out.file == nullptr) {
      out.file = out.raw;
      abandon_output(name, out);
      return false;
    }
    give_buffer(out.file, out.buffer);
  }
  return true;
}

bool open_output(const char* name, Stream& out) {
  return open_output(name, find_destination(name, STDOUT_FILENO), out) &&
         (out.raw == stdout || out.raw == stderr ||
          truncate_opened(fileno(out.raw), out.st, out.created));
}

void abandon_output(const char* name, Stream& out) {
  // Closing a compressor ends its stream: those bytes must not reach a file
  // that is not to be written.
  if (out.file != out.raw) fclose(out.file);
  out.encoder = nullptr;
  __fpurge(out.raw);
  if (out.raw != stdout && out.raw != stderr) {
    fclose(out.raw);
    if (out.created) ::unlink(name);
  }
  out.file = out.raw = nullptr;
}

bool input_would_wait(FILE* in, int fd) {
  if (!nothing_buffered(in)) return false;
  pollfd ready{fd, POLLIN, 0};
  return poll(&ready, 1, 0) == 0;
}

bool sync_output(FILE* file, Encoder* encoder, FILE* raw) {
  bool ok = fflush(file) == 0 && ferror(file) == 0;
  if (encoder != nullptr) ok = flush_encoder(encoder) && ok;
  return fflush(raw) == 0 && ferror(raw) == 0 && ok;
}

bool close_written(FILE* f) {
  bool ok = ferror(f) == 0;
  return fclose(f) == 0 && ok;
}

bool close_output(Stream& out) {
  // The compressor's last bytes reach the file only when it is closed.
  bool ok = out.file == out.raw || close_written(out.file);
  out.encoder = nullptr;
  return close_written(out.raw) && ok;
}
