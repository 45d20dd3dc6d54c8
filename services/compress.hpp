// Compression: the raw deflate format (RFC 1951) and its zlib (RFC 1950) and
// gzip (RFC 1952) framings, behind the `compress` and `decompress` natives.
//
// Two layers:
// - Buffer-to-buffer codecs (`deflate`, `inflate`, `zlib_encode`,
//   `zlib_decode`, `gzip`, `gunzip`) take (output, in/out size, input,
//   length): on entry the size is the output's capacity, on return the bytes
//   produced, or needed when the answer is OUTPUT_TOO_SMALL. They allocate
//   nothing and report failure by their answer.
// - Series routines (`encode`, `decode`) read their input from a byte series
//   and answer a new byte series; they raise the language's errors. The
//   natives call these.
//
// The encoder is small and fast rather than strong: one final block with the
// fixed Huffman codes, greedy matching through a 1,024-bucket hash table of
// four positions each (deflate.cpp). The decoder reads all three block types
// (inflate.cpp); it stops at the first fault of its input, whatever the
// fault, so truncated or corrupt data is never answered as success.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace compress {

// Answers of the buffer-to-buffer codecs.
enum Result : int {
    OK = 0,
    OUTPUT_TOO_SMALL = 1,   // size holds what the whole output needs
    BAD_DATA = 2,           // bad data, header or checksum; for the encoders, a
                            // capacity below the frame's minimum
    STORED_TOO_LONG = 3,    // a stored block longer than the input left
    BAD_BLOCK_TYPE = 4,     // block type 3
    DISTANCE_TOO_FAR = 5,   // a distance reaching before the start of the output
};

enum Method : int { NO_METHOD = -1, ZLIB = 0, DEFLATE = 1, GZIP = 2 };

// The method words' symbols, made by `init`.
extern i32 sym_zlib, sym_deflate, sym_gzip;

// Makes the three method words (start-up, after the symbol table).
void init();
// The method named by a symbol (any spelling of it), or NO_METHOD.
Method method_of(i32 symbol);

// --- Buffer-to-buffer codecs ------------------------------------------------------

int deflate(u8* out, i64* size, const u8* in, i64 length);
int inflate(u8* out, i64* size, const u8* in, i64 length);
int zlib_encode(u8* out, i64* size, const u8* in, i64 length);
int zlib_decode(u8* out, i64* size, const u8* in, i64 length);
int gzip(u8* out, i64* size, const u8* in, i64 length);
int gunzip(u8* out, i64* size, const u8* in, i64 length);

// The largest output of the encoder of a method for `length` bytes: a buffer
// of this size always holds the encoding.
i64 max_encoded_size(Method method, i64 length);

// The most that `length` bytes of deflate data can decode to: a match of 258
// bytes costs at least two bits.
constexpr i64 MAX_INFLATE_RATIO = 1032;

// The longest output of the series routines: the longest byte series.
constexpr i64 MAX_OUTPUT = 0x7FFFFFF0;

// --- Series routines --------------------------------------------------------------

// The encoding of `length` bytes of the byte series `node`, starting `index`
// bytes after its head, as a new byte series (its node, which the caller
// keeps in a root before it allocates). Raises `script too-long` when the
// encoding could pass the longest series.
u32 encode(Method method, u32 node, i64 index, i64 length);

// The decoding of `length` bytes of the byte series `node` from `index`, as a
// new byte series. `size_hint` (0: none) is the expected size; the output
// grows as data really decodes, so neither it nor gzip's stored size can make
// a small input claim more memory than the format could fill from it. Raises
// `script invalid-data` (with the method word) for data that does not decode
// whole and clean, and `script too-long` when the output would pass the
// longest series.
u32 decode(Method method, u32 node, i64 index, i64 length, i64 size_hint);

// --- The decoder's interface to its output (inflate.cpp) ---------------------------

// What the decoder reads and writes. The input is `in[in_begin..in_end)`;
// output goes to `out[0..capacity)`, `count` bytes produced so far.
struct Inflater {
    const u8* in = nullptr;
    i64 in_begin = 0, in_end = 0;
    u8* out = nullptr;
    i64 capacity = 0;
    i64 count = 0;
    // Makes room for `need` bytes of output in all; it may move both the
    // input and the output, and then updates `in`, `out` and `capacity`.
    // False when it cannot. Null: the capacity is fixed.
    bool (*grow)(Inflater* z, i64 need) = nullptr;
    // When no room can be made: true, go on decoding and counting without
    // storing (the size needed is then known); false, stop at once.
    bool counting = true;
    void* context = nullptr;
};

// Decodes the raw deflate data; answers a Result. OUTPUT_TOO_SMALL leaves in
// `count` the whole decoded size when counting, else what fitted.
int inflate_into(Inflater* z);

}  // namespace compress
}  // namespace zir
