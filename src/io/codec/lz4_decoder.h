// lz4 input (liblz4's frame format): any number of frames, skippable frames
// passed over.
#ifndef MOLSTAMP_LZ4_DECODER_H
#define MOLSTAMP_LZ4_DECODER_H

#include <sys/types.h>

#include <cstddef>

#include "io/codec/decoder.h"

// Gives d an lz4 frame decompressor; false when memory runs out.
bool lz4_start(Decoder& d);

// Decodes into buf (at most size bytes): how many, 0 at the end of the last
// frame, -1 on damage (a wrong checksum included), truncation or anything
// but a frame after a frame.
ssize_t lz4_read(Decoder& d, char* buf, size_t size);

// Frees d's decompressor.
void lz4_end(Decoder& d);

#endif
