// gzip input (isa-l): any number of members, as pigz, bgzip and cat write.
#ifndef MOLSTAMP_GZIP_DECODER_H
#define MOLSTAMP_GZIP_DECODER_H

#include <sys/types.h>

#include <cstddef>

#include "io/codec/decoder.h"

// Gives d a gzip decompressor; false when memory runs out.
bool gzip_start(Decoder& d);

// Decodes into buf (at most size bytes): how many, 0 at the end of the last
// member, -1 on damage, truncation or anything but a member after a member.
ssize_t gzip_read(Decoder& d, char* buf, size_t size);

// Frees d's decompressor.
void gzip_end(Decoder& d);

#endif
