// Helpers of the lexer tests: see lexer_support.hpp.
#include "lexer_support.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "boot/catalog.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir::test {

GuardedText::GuardedText(const std::string& text) {
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    size_t room = (text.size() + page - 1) / page * page;
    length = room + page;
    map = static_cast<u8*>(mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (map == MAP_FAILED) std::abort();
    mprotect(map + room, page, PROT_NONE);
    bytes = map + room - text.size();
    std::memcpy(bytes, text.data(), text.size());
}

GuardedText::~GuardedText() { munmap(map, length); }

Cell* load(const std::string& source, lexer::Options o, i32* consumed) {
    // A copy of its own that no allocation moves, ending where the memory does.
    GuardedText text(source);
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    lexer::transcode(c, text.bytes, i64(source.size()), o, consumed, nullptr, nullptr, nullptr);
    return c;
}

std::string loaded(const std::string& source) { return mold(load(source), {.only = true}); }

std::string error_text(const LanguageError& e) {
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

std::string load_error(const std::string& source) {
    try {
        load(source);
    } catch (const LanguageError& e) {
        return error_text(e);
    }
    return "";
}

i32 check(const std::string& source) {
    GuardedText text(source);
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    lexer::Options o;
    o.load = false;
    return lexer::transcode(c, text.bytes, i64(source.size()), o, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace zir::test
