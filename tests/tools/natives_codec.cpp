// Test program: runs the coding natives (enhex, dehex, enbase, debase,
// checksum, compress, decompress) for an outside oracle, each called through
// its entry in the natives table with its type check on, as compiled code
// calls it.
//
// Reads one request per line of standard input, texts and bytes written as
// hexadecimal digits (texts as their UTF-8 bytes):
//   E HEX           enhex of a string!        F HEX   enhex of a file!
//   D HEX           dehex of a string!
//   B BASE HEX      enbase/base of a binary!  S BASE HEX  of a string!
//   T BASE HEX      debase/base of a string!
//   C METHOD HEX    checksum of a binary!     K METHOD KEY HEX  checksum/with a key ("-": empty)
//   Z METHOD HEX    compress of a binary!     U METHOD HEX  decompress
// and prints one line per request: the result's bytes (a text's UTF-8) in
// hexadecimal, "I" and the value of an integer!, "NONE", or "ERR" with the
// error's category and id.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

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

Cell* push_text(const std::string& text, u32 type) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    string::make_at(c, i64(text.size()) + 1, 1);
    string::append_utf8(c, reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    cell::set_type(c, type);
    return c;
}

Cell* push_bytes(const std::string& bytes) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    binary::make_at(c, i64(bytes.size()) + 1);
    binary::zs_append(c, reinterpret_cast<const u8*>(bytes.data()), i64(bytes.size()));
    return c;
}

void push_word(const std::string& spelling) { stack::push(word::load(spelling.c_str())); }

// Calls the native of a slot on the arguments pushed from `args` on.
std::string call(i32 slot, Cell* args, const std::vector<i32>& refinements) {
    Cell* saved_arguments = stack::arguments;
    stack::arguments = args;
    std::string out;
    try {
        reinterpret_cast<natives::Entry>(natives::table[slot - 1])(1, refinements.data());
        const Cell* r = stack::arguments;
        switch (TYPE_OF(r)) {
            case TYPE_NONE: out = "NONE"; break;
            case TYPE_INTEGER: out = "I" + std::to_string(integer::get(r)); break;
            case TYPE_BINARY: out = to_hex(std::string(reinterpret_cast<const char*>(binary::zs_head(const_cast<Cell*>(r))),
                                                       size_t(binary::zs_length_q(r))));
                break;
            default: out = to_hex(string::to_std(r));
        }
    } catch (const LanguageError& e) {
        out = std::string("ERR ") + category_name(e.category) + " " + e.id;
    }
    stack::arguments = saved_arguments;
    return out;
}

std::string run(const std::string& line) {
    std::istringstream in(line);
    std::string op, a, b, c;
    in >> op >> a >> b >> c;
    Cell* saved = stack::top;
    Cell* args = stack::top;
    std::string out;
    if (op == "E" || op == "F" || op == "D") {
        push_text(parse_hex(a), op == "F" ? TYPE_FILE : TYPE_STRING);
        out = call(op == "D" ? 47 : 48, args, {});
    } else if (op == "B" || op == "S" || op == "T") {
        if (op == "B") push_bytes(parse_hex(b));
        else push_text(parse_hex(b), TYPE_STRING);
        integer::push(std::stoi(a));
        out = call(op == "T" ? 84 : 91, args, {1});
    } else if (op == "C" || op == "K") {
        push_bytes(parse_hex(op == "C" ? b : c));
        push_word(a);
        if (op == "K") push_bytes(parse_hex(b == "-" ? "" : b));   // "-": an empty key
        out = call(87, args, {op == "K" ? 2 : -1});
    } else if (op == "Z" || op == "U") {
        push_bytes(parse_hex(b));
        push_word(a);
        out = call(op == "Z" ? 103 : 104, args, {-1});
    } else {
        out = "BAD-REQUEST";
    }
    stack::top = saved;
    return out;
}

}  // namespace

int main() {
    runtime::init();
    std::ios::sync_with_stdio(false);
    std::string line, out;
    while (std::getline(std::cin, line)) out += run(line) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
