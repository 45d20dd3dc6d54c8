// The zlib and gzip framings, the method words and the series routines of the
// compression codecs. See compress.hpp.
#include "services/compress.hpp"

#include <cstring>

#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "services/checksum.hpp"

namespace zir {
namespace compress {

i32 sym_zlib, sym_deflate, sym_gzip;

void init() {
    sym_zlib = symbol::make("zlib");
    sym_deflate = symbol::make("deflate");
    sym_gzip = symbol::make("gzip");
}

Method method_of(i32 symbol) {
    i32 s = symbol::resolve(symbol);
    if (s == sym_zlib) return ZLIB;
    if (s == sym_deflate) return DEFLATE;
    if (s == sym_gzip) return GZIP;
    return NO_METHOD;
}

namespace {

constexpr i64 ZLIB_FRAME = 6;    // header 2, Adler-32 4
constexpr i64 GZIP_HEADER = 10;
constexpr i64 GZIP_TRAILER = 8;  // CRC-32 4, size 4
constexpr i64 GZIP_FRAME = GZIP_HEADER + GZIP_TRAILER;

inline u32 read_be32(const u8* p) { return u32(p[0]) << 24 | u32(p[1]) << 16 | u32(p[2]) << 8 | p[3]; }
inline u32 read_le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
inline u32 read_le16(const u8* p) { return u32(p[0]) | u32(p[1]) << 8; }
inline void write_be32(u8* p, u32 v) {
    for (int i = 0; i < 4; i++) p[i] = u8(v >> (24 - 8 * i));
}
inline void write_le32(u8* p, u32 v) {
    for (int i = 0; i < 4; i++) p[i] = u8(v >> (8 * i));
}

// --- zlib ---------------------------------------------------------------------------

// Checks the header and inflates the body between it and the Adler-32.
int zlib_decode_into(Inflater* z) {
    i64 begin = z->in_begin, end = z->in_end;
    if (end - begin < ZLIB_FRAME) return BAD_DATA;
    u32 cmf = z->in[begin], flg = z->in[begin + 1];
    // Deflate with a window of at most 32 KiB, no preset dictionary.
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return BAD_DATA;
    z->in_begin = begin + 2;
    z->in_end = end - 4;
    int r = inflate_into(z);
    if (r != OK) return r;
    if (checksum::adler32(z->out, z->count) != read_be32(z->in + end - 4)) return BAD_DATA;
    return OK;
}

// --- gzip ---------------------------------------------------------------------------

struct GzipFrame {
    i64 body;       // offset of the deflate data
    i64 body_end;   // offset of the trailer
    u32 crc;
    u32 size;       // of the original data, modulo 2^32
};

// Reads the header and trailer of `in[0..length)`.
int read_gzip_frame(const u8* in, i64 length, GzipFrame* f) {
    if (length < GZIP_FRAME || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8) return BAD_DATA;
    u32 flags = in[3];
    if (flags >= 32) return BAD_DATA;
    i64 limit = length - GZIP_TRAILER;
    i64 p = GZIP_HEADER;
    if (flags & 4) {   // FEXTRA
        if (p + 2 > limit) return BAD_DATA;
        p += 2 + read_le16(in + p);
        if (p > limit) return BAD_DATA;
    }
    for (u32 flag : {8u, 16u}) {   // FNAME, FCOMMENT: zero-terminated
        if (!(flags & flag)) continue;
        const void* nul = std::memchr(in + p, 0, size_t(limit - p));
        if (!nul) return BAD_DATA;
        p = static_cast<const u8*>(nul) - in + 1;
    }
    if (flags & 2) {   // FHCRC: the low half of the CRC-32 of the header before it
        if (p + 2 > limit) return BAD_DATA;
        if ((checksum::crc32(in, p) & 0xFFFF) != read_le16(in + p)) return BAD_DATA;
        p += 2;
    }
    f->body = p;
    f->body_end = limit;
    f->crc = read_le32(in + limit);
    f->size = read_le32(in + limit + 4);
    // A stored size the body cannot decode to is a fault of the data.
    if (i64(f->size) > (limit - p) * MAX_INFLATE_RATIO) return BAD_DATA;
    return OK;
}

int gunzip_into(Inflater* z, const GzipFrame& f) {
    i64 base = z->in_begin;
    z->in_begin = base + f.body;
    z->in_end = base + f.body_end;
    int r = inflate_into(z);
    if (r == OUTPUT_TOO_SMALL && z->count > i64(f.size)) return BAD_DATA;   // more than the trailer says
    if (r != OK) return r;
    if (z->count != i64(f.size)) return BAD_DATA;
    if (checksum::crc32(z->out, z->count) != f.crc) return BAD_DATA;
    return OK;
}

Inflater fixed_output(u8* out, i64 capacity, const u8* in, i64 length) {
    Inflater z;
    z.in = in;
    z.in_end = length;
    z.out = out;
    z.capacity = capacity;
    return z;
}

}  // namespace

int zlib_encode(u8* out, i64* size, const u8* in, i64 length) {
    i64 capacity = *size;
    if (capacity < ZLIB_FRAME) {
        *size = max_encoded_size(ZLIB, length);
        return BAD_DATA;
    }
    out[0] = 0x78;   // deflate, 32 KiB window
    out[1] = 0x01;   // fastest level, no dictionary; 0x7801 is a multiple of 31
    i64 n = capacity - 2;
    int r = deflate(out + 2, &n, in, length);
    *size = n + ZLIB_FRAME;
    if (r != OK) return r;
    if (*size > capacity) return OUTPUT_TOO_SMALL;
    write_be32(out + 2 + n, checksum::adler32(in, length));
    return OK;
}

int zlib_decode(u8* out, i64* size, const u8* in, i64 length) {
    Inflater z = fixed_output(out, *size, in, length);
    int r = zlib_decode_into(&z);
    *size = z.count;
    return r;
}

// Input that is already gzip is compressed like any other: copying it as it
// stands would make `decompress` answer something other than the input.
int gzip(u8* out, i64* size, const u8* in, i64 length) {
    i64 capacity = *size;
    if (capacity < GZIP_FRAME) {
        *size = max_encoded_size(GZIP, length);
        return BAD_DATA;
    }
    static const u8 header[GZIP_HEADER] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
    std::memcpy(out, header, GZIP_HEADER);
    i64 n = capacity - GZIP_HEADER;
    int r = deflate(out + GZIP_HEADER, &n, in, length);
    *size = n + GZIP_FRAME;
    if (r != OK) return r;
    if (*size > capacity) return OUTPUT_TOO_SMALL;
    write_le32(out + GZIP_HEADER + n, checksum::crc32(in, length));
    write_le32(out + GZIP_HEADER + n + 4, u32(length));
    return OK;
}

int gunzip(u8* out, i64* size, const u8* in, i64 length) {
    GzipFrame f;
    int r = read_gzip_frame(in, length, &f);
    if (r != OK) return r;
    if (*size < i64(f.size)) {
        *size = f.size;
        return OUTPUT_TOO_SMALL;
    }
    Inflater z = fixed_output(out, *size, in, length);
    r = gunzip_into(&z, f);
    *size = z.count;
    return r;
}

// --- Series routines ------------------------------------------------------------------

namespace {

inline const u8* bytes_at(u32 node, i64 index) { return series::head(node_buffer(node)) + index; }

// Keeps `count` bytes of a new byte series as its content. A buffer in the
// series frames sized for a worst case much above what it holds is copied to
// one that fits; a big frame's unused pages were never touched.
u32 settle(u32 node, i64 count) {
    SeriesBuffer* s = node_buffer(node);
    s->tail = s->offset + u32(count);
    i64 spare = i64(s->size) - i64(s->offset) - count;
    if ((s->flags & SERIES_BIG) || spare <= 64 || spare <= count / 4) return node;
    return memory::copy_series_part(s, 0, count);
}

[[noreturn]] void invalid_data(Method method) {
    i32 names[] = {sym_zlib, sym_deflate, sym_gzip};
    Cell word = *word::from_symbol(names[method]);
    fire(ERR_SCRIPT, "invalid-data", &word);
}

struct GrowingOutput {
    u32 source;
    i64 index;
    u32 target;
    i64 limit;               // the longest output the data may have
    bool too_long = false;   // the limit was the longest series
};

// Doubles the output (at least to what is needed), within the limit.
bool grow_output(Inflater* z, i64 need) {
    auto* g = static_cast<GrowingOutput*>(z->context);
    if (need > g->limit) {
        g->too_long = g->limit == MAX_OUTPUT;
        return false;
    }
    i64 size = z->capacity * 2;
    if (size < need + 1024) size = need + 1024;
    if (size > g->limit) size = g->limit;
    SeriesBuffer* s = node_buffer(g->target);
    s->tail = s->offset + u32(z->count);
    s = memory::expand_series(s, size);
    z->out = series::head(s);
    z->capacity = i64(s->size) - i64(s->offset);
    z->in = bytes_at(g->source, g->index);
    return true;
}

}  // namespace

u32 encode(Method method, u32 node, i64 index, i64 length) {
    collector::RootNode source(node);
    i64 bound = max_encoded_size(method, length);
    if (bound > MAX_OUTPUT) fire(ERR_SCRIPT, "too-long");
    collector::RootNode target(memory::alloc_bytes(bound));
    u8* out = series::head(node_buffer(target.node));
    const u8* in = bytes_at(source.node, index);
    i64 size = bound;
    int r = method == ZLIB ? zlib_encode(out, &size, in, length)
            : method == GZIP ? gzip(out, &size, in, length)
                             : deflate(out, &size, in, length);
    if (r != OK) invalid_data(method);   // cannot happen: the bound always fits
    return settle(target.node, size);
}

u32 decode(Method method, u32 node, i64 index, i64 length, i64 size_hint) {
    collector::RootNode source(node);
    GzipFrame frame{};
    i64 expected = size_hint;
    if (method == GZIP) {
        if (read_gzip_frame(bytes_at(node, index), length, &frame) != OK) invalid_data(method);
        expected = frame.size;
    } else if (expected <= 0) {
        expected = 4 * length;   // a usual ratio; the output grows when it is more
    }
    // Trust the expected size only as far as the data could fill it.
    i64 most = length * MAX_INFLATE_RATIO;
    if (expected > most) expected = most;
    if (expected > MAX_OUTPUT) expected = MAX_OUTPUT;
    if (expected < 256) expected = 256;

    collector::RootNode target(memory::alloc_bytes(expected));
    // gzip data that decodes past its stored size is wrong whatever follows.
    GrowingOutput g{node, index, target.node, method == GZIP ? i64(frame.size) : MAX_OUTPUT};
    SeriesBuffer* s = node_buffer(target.node);
    Inflater z;
    z.in = bytes_at(node, index);
    z.in_end = length;
    z.out = series::head(s);
    z.capacity = i64(s->size) - i64(s->offset);
    z.grow = grow_output;
    z.counting = false;
    z.context = &g;
    int r = method == ZLIB ? zlib_decode_into(&z) : method == GZIP ? gunzip_into(&z, frame) : inflate_into(&z);
    if (r != OK) {
        if (g.too_long) fire(ERR_SCRIPT, "too-long");
        invalid_data(method);
    }
    return settle(target.node, z.count);
}

}  // namespace compress
}  // namespace zir
