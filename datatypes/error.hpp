// error!: the values of language errors, objects with a fixed set of fields.
//
// An error! cell is an object! cell (datatypes/object.hpp) of type 34, class
// CLASS_ID and no change handlers, over a copy of the standard error
// prototype (boot/catalog.hpp): the fields code, type, id, arg1, arg2, arg3,
// near, where, stack and files, in that order. `type` holds the category's
// word and `id` the id's word, both bound to the catalogue; `code` is the
// category's code plus the id's position in it.
//
// `fire` builds every error the runtime raises here, and the console prints
// the report that `form` writes.
#pragma once

#include "evaluator/actions.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace error {

enum Field : i32 {
    FIELD_CODE = 0, FIELD_TYPE, FIELD_ID, FIELD_ARG1, FIELD_ARG2, FIELD_ARG3, FIELD_NEAR, FIELD_WHERE, FIELD_STACK,
    FIELD_FILES,
};
constexpr u32 CLASS_ID = 1;
// A template argument is written in at most this many code points, and the
// near and files lines in at most NEAR_LIMIT.
constexpr i32 ARGUMENT_LIMIT = 80;
constexpr i32 NEAR_LIMIT = 40;

// The depth of the call trace that errors keep and report:
// `system/state/stack-trace` when it is an integer! above 0, else 0. Null
// until the system object is there.
extern i32 (*stack_trace_depth)();

// The value cell of a field (valid until the next allocation).
Cell* field(const Cell* error, i32 i);

// Pushes a new error of a category word and an id word (letter-case twins
// match; an unknown one raises `script invalid-spec-field`) with up to three
// arguments (null: none).
Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// Writes into `out` (a cell that does not move) the error of a category and
// an id position, with `argc` arguments. `fire` uses it.
void make_at(Cell* out, u32 category, i32 id, const Cell* args, i32 argc);

// The report's message: each item of the template, a string as it is, a
// word the value of the error's field of that name (formed for a syntax
// error, but a datatype with its "!", molded otherwise), one space between
// items.
i32 form_message(const Cell* template_, Cell* buffer, const Cell* error, i32 part);
// Writes `where` when it is still none.
void set_where(Cell* error, const Cell* value);
// The symbols of the `type` and `id` fields (0 when not words).
i32 get_type(const Cell* error);
i32 get_id(const Cell* error);
constexpr i32 stack_field_index() { return FIELD_STACK; }

// The n-th argument word (0-based: word!, lit-word!, get-word! or
// refinement!) of the function the caller's name stands for, read from its
// spec block; none! when that is not a function value or has no such argument.
void get_call_argument(i32 n, Cell* out);
// The same for a caller's name already read (stack::caller_name).
void call_argument_of(const Cell* caller, i32 n, Cell* out);
[[noreturn]] void fire_bad_make_arg(const Cell* value, const Cell* spec);

// --- Actions ------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
// The report: "*** " title ": " message, then the Where and Near lines (and
// Files when the error keeps them).
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
i32 compare(const Cell* value, const Cell* other, i32 op);

void init();

}  // namespace error
}  // namespace zir
