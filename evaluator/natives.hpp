// Natives: the built-in functions that are not actions, reached through the
// natives table by the index that a native! value holds.
//
// The table has NATIVES_SIZE entries; `register_all` fills slots 1 to
// NATIVES_USED in slot order at start-up, from the entries each group of
// natives contributes (a slot whose native is not built stays null, and a
// call of it raises `internal not-done`). A native reads its arguments from
// the value stack from `stack::arguments` on and leaves its result in the
// first of them.
#pragma once

#include "evaluator/actions.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {

constexpr i32 NATIVES_SIZE = 120;
constexpr i32 NATIVES_USED = 107;

// A native's entry: `check` asks it to type-check its arguments itself (the
// interpreter has checked them already and passes 0); `refinements` holds one
// integer per refinement of its spec, in spec order: -1 when the refinement
// is absent, else the position (in cells from `stack::arguments`) of its
// first argument. The result goes to the first argument cell. It answers 0,
// or a pending exit code for a caller that acts on it (the interpreter
// carries pending exits on by itself and ignores the answer).
using Entry = i32 (*)(i32 check, const i32* refinements);

// Entry i - 1 is the native numbered i; null while not filled.
extern action::Generic table[NATIVES_SIZE];
// Entries filled so far.
extern i32 count;

// Stores each entry at the next slot of the table, in order (registration,
// slot 1 first). More than the table holds is a fault of the program.
void table_append(i32 n, const action::Generic* entries);

// One row of the manifest: a slot, its word and its spec text (doc string,
// arguments with their type blocks, 'literal arguments, refinements,
// `return:`), as the boot image records them.
struct Manifest {
    i32 slot;
    const char* word;
    const char* spec;
};
// Every slot, in slot order (row i is slot i + 1).
extern const Manifest manifest[NATIVES_USED];

// The block print and prin reduce a block argument into; made once by
// `register_all` in the root block (its node).
extern u32 print_block;
// Whether the last print or prin ended its text with a line end (true
// before anything is printed).
extern bool last_lf_q;

// Each group of natives writes the entries it builds into `slots` (slot n at
// index n - 1).
void fill_control(action::Generic* slots);   // conditionals, loops, exits, try, catch, apply
void fill_code(action::Generic* slots);      // function makers, do, reduce, compose, words, values
void fill_compare(action::Generic* slots);   // comparisons and predicates
void fill_output(action::Generic* slots);    // print, prin, stats
void fill_parse(action::Generic* slots);     // parse
void fill_sets(action::Generic* slots);      // set operations, text encoding
void fill_math(action::Generic* slots);      // math
void fill_system(action::Generic* slots);    // files, time, processes, environment, codecs

// Makes the table: the print block, then the entries of slots 1 to
// NATIVES_USED in order. Start-up runs it once, before the words are defined.
void register_all();
// Makes the native! value of every filled slot from its manifest row and sets
// its global word. Start-up runs it after the action words, until the boot
// image defines the natives.
void define_words();
// The native! value of a slot made by define_words (none when the slot is
// empty). Valid until the next allocation.
const Cell* value_of(i32 slot);

// Sets the first n words of a block from a value (foreach's steps and `set`
// of a block share it). The words and the value are cells that do not move
// (stack cells). When the value is a block-like series or a map! and `only`
// is off, word i gets value i (none past the tail), else every word gets the
// whole value. A checking pass comes first: an element of the words block
// that is not a word, set-word, get-word or lit-word raises `script
// invalid-arg`, and without `any` an unset value raises `script need-value`
// naming the word; nothing is set before the pass succeeds. With `some` a
// none value leaves its word as it was. Setting a word may run an object's
// change handler: each value is picked again after the previous set.
void set_loop_words(const Cell* words, const Cell* value, i32 n, bool any, bool only, bool some);

// The type check a native makes when called with `check` set: the mandatory
// arguments, then the arguments of each present refinement, each against the
// typeset its spec declares; the first failure raises `script expect-arg`
// naming the caller, the datatype and the argument.
void check_args(i32 slot, const i32* refinements);

}  // namespace natives

namespace error {
// Shows an error without raising it: the error of a category and an id (a
// spelling of the catalogue; an unknown one shows as `internal
// invalid-error`) with up to three arguments, printed as print would, from a
// native frame named <body>. The stacks are left as they were.
void print_error(ErrorCategory category, const char* id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                 const Cell* arg3 = nullptr);
}  // namespace error

}  // namespace zir
