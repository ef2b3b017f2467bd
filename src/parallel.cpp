// The block pipeline. The reader (the calling thread) fills slots with blocks
// of whole lines and their first line numbers; workers annotate each block
// with write_line into memory (and compress it for a .gz or .zst output);
// the writer thread emits the blocks in input order, with the warnings and
// progress prints placed where the serial loop puts them. Locks are taken
// once per block, never per line.
#include "parallel.h"

#include <pthread.h>

#include <cinttypes>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "molstamp.h"

namespace {

// A block this much larger than usual holds a very long line: the writer
// annotates it straight into the output, so that the line is not held twice.
constexpr size_t kInlineBlockBytes = 4 * kBlockBytes;
constexpr size_t kThreadStack = size_t{2} << 20;

// Grows p to hold at least n bytes; false when memory runs out (p unchanged).
bool reserve(char*& p, size_t& capacity, size_t n) {
  if (n <= capacity) return true;
  size_t grown = capacity == 0 ? kBlockBytes : capacity;
  while (grown < n) grown *= 2;
  char* q = static_cast<char*>(std::realloc(p, grown));
  if (q == nullptr) return false;
  p = q;
  capacity = grown;
  return true;
}

// Lines ended in data[0, n): LF, CR LF and lone CR each end one. A memchr
// per line end, not a test per byte: this runs on the reader's one thread.
int64_t count_line_ends(const char* data, size_t n) {
  int64_t ends = 0;
  const char* end = data + n;
  for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
    ++ends;
    ++p;
  }
  for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\r', end - p)));) {
    ++p;
    if (p == end || *p != '\n') ++ends;  // CR LF was counted with its LF
  }
  return ends;
}

// Takes up to room bytes from in: what its buffer holds, or else what one
// read from its source gives (glibc's read pointers, as getc_unlocked uses
// them). 0 at the end of the input or on an error.
size_t take_available(FILE* in, char* to, size_t room) {
  size_t got = 0;
  if (in->_IO_read_ptr >= in->_IO_read_end) {
    int c = getc_unlocked(in);  // refills the buffer
    if (c == EOF) return 0;
    to[got++] = static_cast<char>(c);
  }
  auto held = static_cast<size_t>(in->_IO_read_end - in->_IO_read_ptr);
  size_t n = held < room - got ? held : room - got;
  std::memcpy(to + got, in->_IO_read_ptr, n);
  in->_IO_read_ptr += n;
  return got + n;
}

// A write stream that appends to a string; fails when memory runs out.
ssize_t append_to_string(void* cookie, const char* buf, size_t size) {
  try {
    static_cast<std::string*>(cookie)->append(buf, size);
  } catch (...) {
    return -1;
  }
  return static_cast<ssize_t>(size);
}

FILE* open_string_stream(std::string* s) {
  return fopencookie(s, "w", {nullptr, append_to_string, nullptr, nullptr});
}

// A progress print that falls inside a block: where it goes in the log.
struct Mark {
  int64_t line;
  size_t log_offset;
};

struct Slot {
  enum State { kFree, kFilled, kDone };
  State state = kFree;
  Block block;
  bool direct = false;  // annotated by the writer, straight into the output
  std::string out, packed, log;
  FILE* out_file = nullptr;  // appends to out
  FILE* log_file = nullptr;  // appends to log
  std::vector<Mark> marks;
  int64_t added = 0, failed = 0;
  bool broken = false;  // its output could not be held or compressed
};

struct Pipeline {
  RunState& s;
  bool console_is_terminal;
  LineFormat format;
  std::mutex m;
  std::condition_variable work_ready, block_done, slot_free;
  std::vector<Slot> slots;
  uint64_t filled = 0;   // blocks handed out by the reader
  uint64_t taken = 0;    // blocks taken by workers
  uint64_t written = 0;  // blocks emitted by the writer
  bool reading_done = false;

  Pipeline(RunState& state, bool terminal)
      : s(state),
        console_is_terminal(terminal),
        format{state.options.no_copy, state.options.table_field} {}

  Slot& slot(uint64_t sequence) { return slots[sequence % slots.size()]; }
};

// Annotates the lines of a slot's block into out and the slot's log,
// marking where progress prints fall.
void annotate_block(Pipeline& p, Slot& slot, FILE* out, char* key) {
  slot.marks.clear();
  slot.added = slot.failed = 0;
  int64_t line_number = slot.block.first_line;
  bool header = p.s.options.header;
  for_each_line(slot.block, [&](char* line, uint32_t length) {
    write_line(line, length, line_number, header && line_number == 1, p.format, out, slot.log_file,
               key, slot.added, slot.failed);
    if (line_number % kProgressEvery == 0) {
      fflush(slot.log_file);
      slot.marks.push_back({line_number, slot.log.size()});
    }
    ++line_number;
  });
  fflush(slot.log_file);
}

