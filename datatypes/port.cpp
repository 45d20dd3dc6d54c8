// port!: see port.hpp.
#include "datatypes/port.hpp"

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace port {

const Cell* (*system_value)(SystemValue) = nullptr;

namespace {

using collector::RootCell;

// The action words, by slot (the slots from append on name their actor's
// functions).
i32 action_words[ACTION_SLOTS + 1];

const char* const action_names[] = {
    "append", "at", "back", "change", "clear", "copy", "find", "head", "head?", "index?", "insert", "length?",
    "move", "next", "pick", "poke", "put", "remove", "reverse", "select", "sort", "skip", "swap", "tail", "tail?",
    "take", "trim", "create", "close", "delete", "modify", "open", "open?", "query", "read", "rename", "update",
    "write"};
static_assert(sizeof action_names / sizeof *action_names == ACTION_SLOTS - ACT_APPEND + 1);

[[noreturn]] void not_done() { fire(ERR_INTERNAL, "not-done"); }

const Cell* system(SystemValue which) {
    const Cell* v = system_value ? system_value(which) : nullptr;
    if (!v) not_done();
    return v;
}

// --- Objects --------------------------------------------------------------------
// What a port needs of object! values: fields by position, and copies.

inline i32 field_count(const Cell* object) { return context::word_count(context::cell_of(object->w1)); }

// Field i of an object, or the none cell past its fields (valid until the
// next allocation).
const Cell* field(const Cell* object, i32 i) {
    if (i >= field_count(object)) return &none::value;
    return context::value_at(context::cell_of(object->w1), i);
}

void set_field(const Cell* object, i32 i, const Cell* value) {
    if (i < field_count(object)) *context::value_at(context::cell_of(object->w1), i) = *value;
}

// A copy of an object as a value of `type` with a class id of its own and no
// change handlers, in a cell that does not move.
void duplicate(const Cell* object, Cell* out, u32 type, u32 class_id) {
    object::duplicate(object, out, false, nullptr, false);
    cell::set_type(out, type);
    out->w2 = class_id;
    out->w3 = 0;
    *context::owner_of(out->w1) = *out;
}

// --- Calling the actor --------------------------------------------------------------

// The arguments of one call, pushed after the port as the action's spec has
// them: plain values, and for each refinement a logic! then its arguments
// (nones when it is absent).
class Args {
public:
    explicit Args(const Cell* port) : mark(stack::top), first(stack::push(port)) {}
    ~Args() { stack::top = mark; }
    Args& value(const Cell* v) {
        stack::push(v ? v : &none::value);
        return *this;
    }
    Args& number(i32 n) {
        Cell* c = stack::push_slot();
        cell::init(c, TYPE_INTEGER);
        c->w2 = u32(n);
        return *this;
    }
    Args& flag(bool on) {
        stack::push_scalar(TYPE_LOGIC, on ? 1 : 0);
        return *this;
    }
    Args& refinement(const Cell* arg) { return flag(arg != nullptr).value(arg); }
    Args& word(i32 symbol) {
        Cell* c = stack::push_slot();
        series::make_word(c, symbol);
        return *this;
    }
    // Calls the port's actor; the result goes to `result`.
    Cell* call(u32 slot, Cell* result) {
        Cell* actor = get_actor(first);
        return call_actor(actor, action_words[slot], first, result);
    }

private:
    Cell* mark;
    Cell* first;
};

// A result cell of its own, below the arguments of the calls that fill it.
Cell* fresh() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    return c;
}

}  // namespace

Cell* get_actor(const Cell* port) {
    const Cell* actor = field(port, FIELD_ACTOR);
    if (TYPE_OF(actor) != TYPE_OBJECT) fire(ERR_ACCESS, "invalid-port", port);
    return const_cast<Cell*>(actor);
}

Cell* call_actor(const Cell* actor, i32 action_symbol, Cell* arguments, Cell* result) {
    Cell name;
    series::make_word(&name, action_symbol);
    RootCell function(*object::select_value(actor, &name));
    if (TYPE_OF(function.get()) != TYPE_FUNCTION) fire(ERR_ACCESS, "no-port-action", &name);
    if (!object::call_function) not_done();
    // The frame's cells begin with the arguments already pushed; the
    // function's /local refinement and locals follow them, unused.
    i32 argc = i32(stack::top - arguments);
    stack::top = arguments;
    stack::mark_func(u32(action_symbol), 0, function->w1);
    stack::top = arguments + argc;
    function::push_unused_refinement(function::count_locals(function->w2, 0, false));
    // An actor function taking more arguments than the action hands it
    // would find its last ones past the top of the stack, where stale cells
    // of earlier calls lie: they are none instead.
    i32 words = context::word_count(context::cell_of(function->w1));
    while (stack::top - stack::arguments < words) stack::push(&none::value);
    object::call_function(function.get(), function->w1, &name, 0);
    Cell answer = *stack::arguments;
    stack::unwind_func_last();
    *result = answer;
    return result;
}

