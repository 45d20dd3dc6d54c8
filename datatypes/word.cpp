// Words: see word.hpp.
#include "datatypes/word.hpp"

#include "boot/roots.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace word {

namespace {

// While start-up records its words, each one made is kept in the root block.
Cell* recorded(Cell* word) { return boot::recording ? boot::append_root(word) : word; }

inline bool word_type_q(u32 t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }

[[noreturn]] void fire_bad_to_arg(u32 type, const Cell* spec) {
    Cell target;
    datatype::make_at(&target, type);
    fire(ERR_SCRIPT, "bad-to-arg", &target, spec);
}

}  // namespace

// --- Making words -------------------------------------------------------------

Cell* load(std::string_view text) { return recorded(context::add_global(symbol::make(text), true, true)); }

Cell* from_symbol(i32 symbol) { return recorded(context::add_global(symbol, false, true)); }

Cell* make_at(i32 symbol, Cell* cell) {
    i32 slot = context::add_word(context::global, symbol);
    cell->header = (cell->header & FLAG_NEW_LINE) | TYPE_WORD;
    cell->w1 = context::global;
    cell->w2 = u32(symbol);
    cell->w3 = u32(slot);
    return cell;
}

Cell* push_global(i32 symbol) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return make_at(symbol, c);
}

Cell* push(const Cell* word) { return stack::push(word); }

Cell* find_or_global(u32 ctx, i32 symbol) {
    if (ctx)
        if (Cell* w = context::find_word_cell(ctx, symbol, false)) return w;
    return from_symbol(symbol);
}

Cell* get_in(u32 ctx, i32 i) { return context::value_at(context::cell_of(ctx), i); }

const Cell* symbol_cell(const Cell* word) {
    i32 symbol = i32(word->w2);
    symbol::get_buffer(symbol);
    return symbol::get(symbol);
}

// --- Reading and writing values -------------------------------------------------

Cell* get_value(const Cell* word) {
    const Cell* value = context::get(word);
    if (TYPE_OF(value) == TYPE_UNSET) fire(ERR_SCRIPT, "no-value", word);
    return stack::push(value);
}

Cell loop_word(const Cell* words, i32 i) {
    Cell w = block::cell_or_none(words, i);
    u32 t = TYPE_OF(&w);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
        fire(ERR_SCRIPT, "invalid-arg", &w);
    return w;
}

void set_from_stack() {
    Cell* word = stack::arguments;
    Cell* value = stack::arguments + 1;
    if (TYPE_OF(value) == TYPE_UNSET) fire(ERR_SCRIPT, "need-value", word);
    context::set(word, value);
    stack::set_last(value);
}

u32 load_first(const Cell* text, Cell* first) {
    stack::KeepTop restore;
    Cell* loaded = stack::push_slot();
    cell::init(loaded, TYPE_UNSET);
    if (!block::load_text_q(text, loaded) || block::zs_length_q(loaded) < 1) {
        cell::init(first, TYPE_NONE);
        return 0;
    }
    *first = *block::zs_head(loaded);
    return TYPE_OF(first);
}

// --- Actions ------------------------------------------------------------------

