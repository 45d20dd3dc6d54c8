// Actions: the 62 polymorphic operations of the language, implemented once
// per datatype and found through the type-action table.
//
// Each slot has one C++ signature, shared by every datatype's implementation
// of it (the typedefs below). Refinement arguments are cell pointers that are
// null when the refinement is absent; refinements without arguments are flags.
// The typed entries here look up the implementation of their first argument's
// datatype and call it; a datatype without the action raises
// `script expect-arg`.
#pragma once

#include "runtime/cell.hpp"

namespace zir {

enum ActionSlot : u32 {
    ACT_MAKE = 1, ACT_RANDOM, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_MOLD, ACT_EVAL_PATH, ACT_RESERVED,
    ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE, ACT_MULTIPLY, ACT_NEGATE, ACT_POWER, ACT_REMAINDER,
    ACT_ROUND, ACT_SUBTRACT, ACT_EVEN_Q, ACT_ODD_Q, ACT_AND_T, ACT_COMPLEMENT, ACT_OR_T, ACT_XOR_T,
    ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q,
    ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_PUT, ACT_REMOVE,
    ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_TRIM,
    ACT_CREATE, ACT_CLOSE, ACT_DELETE, ACT_MODIFY, ACT_OPEN, ACT_OPEN_Q, ACT_QUERY, ACT_READ, ACT_RENAME,
    ACT_UPDATE, ACT_WRITE,
    ACTION_SLOTS = 62,
};

// Comparison operations.
enum CompareOp : i32 {
    COMP_EQUAL = 0, COMP_NOT_EQUAL = 1, COMP_STRICT_EQUAL = 2, COMP_LESSER = 3, COMP_LESSER_EQUAL = 4,
    COMP_GREATER = 5, COMP_GREATER_EQUAL = 6, COMP_SORT = 7, COMP_CASE_SORT = 8, COMP_SAME = 9,
    COMP_PARSE_CASE = 10, COMP_PARSE = 11, COMP_FIND = 12,
};
constexpr i32 NOT_COMPARABLE = -2;

// The operations that only ask whether two values are equal, and the two that
// ask for an order to sort by.
inline bool equality_op_q(i32 op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND;
}
inline bool sort_op_q(i32 op) { return op == COMP_SORT || op == COMP_CASE_SORT; }
// The comparison of a datatype whose values are all alike (unset!, none!):
// equal to one of its own kind, unordered otherwise.
inline i32 compare_alike(u32 type, const Cell* other, i32 op) {
    if ((other->header & 0xFF) != type) return NOT_COMPARABLE;
    return equality_op_q(op) || sort_op_q(op) ? 0 : NOT_COMPARABLE;
}

// The operation code every arithmetic core takes (integer, float, pair, tuple,
// vector, money, points, dates); the set operations continue the numbering
// (block_sort.hpp).
enum MathOp : i32 {
    MATH_ADD = 0, MATH_SUBTRACT = 1, MATH_MULTIPLY = 2, MATH_DIVIDE = 3, MATH_REMAINDER = 4,
    MATH_OR = 5, MATH_AND = 6, MATH_XOR = 7,
};

namespace actions {
// The arithmetic core of each datatype that has one (pair!, the points,
// tuple!, date!, money! ...), set by the datatype when it registers: it works
// on the two arguments of the current call, the first being the result slot,
// and answers the result cell. integer! and float! hand an operand of such a
// type to its core after swapping the operands; a null entry raises
// `internal not-done`.
using MathCore = Cell* (*)(i32 op);
extern MathCore math_core[TYPE_TOTAL];
}  // namespace actions

// The part (a budget of code points) of an unlimited mold or form.
constexpr i32 PART_UNLIMITED = 0x7FFFFFFF;

namespace action {

using Generic = void (*)();

// Slot signatures. Results written into a given cell answer that cell.
using Make = Cell* (*)(Cell* proto, Cell* spec, u32 type);                      // make, to
using Random = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = Cell* (*)(Cell* value, i32 field_symbol);
using Form = i32 (*)(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
using Mold = i32 (*)(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg,
                     i32 part, i32 indent);
using EvalPath = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                           Cell* prev_element, i32 index, bool case_, bool get, bool last, bool notify);
using Compare = i32 (*)(const Cell* value, const Cell* other, i32 op);
using Direct = void (*)();                                                       // reads the stack
using Unary = Cell* (*)(Cell* value);                                            // negate, complement, clear ...
using Predicate = bool (*)(const Cell* value);                                   // even?, odd?
using Round = Cell* (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                        bool ceiling, bool half_ceiling);
using Insert = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append);
using Change = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
using Copy = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                       Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using Select = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                         Cell* with, Cell* skip, bool last, bool reverse);
using Length = i32 (*)(const Cell* series);
using Move = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using Pick = Cell* (*)(Cell* series, i32 index, Cell* boxed);
using Poke = Cell* (*)(Cell* series, i32 index, Cell* data, Cell* boxed);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using Remove = Cell* (*)(Cell* series, Cell* part, Cell* key);
using Reverse = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using Sort = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
                       bool reverse, bool stable);
