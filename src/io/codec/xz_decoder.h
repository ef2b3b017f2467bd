// xz input (liblzma): any number of streams, with stream padding between and
// after them, as xz -T and cat a.xz b.xz write.
#ifndef MOLSTAMP_XZ_DECODER_H
#define MOLSTAMP_XZ_DECODER_H

#include <sys/types.h>

#include <cstddef>

#include "io/codec/decoder.h"

// Gives d an xz decompressor; false when memory runs out.
bool xz_start(Decoder& d);

// Decodes into buf (at most size bytes): how many, 0 at the end of the last
// stream, -1 on damage (a wrong check included), truncation or anything but
// a stream or padding after a stream.
ssize_t xz_read(Decoder& d, char* buf, size_t size);

// Frees d's decompressor.
void xz_end(Decoder& d);

#endif
