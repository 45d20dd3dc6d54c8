// LZ77 packer: the compression format of ZIRBIN bodies.
//
// A stream is an 8-byte header (packed size P: the bytes after the header;
// unpacked size U: the total of the block lengths), then independent blocks
// of at most 1 MiB, each a 4-byte length and an LSB-first bit stream of
// literals (flag 0, 8 bits) and matches (flag 1, a length field of 3..566
// bytes, a distance field of 1..262,144 bytes within the block).
//
// `compress` is run by the build tool that packs the boot image; `decompress`
// reads packed ZIRBIN images. The decompressor reads untrusted data: it is
// given the input's length, checks every read against it, and refuses an
// unpacked size past the longest series or beyond what the packed bytes could
// produce before it allocates anything.
#pragma once

#include <memory>

#include "runtime/base.hpp"

namespace zir {
namespace lz77 {

constexpr i64 HEADER_SIZE = 8;
constexpr i64 BLOCK_SIZE = 1 << 20;          // longest block
constexpr i64 WINDOW = 1 << 18;              // farthest match distance
constexpr i32 MIN_MATCH = 3;
constexpr i32 MAX_MATCH = 566;
// Inputs shorter than this are not worth packing.
constexpr i64 MIN_INPUT = 128;
// The longest unpacked output: the longest byte series.
constexpr i64 MAX_UNPACKED = 0x7FFFFFF0;
// The most output one packed byte can carry: a 566-byte match costs at least
// 22 bits (flag, 5 prefix bits, 9 length bits, 7 distance bits).
constexpr i64 MAX_BYTES_PER_22_BITS = MAX_MATCH;

// Packs `length` bytes into `out`, which must hold at least `length` bytes.
// Answers the whole packed size (header included), or -1 when the input is
// shorter than MIN_INPUT or its packed form would not be smaller than or
// equal to `length` bytes.
i64 compress(const u8* in, i64 length, u8* out);

// The unpacked bytes of a stream, released by their owner on every path.
struct Unpacked {
    std::unique_ptr<u8[]> data;
    i64 size = 0;
};

// Unpacks the stream of `length` bytes at `in` (length -1: the stream's own
// packed size is trusted, for the boot image only). Answers false, holding
// nothing, for any fault: a header claiming more than the input holds or an
// unpacked size the packed bytes cannot produce, a block length outside
// 1..BLOCK_SIZE or past the unpacked size, a bit stream running past the
// packed bytes, a match reaching before its block or past its end, blocks
// whose lengths do not add up to the unpacked size.
bool decompress(const u8* in, i64 length, Unpacked* out);

// The largest unpacked size that `packed` bytes of blocks can produce.
constexpr i64 max_unpacked(i64 packed) { return (packed * 8 * MAX_BYTES_PER_22_BITS + 21) / 22; }

}  // namespace lz77
}  // namespace zir
