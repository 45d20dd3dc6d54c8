// Building values in C++ tests without the lexer, and checking their text.
//
// Builders push what they make on the value stack, which the collector marks,
// and answer the stack cell (stack cells never move). A `ValueTest` fixture
// runs with the collector active and gives the stack back after each test.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "evaluator/actions.hpp"
#include "datatypes/context.hpp"
#include "evaluator/stack.hpp"
#include "runtime/ownership.hpp"
#include "runtime/fire.hpp"
#include "support.hpp"

namespace zir::test {

Cell* int_(i32 v);
Cell* none_();
Cell* logic_(bool v);
Cell* word(const char* spelling, u32 type = TYPE_WORD);
// A text value of any string-family type (string! by default).
Cell* str(const char* utf8, u32 type = TYPE_STRING);
Cell* char_(u32 code_point);
// Code points as UTF-8, for comparing with texts and naming cases.
std::string utf8(const std::u32string& text);
Cell* block(std::initializer_list<const Cell*> items, u32 type = TYPE_BLOCK);
// A block of integer! values.
Cell* ints(std::initializer_list<i32> values);
Cell* ints(const std::vector<i32>& values);
// A copy of a cell with the new-line flag set.
Cell* nl(const Cell* c);
Cell* datatype_(u32 type);
Cell* float_(double v);
// A percent! holding the fraction v (50% is 0.5), a time! of v seconds.
Cell* percent_(double v);
Cell* time_(double v);
// A binary! over the bytes, its head at `head`.
Cell* binary_(std::initializer_list<u8> bytes, u32 head = 0);
Cell* pair_(i32 x, i32 y);
// A copy of a series value with its head at `index`.
Cell* at_(const Cell* series, i32 index);
// A binary! of the bytes written in hexadecimal ("0102FF"), or of a list.
Cell* bin(const char* hex);
Cell* bin(const std::vector<u8>& bytes);
// The bytes of a binary! from its head, in upper-case hexadecimal.
std::string hex_of(const Cell* binary);
// A series of the given type over code points stored at `unit` bytes each.
Cell* text_series(const std::u32string& text, u32 unit, u32 type = TYPE_STRING);

// A bare object! (not pushed: hold it in a root): a context with the one field
// "data" holding `field`, and a change-handlers record (naming no handler) so
// that its owned series notify.
Cell make_object(const Cell& field);
// Makes such an object into `owner` (a cell the caller keeps rooted) and
// makes it the owner of `series` through its field "data".
void own(const Cell* series, Cell* owner);

// A block of values read from a little source text, for tests while there is
// no lexer: blocks and parens, "strings" (no escapes), integers, and words in
// their five forms (`w`, `w:`, `'w`, `:w`, `/w`), decimals with a point,
// #issues, and paths in their four forms (`a/b/1`, `:a/b`, `a/b:`, `'a/b`)
// whose elements are words, numbers, get-words and parens. Words are bound
// to the global context (added there when absent), refinements and issues
// unbound. A value that starts a line has its new-line flag. Pushed.
Cell* read_block(const char* text);

// The tests' stand-in for the interpreter's block evaluation (the hook
// object::eval_block): `a: b: value` sets a and b (through their bindings,
// change events on) to the value, a word standing for its value and a
// lit-word for its word; other values evaluate to themselves. The last value
// goes to `result`.
void evaluate_sets(const Cell* block, Cell* result);

// Gives the context and ownership hooks back to object!, after a test that
// replaced them.
void restore_hooks();

// Calls an action that reads its arguments from the value stack (at, skip,
// next, head? ...) on a copy of `first` and answers the result cell.
Cell* direct(u32 slot, const Cell* first, const Cell* second = nullptr);
Cell* typeset_(std::initializer_list<u32> types);
// A hash! over the items (a kind-0 table indexing every cell), and a map!
// over key/value items (a kind-1 table; a later duplicate key wins).
Cell* hash_(std::initializer_list<const Cell*> items);
Cell* map_(std::initializer_list<const Cell*> items);
// A word bound to a fresh object context in which it holds `value`.
Cell* bound_word(const char* spelling, const Cell* value);

// `to` (or, with ACT_MAKE, `make`) of a datatype from a spec, through the
// datatype's own row: the result cell.
Cell* convert(u32 type, const Cell* spec, u32 slot = ACT_TO);
// A text value's code points from its head.
std::u32string code_points(const Cell* text);
// An image's pixel words (0xAARRGGBB) in row order, from the first.
std::vector<u32> pixels_of(const Cell* image);

// A datatype's entry for an action slot, typed.
template <u32 S>
typename datatype::SlotSig<S>::type action_of(u32 type) {
    return reinterpret_cast<typename datatype::SlotSig<S>::type>(actions::lookup(type, S));
}

// While alive, records as text what path assignments into scalars tell the
// holder of the scalar: an owned series' reports ("set-path [1 5x2] 5 1 1":
// word, series, new value, index, part) and an object's on-change calls
// ("size 7x8 -> 7x0": word, old, new). At each report of a series the
// handler allocates and collects before it reads what it was given, and with
// `clear_holder` empties the series afterwards, as user code may.
struct HolderReports {
    HolderReports();
    ~HolderReports();
    HolderReports(const HolderReports&) = delete;
    HolderReports& operator=(const HolderReports&) = delete;
    std::vector<std::string> told;
    bool clear_holder = false;
    context::OnSet saved_on_set;
    ownership::DeepChange saved_on_deep_change;
};

struct MoldOptions {
    bool only = false, all = false, flat = false;
    i32 part = -1;   // -1: no /part
};
std::string mold(const Cell* value, MoldOptions o = {});
std::string form(const Cell* value, i32 part = -1);

// Runs `f` and answers "category id" of the language error it raised, or "".
template <typename F>
std::string error_of(F f);
// Runs `f` and answers the language error it raised (a failure when none).
template <typename F>
LanguageError raised(F f);

struct ValueTest : Collecting {
    Cell* saved_top = nullptr;
    Cell* saved_arguments = nullptr;   // some tests point the arguments at their own cells
    // The stacks as the test found them: an error caught by error_of or
    // raised leaves the frames it was raised in, which the next test must
    // not see.
    stack::Checkpoint saved_stacks;
    ownership::DeepChange saved_deep_change = nullptr;
    context::OnSet saved_on_set = nullptr;
    void SetUp() override;
    void TearDown() override;
};

}  // namespace zir::test

#define EXPECT_MOLD(value, text) EXPECT_EQ(::zir::test::mold(value), text)
#define EXPECT_FORM(value, text) EXPECT_EQ(::zir::test::form(value), text)

template <typename F>
zir::LanguageError zir::test::raised(F f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return {};
}

template <typename F>
std::string zir::test::error_of(F f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return std::string(category_name(e.category)) + " " + e.id;
    }
    return "";
}
