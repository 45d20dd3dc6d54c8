// Test program: runs the parse dialect for an outside oracle.
//
// Reads one request per line of standard input: the rules' source text and
// the input text, each as the hexadecimal digits of its UTF-8 bytes,
// separated by a blank. Before the first request it defines the charsets the
// rules may name: `digit` (0-9), `vowel` (aeiou) and `upper` (A-Z). Prints
// one line per request: 1 when the input matched, 0 when not, or E and the
// error's id.
#include <cstdio>
#include <iostream>
#include <string>

#include "boot/runtime_init.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

std::string parse_hex(const std::string& digits) {
    std::string bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) bytes += char(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

// The source text loaded as a block, on the stack.
Cell* load(const std::string& text) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::transcode(out, reinterpret_cast<const u8*>(text.data()), i64(text.size()), {}, nullptr, nullptr, nullptr,
                     nullptr);
    return out;
}

std::string run(const std::string& rules_text, const std::string& input_text) {
    Cell* saved = stack::top;
    std::string answer;
    try {
        Cell* rules = load(rules_text);
        Cell* input = stack::push_slot();
        cell::init(input, TYPE_UNSET);
        string::make_at(input, 16, 1);
        string::append_utf8(input, reinterpret_cast<const u8*>(input_text.data()), i64(input_text.size()));
        Cell* result = parse::run(input, rules, COMP_EQUAL, 0, nullptr);
        answer.assign(1, TYPE_OF(result) == TYPE_LOGIC && result->w1 ? '1' : '0');
    } catch (const LanguageError& e) {
        answer = std::string("E ") + e.id;
    }
    stack::top = saved;
    return answer;
}

}  // namespace

int main() {
    runtime::init();
    {
        Cell* prelude = load(
            "digit: make bitset! \"0123456789\" vowel: make bitset! \"aeiou\" "
            "upper: make bitset! \"ABCDEFGHIJKLMNOPQRSTUVWXYZ\"");
        interpreter::eval_block(prelude, false);
        stack::top = prelude;
    }
    std::ios::sync_with_stdio(false);
    std::string line, out;
    while (std::getline(std::cin, line)) {
        size_t blank = line.find(' ');
        if (blank == std::string::npos) {
            out += "BAD-REQUEST\n";
            continue;
        }
        out += run(parse_hex(line.substr(0, blank)), parse_hex(line.substr(blank + 1))) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
