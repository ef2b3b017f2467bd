// gzip, zstd, bzip2, xz and lz4 compression behind ordinary stdio streams, or
// of whole blocks, so that the writers work on compressed files exactly as on
// plain ones.
#ifndef MOLSTAMP_ENCODER_H
#define MOLSTAMP_ENCODER_H

#include <cstdio>
#include <string>

#include "io/codec/format.h"

// A compressor: of a stream (open_encoder) or of whole blocks (new_encoder).
struct Encoder;

// A write stream that compresses format into sink, as one gzip member, zstd
// or lz4 frame, or bzip2 or xz stream, finished at fclose, which leaves sink
// open and fails when any write to sink did (a bzip2 stream also ends at each
// flush_encoder, and the next write begins another). Null when memory runs
// out or format is plain. With handle, *handle is its compressor, for
// flush_encoder, valid until the fclose.
FILE* open_encoder(FILE* sink, Format format, Encoder** handle = nullptr);

// Writes to the sink, decodable, everything the stream's compressor has
// been given (call fflush on the stream first); writes nothing when it was
// given nothing since the last flush. False once any write has failed.
bool flush_encoder(Encoder* e);

// A compressor of whole blocks, each an independent gzip member, zstd or lz4
// frame, or bzip2 or xz stream: their concatenation is one valid file. Null
// when memory runs out or format is plain.
Encoder* new_encoder(Format format);

// Frees a compressor made by new_encoder (null: nothing).
void free_encoder(Encoder* e);

// Appends data, compressed as one complete member, stream or frame, to out;
// false when memory runs out.
bool encode_block(Encoder* e, const char* data, size_t n, std::string& out);

#endif
