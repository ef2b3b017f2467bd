// zstd input: any number of frames, skippable frames passed over.
#ifndef MOLSTAMP_ZSTD_DECODER_H
#define MOLSTAMP_ZSTD_DECODER_H

#include <sys/types.h>

#include <cstddef>

#include "io/codec/decoder.h"

// Gives d a zstd decompressor; false when memory runs out.
bool zstd_start(Decoder& d);

// Decodes into buf (at most size bytes): how many, 0 at the end of the last
// frame, -1 on damage, truncation or anything but a frame after a frame.
ssize_t zstd_read(Decoder& d, char* buf, size_t size);

// Frees d's decompressor.
void zstd_end(Decoder& d);

#endif