action::Generic native_entry(const Cell* port, u32 slot) {
    const Cell* actor = field(port, FIELD_ACTOR);
    if (TYPE_OF(actor) != TYPE_HANDLE || slot < ACT_APPEND || slot > ACTION_SLOTS) fire(ERR_ACCESS, "invalid-port", port);
    auto* table = reinterpret_cast<const action::Generic*>(handle::value_of(actor));
    action::Generic entry = table ? table[slot - ACT_APPEND] : nullptr;
    if (!entry) fire(ERR_ACCESS, "no-port-action");
    return entry;
}

// --- make ---------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, u32) {
    RootCell given(*spec);
    RootCell spec_object;
    if (TYPE_OF(given.get()) == TYPE_OBJECT) {
        object::duplicate(given.get(), spec_object.get(), false, nullptr, false);
    } else {
        RootCell parts;
        duplicate(system(URL_PARTS), parts.get(), TYPE_OBJECT, 0);
        spec_object.value = *object::make(parts.get(), given.get(), TYPE_OBJECT);
    }
    Cell scheme = *field(spec_object.get(), SPEC_SCHEME);
    if (TYPE_OF(&scheme) != TYPE_WORD) fire(ERR_ACCESS, "no-scheme", given.get());
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_NONE);
    duplicate(system(STANDARD_PORT), out, TYPE_PORT, PORT_CLASS);
    set_field(out, FIELD_SPEC, spec_object.get());
    set_field(out, FIELD_SCHEME, &scheme);
    Cell schemes = *system(SCHEMES);
    // The value after the scheme's word; only words are compared, so the
    // scheme objects between them are never asked to compare themselves.
    Cell found = TYPE_OF(&schemes) == TYPE_BLOCK ? *block::select_word(&schemes, &scheme, false) : none::value;
    if (TYPE_OF(&found) != TYPE_OBJECT) fire(ERR_ACCESS, "unknown-scheme", given.get());
    Cell actor = *field(&found, SCHEME_ACTOR);
    if (TYPE_OF(&actor) != TYPE_OBJECT && TYPE_OF(&actor) != TYPE_HANDLE) fire(ERR_ACCESS, "invalid-actor", given.get());
    set_field(out, FIELD_ACTOR, &actor);
    return out;
}

// --- form and mold --------------------------------------------------------------

i32 mold(const Cell* value, Cell* buffer, bool, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return object::mold_as("make port! [", value, buffer, false, all, flat, arg, part, indent);
}

i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part) {
    return object::mold_as("make port! [", value, buffer, false, false, false, arg, part, 0);
}

// --- Forwarders -------------------------------------------------------------------

namespace {

// The actions that take the port and at most one plain argument, reading
// them from the value stack (at, pick and skip pass their argument).
template <u32 SLOT>
void forward() {
    Cell* port = stack::arguments;
    Args args(port);
    if (SLOT == ACT_AT || SLOT == ACT_SKIP) args.value(port + 1);
    args.call(SLOT, stack::arguments);
}

// The actions that take the port alone, as typed entries.
template <u32 SLOT>
Cell* forward_port_only(Cell* port) {
    return Args(port).call(SLOT, port);
}

Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append) {
    Args a(series);
    a.value(value).refinement(part).flag(only).refinement(dup);
    return a.call(append ? ACT_APPEND : ACT_INSERT, series);
}

Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup) {
    Args a(series);
    a.value(value).refinement(part).flag(only).refinement(dup);
    return a.call(ACT_CHANGE, series);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Args a(value);
    a.refinement(part).flag(deep).refinement(types);
    return a.call(ACT_COPY, result);
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    Args a(series);
    a.value(value).refinement(part).flag(only).flag(case_).flag(same).flag(any).refinement(with).refinement(skip);
    a.flag(last).flag(reverse).flag(tail).flag(match);
    return a.call(ACT_FIND, series);
}

i32 length_q(const Cell* series) {
    Cell* result = fresh();
    Args(series).call(ACT_LENGTH_Q, result);
    i32 n = TYPE_OF(result) == TYPE_INTEGER ? integer::get(result) : -1;
    stack::pop(1);
    return n;
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    Args a(origin);
    a.value(target).refinement(part);
    return a.call(ACT_MOVE, origin);
}

Cell* pick(Cell* series, i32 index, Cell*) {
    Cell* result = fresh();
    Args a(series);
    a.number(index);
    return a.call(ACT_PICK, result);
}

Cell* poke(Cell* series, i32 index, Cell* data, Cell*) {
    Cell* result = fresh();
    Args a(series);
    a.number(index).value(data);
    return a.call(ACT_POKE, result);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    Args a(series);
    a.value(key).value(value).flag(case_);
    return a.call(ACT_PUT, series);
}

Cell* remove(Cell* series, Cell* part, Cell*) {
    Args a(series);
    a.refinement(part);
    return a.call(ACT_REMOVE, series);
}

Cell* reverse(Cell* series, Cell* part, Cell*) {
    Args a(series);
    a.refinement(part);
    return a.call(ACT_REVERSE, series);
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse) {
    Args a(series);
    a.value(value).refinement(part).flag(only).flag(case_).flag(same).flag(any).refinement(with).refinement(skip);
    a.flag(last).flag(reverse);
    return a.call(ACT_SELECT, series);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    Args a(series);
    a.flag(case_).refinement(skip).refinement(comparator).refinement(part).flag(all).flag(reverse).flag(stable);
    return a.call(ACT_SORT, series);
}

