// Fuzz target: the lexer. Any bytes must load to values or raise a syntax
// error, never fault, hang or leak; a check-only scan must agree with
// loading on whether the text is valid; the same bytes in a binary value
// (scanned where they lie) must load the same; a string holding the bytes as
// its characters must load as their UTF-8 text does; and a transcode started
// from inside a trace callback must leave the outer scan's output and input
// as they were.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "fuzz_support.hpp"
#include "loader/lexer.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

const std::vector<u8>* nested_input = nullptr;
bool nested_done = false;
u32 answers = 0;   // bits of the callback's answers, taken from the input: a 0 answers false

// Loads the bytes; answers 1 when they loaded, 0 for a syntax error, -1 for
// a value whose datatype is not built yet.
int load(const std::vector<u8>& bytes, Cell* out, const Cell* callback) {
    try {
        lexer::transcode(out, bytes.data(), i64(bytes.size()), {}, nullptr, callback, nullptr, nullptr);
        return 1;
    } catch (const LanguageError& e) {
        if (e.category == ERR_SYNTAX) return 0;
        if (e.category == ERR_INTERNAL && std::strcmp(e.id, "not-done") == 0) return -1;
        std::abort();   // the lexer raises syntax errors only
    }
}

// The stand-in for a callback: on its first call, a transcode of the same
// bytes of its own, which must not disturb the one that called it. Its
// answers come from the input's first bytes.
void callback(const Cell*, Cell* args) {
    if (!nested_done && nested_input) {
        nested_done = true;
        Cell* saved = stack::top;
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        load(*nested_input, out, nullptr);
        stack::top = saved;
    }
    cell::init(&args[0], TYPE_LOGIC);
    args[0].w1 = answers & 1;
    answers = (answers >> 1) | (answers << 31);
}

// Whether two loads gave the same cells (series aside: their nodes differ).
bool same_cells(const Cell* a_block, const Cell* b_block) {
    i32 n = block::zs_length_q(a_block);
    if (n != block::zs_length_q(b_block)) return false;
    for (i32 i = 0; i < n; i++) {
        const Cell* a = block::zs_head(const_cast<Cell*>(a_block)) + i;
        const Cell* b = block::zs_head(const_cast<Cell*>(b_block)) + i;
        if (a->header != b->header) return false;
        if (!any_series_q(TYPE_OF(a)) && TYPE_OF(a) != TYPE_MAP && std::memcmp(a, b, sizeof(Cell)) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setup_runtime();
    // Exactly the input's bytes, nothing after them: a binary is scanned
    // where it lies, so the lexer must not read past its input's end.
    std::vector<u8> bytes;
    bytes.reserve(size);
    bytes.assign(data, data + size);
    Cell* saved = stack::top;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    int loaded = load(bytes, out, nullptr);

    // The same bytes as a binary value, which a plain load scans where they
    // lie in its buffer.
    Cell* bin = binary::load(bytes.data(), i64(bytes.size()));
    Cell* from_binary = stack::push_slot();
    cell::init(from_binary, TYPE_UNSET);
    int via_binary = 1;
    try {
        lexer::string_to_block(from_binary, bin, -1, {}, nullptr, nullptr, nullptr);
    } catch (const LanguageError& e) {
        via_binary = e.category == ERR_SYNTAX ? 0 : -1;
    }
    if (via_binary != loaded) std::abort();
    if (loaded == 1 && !same_cells(out, from_binary)) std::abort();

    // The bytes as the characters of a string of one byte a character load
    // as the UTF-8 text of those characters does.
    std::vector<u8> utf8;
    for (u8 b : bytes) {
        if (b < 0x80) {
            utf8.push_back(b);
        } else {
            utf8.push_back(u8(0xC0 | (b >> 6)));
            utf8.push_back(u8(0x80 | (b & 0x3F)));
        }
    }
    Cell* latin = stack::push_slot();
    cell::init(latin, TYPE_UNSET);
    string::make_at(latin, i64(size) + 1, 1);
    SeriesBuffer* text = series::buffer_of(latin);
    if (size > 0) std::memcpy(series::head(text), bytes.data(), size);
    text->tail = text->offset + u32(size);
    Cell* from_utf8 = stack::push_slot();
    cell::init(from_utf8, TYPE_UNSET);
    Cell* from_latin = stack::push_slot();
    cell::init(from_latin, TYPE_UNSET);
    int utf8_loaded = load(utf8, from_utf8, nullptr);
    int latin_loaded = 1;
    try {
        lexer::string_to_block(from_latin, latin, -1, {}, nullptr, nullptr, nullptr);
    } catch (const LanguageError& e) {
        latin_loaded = e.category == ERR_SYNTAX ? 0 : -1;
    }
    if (latin_loaded != utf8_loaded) std::abort();
    if (utf8_loaded == 1 && !same_cells(from_utf8, from_latin)) std::abort();

    Cell* checked = stack::push_slot();
    cell::init(checked, TYPE_UNSET);
    lexer::Options check;
    check.load = false;
    i32 answer = lexer::transcode(checked, bytes.data(), i64(bytes.size()), check, nullptr, nullptr, nullptr, nullptr);
    // A check finds no fault where loading finds none (loading checks more:
    // the keys of a map, for one).
    if (loaded == 1 && answer == TYPE_ERROR) std::abort();

    // The same from inside a trace callback.
    lexer::call_callback = callback;
    nested_input = &bytes;
    nested_done = false;
    Cell* fn = stack::push_slot();
    cell::init(fn, TYPE_LOGIC);   // any value: the stand-in does not look at it
    Cell* traced = stack::push_slot();
    cell::init(traced, TYPE_UNSET);
    answers = ~0u;
    int again = load(bytes, traced, fn);
    if (again != loaded && again >= 0 && loaded >= 0) std::abort();
    // Callbacks that answer false now and then: the scan must still end.
    answers = size >= 4 ? u32(data[0]) | u32(data[1]) << 8 | u32(data[2]) << 16 | u32(data[3]) << 24 : 0x5555u;
    Cell* skipped = stack::push_slot();
    cell::init(skipped, TYPE_UNSET);
    load(bytes, skipped, fn);
    lexer::call_callback = nullptr;
    nested_input = nullptr;
    // The outer load is what it was without the nested one.
    if (again == 1 && loaded == 1 && !same_cells(out, traced)) std::abort();
    stack::top = saved;
    return 0;
}
