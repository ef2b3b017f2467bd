// Measures the candidate gzip and zstd libraries on the benchmark file, to
// choose the decoder and the encoder (not built by CMake: it links zlib and
// libdeflate, which molstamp does not use):
//
//   apt-get install zlib1g-dev libdeflate-dev libisal-dev libzstd-dev
//   g++ -O2 bench/codecs.cpp -o codecs -lz -lisal -ldeflate -lzstd
//   gzip -c in.txt > in.gz; zstd -q -c in.txt > in.zst; ./codecs in.txt in.gz in.zst
//
// Prints MB/s of plain bytes per CPU second, CPU seconds, and output sizes.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
static std::string slurp(const char* p) {
  FILE* f = fopen(p, "rb");
  std::string s;
  char b[1 << 16];
  size_t n;
  while ((n = fread(b, 1, sizeof b, f)) > 0) s.append(b, n);
  fclose(f);
  return s;
}
static double cpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}
static const size_t CH = 1 << 18;
int main(int argc, char** argv) {
  std::string plain = slurp(argv[1]), gz = slurp(argv[2]), zs = slurp(argv[3]);
  std::vector<unsigned char> out(CH * 2 + 4096);
  double mb = plain.size() / 1e6;
  auto rep = [&](const char* name, double t, size_t sz) {
    printf("%-28s %8.1f MB/s  %6.3f s  out %zu\n", name, mb / t, t, sz);
  };
  // zlib inflate
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
