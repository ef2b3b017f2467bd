// bzip2 input (libbz2): any number of streams, as pbzip2 and cat write.
#ifndef MOLSTAMP_BZIP2_DECODER_H
#define MOLSTAMP_BZIP2_DECODER_H

#include <sys/types.h>

#include <cstddef>

#include "io/codec/decoder.h"

// Gives d a bzip2 decompressor; false when memory runs out.
bool bzip2_start(Decoder& d);

// Decodes into buf (at most size bytes): how many, 0 at the end of the last
// stream, -1 on damage, truncation or anything but a stream after a stream.
ssize_t bzip2_read(Decoder& d, char* buf, size_t size);

// Frees d's decompressor.
void bzip2_end(Decoder& d);

#endif
