// Test program: runs our base-2, base-16, base-58 and base-64 codecs for an
// outside oracle.
//
// Reads one request per line of standard input and prints one answer line:
//   "enc BASE HEX"  the bytes HEX encoded: the text written;
//   "dec BASE HEX"  the UTF-8 text HEX loaded into a string (at the width its
//                   code points need) and decoded from its buffer: the bytes
//                   in hexadecimal, or "none" when the text is not valid.
// HEX is "" for no bytes.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "datatypes/binary.hpp"
#include "runtime/collector.hpp"
#include "runtime/unicode.hpp"

using namespace zir;

namespace {

std::vector<u8> parse_hex(const std::string& text) {
    std::vector<u8> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(u8(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string encode(i32 base, const std::vector<u8>& bytes) {
    std::string out(size_t(binary::encoded_room(base, i64(bytes.size()))), '\0');
    u8* start = reinterpret_cast<u8*>(out.data());
    u8* end = base == 2    ? binary::encode_2(start, bytes.data(), i64(bytes.size()))
              : base == 16 ? binary::encode_16(start, bytes.data(), i64(bytes.size()))
              : base == 58 ? binary::encode_58(start, bytes.data(), i64(bytes.size()))
                           : binary::encode_64(start, bytes.data(), i64(bytes.size()));
    out.resize(size_t(end - start));
    return out;
}

std::string decode(i32 base, const std::vector<u8>& utf8) {
    collector::RootNode text(unicode::load_utf8_new(utf8.data(), i64(utf8.size())));
    SeriesBuffer* s = node_buffer(text);
    u32 unit = series::unit_of(s);
    auto decoder = base == 2 ? binary::decode_2 : base == 16 ? binary::decode_16 : base == 58 ? binary::decode_58
                                                                                            : binary::decode_64;
    u32 node = decoder(series::head(s), series::length_of(s), unit);
    if (!node) return "none";
    SeriesBuffer* b = node_buffer(node);
    std::string hex(size_t(series::used_bytes(b)) * 2, '\0');
    binary::encode_16(reinterpret_cast<u8*>(hex.data()), series::head(b), series::used_bytes(b));
    return hex;
}

}  // namespace

int main() {
    runtime::init();
    std::ios::sync_with_stdio(false);
    std::string line, out;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string mode, hex;
        i32 base = 0;
        in >> mode >> base >> hex;
        std::vector<u8> bytes = parse_hex(hex);
        out += (mode == "enc" ? encode(base, bytes) : decode(base, bytes)) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
