// Evaluating source text that the little reader of the tests cannot read
// (pairs, tuples, chars, money, floats with exponents): the text is loaded by
// the real lexer through the `transcode` native and run by `do`, both under
// the interpreter, as `do transcode text` would be in a script.
#pragma once

#include <cstring>
#include <string>

#include "datatypes/string.hpp"
#include "eval_support.hpp"

namespace zir::test {

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