using Swap = Cell* (*)(Cell* series1, Cell* series2);
using Take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using Modify = Cell* (*)(Cell* target, i32 field_symbol, Cell* value, bool case_);
// The port and file actions. /allow and /as take their argument cell; /seek
// and /part theirs, as everywhere.
using Open = Cell* (*)(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow);
using Read = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using Rename = Cell* (*)(Cell* from, Cell* to);
using Write = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
                        Cell* part, Cell* seek, Cell* allow, Cell* as);

}  // namespace action

namespace action {
// The stack-level entry of an action slot, the one the action table holds:
// the arguments are the cells from `stack::arguments` on, in spec order;
// `refinements` holds one integer per refinement of the spec, in spec order:
// -1 when absent, else the position (in cells from `stack::arguments`) of its
// first argument (for a refinement without arguments, where that argument
// would be). The result goes to the first argument cell. The path entry (slot
// 7) reads one integer, whether a set-value is the third cell; the
// comparison entry (slot 9) one, the comparison operation.
using StackEntry = void (*)(const i32* refinements);
}  // namespace action

namespace actions {

// --- Dispatch ---------------------------------------------------------------------

// The action table: the stack entries of the 62 actions, which dispatch on
// their first argument's datatype. An action! value holds its slot number
// (from 1); entry slot - 1 is null until `register_` fills it (slot 8 stays
// null).
extern action::Generic table[ACTION_SLOTS];

// The implementation of a slot for a type, or null when not supported.
action::Generic lookup(u32 type, u32 slot);
// The implementation of a slot for a type and a value of it. A port! whose
// actor is a handle! takes slots 25 to 62 from the handle's table (`access
// no-port-action` when the table lacks one); otherwise a missing entry
// raises `script expect-arg` naming the caller, the datatype and the
// caller's first argument.
action::Generic get_action(u32 type, const Cell* value, u32 slot);
// The implementation for a value's type.
action::Generic get_action_of(const Cell* value, u32 slot);
// The implementation for the first argument of the current call.
action::Generic get_action_first(u32 slot);
// The path action of a value: a value without one raises `script
// bad-path-type` (the selector, the datatype, the path up to `index`) when a
// path is given, else `script bad-path-type2`.
action::Generic get_action_checked(const Cell* value, u32 slot, const Cell* path, const Cell* selector, i32 index);

// The entry of a port's actor for a slot: the handle's table's when the
// actor is a handle! (port::native_entry), null otherwise. A variable so
// that tests can stand in for it.
extern action::Generic (*port_actor_entry)(const Cell* port, u32 slot);

template <typename F>
inline F get(const Cell* value, u32 slot) {
    return reinterpret_cast<F>(get_action_of(value, slot));
}

// Fills the action table with the stack entries (start-up).
void register_();

// --- Comparison -------------------------------------------------------------------

// The raw comparison: negative, 0, positive, or NOT_COMPARABLE.
i32 compare_typed(const Cell* value, const Cell* other, i32 op);
// The comparison mapped to a truth value; ordering values that cannot be
// compared raises `script invalid-compare`; an unknown operation is a fault.
bool compare(const Cell* value, const Cell* other, i32 op);
// Compares the first two argument cells and writes the logic! answer into
// the first.
void compare_op(i32 op);

// --- Typed entries ------------------------------------------------------------------
// Each calls the implementation of its first argument's datatype with its
// own arguments; absent refinement arguments are null.

// make and to: a datatype! first argument dispatches on the datatype it
// denotes, which the implementation is given.
Cell* make(Cell* type, Cell* spec);
Cell* to(Cell* type, Cell* spec);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, i32 field_symbol);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
Cell* negate(Cell* value);
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
Cell* complement(Cell* value);
Cell* append(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
i32 length_q(const Cell* series);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* pick(Cell* series, i32 index, Cell* boxed);
Cell* poke(Cell* series, i32 index, Cell* data, Cell* boxed);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* create(Cell* port);
Cell* close(Cell* port);
Cell* delete_(Cell* file);
Cell* modify(Cell* target, i32 field_symbol, Cell* value, bool case_);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* open_q(Cell* port);
Cell* query(Cell* target);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* update(Cell* port);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

// The index argument of pick and poke as an integer: true 1, false 2, a
// char! or integer! its value, anything else 0.
i32 index_of(const Cell* index);

// --- Stack entries ------------------------------------------------------------------
// One per slot, named after the action's word; see action::StackEntry.

void make_star(const i32* r);
void random_star(const i32* r);
void reflect_star(const i32* r);
void to_star(const i32* r);
void form_star(const i32* r);
void mold_star(const i32* r);
void eval_path_star(const i32* r);
void compare_star(const i32* r);
void absolute_star(const i32* r);
void add_star(const i32* r);
void divide_star(const i32* r);
void multiply_star(const i32* r);
void negate_star(const i32* r);
void power_star(const i32* r);
void remainder_star(const i32* r);
void round_star(const i32* r);
void subtract_star(const i32* r);
void even_q_star(const i32* r);
void odd_q_star(const i32* r);
void and_tilde_star(const i32* r);
void complement_star(const i32* r);
void or_tilde_star(const i32* r);
void xor_tilde_star(const i32* r);
void append_star(const i32* r);
void at_star(const i32* r);
void back_star(const i32* r);
void change_star(const i32* r);
void clear_star(const i32* r);
void copy_star(const i32* r);
void find_star(const i32* r);
void head_star(const i32* r);
void head_q_star(const i32* r);
void index_q_star(const i32* r);
void insert_star(const i32* r);
void length_q_star(const i32* r);
void move_star(const i32* r);
void next_star(const i32* r);
void pick_star(const i32* r);
void poke_star(const i32* r);
void put_star(const i32* r);
void remove_star(const i32* r);
void reverse_star(const i32* r);
void select_star(const i32* r);
void sort_star(const i32* r);
void skip_star(const i32* r);
void swap_star(const i32* r);
void tail_star(const i32* r);
void tail_q_star(const i32* r);
void take_star(const i32* r);
void trim_star(const i32* r);
void create_star(const i32* r);
void close_star(const i32* r);
void delete_star(const i32* r);
void modify_star(const i32* r);
void open_star(const i32* r);
void open_q_star(const i32* r);
void query_star(const i32* r);
void read_star(const i32* r);
void rename_star(const i32* r);
void update_star(const i32* r);
void write_star(const i32* r);

// Calls a slot's stack entry with its refinement integers (all absent when
// null): for C++ callers holding the arguments on the stack.
void call_star(u32 slot, const i32* refinements = nullptr);

// --- Action words -------------------------------------------------------------------

// The number of refinements of each slot's spec (0 for the slots without a
// word).
i32 refinement_count(u32 slot);
// Appends the values of a spec text to the block (a cell that does not move):
// "doc strings", words, /refinements, set-words (`return:`) and [blocks] of
// them. The words are the global ones; refinements are unbound. In a type
// block (`types`), the name of a datatype not registered is left out. `p`
// ends past the text, or past the `]` that closes a nested block.
void read_spec(Cell* block, const char*& p, bool types);
// Defines the global words of the actions (action! values over spec blocks
// built from the table of specs) and, before them, the datatype words and
// the standard typesets the specs name. The host tool and the tests run it;
// the program's start-up from its image runs only the first part, the image
// defining the action and native words.
void define_words();
void define_datatype_words();

}  // namespace actions
}  // namespace zir
