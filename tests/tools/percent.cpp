// Test program: runs our percent coding for an outside oracle.
//
// Reads one request per line of standard input: a mode letter and a text
// written as the hexadecimal digits of its UTF-8 bytes:
//   S HEX   the text encoded in strict mode
//   W HEX   the text encoded in wide mode
//   D HEX   the text decoded
// and prints, one line per request, the answer's UTF-8 bytes in hexadecimal.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "evaluator/stack.hpp"

using namespace zir;

namespace {

std::string parse_hex(const std::string& digits) {
    std::string bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) bytes += char(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string to_hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string run(char mode, const std::string& text) {
    Cell* saved = stack::top;
    // Appended rather than loaded: the loader would drop a leading byte-order mark.
    Cell* source = stack::push_slot();
    cell::init(source, TYPE_UNSET);
    string::make_at(source, 16, 1);
    string::append_utf8(source, reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    Cell* target = stack::push_slot();
    cell::init(target, TYPE_UNSET);
    string::make_at(target, 16, 1);
    if (mode == 'D') url::decode(source, target);
    else url::encode(source, target, mode == 'S' ? url::ENCODE_STRICT : url::ENCODE_WIDE);
    std::string out = string::to_std(target);
    stack::top = saved;
    return out;
}

}  // namespace

int main() {
    runtime::init();
    std::ios::sync_with_stdio(false);
    std::string line, out;
    while (std::getline(std::cin, line)) {
        if (line.size() < 2) {
            out += "BAD-REQUEST\n";
            continue;
        }
        out += to_hex(run(line[0], parse_hex(line.substr(2)))) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
