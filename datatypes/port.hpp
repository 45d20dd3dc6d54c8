// port!: an object that stands for an external resource reached through a
// scheme. The datatype does no input or output itself: each series and port
// action applied to a port looks its own action word up in the port's
// `actor` object and calls the function found there with the port and the
// action's arguments. Schemes are objects listed in `system/schemes`; their
// actors are written in the language.
//
// A port value has the payload of an object!: the context node in word 1, the
// class id in word 2 (2 for every port made by make), the change-handler
// record in word 3 (0). Its fields, in order, come from the template
// `system/standard/port`: spec, scheme, actor, awake, state, data, extra.
//
// What this module needs of later parts of the system comes through
// entries that raise `internal not-done` until they are set:
//   - `system_value`: `system/standard/port`, `system/standard/url-parts`
//     and `system/schemes`, which the system object defines;
//   - object!'s `eval_block` (make port! of a spec block makes an object
//     from it) and `call_function` (the call of an actor's function), both
//     the interpreter's.
#pragma once

#include "evaluator/actions.hpp"

namespace zir {
namespace port {

constexpr u32 PORT_CLASS = 2;

// Field positions in a port (from system/standard/port), in a spec object
// and in a scheme object.
enum Field : i32 { FIELD_SPEC, FIELD_SCHEME, FIELD_ACTOR, FIELD_AWAKE, FIELD_STATE, FIELD_DATA, FIELD_EXTRA };
constexpr i32 SPEC_SCHEME = 0;   // the spec object's first field
constexpr i32 SCHEME_ACTOR = 3;  // name, title, info, actor, awake

enum SystemValue : i32 { STANDARD_PORT, URL_PARTS, SCHEMES };
// The system object's value, or null while it has none.
extern const Cell* (*system_value)(SystemValue which);

// The cell of the port's `actor` field; raises `access invalid-port` with
// the port when it does not hold an object!.
Cell* get_actor(const Cell* port);
// Calls the actor's function named by the action word on the arguments from
// `arguments` to the stack's top, in a function frame named by the word, its
// /local refinement and locals pushed unused; a value that is no function
// raises `access no-port-action` with the word. Answers the result in
// `result`.
Cell* call_actor(const Cell* actor, i32 action_symbol, Cell* arguments, Cell* result);
// The machine-level entry of an action slot (25 to 62) of a port whose
// actor is a handle!: the handle's value is the address of a table of 38
// entries, one per slot from append on. A 0 entry raises `access
// no-port-action`.
action::Generic native_entry(const Cell* port, u32 slot);

// --- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
// The typed entries of open, read, write and rename (url! calls read and
// write with a port made for the url). read is open (with /seek when given),
// copy (with /part) and close; write is open/write (with /seek), insert of the
// data (its /part length or -1, a dup count of 1), copy (with /part) and close.
// The other refinements are not passed on.
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* read(Cell* port, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* port, Cell* to);
Cell* write(Cell* port, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

void init();
// Makes the action words (start-up and memory resets).
void init_state();

}  // namespace port
}  // namespace zir
