// Test program: runs our UTF-8 decoders over byte strings for an outside oracle.
//
// Reads one byte string per line of standard input, written in hexadecimal
// ("" for the empty string), and prints one line per input with what three
// decoders answer, separated by " | ":
//   fast:   the code points from `fast_decode_utf8_char` stepping over the text
//           (followed by a NUL, as its callers give it), then "ok" or "bad@N"
//           where N is the byte position of the character it rejected;
//   strict: the code points from `decode_utf8_char` stepping over the text,
//           then "ok", "cut@N" (answered -1: the character at N needs more
//           bytes than the text has) or "bad@N:HEX" (raised access
//           invalid-utf8 with the bytes HEX as its argument);
//   load:   "uU" (the unit `load_utf8_new` chose), the code points it stored,
//           then "ok", "rem=R" (R bytes left for the next block) or "bad:HEX".
// Code points are upper-case hexadecimal.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

using namespace zir;

namespace {

std::vector<u8> parse_hex(const std::string& line) {
    std::vector<u8> bytes;
    for (size_t i = 0; i + 1 < line.size(); i += 2) bytes.push_back(u8(std::stoi(line.substr(i, 2), nullptr, 16)));
    return bytes;
}

void put_cp(std::string& out, u32 cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X ", cp);
    out += buf;
}

std::string binary_hex(const LanguageError& e) {
    if (e.category != ERR_ACCESS || std::string(e.id) != "invalid-utf8" || e.argc != 1 ||
        TYPE_OF(&e.args[0]) != TYPE_BINARY)
        return "WRONG-ERROR";
    SeriesBuffer* s = node_buffer(e.args[0].w2);
    std::string out;
    char buf[4];
    for (const u8* p = series::head(s) + e.args[0].w1; p < series::tail(s); p++) {
        std::snprintf(buf, sizeof buf, "%02X", *p);
        out += buf;
    }
    return out;
}

std::string run_fast(const std::vector<u8>& bytes) {
    std::vector<u8> text(bytes);
    text.push_back(0);
    std::string out;
    size_t pos = 0;
    while (pos < bytes.size()) {
        i32 cp;
        const u8* next = unicode::fast_decode_utf8_char(text.data() + pos, &cp);
        if (cp < 0) return out + "bad@" + std::to_string(pos);
        if (next <= text.data() + pos || next > text.data() + bytes.size()) return out + "OVERRUN";
        put_cp(out, u32(cp));
        pos = size_t(next - text.data());
    }
    return out + "ok";
}

std::string run_strict(const std::vector<u8>& bytes) {
    std::string out;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t left = bytes.size() - pos;
        i32 avail = left < 4 ? i32(left) : 4;
        i32 cp;
        try {
            cp = unicode::decode_utf8_char(bytes.data() + pos, &avail);
        } catch (const LanguageError& e) {
            return out + "bad@" + std::to_string(pos) + ":" + binary_hex(e);
        }
        if (cp < 0) return out + "cut@" + std::to_string(pos);
        put_cp(out, u32(cp));
        pos += size_t(avail);
    }
    return out + "ok";
}

std::string run_load(const std::vector<u8>& bytes) {
    i32 rem = -1;
    u32 node;
    try {
        node = unicode::load_utf8(bytes.data(), i64(bytes.size()), 0, &rem, false);
    } catch (const LanguageError& e) {
        return "bad:" + binary_hex(e);
    }
    SeriesBuffer* s = node_buffer(node);
    u32 unit = series::unit_of(s);
    std::string out = "u" + std::to_string(unit) + " ";
    for (const u8* p = series::head(s); p < series::tail(s); p += unit) {
        u32 cp = 0;
        std::memcpy(&cp, p, unit);
        put_cp(out, cp);
    }
    return out + (rem == 0 ? "ok" : "rem=" + std::to_string(rem));
}

}  // namespace

int main() {
    runtime::init();
    std::ios::sync_with_stdio(false);
    std::string line, out;
    while (std::getline(std::cin, line)) {
        std::vector<u8> bytes = parse_hex(line);
        out += run_fast(bytes) + " | " + run_strict(bytes) + " | " + run_load(bytes) + "\n";
        if (out.size() > (1 << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
