// Evaluating code read by the real lexer, for tests whose code holds
// literals the tests' little reader does not know (money, time, pairs,
// percents, tuples, chars, floats with exponents).
//
// lexed_mold and lexed_error read the text with the lexer directly; the
// stacks are checked as eval() checks them. The lx_ helpers load the text
// through the `transcode` native and run it by `do`, both under the
// interpreter, as `do transcode text` would be in a script.
#pragma once

#include <cstring>
#include <string>

#include "datatypes/string.hpp"
#include "eval_support.hpp"

namespace zir::test {

// The mold of the result.
std::string lexed_mold(const char* text);
// "category id" of the error raised ("" when none); the stacks are cut back
// as a try would.
std::string lexed_error(const char* text);

// Sets the global word `src-text` to a string! of the UTF-8 text.
inline void set_source_text(const char* text) {
    Cell* s = stack::push_slot();
    cell::init(s, TYPE_UNSET);
    string::make_at(s, 16, 1);
    string::append_utf8(s, reinterpret_cast<const u8*>(text), i64(std::strlen(text)));
    set_global("src-text", s);
    stack::pop(1);
}

inline std::string lx_mold(const char* text) {
    set_source_text(text);
    return eval_mold("do transcode src-text");
}

inline std::string lx_error(const char* text) {
    set_source_text(text);
    return eval_error("do transcode src-text");
}

inline std::string lx_report(const char* text) {
    set_source_text(text);
    return eval_report("do transcode src-text");
}

}  // namespace zir::test