void work(Pipeline& p, Slot& slot, Encoder* encoder, char* key) {
  slot.out.clear();
  slot.log.clear();
  slot.packed.clear();
  slot.broken = false;
  clearerr(slot.out_file);
  clearerr(slot.log_file);
  if (slot.direct) return;  // the writer's
  annotate_block(p, slot, slot.out_file, key);
  fflush(slot.out_file);
  slot.broken = ferror(slot.out_file) != 0 || ferror(slot.log_file) != 0;
  if (encoder != nullptr && !slot.out.empty() &&
      !encode_block(encoder, slot.out.data(), slot.out.size(), slot.packed)) {
    slot.broken = true;
  }
}

void* worker_main(void* arg) {
  Pipeline& p = *static_cast<Pipeline*>(arg);
  Encoder* encoder = p.s.out.format == Format::kPlain ? nullptr : new_encoder(p.s.out.format);
  bool no_encoder = p.s.out.format != Format::kPlain && encoder == nullptr;
  char key[256];
  for (;;) {
    Slot* slot;
    {
      std::unique_lock<std::mutex> lock(p.m);
      p.work_ready.wait(lock, [&] { return p.taken < p.filled || p.reading_done; });
      if (p.taken == p.filled) break;
      slot = &p.slot(p.taken++);
    }
    // Out of memory in a thread must not end the process: the block is lost,
    // and the run will say that the output is incomplete.
    try {
      work(p, *slot, encoder, key);
    } catch (...) {
      slot->broken = true;
    }
    if (no_encoder) slot->broken = true;
    {
      std::lock_guard<std::mutex> lock(p.m);
      slot->state = Slot::kDone;
      p.block_done.notify_all();
    }
  }
  free_encoder(encoder);
  return nullptr;
}

// Emits one annotated block: output, then the log with the progress prints
// where the serial loop makes them.
void emit(Pipeline& p, Slot& slot) {
  RunState& s = p.s;
  if (slot.direct) {
    // A very long line: annotate it here, into the output itself.
    FILE* out = s.out.raw;
    if (s.out.format != Format::kPlain) out = open_encoder(s.out.raw, s.out.format);
    if (out == nullptr) {
      slot.broken = true;
    } else {
      annotate_block(p, slot, out, s.key);
      if (out != s.out.raw && fclose(out) != 0) slot.broken = true;
    }
  } else {
    const std::string& bytes = s.out.format == Format::kPlain ? slot.out : slot.packed;
    fwrite_unlocked(bytes.data(), 1, bytes.size(), s.out.raw);
  }
  size_t at = 0;
  for (const Mark& mark : slot.marks) {
    fwrite(slot.log.data() + at, 1, mark.log_offset - at, s.log);
    at = mark.log_offset;
    fprintf(s.console, "%" PRId64 "        \r", mark.line);
    if (p.console_is_terminal) fflush(s.console);
  }
  fwrite(slot.log.data() + at, 1, slot.log.size() - at, s.log);
  s.lines_read += slot.block.lines;
  s.keys_added += slot.added;
  s.keys_failed += slot.failed;
  if (slot.broken) s.output_broken = true;
}

void* writer_main(void* arg) {
  Pipeline& p = *static_cast<Pipeline*>(arg);
  for (;;) {
    Slot* slot;
    {
      std::unique_lock<std::mutex> lock(p.m);
      p.block_done.wait(lock, [&] {
        return (p.written < p.filled && p.slot(p.written).state == Slot::kDone) ||
               (p.reading_done && p.written == p.filled);
      });
      if (p.written == p.filled) break;
      slot = &p.slot(p.written);
    }
    try {
      emit(p, *slot);
    } catch (...) {
      p.s.output_broken = true;
    }
    {
      std::lock_guard<std::mutex> lock(p.m);
      slot->state = Slot::kFree;
      ++p.written;
      p.slot_free.notify_all();
    }
  }
  return nullptr;
}

// The reader: fills free slots in turn until the input ends or fails.
void read_all(Pipeline& p) {
  Splitter sp;
  for (uint64_t sequence = 0;; ++sequence) {
    Slot& slot = p.slot(sequence);
    {
      std::unique_lock<std::mutex> lock(p.m);
      p.slot_free.wait(lock, [&] { return slot.state == Slot::kFree; });
    }
    if (!read_block(p.s.in.file, sp, slot.block)) break;
    slot.direct = slot.block.size > kInlineBlockBytes;
    {
      std::lock_guard<std::mutex> lock(p.m);
      slot.state = Slot::kFilled;
      ++p.filled;
      p.work_ready.notify_one();
    }
    if (sp.done) break;
  }
  p.s.line.error = sp.error;
  release(sp);
  std::lock_guard<std::mutex> lock(p.m);
  p.reading_done = true;
  p.work_ready.notify_all();
  p.block_done.notify_all();
}

