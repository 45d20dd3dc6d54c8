// Unicode conversions: see unicode.hpp.
#include "runtime/unicode.hpp"

#include "runtime/fire.hpp"

namespace zir {
namespace unicode {

namespace {

[[noreturn]] void invalid_char(u32 cp) {
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    c.w2 = cp;
    fire(ERR_SCRIPT, "invalid-char", &c);
}

}  // namespace

int cp_utf8_size(u32 cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= 0x10FFFF) return 4;
    invalid_char(cp);
}

int cp_to_utf8(u32 cp, u8* out) {
    if (cp < 0x80) {
        out[0] = u8(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = u8(0xC0 | (cp >> 6));
        out[1] = u8(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = u8(0xE0 | (cp >> 12));
        out[1] = u8(0x80 | ((cp >> 6) & 0x3F));
        out[2] = u8(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        out[0] = u8(0xF0 | (cp >> 18));
        out[1] = u8(0x80 | ((cp >> 12) & 0x3F));
        out[2] = u8(0x80 | ((cp >> 6) & 0x3F));
        out[3] = u8(0x80 | (cp & 0x3F));
        return 4;
    }
    invalid_char(cp);
}

}  // namespace unicode
}  // namespace zir
