// What a stream is, by its first bytes or by its name: a compression format,
// an archive, UTF-16 text. The ground of io/codec: the decoders, the encoders
// and the read stream all stand on it, and it on nothing of theirs.
#ifndef MOLSTAMP_FORMAT_H
#define MOLSTAMP_FORMAT_H

#include <cstddef>

// A compression format of input or output; plain is none.
enum class Format { kPlain, kGzip, kZstd, kBzip2, kXz, kLz4 };

// What an archive given as input is: never read as text. The legacy lz4
// format (lz4 -l), which the decoders do not read, is refused the same way.
enum class Archive { kNone, kZip, k7z, kTar, kLegacyLz4 };

// The longest magic number; format_of needs at most this many first bytes.
constexpr size_t kMagicBytes = 6;

// The first bytes of the (decoded) data that archive_of needs to see a tar
// header: one 512-byte record.
constexpr size_t kArchiveBytes = 512;

// The format by a stream's first n bytes: gzip (1f 8b), zstd (28 b5 2f fd, or
// a skippable frame 5X 2a 4d 18, which lz4 shares: the decoder tells them
// apart by the frame after it), bzip2 ("BZh" and a digit 1 to 9), xz
// (fd 37 7a 58 5a 00), lz4 (04 22 4d 18), else plain.
Format format_of(const unsigned char* head, size_t n);

// True when the first n bytes begin with a whole skippable frame magic
// number (5X 2a 4d 18, any X), which zstd and lz4 share.
bool begins_skippable_frame(const unsigned char* head, size_t n);

// True while the first n bytes could still grow into a magic number, of a
// format or of an archive: reading further is needed to decide, and only
// then (a pipe's first short line must not wait for more).
bool may_become_magic(const unsigned char* head, size_t n);

// True while the first n bytes (fewer than a tar header's 512) could still
// be the start of a tar header: a name without a line end, NUL-padded, then
// an octal mode. A pipe's first short line, which has a line end, never
// waits for more.
bool may_become_tar(const unsigned char* head, size_t n);

// The archive whose first n bytes of data are these: zip (PK 03 04, or the
// empty zip's PK 05 06), 7z (37 7a bc af 27 1c), tar ("ustar" at offset 257,
// or an old V7 header without it, known by its checksum), legacy lz4
// (02 21 4c 18), else none.
Archive archive_of(const unsigned char* data, size_t n);

// True when the first n bytes of data are a UTF-16 byte order mark (FF FE
// or FE FF), as Windows PowerShell 5 and Notepad's "Unicode" write: text
// whose lines and InChIs the tool cannot read.
bool is_utf16(const unsigned char* data, size_t n);

// The output format a file name asks for by its suffix, in any case: .gz
// gzip, .zst zstd, .bz2 bzip2, .xz xz, .lz4 lz4, else plain.
Format format_for_name(const char* name);

#endif
