// The deflate decoder: stored, fixed and dynamic blocks. See compress.hpp.
//
// Huffman codes are decoded through lookup tables built on the stack per
// block: a root table indexed by the next ROOT bits of the stream, whose
// entries either give the symbol of a code of at most ROOT bits (repeated for
// every value of the bits after it) or point to a subtable indexed by the bits
// after the root ones. One lookup, two for long codes, replaces a search per
// symbol.
//
// Every fault of the input ends the decoding with an answer: a code that is
// over-subscribed, or incomplete (but for the lone one-bit code that the
// format allows), the symbols the format reserves (literal/length 286 and
// 287, distances 30 and 31), repeat codes with nothing to repeat or running
// past the lengths, a missing end-of-block code, data that stops before the
// final block ends, and whole bytes left after it.
#include <cstring>

#include "services/compress.hpp"
#include "services/deflate_format.hpp"

namespace zir {
namespace compress {

namespace {

// --- Table entries ------------------------------------------------------------------
//
//   bits 0..7    bits the code takes (a subtable pointer: the root bits)
//   bits 8..11   kind; 0 marks a code no symbol may have
//   bits 12..15  extra bits after the code (a subtable pointer: its index bits)
//   bits 16..31  the literal byte, length base, distance base, code-length
//                symbol, or a subtable's first entry

constexpr u32 E_LITERAL = 0x100;   // also the symbols of the code-length code
constexpr u32 E_BASE = 0x200;      // a length or a distance: base + extra bits
constexpr u32 E_END = 0x400;       // end of block
constexpr u32 E_SUB = 0x800;       // subtable pointer

constexpr u32 entry(u32 kind, u32 extra, u32 value) { return value << 16 | extra << 12 | kind; }
inline u32 entry_bits(u32 e) { return e & 0xFF; }
inline u32 entry_extra(u32 e) { return (e >> 12) & 0xF; }
inline u32 entry_value(u32 e) { return e >> 16; }

constexpr int LITERAL_ROOT = 10;
constexpr int DISTANCE_ROOT = 8;
constexpr int CODE_LENGTH_ROOT = 7;   // the longest code-length code: one level

// Room for the largest tables a complete code can need: a subtable of 2^k
// entries sits under a complete subtree of depth k, which has at least k + 1
// leaves, so 288 symbols fill at most 48 subtables of 32 entries, and 32
// distance symbols at most 4 of 128. The builder checks it all the same.
constexpr int LITERAL_TABLE = (1 << LITERAL_ROOT) + 48 * 32;
constexpr int DISTANCE_TABLE = (1 << DISTANCE_ROOT) + 4 * 128;
constexpr int CODE_LENGTH_TABLE = 1 << CODE_LENGTH_ROOT;

constexpr u8 CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol decodes to, less the code's own bits. The reserved symbols
// stay 0: decoding one is a fault.
struct Symbols {
    u32 literal[288];
    u32 distance[32];
    u32 code_length[19];
};

constexpr Symbols make_symbols() {
    Symbols s{};
    for (u32 b = 0; b < 256; b++) s.literal[b] = entry(E_LITERAL, 0, b);
    s.literal[256] = entry(E_END, 0, 0);
    for (u32 i = 0; i < 29; i++) s.literal[257 + i] = entry(E_BASE, LENGTH_EXTRA[i], LENGTH_BASE[i]);
    for (u32 i = 0; i < 30; i++) s.distance[i] = entry(E_BASE, DISTANCE_EXTRA[i], DISTANCE_BASE[i]);
    for (u32 i = 0; i < 19; i++) s.code_length[i] = entry(E_LITERAL, 0, i);
    return s;
}

constexpr Symbols symbols = make_symbols();

// Builds the table of the canonical code given by the code lengths. False for
// an over-subscribed code, or an incomplete one other than a lone code of one
// bit (`lone_ok`: the literal/length and distance codes) or no code at all
// (`lone_ok`, only the distance code can be empty: its table decodes nothing).
bool build_table(u32* table, int table_size, int root, const u8* lengths, int n, const u32* symbol_entries,
                 bool lone_ok) {
    u16 count[16] = {};
    for (int s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    int max = 15;
    while (max > 0 && count[max] == 0) max--;
    std::memset(table, 0, sizeof(u32) << root);
    if (max == 0) return lone_ok;
    i32 left = 1;
    for (int len = 1; len <= 15; len++) {
        left = (left << 1) - count[len];
        if (left < 0) return false;   // over-subscribed
    }
    if (left > 0 && !(lone_ok && max == 1)) return false;   // incomplete

    // Symbols in canonical order (by length, then by value), with their codes.
    u16 offset[16];
    u32 next_code[16];
    offset[1] = 0;
    next_code[1] = 0;
    for (int len = 1; len < 15; len++) {
        offset[len + 1] = u16(offset[len] + count[len]);
        next_code[len + 1] = (next_code[len] + count[len]) << 1;
    }
    u16 sorted[288];
    u16 codes[288];
    for (int s = 0; s < n; s++) {
        int len = lengths[s];
        if (!len) continue;
        sorted[offset[len]] = u16(s);
        codes[offset[len]++] = u16(next_code[len]++);
    }
    int total = offset[15];

    const u32 root_size = 1u << root;
    u32 next_free = root_size;
    u32 current_prefix = ~0u, sub_start = 0, sub_bits = 0;
    for (int i = 0; i < total; i++) {
        int s = sorted[i];
        u32 len = lengths[s];
        u32 code = codes[i];
        if (len <= u32(root)) {
            u32 e = symbol_entries[s] | len;
            for (u32 k = reverse_bits(code, int(len)); k < root_size; k += 1u << len) table[k] = e;
            continue;
        }
        u32 rest = len - u32(root);
        u32 prefix = reverse_bits(code >> rest, root);
        if (prefix != current_prefix) {
            // Codes under one prefix are consecutive and their lengths grow:
            // the last one gives the subtable's size.
            int last = i;
            while (last + 1 < total && reverse_bits(u32(codes[last + 1]) >> (lengths[sorted[last + 1]] - root), root) ==
                                           prefix)
                last++;
            sub_bits = lengths[sorted[last]] - u32(root);
            if (next_free + (1u << sub_bits) > u32(table_size)) return false;
            current_prefix = prefix;
            sub_start = next_free;
            next_free += 1u << sub_bits;
            std::memset(table + sub_start, 0, sizeof(u32) << sub_bits);
            table[prefix] = entry(E_SUB, sub_bits, sub_start) | u32(root);
        }
        u32 e = symbol_entries[s] | rest;
        for (u32 k = reverse_bits(code & ((1u << rest) - 1), int(rest)); k < (1u << sub_bits); k += 1u << rest)
            table[sub_start + k] = e;
    }
    return true;
}

// The entry of the code at the front of the bit buffer; its bit count covers
// the root bits too when it comes from a subtable.
inline u32 lookup(const u32* table, int root, u64 bits) {
    u32 e = table[bits & ((1u << root) - 1)];
    if (ZIR_UNLIKELY(e & E_SUB)) {
        e = table[entry_value(e) + ((bits >> root) & ((1u << entry_extra(e)) - 1))];
        e += u32(root);   // a zero entry stays one of kind 0
    }
    return e;
}

struct FixedTables {
    u32 literal[LITERAL_TABLE];
    u32 distance[DISTANCE_TABLE];
    FixedTables() {
        u8 lengths[288];
        for (int i = 0; i < 144; i++) lengths[i] = 8;
        for (int i = 144; i < 256; i++) lengths[i] = 9;
        for (int i = 256; i < 280; i++) lengths[i] = 7;
        for (int i = 280; i < 288; i++) lengths[i] = 8;
        build_table(literal, LITERAL_TABLE, LITERAL_ROOT, lengths, 288, symbols.literal, false);
        for (int i = 0; i < 32; i++) lengths[i] = 5;
        build_table(distance, DISTANCE_TABLE, DISTANCE_ROOT, lengths, 32, symbols.distance, false);
    }
};

const FixedTables& fixed_tables() {
    static const FixedTables t;
    return t;
}

inline u64 load64(const u8* p) {
    u64 v;
    std::memcpy(&v, p, 8);
    return v;
}

// --- The decoder ---------------------------------------------------------------------
//
// The bit buffer holds `bit_count` bits of the stream, least significant
// first. The bits above them are either 0 or the stream's own next bits (the
// eight-byte refill loads whole words but counts only whole bytes), so a
// refill may OR them in again, and once the input is used up they are 0: a
// code read there decodes from the real bits or is found longer than what is
// left, which is the end of the data.

struct Decoder {
    Inflater* z;
    const u8* in;
    i64 pos, end;
    u64 bits = 0;
    u32 bit_count = 0;
    u8* out;
    i64 capacity;
    i64 count;

    explicit Decoder(Inflater* zz)
        : z(zz), in(zz->in), pos(zz->in_begin), end(zz->in_end), out(zz->out), capacity(zz->capacity),
          count(zz->count) {}

    // At least 56 bits held afterwards while 8 bytes of input remain, else
    // at least 49 or as many as the input has; never more than 63.
    void refill() {
        if (ZIR_LIKELY(end - pos >= 8)) {
            bits |= load64(in + pos) << bit_count;
            pos += (63 - bit_count) >> 3;
            bit_count |= 56;
        } else {
            while (bit_count <= 48 && pos < end) {
                bits |= u64(in[pos++]) << bit_count;
                bit_count += 8;
            }
        }
    }

    bool have(u32 n) {
        if (bit_count < n) refill();
        return bit_count >= n;
    }

    u32 take(u32 n) {   // n <= 32 bits, known to be held
        u32 v = u32(bits & ((u64(1) << n) - 1));
        bits >>= n;
        bit_count -= n;
        return v;
    }

    // Room for n more bytes: 0 when there is, 1 when the bytes are to be
    // counted without being stored, -1 when decoding must stop.
    int room(i64 n) {
        if (count + n <= capacity) return 0;
        if (z->grow) {
            z->count = count;
            if (z->grow(z, count + n)) {
                in = z->in;
                out = z->out;
                capacity = z->capacity;
                if (count + n <= capacity) return 0;
            }
        }
        return z->counting ? 1 : -1;
    }

    // Copies n bytes from `distance` back, exactly (no byte written past them).
    void copy_exact(i64 n, i64 distance) {
        u8* d = out + count;
        const u8* s = d - distance;
        if (distance == 1) std::memset(d, *s, size_t(n));
        else
            for (i64 i = 0; i < n; i++) d[i] = s[i];
    }

    int stored_block();
    int huffman_block(const u32* literal, const u32* distance);
    int read_dynamic_tables(u32* literal, u32* distance);
    int run();
};

int Decoder::stored_block() {
    u32 drop = bit_count & 7;
    bits >>= drop;
    bit_count -= drop;
    if (!have(32)) return BAD_DATA;
    i64 len = take(16);
    take(16);   // NLEN: its complement is not required to match
    pos -= bit_count >> 3;   // the whole bytes still held are read again as data
    bits = 0;
    bit_count = 0;
    if (len > end - pos) return STORED_TOO_LONG;
    int r = room(len);
    if (r < 0) return OUTPUT_TOO_SMALL;
    i64 fit = r == 0 ? len : (capacity > count ? capacity - count : 0);
    if (fit > len) fit = len;
    if (fit) std::memcpy(out + count, in + pos, size_t(fit));
    count += len;
    pos += len;
    return OK;
}

int Decoder::read_dynamic_tables(u32* literal, u32* distance) {
    if (!have(14)) return BAD_DATA;
    u32 nlit = take(5) + 257;
    u32 ndist = take(5) + 1;
    u32 nclen = take(4) + 4;
    u8 cl_lengths[19] = {};
    for (u32 i = 0; i < nclen; i++) {
        if (!have(3)) return BAD_DATA;
        cl_lengths[CODE_LENGTH_ORDER[i]] = u8(take(3));
    }
    u32 cl_table[CODE_LENGTH_TABLE];
    if (!build_table(cl_table, CODE_LENGTH_TABLE, CODE_LENGTH_ROOT, cl_lengths, 19, symbols.code_length, false))
        return BAD_DATA;

    u8 lengths[288 + 32];
    u32 total = nlit + ndist;
    for (u32 i = 0; i < total;) {
        refill();
        u32 e = lookup(cl_table, CODE_LENGTH_ROOT, bits);
        if (!(e & E_LITERAL) || entry_bits(e) > bit_count) return BAD_DATA;
        take(entry_bits(e));
        u32 symbol = entry_value(e);
        if (symbol < 16) {
            lengths[i++] = u8(symbol);
            continue;
        }
        u32 repeat;
        u8 value = 0;
        if (symbol == 16) {
            if (i == 0 || !have(2)) return BAD_DATA;
            value = lengths[i - 1];
            repeat = 3 + take(2);
        } else if (symbol == 17) {
            if (!have(3)) return BAD_DATA;
            repeat = 3 + take(3);
        } else {
            if (!have(7)) return BAD_DATA;
            repeat = 11 + take(7);
        }
        if (repeat > total - i) return BAD_DATA;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (lengths[256] == 0) return BAD_DATA;   // a block that could never end
    if (!build_table(literal, LITERAL_TABLE, LITERAL_ROOT, lengths, int(nlit), symbols.literal, true) ||
        !build_table(distance, DISTANCE_TABLE, DISTANCE_ROOT, lengths + nlit, int(ndist), symbols.distance, true))
        return BAD_DATA;
    return OK;
}

int Decoder::huffman_block(const u32* literal, const u32* distance) {
    for (;;) {
        refill();
        u32 e = lookup(literal, LITERAL_ROOT, bits);
        u32 n = entry_bits(e);
        if (ZIR_UNLIKELY(n > bit_count)) return BAD_DATA;   // the data stops inside a code
        if (e & E_LITERAL) {
            bits >>= n;
            bit_count -= n;
            if (ZIR_LIKELY(count < capacity)) {
                out[count++] = u8(entry_value(e));
                continue;
            }
            int r = room(1);
            if (r < 0) return OUTPUT_TOO_SMALL;
            if (r == 0) out[count] = u8(entry_value(e));
            count++;
            continue;
        }
        if (ZIR_UNLIKELY(!(e & E_BASE))) {
            if (e & E_END) {
                take(n);
                return OK;
            }
            return BAD_DATA;   // a reserved symbol, or no symbol has this code
        }
        // A length: at most 15 + 5 bits, then a distance of at most 15 + 13;
        // a refill holds 49 bits or all that is left.
        u32 extra = entry_extra(e);
        if (ZIR_UNLIKELY(n + extra > bit_count)) return BAD_DATA;
        bits >>= n;
        bit_count -= n;
        i64 length = i64(entry_value(e)) + take(extra);
        if (ZIR_UNLIKELY(bit_count < 28)) refill();
        e = lookup(distance, DISTANCE_ROOT, bits);
        n = entry_bits(e);
        extra = entry_extra(e);
        if (ZIR_UNLIKELY(!(e & E_BASE))) return BAD_DATA;
        if (ZIR_UNLIKELY(n + extra > bit_count)) return BAD_DATA;
        bits >>= n;
        bit_count -= n;
        i64 dist = i64(entry_value(e)) + take(extra);
        if (ZIR_UNLIKELY(dist > count)) return DISTANCE_TOO_FAR;

        if (ZIR_LIKELY(count + length + 8 <= capacity)) {
            u8* d = out + count;
            if (dist >= 8) {
                // Eight bytes at a time; a word read never overlaps the one
                // written, and up to 7 bytes past the match are scratch.
                const u8* s = d - dist;
                u8* stop = d + length;
                do {
                    std::memcpy(d, s, 8);
                    d += 8;
                    s += 8;
                } while (d < stop);
            } else {
                copy_exact(length, dist);
            }
            count += length;
            continue;
        }
        int r = room(length);
        if (r < 0) return OUTPUT_TOO_SMALL;
        if (r == 0) {
            copy_exact(length, dist);
        } else {
            // Counting past a fixed capacity: store what fits. Every byte
            // stored reads from before itself, so from within the buffer.
            i64 fit = capacity - count;
            if (fit > length) fit = length;
            if (fit > 0) copy_exact(fit, dist);
        }
        count += length;
    }
}

int Decoder::run() {
    for (;;) {
        if (!have(3)) return BAD_DATA;   // no final block
        u32 final = take(1);
        u32 type = take(2);
        int r;
        if (type == 0) {
            r = stored_block();
        } else if (type == 1) {
            const FixedTables& t = fixed_tables();
            r = huffman_block(t.literal, t.distance);
        } else if (type == 2) {
            u32 literal[LITERAL_TABLE];
            u32 distance[DISTANCE_TABLE];
            r = read_dynamic_tables(literal, distance);
            if (r == OK) r = huffman_block(literal, distance);
        } else {
            r = BAD_BLOCK_TYPE;
        }
        if (r != OK) return r;
        if (final) break;
    }
    // The rest of the last byte is padding; whole bytes after it are not
    // deflate data.
    if ((end - pos) + (bit_count >> 3) != 0) return BAD_DATA;
    return count > capacity ? OUTPUT_TOO_SMALL : OK;
}

}  // namespace

int inflate_into(Inflater* z) {
    Decoder d(z);
    int r = d.run();
    z->count = d.count;
    return r;
}

int inflate(u8* out, i64* size, const u8* in, i64 length) {
    Inflater z;
    z.in = in;
    z.in_begin = 0;
    z.in_end = length;
    z.out = out;
    z.capacity = *size;
    int r = inflate_into(&z);
    *size = z.count;
    return r;
}

}  // namespace compress
}  // namespace zir