bool start_thread(pthread_t& thread, void* (*body)(void*), Pipeline& p) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, kThreadStack);
  bool ok = pthread_create(&thread, &attr, body, &p) == 0;
  pthread_attr_destroy(&attr);
  return ok;
}

}  // namespace

void release(Block& b) {
  std::free(b.data);
  b = Block{};
}

void release(Splitter& sp) {
  std::free(sp.carry);
  sp.carry = nullptr;
  sp.carry_size = sp.carry_capacity = 0;
}

size_t block_end(const char* data, size_t n, bool at_end) {
  if (!at_end && n > 0 && data[n - 1] == '\r') --n;
  const void* lf = memrchr(data, '\n', n);
  const void* cr = memrchr(data, '\r', n);
  const char* last = static_cast<const char*>(lf > cr ? lf : cr);
  return last == nullptr ? 0 : static_cast<size_t>(last - data) + 1;
}

bool read_block(FILE* in, Splitter& sp, Block& b) {
  b.size = 0;
  b.lines = 0;
  b.first_line = sp.lines + 1;
  if (sp.done) return false;
  size_t n = sp.carry_size;
  if (!reserve(b.data, b.capacity, (n > sp.block_bytes ? n : sp.block_bytes) + 1)) {
    sp.error = kReadTooLong;
    sp.done = true;
    return false;
  }
  if (n > 0) std::memcpy(b.data, sp.carry, n);
  sp.carry_size = 0;
  bool at_end = false;
  size_t cut = 0;
  for (;;) {
    if (n + 1 == b.capacity && !reserve(b.data, b.capacity, b.capacity * 2)) {
      sp.error = kReadTooLong;  // memory ran out inside a line
      break;
    }
    size_t room = b.capacity - 1 - n;  // the spare byte stays free
    if (room > sp.block_bytes) room = sp.block_bytes;
    size_t got = take_available(in, b.data + n, room);
    n += got;
    if (got == 0) {
      at_end = true;
      if (ferror_unlocked(in)) sp.error = kReadFailed;
    }
    cut = block_end(b.data, n, at_end);
    // A pipe that has given all it has for now ends the block too, so that
    // its lines are annotated (and progress shown) as they come, as -j1 does.
    bool drained = in->_IO_read_ptr >= in->_IO_read_end;
    if (at_end || (cut > 0 && (n >= sp.block_bytes || drained))) break;
    if (cut == 0 && n - (b.data[n - 1] == '\r' ? 1 : 0) > kMaxLineBytes) {
      sp.error = kReadTooLong;  // one line over the limit
      break;
    }
  }
  bool last_line_open = at_end && sp.error == kReadOk;  // bytes after the last end are a line
  b.size = last_line_open ? n : cut;
  if (at_end || sp.error != kReadOk) {
    sp.done = true;
  } else if (!reserve(sp.carry, sp.carry_capacity, n - cut)) {
    sp.error = kReadTooLong;
    sp.done = true;
  } else {
    sp.carry_size = n - cut;
    if (sp.carry_size > 0) std::memcpy(sp.carry, b.data + cut, sp.carry_size);
  }
  b.lines = count_line_ends(b.data, b.size) + (b.size > cut ? 1 : 0);
  sp.lines += b.lines;
  return b.size > 0;
}

bool annotate_parallel(RunState& s, unsigned workers, bool console_is_terminal) {
  Pipeline p(s, console_is_terminal);
  // Enough slots that every worker has one at work and one waiting, and the
  // reader and the writer one each.
  p.slots.resize(2 * workers + 2);
  bool ok = true;
  for (Slot& slot : p.slots) {
    slot.out_file = open_string_stream(&slot.out);
    slot.log_file = open_string_stream(&slot.log);
    ok = ok && slot.out_file != nullptr && slot.log_file != nullptr;
  }
  std::vector<pthread_t> threads(workers + 1);
  size_t started = 0;
  while (ok && started < threads.size()) {
    ok = start_thread(threads[started], started == 0 ? writer_main : worker_main, p);
    if (ok) ++started;
  }
  if (ok) {
    read_all(p);
  } else {
    // Not every thread could start: the started ones see an empty input,
    // and the caller goes serial, since nothing has been read.
    std::lock_guard<std::mutex> lock(p.m);
    p.reading_done = true;
    p.work_ready.notify_all();
    p.block_done.notify_all();
  }
  for (size_t i = 0; i < started; ++i) pthread_join(threads[i], nullptr);
  for (Slot& slot : p.slots) {
    if (slot.out_file != nullptr) fclose(slot.out_file);
    if (slot.log_file != nullptr) fclose(slot.log_file);
    release(slot.block);
  }
  return ok;
}
