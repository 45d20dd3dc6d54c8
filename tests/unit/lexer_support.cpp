// Helpers of the lexer tests: see lexer_support.hpp.
#include "lexer_support.hpp"

#include <cstring>
#include <vector>

#include "datatypes/block.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir::test {

Cell* load(const std::string& source, lexer::Options o, i32* consumed) {
    // A copy of its own that no allocation moves.
    std::vector<u8> bytes(source.begin(), source.end());
    bytes.push_back(0);
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    lexer::transcode(c, bytes.data(), i64(source.size()), o, consumed, nullptr, nullptr, nullptr);
    return c;
}

std::string loaded(const std::string& source) { return mold(load(source), {.only = true}); }

std::string load_error(const std::string& source) {
    try {
        load(source);
    } catch (const LanguageError& e) {
        if (e.category != ERR_SYNTAX) return std::string(category_name(e.category)) + " " + e.id;
        std::string id = e.id;
        // A datatype shows with its "!", as the catalogue's messages print it.
        auto f = [&](int i) { return TYPE_OF(&e.args[i]) == TYPE_DATATYPE ? mold(&e.args[i]) : form(&e.args[i]); };
        if (id == "invalid") return f(0) + " invalid " + f(1) + " at " + f(2);
        if (id == "missing") return f(0) + " missing " + f(1) + " at " + f(2);
        if (id == "malconstruct") return f(0) + " invalid construction spec at " + f(1);
        if (id == "bad-char") return f(0) + " invalid character at " + f(1);
        return "syntax " + id;
    }
    return "";
}

i32 check(const std::string& source) {
    std::vector<u8> bytes(source.begin(), source.end());
    bytes.push_back(0);
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    lexer::Options o;
    o.load = false;
    return lexer::transcode(c, bytes.data(), i64(source.size()), o, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace zir::test
