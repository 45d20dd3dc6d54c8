// url!: percent coding; see url.hpp.
//
// Both directions work on a copy of the source's code points taken before
// anything is written: the target may be the source itself, and writing
// allocates, which moves buffers.
#include <string>
#include <vector>

#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace url {

namespace {

// 1 where a byte below 0x80 is written unescaped.
struct SafeTable {
    u8 strict[128] = {};
    u8 wide[128] = {};
    constexpr SafeTable() {
        for (u32 c = 0; c < 128; c++) {
            bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                              c == '-' || c == '.' || c == '_' || c == '~';
            strict[c] = unreserved;
            wide[c] = unreserved;
        }
        for (const char* p = "!#$&'()*+,/:=?@"; *p; p++) wide[u8(*p)] = 1;
    }
};
constexpr SafeTable safe;

// 0..15 for a hexadecimal digit of either case, -1 for anything else.
inline i32 hex_value(u32 c) {
    if (c >= '0' && c <= '9') return i32(c - '0');
    if (c >= 'A' && c <= 'F') return i32(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return i32(c - 'a' + 10);
    return -1;
}

u8 escape[3] = {'%', '0', '0'};

// The code points of a text from its head.
std::vector<u32> code_points(const Cell* source) {
    string::Text t = string::text_of(source);
    SeriesBuffer* s = node_buffer(t.node);
    u32 unit = series::unit_of(s);
    i64 n = series::length_of(s) - t.head;
    std::vector<u32> out(size_t(n > 0 ? n : 0));
    const u8* p = series::head(s) + i64(t.head) * unit;
    for (size_t i = 0; i < out.size(); i++) out[i] = string::get_char(p + i * unit, unit);
    return out;
}

// The character that k escaped bytes starting with `lead` encode, when the
// escapes are all there and the bytes are one character as the runtime reads
// UTF-8 (unpaired surrogates included, since it writes them); else -1.
i32 escaped_char(const u32* at, const u32* end, u8 lead, i32 k) {
    u8 bytes[4] = {lead, 0, 0, 0};
    for (i32 j = 1; j < k; j++)
        if (!decode_hex_pair(at + 3 * j, end, &bytes[j])) return -1;
    i32 used = k;
    try {
        i32 cp = unicode::decode_utf8_char(bytes, &used);
        return used == k ? cp : -1;
    } catch (const LanguageError&) {
        return -1;   // the decoder's verdict on bad bytes, which stay text here
    }
}

}  // namespace

bool wide_safe_q(u32 cp) { return cp < 128 && safe.wide[cp]; }

const u8* encode_byte(i32 mode, const u8* byte, i32* count) {
    u8 b = *byte;
    const u8* table = mode == ENCODE_STRICT ? safe.strict : safe.wide;
    if (b < 128 && table[b]) {
        *count = 1;
        return byte;
    }
    const char* hex = string::byte_to_hex(b);
    escape[1] = u8(hex[0]);
    escape[2] = u8(hex[1]);
    *count = 3;
    return escape;
}

bool decode_hex_pair(const u32* at, const u32* end, u8* byte) {
    if (end - at < 3 || at[0] != '%') return false;
    i32 high = hex_value(at[1]), low = hex_value(at[2]);
    if (high < 0 || low < 0) return false;
    *byte = u8(high << 4 | low);
    return true;
}

i64 encode(const Cell* source, Cell* target, i32 mode, i64 limit) {
    std::vector<u32> text = code_points(source);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size() && (limit < 0 || i64(out.size()) < limit); i++) {
        u8 bytes[4];
        i32 n = unicode::cp_to_utf8(text[i], bytes);
        for (i32 j = 0; j < n; j++) {
            i32 count;
            const u8* emit = encode_byte(mode, &bytes[j], &count);
            out.append(reinterpret_cast<const char*>(emit), size_t(count));
        }
    }
    string::append_bytes(target, reinterpret_cast<const u8*>(out.data()), i64(out.size()));
    return i64(out.size());
}

void decode(const Cell* source, Cell* target) {
    std::vector<u32> text = code_points(source);
    const u32* end = text.data() + text.size();
    for (const u32* p = text.data(); p < end;) {
        u8 b;
        if (!decode_hex_pair(p, end, &b)) {
            string::append_char(target, *p++);
            continue;
        }
        i32 k = unicode::utf8_lead_size(b);
        if (k == 0) {   // ASCII, or a continuation byte standing alone
            string::append_char(target, b);
            p += 3;
            continue;
        }
        i32 cp = escaped_char(p, end, b, k);
        if (cp < 0) {
            string::append_char(target, '%');
            p++;
            continue;
        }
        string::append_char(target, u32(cp));
        p += 3 * k;
    }
}

Cell* load_decoded(const u8* text, i64 length, i32 encoding) {
    Cell* loaded = string::load_push(text, length, encoding);
    collector::RootCell decoded;
    string::make_at(decoded.get(), length > 0 ? length : 1, 1);
    decode(loaded, decoded.get());
    *loaded = decoded.value;
    return loaded;
}

}  // namespace url
}  // namespace zir