namespace {

// A text value of the spelling (or of one character), on the value stack.
Cell* push_text(const Cell* spec) {
    Cell* text = stack::push_slot();
    cell::init(text, TYPE_UNSET);
    string::make_at(text, 16, 1);
    if (TYPE_OF(spec) == TYPE_CHAR) {
        string::append_char(text, spec->w2);
    } else {
        std::string_view s = symbol::spelling(i32(spec->w2));
        string::append_utf8(text, reinterpret_cast<const u8*>(s.data()), i64(s.size()));
    }
    return text;
}

// A string that loads as one plain word and nothing more (an ASCII letter,
// then ASCII letters, digits, - ? ! and _ only: no delimiter, sign, dot or
// other character the lexer reads a meaning in) is made into the word the
// lexer would make, without loading it. Answers false for any other text.
bool plain_spelling_word(const Cell* text, Cell* result) {
    constexpr i32 LONGEST = 64;
    SeriesBuffer* s = series::buffer_of(text);
    if (series::shift_of(s) != 0) return false;
    i32 length = series::rest_length(text);
    if (length <= 0 || length > LONGEST) return false;
    const u8* p = series::element_at(s, series::head_index(text));
    auto letter = [](u8 c) { return u8((c | 0x20) - 'a') < 26; };
    if (!letter(p[0])) return false;
    char spelling[LONGEST];
    for (i32 i = 0; i < length; i++) {
        u8 c = p[i];
        if (!letter(c) && u8(c - '0') >= 10 && c != '-' && c != '?' && c != '!' && c != '_') return false;
        spelling[i] = char(c);
    }
    // (The spelling is copied first: making the symbol may move the text.)
    result->header = 0;
    make_at(symbol::make(std::string_view(spelling, size_t(length))), result);
    return true;
}

// A word found in the global context is bound to its slot; one that is not
// there is bound to it unlooked-up, and gets a slot when first set.
void bind_global(Cell* word) {
    if (context::bind_word(context::global, word) >= 0) return;
    word->w1 = context::global;
    word->w3 = u32(-1);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, u32 type) {
    Cell result;
    u32 t = TYPE_OF(spec);
    switch (t) {
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
            result = *spec;
            break;
        case TYPE_ISSUE:
        case TYPE_REFINEMENT: {
            // Only a spelling that loads as a word may become one.
            Cell* base = stack::top;
            Cell* text = push_text(spec);
            Cell first;
            u32 loaded = load_first(text, &first);
            stack::top = base;
            if (loaded < TYPE_WORD || loaded > TYPE_GET_WORD) fire_bad_to_arg(type, spec);
            result = *spec;
            bind_global(&result);
            break;
        }
        case TYPE_STRING:
        case TYPE_CHAR: {
            if (t == TYPE_STRING && plain_spelling_word(spec, &result)) break;
            Cell* base = stack::top;
            const Cell* text = t == TYPE_STRING ? spec : push_text(spec);
            u32 loaded = load_first(text, &result);
            stack::top = base;
            if (!word_type_q(loaded)) fire(ERR_SCRIPT, "invalid-chars");
            break;
        }
        case TYPE_DATATYPE:
            if (spec->w1 >= TYPE_TOTAL || !datatype::names[spec->w1].name) fire_bad_to_arg(type, spec);
            if (TYPE_OF(&datatype::names[spec->w1].word) == 0) {
                i32 symbol = symbol::make(datatype::names[spec->w1].name);
                datatype::names[spec->w1].word = *from_symbol(symbol);
            }
            result = datatype::names[spec->w1].word;
            break;
        case TYPE_LOGIC:
            result = *from_symbol(symbol::make(spec->w1 ? "true" : "false"));
            break;
        default:
            fire_bad_to_arg(type, spec);
    }
    cell::set_type(&result, type);
    *proto = result;
    return proto;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    i32 symbol = i32(value->w2);
    i32 n = symbol::length_of(symbol);
    std::string_view text = symbol::spelling(symbol);
    // The appender copies the spelling before it grows the buffer.
    string::append_utf8(buffer, reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    return part - n;
}

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form(value, buffer, arg, part);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    u32 a = TYPE_OF(value), b = TYPE_OF(other);
    if (!word_type_q(b) || (b == TYPE_ISSUE && a != TYPE_ISSUE)) return NOT_COMPARABLE;
    i32 sa = i32(value->w2), sb = i32(other->w2);
    bool word_and_lit = (a == TYPE_WORD && b == TYPE_LIT_WORD) || (a == TYPE_LIT_WORD && b == TYPE_WORD);
    switch (op) {
        case COMP_SAME:
            return sa == sb && value->w1 == other->w1 && a == b ? 0 : 1;
        case COMP_PARSE_CASE:
            if (word_and_lit) return sa == sb ? 0 : 1;
            [[fallthrough]];
        case COMP_STRICT_EQUAL:
            return a == b && sa == sb ? 0 : 1;
        case COMP_PARSE:
            if (word_and_lit) return symbol::resolve(sa) == symbol::resolve(sb) ? 0 : 1;
            return a == b && symbol::resolve(sa) == symbol::resolve(sb) ? 0 : 1;
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
        case COMP_FIND:
            return symbol::resolve(sa) == symbol::resolve(sb) ? 0 : 1;
        default:
            return symbol::compare_spellings(sa, sb, op);
    }
}

namespace {

void index_q() {
    Cell* w = stack::arguments;
    i32 slot = i32(w->w3);
    if (slot < 0) {
        cell::init(w, TYPE_NONE);
        return;
    }
    cell::init(w, TYPE_INTEGER);
    w->w2 = u32(slot + 1);
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_WORD, TYPE_SYMBOL, "word!");
    r.only_own().on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_COMPARE>(compare).on<ACT_INDEX_Q>(index_q);
    datatype::register_(r);
}

}  // namespace word

// --- The variants ---------------------------------------------------------------

namespace {

// A mark written before the spelling ("'", ":", "/"), or after it for a set-word.
template <char Mark>
i32 mold_before(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    string::append_char(buffer, u32(Mark));
    return word::form(value, buffer, arg, part - 1);
}

i32 mold_set_word(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    part = word::form(value, buffer, arg, part);
    string::append_char(buffer, ':');
    return part - 1;
}

void register_variant(u32 type, const char* name, action::Mold mold) {
    datatype::Registration r(type, TYPE_WORD, name);
    r.on<ACT_MOLD>(mold);
    datatype::register_(r);
}

}  // namespace

namespace get_word {

Cell* push_value(const Cell* word) { return stack::push(context::get(word)); }

void init() { register_variant(TYPE_GET_WORD, "get-word!", mold_before<':'>); }

}  // namespace get_word

namespace lit_word {
void init() { register_variant(TYPE_LIT_WORD, "lit-word!", mold_before<'\''>); }
}  // namespace lit_word

namespace set_word {
void init() { register_variant(TYPE_SET_WORD, "set-word!", mold_set_word); }
}  // namespace set_word

namespace refinement {

Cell* load(std::string_view text) {
    Cell r;
    cell::init(&r, TYPE_REFINEMENT);
    r.w2 = u32(symbol::make(text));
    r.w3 = u32(-1);
    return boot::append_root(&r);
}

void init() { register_variant(TYPE_REFINEMENT, "refinement!", mold_before<'/'>); }

}  // namespace refinement

}  // namespace zir
