// Fuzz target: the parse dialect. The input is split at its first NUL byte
// into rule text and input text; the rules are loaded by the lexer (text
// that does not load is dropped) and run over the input as a string, as a
// binary and, loaded, as a block. Any rules must end in a result or a
// language error, never fault, hang or leak, and leave the parse stacks
// empty. The runtime has the collector active, so the commands that change
// the input (insert, change, remove) and collect exercise moving buffers.
//
// Some rules loop for ever by design: `while` over a rule that consumes
// nothing, or a repetition whose rounds insert what the next alternative
// consumes. A round budget per parse stops those, as a trace callback
// answering false would; parens stay out, as they could run any code. The
// budget is kept small: a loop that inserts into its input and searches it
// every round costs the square of its rounds (20,000 rounds took a minute
// and a half under the sanitizers).
#include <string>

#include "datatypes/binary.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/stack.hpp"
#include "fuzz_support.hpp"
#include "loader/lexer.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

bool load(const std::string& text, Cell* out) {
    try {
        lexer::transcode(out, reinterpret_cast<const u8*>(text.data()), i64(text.size()), {}, nullptr, nullptr,
                         nullptr, nullptr);
        return TYPE_OF(out) == TYPE_BLOCK;
    } catch (const LanguageError&) {
        return false;
    }
}

void run(const Cell* input, const Cell* rules, i32 op) {
    Cell* saved = stack::top;
    try {
        parse::run(input, rules, op, 0, nullptr);
    } catch (const LanguageError&) {
    } catch (const stack::PendingExit&) {
        stack::take_pending();
    }
    stack::top = saved;
    if (parse::rule_head != 0 || parse::input_head != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setup_runtime();
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t split = all.find('\0');
    std::string rules_text = all.substr(0, split);
    std::string input_text = split == std::string::npos ? "" : all.substr(split + 1);
    parse::round_budget = 4000;
    for (char& c : rules_text)
        if (c == '(' || c == ')') c = ' ';
    Cell* saved = stack::top;
    Cell* rules = stack::push_slot();
    cell::init(rules, TYPE_UNSET);
    if (load(rules_text, rules)) {
        Cell* text = stack::push_slot();
        cell::init(text, TYPE_UNSET);
        string::make_at(text, 16, 1);
        string::append_utf8_lenient(text, reinterpret_cast<const u8*>(input_text.data()), i64(input_text.size()));
        run(text, rules, COMP_EQUAL);
        run(text, rules, COMP_STRICT_EQUAL);
        Cell* bytes = binary::load(reinterpret_cast<const u8*>(input_text.data()), i64(input_text.size()));
        run(bytes, rules, COMP_EQUAL);
        Cell* block = stack::push_slot();
        cell::init(block, TYPE_UNSET);
        if (load(input_text, block)) run(block, rules, COMP_EQUAL);
    }
    stack::top = saved;
    return 0;
}
