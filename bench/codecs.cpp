// Measures the compressors on benchmark data, to choose each output format's
// level: bzip2, xz and lz4 at several levels, straight from their libraries,
// and the tool's own encoders of every format at the levels chosen; each in
// one stream (flushed every block, as the serial run's checkpoints do) and in
// independent blocks (as the parallel run's workers write them). Every output
// is decoded back by the tool's reader; the tool's own, also by the format's
// command-line tool. bench/codecs builds it and runs it on annotated data.
//
//   molstamp_codecs [--block BYTES] FILE...
//   molstamp_codecs --gzip-libraries in.txt in.gz in.zst
//
// Prints MB/s of plain bytes per CPU second (the best of several runs),
// the ratio plain / compressed, and MB/s of the tool's decoding. The second
// form compares the gzip libraries (zlib, libdeflate, isa-l) and zstd, when
// they were found at build time.
#include <bzlib.h>
#include <isa-l/igzip_lib.h>
#include <lz4frame.h>
#include <lzma.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "io/codec/codec.h"
#include "io/codec/encoder.h"

#ifdef MOLSTAMP_GZIP_PEERS
#include <libdeflate.h>
#include <zlib.h>
#endif

namespace {

std::string slurp(const char* p) {
  FILE* f = fopen(p, "rb");
  std::string s;
  if (f == nullptr) return s;
  char b[1 << 16];
  size_t n;
  while ((n = fread(b, 1, sizeof b, f)) > 0) s.append(b, n);
  fclose(f);
  return s;
}

double cpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// How a candidate compresses: a stream flushed after every block, or
// independent blocks.
enum class Mode { kStream, kBlocks };

// What the output chunks are made in.
constexpr size_t kChunk = 1 << 18;

// bzip2 at level: a stream per block in both modes, since the tool's flush
// ends the stream (bzip2's own flush leaves a block undecodable).
std::string bzip2_pack(const std::string& text, int level, size_t block, Mode) {
  std::string packed;
  std::vector<char> out(kChunk);
  for (size_t at = 0; at < text.size(); at += block) {
    bz_stream s{};
    if (BZ2_bzCompressInit(&s, level, 0, 0) != BZ_OK) return "";
    s.next_in = const_cast<char*>(text.data() + at);
    s.avail_in = static_cast<unsigned>(std::min(block, text.size() - at));
    int rc;
    do {
      s.next_out = out.data();
      s.avail_out = kChunk;
      rc = BZ2_bzCompress(&s, BZ_FINISH);
      packed.append(out.data(), kChunk - s.avail_out);
    } while (rc == BZ_FINISH_OK);
    BZ2_bzCompressEnd(&s);
    if (rc != BZ_STREAM_END) return "";
  }
  return packed;
}

// Runs lzma_code with action until it has taken all input and, unless
// LZMA_RUN, until it says the action is done.
bool xz_run(lzma_stream& s, lzma_action action, std::string& packed, std::vector<char>& out) {
  lzma_ret rc;
  do {
    s.next_out = reinterpret_cast<uint8_t*>(out.data());
    s.avail_out = kChunk;
    rc = lzma_code(&s, action);
    if (rc != LZMA_OK && rc != LZMA_STREAM_END) return false;
    packed.append(out.data(), kChunk - s.avail_out);
  } while (action == LZMA_RUN ? s.avail_in > 0 || s.avail_out == 0 : rc != LZMA_STREAM_END);
  return true;
}

// xz at preset (| LZMA_PRESET_EXTREME for the e levels), CRC64 as xz itself.
std::string xz_pack(const std::string& text, uint32_t preset, size_t block, Mode mode) {
  std::string packed;
  std::vector<char> out(kChunk);
  lzma_stream s = LZMA_STREAM_INIT;
  bool ok = true;
  for (size_t at = 0; ok && at < text.size(); at += block) {
    if (at == 0 || mode == Mode::kBlocks)
      ok = lzma_easy_encoder(&s, preset, LZMA_CHECK_CRC64) == LZMA_OK;
    s.next_in = reinterpret_cast<const uint8_t*>(text.data() + at);
    s.avail_in = std::min(block, text.size() - at);
    bool last = at + block >= text.size();
    ok =
        ok && xz_run(s, mode == Mode::kBlocks || last ? LZMA_FINISH : LZMA_SYNC_FLUSH, packed, out);
  }
  lzma_end(&s);
  return ok ? packed : "";
}

// lz4 frames at level, linked 64 KiB blocks with a content checksum.
std::string lz4_pack(const std::string& text, int level, size_t block, Mode mode) {
  std::string packed;
  LZ4F_cctx* c = nullptr;
  if (LZ4F_isError(LZ4F_createCompressionContext(&c, LZ4F_VERSION))) return "";
  LZ4F_preferences_t prefs{};
  prefs.frameInfo.blockSizeID = LZ4F_max64KB;
  prefs.frameInfo.blockMode = LZ4F_blockLinked;
  prefs.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
  prefs.compressionLevel = level;
  std::vector<char> out(LZ4F_compressBound(block, &prefs) + 64);
  bool ok = true;
  auto put = [&](size_t made) {
    ok = ok && !LZ4F_isError(made);
    if (ok) packed.append(out.data(), made);
  };
  for (size_t at = 0; ok && at < text.size(); at += block) {
    if (at == 0 || mode == Mode::kBlocks)
      put(LZ4F_compressBegin(c, out.data(), out.size(), &prefs));
    size_t n = std::min(block, text.size() - at);
    put(LZ4F_compressUpdate(c, out.data(), out.size(), text.data() + at, n, nullptr));
    bool last = at + block >= text.size();
    put(mode == Mode::kBlocks || last ? LZ4F_compressEnd(c, out.data(), out.size(), nullptr)
                                      : LZ4F_flush(c, out.data(), out.size(), nullptr));
  }
  LZ4F_freeCompressionContext(c);
  return ok ? packed : "";
}

// The tool's own encoder of format (its level), as the serial run uses it
// (a stream, flushed after every block) or as the workers do.
std::string tool_pack(const std::string& text, Format format, size_t block, Mode mode) {
  std::string packed;
  if (mode == Mode::kBlocks) {
    Encoder* e = new_encoder(format);
    bool ok = e != nullptr;
    for (size_t at = 0; ok && at < text.size(); at += block)
      ok = encode_block(e, text.data() + at, std::min(block, text.size() - at), packed);
    free_encoder(e);
    return ok ? packed : "";
  }
  char* bytes = nullptr;
  size_t size = 0;
  FILE* sink = open_memstream(&bytes, &size);
  Encoder* e = nullptr;
  FILE* f = open_encoder(sink, format, &e);
  bool ok = f != nullptr;
  for (size_t at = 0; ok && at < text.size(); at += block) {
    ok = fwrite(text.data() + at, 1, std::min(block, text.size() - at), f) > 0 && fflush(f) == 0 &&
         flush_encoder(e);
  }
  ok = (f == nullptr || fclose(f) == 0) && ok;
  fclose(sink);
  if (ok) packed.assign(bytes, size);
  std::free(bytes);
  return packed;
}

// Decodes packed with the tool's reader, as a file of that name would be.
std::string tool_unpack(const std::string& packed) {
  FILE* f = tmpfile();
  fwrite(packed.data(), 1, packed.size(), f);
  fflush(f);
  int fd = dup(fileno(f));
  fclose(f);
  lseek(fd, 0, SEEK_SET);
  unsigned char head[kMagicBytes];
  ssize_t got = read(fd, head, sizeof head);
  size_t n = got > 0 ? static_cast<size_t>(got) : 0;
  FILE* in = open_decoder(fd, format_of(head, n), head, n);
  std::string text;
  if (in == nullptr) return text;
  std::vector<char> chunk(kChunk);
  size_t k;
  while ((k = fread(chunk.data(), 1, chunk.size(), in)) > 0) text.append(chunk.data(), k);
  bool error = ferror(in) != 0;
  fclose(in);
  return error ? "(read error)" : text;
}

// True when the format's own command-line tool decodes packed to text.
bool cli_unpacks(const char* command, const std::string& packed, const std::string& text) {
  char name[] = "/tmp/molstamp-codecs-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) return false;
  bool ok = write(fd, packed.data(), packed.size()) == static_cast<ssize_t>(packed.size());
  close(fd);
  std::string line = std::string(command) + " < " + name;
  FILE* p = popen(line.c_str(), "r");
  std::string back;
  std::vector<char> chunk(kChunk);
  size_t k;
  while (p != nullptr && (k = fread(chunk.data(), 1, chunk.size(), p)) > 0)
    back.append(chunk.data(), k);
  ok = p != nullptr && pclose(p) == 0 && ok && back == text;
  unlink(name);
  return ok;
}

// One row: the best CPU time of several runs of pack, its ratio, the tool's
// decoding speed and the checks.
template <typename Pack>
void measure(const char* format, const std::string& level, Mode mode, const std::string& text,
             const char* cli, Pack pack) {
  double best = 1e9, spent = 0;
  std::string packed;
  for (int run = 0; run < 3 || (spent < 1.0 && run < 50); ++run) {
    double t = cpu();
    packed = pack();
    double took = cpu() - t;
    best = std::min(best, took);
    spent += took;
  }
  double t = cpu();
  std::string back = tool_unpack(packed);
  double decode = cpu() - t;
  bool ok = !packed.empty() && back == text;
  const char* check = !ok ? "FAIL" : "ok";
  if (ok && cli != nullptr) check = cli_unpacks(cli, packed, text) ? "ok, and CLI" : "CLI FAIL";
  double mb = static_cast<double>(text.size()) / 1e6;
  printf("| %-6s | %-12s | %-6s | %9.1f | %6.3f | %9.1f | %-11s |\n", format, level.c_str(),
         mode == Mode::kStream ? "stream" : "blocks", mb / best,
         static_cast<double>(text.size()) / static_cast<double>(packed.size()), mb / decode, check);
  fflush(stdout);
}

void table(const std::string& text, size_t block) {
  printf("| format | level | mode | MB/s compress | ratio | MB/s decode | decoded back |\n");
  printf("|---|---|---|---|---|---|---|\n");
  for (Mode mode : {Mode::kStream, Mode::kBlocks}) {
    for (int level : {1, 3, 6, 9}) {
      measure("bzip2", std::to_string(level), mode, text, nullptr,
              [&] { return bzip2_pack(text, level, block, mode); });
    }
    for (uint32_t preset : {0u, 1u, 2u, 3u, 6u, 0u | LZMA_PRESET_EXTREME}) {
      std::string name = std::to_string(preset & LZMA_PRESET_LEVEL_MASK) +
                         (preset & LZMA_PRESET_EXTREME ? "e" : "");
      measure("xz", name, mode, text, nullptr, [&] { return xz_pack(text, preset, block, mode); });
    }
    for (int level : {-8, -1, 0, 3, 6, 9}) {
      measure("lz4", std::to_string(level), mode, text, nullptr,
              [&] { return lz4_pack(text, level, block, mode); });
    }
  }
  struct Tool {
    const char* name;
    Format format;
    const char* cli;
  };
  const Tool tools[] = {{"gzip", Format::kGzip, "gzip -dc"},
                        {"zstd", Format::kZstd, "zstd -qdc"},
                        {"bzip2", Format::kBzip2, "bzip2 -dc"},
                        {"xz", Format::kXz, "xz -dc"},
                        {"lz4", Format::kLz4, "lz4 -dc"}};
  for (Mode mode : {Mode::kStream, Mode::kBlocks}) {
    for (const Tool& tool : tools) {
      measure(tool.name, "molstamp's", mode, text, tool.cli,
              [&] { return tool_pack(text, tool.format, block, mode); });
    }
  }
}

#ifdef MOLSTAMP_GZIP_PEERS
// The gzip libraries and zstd, decoding the given files and encoding plain.
void gzip_libraries(const std::string& plain, const std::string& gz, const std::string& zs) {
  const size_t CH = kChunk;
  std::vector<unsigned char> out(CH * 2 + 4096);
  double mb = static_cast<double>(plain.size()) / 1e6;
  auto rep = [&](const char* name, double t, size_t sz) {
    printf("%-28s %8.1f MB/s  %6.3f s  out %zu\n", name, mb / t, t, sz);
  };
  {
    double t = cpu();
    z_stream z{};
    inflateInit2(&z, 31);
    z.next_in = (Bytef*)gz.data();
    z.avail_in = gz.size();
    size_t tot = 0;
    int r;
    do {
      z.next_out = out.data();
      z.avail_out = CH;
      r = inflate(&z, Z_NO_FLUSH);
      tot += CH - z.avail_out;
    } while (r == Z_OK);
    inflateEnd(&z);
    rep("zlib inflate", cpu() - t, tot);
  }
  {
    double t = cpu();
    inflate_state s;
    isal_inflate_init(&s);
    s.crc_flag = ISAL_GZIP;
    s.next_in = (uint8_t*)gz.data();
    s.avail_in = gz.size();
    size_t tot = 0;
    int r;
    do {
      s.next_out = out.data();
      s.avail_out = CH;
      r = isal_inflate(&s);
      tot += CH - s.avail_out;
    } while (r == ISAL_DECOMP_OK && s.block_state != ISAL_BLOCK_FINISH);
    rep("isa-l inflate", cpu() - t, tot);
  }
  {
    double t = cpu();
    ZSTD_DCtx* d = ZSTD_createDCtx();
    ZSTD_inBuffer in{zs.data(), zs.size(), 0};
    size_t tot = 0;
    while (in.pos < in.size) {
      ZSTD_outBuffer o{out.data(), CH, 0};
      ZSTD_decompressStream(d, &o, &in);
      tot += o.pos;
    }
    ZSTD_freeDCtx(d);
    rep("zstd decompress", cpu() - t, tot);
  }
  for (int lvl : {1, 6}) {
    double t = cpu();
    z_stream z{};
    deflateInit2(&z, lvl, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    size_t tot = 0;
    for (size_t p = 0; p < plain.size(); p += CH) {
      size_t n = std::min(CH, plain.size() - p);
      z.next_in = (Bytef*)plain.data() + p;
      z.avail_in = n;
      int fl = p + n == plain.size() ? Z_FINISH : Z_NO_FLUSH;
      do {
        z.next_out = out.data();
        z.avail_out = out.size();
        deflate(&z, fl);
        tot += out.size() - z.avail_out;
      } while (z.avail_out == 0 || (fl == Z_FINISH && z.avail_in));
    }
    deflateEnd(&z);
    char nm[64];
    snprintf(nm, 64, "zlib deflate -%d", lvl);
    rep(nm, cpu() - t, tot);
  }
  for (int lvl : {1, 2, 3}) {
    double t = cpu();
    isal_zstream s;
    isal_deflate_init(&s);
    s.level = lvl;
    std::vector<uint8_t> lb(lvl == 1   ? ISAL_DEF_LVL1_DEFAULT
                            : lvl == 2 ? ISAL_DEF_LVL2_DEFAULT
                                       : ISAL_DEF_LVL3_DEFAULT);
    s.level_buf = lb.data();
    s.level_buf_size = lb.size();
    s.gzip_flag = IGZIP_GZIP;
    size_t tot = 0;
    for (size_t p = 0; p < plain.size(); p += CH) {
      size_t n = std::min(CH, plain.size() - p);
      s.next_in = (uint8_t*)plain.data() + p;
      s.avail_in = n;
      s.end_of_stream = p + n == plain.size();
      do {
        s.next_out = out.data();
        s.avail_out = out.size();
        isal_deflate(&s);
        tot += out.size() - s.avail_out;
      } while (s.avail_out == 0 || s.avail_in);
    }
    char nm[64];
    snprintf(nm, 64, "isa-l deflate -%d", lvl);
    rep(nm, cpu() - t, tot);
  }
  for (int lvl : {1, 6}) {
    double t = cpu();
    auto* c = libdeflate_alloc_compressor(lvl);
    size_t tot = 0;
    for (size_t p = 0; p < plain.size(); p += CH) {
      size_t n = std::min(CH, plain.size() - p);
      tot += libdeflate_gzip_compress(c, plain.data() + p, n, out.data(), out.size());
    }
    libdeflate_free_compressor(c);
    char nm[64];
    snprintf(nm, 64, "libdeflate -%d (256K members)", lvl);
    rep(nm, cpu() - t, tot);
  }
  for (int lvl : {1, 3}) {
    double t = cpu();
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, lvl);
    size_t tot = 0;
    for (size_t p = 0; p < plain.size(); p += CH) {
      size_t n = std::min(CH, plain.size() - p);
      ZSTD_inBuffer in{plain.data() + p, n, 0};
      bool last = p + n == plain.size();
      size_t r;
      do {
        ZSTD_outBuffer o{out.data(), out.size(), 0};
        r = ZSTD_compressStream2(c, &o, &in, last ? ZSTD_e_end : ZSTD_e_continue);
        tot += o.pos;
      } while (last ? r != 0 : in.pos < in.size);
    }
    ZSTD_freeCCtx(c);
    char nm[64];
    snprintf(nm, 64, "zstd -%d", lvl);
    rep(nm, cpu() - t, tot);
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--gzip-libraries") == 0) {
#ifdef MOLSTAMP_GZIP_PEERS
    gzip_libraries(slurp(argv[2]), slurp(argv[3]), slurp(argv[4]));
    return 0;
#else
    fprintf(stderr, "built without zlib or libdeflate (zlib1g-dev, libdeflate-dev)\n");
    return 2;
#endif
  }
  // 256 KiB of InChI lines, the parallel run's block, is about this much
  // once annotated.
  size_t block = 380'000;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--block") == 0) {
    block = std::strtoul(argv[2], nullptr, 10);
    first = 3;
  }
  if (first >= argc || block == 0) {
    fprintf(stderr, "usage: molstamp_codecs [--block BYTES] FILE...\n");
    return 2;
  }
  for (int i = first; i < argc; ++i) {
    std::string text = slurp(argv[i]);
    printf("\n%s: %zu bytes, blocks of %zu bytes\n\n", argv[i], text.size(), block);
    table(text, block);
  }
  return 0;
}
