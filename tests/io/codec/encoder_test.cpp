// The encoders of every output format: against the formats' own tools,
// whole, in independent blocks and flushed; a stream that writes nothing
// before its first bytes, and a sink that fails.
#include "io/codec/encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/codec/codec_test_util.h"

namespace {

// A compressing stream over a sink in memory, as the run's output over its file.
struct MemorySink {
  char* bytes = nullptr;
  size_t size = 0;  // what the sink holds, once flushed
  FILE* sink = open_memstream(&bytes, &size);
  Encoder* encoder = nullptr;
  FILE* stream = nullptr;

  explicit MemorySink(Format format) { stream = open_encoder(sink, format, &encoder); }
  ~MemorySink() { std::free(bytes); }

  // What the sink holds now.
  std::string held() {
    fflush(sink);
    return std::string(bytes, size);
  }
};

// Compresses bytes through a stream, as the serial run writes its output.
std::string encode(Format format, const std::string& bytes) {
  MemorySink m(format);
  FILE* f = m.stream;
  EXPECT_NE(f, nullptr);
  // Odd-sized writes: the encoder sees stdio's flushes, not our pieces.
  for (size_t i = 0; i < bytes.size(); i += 7777)
    fwrite(bytes.data() + i, 1, std::min<size_t>(7777, bytes.size() - i), f);
  EXPECT_EQ(fclose(f), 0);
  EXPECT_EQ(fclose(m.sink), 0);
  return std::string(m.bytes, m.size);
}

// Every output format and the command that decompresses it.
struct Unpacker {
  Format format;
  const char* command;
};
const Unpacker kUnpackers[] = {{Format::kGzip, "gzip -dc"},
                               {Format::kZstd, "zstd -qdc"},
                               {Format::kBzip2, "bzip2 -dc"},
                               {Format::kXz, "xz -dc"},
                               {Format::kLz4, "lz4 -dc"}};

TEST(Encoder, EncodesWhatTheStandardToolsRead) {
  for (const std::string& text : {std::string(), sample_text(100), sample_text(3'000'000)}) {
    for (const Unpacker& u : kUnpackers) {
      SCOPED_TRACE(std::string(u.command) + ", " + std::to_string(text.size()));
      std::string packed = encode(u.format, text);
      EXPECT_TRUE(filter(u.command, packed) == text);
      EXPECT_TRUE(decode(packed, 0).bytes == text);
    }
  }
}

// Blocks compressed apart, as the parallel writer does, make one valid file.
TEST(Encoder, IndependentBlocksConcatenateToOneFile) {
  std::string text = sample_text(1'000'000);
  for (const Unpacker& u : kUnpackers) {
    SCOPED_TRACE(u.command);
    Encoder* e = new_encoder(u.format);
    ASSERT_NE(e, nullptr);
    std::string packed;
    for (size_t at = 0; at < text.size(); at += 300'000)
      ASSERT_TRUE(
          encode_block(e, text.data() + at, std::min<size_t>(300'000, text.size() - at), packed));
    ASSERT_TRUE(encode_block(e, "", 0, packed));  // an empty block is a valid member too
    free_encoder(e);
    EXPECT_TRUE(filter(u.command, packed) == text);
    EXPECT_TRUE(decode(packed, 0).bytes == text);
  }
  EXPECT_EQ(new_encoder(Format::kPlain), nullptr);
}

// What a stream has written after a flush (as when a pipe input waits)
// already decodes to all the text given; a flush with nothing new writes
// nothing; the stream goes on to a whole file.
TEST(Encoder, FlushedStreamHoldsAllGivenSoFar) {
  std::string first = sample_text(700'001), second = sample_text(5000);
  for (const Unpacker& u : kUnpackers) {
    SCOPED_TRACE(u.command);
    MemorySink m(u.format);
    FILE* f = m.stream;
    ASSERT_NE(f, nullptr);
    fwrite(first.data(), 1, first.size(), f);
    ASSERT_EQ(fflush(f), 0);
    ASSERT_TRUE(flush_encoder(m.encoder));
    std::string flushed = m.held();
    ASSERT_TRUE(flush_encoder(m.encoder));
    EXPECT_EQ(m.held().size(), flushed.size());
    fwrite(second.data(), 1, second.size(), f);
    ASSERT_EQ(fclose(f), 0);
    ASSERT_EQ(fclose(m.sink), 0);
    std::string whole(m.bytes, m.size);
    EXPECT_TRUE(decode(flushed, 0).bytes == first);
    EXPECT_TRUE(filter(u.command, whole) == first + second);
    EXPECT_TRUE(decode(whole, 0).bytes == first + second);
  }
}

// The parallel run writes its blocks past the output's stream, straight to
// the sink, and closes the stream last: until its first bytes the stream
// writes nothing, not even on a flush, and its close ends one valid file.
TEST(Encoder, StreamWritesNothingBeforeItsFirstBytes) {
  std::string text = sample_text(200'000);
  for (const Unpacker& u : kUnpackers) {
    SCOPED_TRACE(u.command);
    MemorySink m(u.format);
    FILE* f = m.stream;
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fflush(f), 0);
    ASSERT_TRUE(flush_encoder(m.encoder));
    EXPECT_EQ(m.held().size(), 0u);
    Encoder* blocks = new_encoder(u.format);
    ASSERT_NE(blocks, nullptr);
    std::string packed;
    ASSERT_TRUE(encode_block(blocks, text.data(), text.size(), packed));
    free_encoder(blocks);
    fwrite(packed.data(), 1, packed.size(), m.sink);
    ASSERT_EQ(fclose(f), 0);
    ASSERT_EQ(fclose(m.sink), 0);
    std::string whole(m.bytes, m.size);
    EXPECT_TRUE(filter(u.command, whole) == text);
    EXPECT_TRUE(decode(whole, 0).bytes == text);
  }
  EXPECT_EQ(open_encoder(stdout, Format::kPlain), nullptr);
}

// A sink that fails fails the stream, from then on: the flush, every later
// write, and the close.
TEST(Encoder, FailingSinkFailsTheStreamForGood) {
  std::string text = sample_text(300'000);
  for (const Unpacker& u : kUnpackers) {
    SCOPED_TRACE(u.command);
    FILE* sink = fopen("/dev/full", "w");
    ASSERT_NE(sink, nullptr);
    setvbuf(sink, nullptr, _IONBF, 0);  // each write the compressor emits meets the device
    Encoder* e = nullptr;
    FILE* f = open_encoder(sink, u.format, &e);
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fflush(f);
    EXPECT_FALSE(flush_encoder(e));
    fputs("InChI=1S/H2O/h1H2\n", f);
    EXPECT_NE(fflush(f), 0);
    EXPECT_NE(fclose(f), 0);
    fclose(sink);
  }
}

}  // namespace