Cell* swap(Cell* series, Cell* other) {
    Args a(series);
    a.value(other);
    return a.call(ACT_SWAP, series);
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Args a(series);
    a.refinement(part).flag(deep).flag(last);
    return a.call(ACT_TAKE, series);
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Args a(series);
    a.flag(head).flag(tail).flag(auto_).flag(lines).flag(all).refinement(with);
    return a.call(ACT_TRIM, series);
}

Cell* modify(Cell* target, i32 field_symbol, Cell* value, bool case_) {
    Args a(target);
    a.word(field_symbol).value(value).flag(case_);
    return a.call(ACT_MODIFY, target);
}

}  // namespace

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    Args a(port);
    a.flag(new_).flag(read).flag(write).flag(seek).value(allow);
    return a.call(ACT_OPEN, port);
}

Cell* rename(Cell* port, Cell* to) {
    Args a(port);
    a.value(to);
    return a.call(ACT_RENAME, port);
}

Cell* read(Cell* port, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    Cell* mark = stack::top;
    RootCell target(*port);
    RootCell part_arg(part ? *part : none::value);
    Cell* result = fresh();
    Cell* opened = stack::push(target.get());
    open(opened, false, false, false, seek != nullptr, nullptr);
    copy(target.get(), result, part ? part_arg.get() : nullptr, false, nullptr);
    Cell* closing = stack::push(target.get());
    forward_port_only<ACT_CLOSE>(closing);
    *port = *result;
    stack::top = mark;
    return port;
}

Cell* write(Cell* port, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    Cell* mark = stack::top;
    RootCell target(*port);
    RootCell payload(*data);
    RootCell part_arg(part ? *part : none::value);
    Cell length, once;
    integer::make_at(&length, part && TYPE_OF(part) == TYPE_INTEGER ? integer::get(part) : -1);
    integer::make_at(&once, 1);
    Cell* result = fresh();
    open(stack::push(target.get()), false, false, true, seek != nullptr, nullptr);
    insert(stack::push(target.get()), payload.get(), &length, false, &once, false);
    copy(target.get(), result, part ? part_arg.get() : nullptr, false, nullptr);
    forward_port_only<ACT_CLOSE>(stack::push(target.get()));
    *port = *result;
    stack::top = mark;
    return port;
}

// --- Registration ---------------------------------------------------------------------

void init_state() {
    for (u32 slot = ACT_APPEND; slot <= ACTION_SLOTS; slot++)
        action_words[slot] = symbol::make(action_names[slot - ACT_APPEND]);
}

void init() {
    datatype::Registration r(TYPE_PORT, TYPE_OBJECT, "port!");
    r.only_own().from_parent(ACT_REFLECT).from_parent(ACT_EVAL_PATH).from_parent(ACT_COMPARE);
    r.on<ACT_MAKE>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold);
    r.on<ACT_APPEND>(insert).on<ACT_AT>(forward<ACT_AT>).on<ACT_BACK>(forward<ACT_BACK>).on<ACT_CHANGE>(change);
    r.on<ACT_CLEAR>(forward_port_only<ACT_CLEAR>).on<ACT_COPY>(copy).on<ACT_FIND>(find);
    r.on<ACT_HEAD>(forward<ACT_HEAD>).on<ACT_HEAD_Q>(forward<ACT_HEAD_Q>).on<ACT_INDEX_Q>(forward<ACT_INDEX_Q>);
    r.on<ACT_INSERT>(insert).on<ACT_LENGTH_Q>(length_q).on<ACT_MOVE>(move).on<ACT_NEXT>(forward<ACT_NEXT>);
    r.on<ACT_PICK>(pick).on<ACT_POKE>(poke).on<ACT_PUT>(put).on<ACT_REMOVE>(remove).on<ACT_REVERSE>(reverse);
    r.on<ACT_SELECT>(select).on<ACT_SORT>(sort).on<ACT_SKIP>(forward<ACT_SKIP>).on<ACT_SWAP>(swap);
    r.on<ACT_TAIL>(forward<ACT_TAIL>).on<ACT_TAIL_Q>(forward<ACT_TAIL_Q>).on<ACT_TAKE>(take).on<ACT_TRIM>(trim);
    r.on<ACT_CREATE>(forward_port_only<ACT_CREATE>).on<ACT_CLOSE>(forward_port_only<ACT_CLOSE>);
    r.on<ACT_DELETE>(forward_port_only<ACT_DELETE>).on<ACT_MODIFY>(modify);
    r.on<ACT_OPEN>(open).on<ACT_QUERY>(forward_port_only<ACT_QUERY>).on<ACT_READ>(read).on<ACT_RENAME>(rename);
    r.on<ACT_UPDATE>(forward_port_only<ACT_UPDATE>).on<ACT_WRITE>(write);
    datatype::register_(r);
}

}  // namespace port
}  // namespace zir
