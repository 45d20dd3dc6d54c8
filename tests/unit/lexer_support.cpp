// Helpers of the lexer tests: see lexer_support.hpp.
#include "lexer_support.hpp"

#include <cstring>
#include <vector>

#include "boot/catalog.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
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
        // The message as the error catalogue writes it.
        i32 id = catalog::find_id(e.category, e.id);
        Cell* error = stack::push_slot();
        cell::init(error, TYPE_UNSET);
        error::make_at(error, e.category, id, e.args, e.argc);
        Cell* buffer = str("");
        error::form_message(catalog::message(i32(e.category), id), buffer, error, PART_UNLIMITED);
        return string::to_std(buffer);
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
