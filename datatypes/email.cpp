// email!: see email.hpp.
#include "datatypes/email.hpp"

#include "datatypes/datatype.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace email {

namespace {

i32 word_user = 0;
i32 word_host = 0;

// One side of the address: its first element (absolute index) and its length.
struct Side {
    i32 at;
    i32 n;
};

// The side a word names, in the text as it is now: the user runs from the
// head to the first "@" (or the tail), the host from after that "@".
Side side_of(Cell* address, bool user) {
    i32 head = series::clamp_head(address);
    i32 length = string::zs_length(address);
    i32 split = string::zs_find_char(address, '@');
    if (split < 0) split = length;
    if (user) return {head, split};
    i32 from = split < length ? split + 1 : length;
    return {head + from, length - from};
}

// An action of the address's own row; `internal not-done` while string!
// lacks it.
template <typename F>
F action_of(const Cell* value, u32 slot) {
    action::Generic f = actions::lookup(TYPE_OF(value), slot);
    if (!f) fire(ERR_INTERNAL, "not-done");
    return reinterpret_cast<F>(f);
}

Cell* get_side(const Cell* email, bool user) {
    Cell from = *email;
    Side side = side_of(&from, user);
    from.w1 = u32(side.at);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, side.n > 0 ? side.n : 1, 1);
    string::concatenate(out, &from, side.n, 0, true, string::CONCAT_APPEND);
    return out;
}

// Changes one side through the change action, which tells the address's
// owner. An address without "@" gets one first (appended the same way), so
// that a new host is not joined to the user.
Cell* set_side(Cell* email, bool user, Cell* value) {
    collector::RootCell address(*email);
    collector::RootCell replacement(*value);
    Cell* saved = stack::top;
    if (!user && string::zs_find_char(address.get(), '@') < 0) {
        Cell at_sign;
        cell::init(&at_sign, TYPE_CHAR);
        at_sign.w2 = '@';
        Cell* target = stack::push(address.get());
        action_of<action::Insert>(target, ACT_APPEND)(target, &at_sign, nullptr, false, nullptr, true);
        stack::top = saved;
    }
    // The side is found again: the owner's handler may have changed the text.
    Side side = side_of(address.get(), user);
    Cell* target = stack::push(address.get());
    target->w1 = u32(side.at);
    Cell part;
    cell::init(&part, TYPE_INTEGER);
    part.w2 = u32(side.n);
    action_of<action::Change>(target, ACT_CHANGE)(target, replacement.get(), &part, false, nullptr);
    stack::top = saved;
    return value;
}

}  // namespace

Cell* push(const Cell* value) { return stack::push(value); }

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return string::form(value, buffer, arg, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify) {
    u32 et = TYPE_OF(element);
    if (et == TYPE_INTEGER)
        return string::eval_path(parent, element, value, path, grand_parent, prev_element, index, case_, get, last,
                                 notify);
    i32 name = et == TYPE_WORD ? symbol::resolve(i32(element->w2)) : 0;
    bool user = name == symbol::resolve(word_user);
    if (!user && name != symbol::resolve(word_host))
        fire(ERR_SCRIPT, "invalid-path", element, path ? path : &none::value);
    if (!get && value) return set_side(parent, user, value);
    return get_side(parent, user);
}

void init() {
    datatype::Registration r(TYPE_EMAIL, TYPE_STRING, "email!");
    r.on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path);
    r.unsupported(ACT_RANDOM).unsupported(ACT_SORT).unsupported(ACT_TRIM);
    datatype::register_(r);
}

void init_state() {
    word_user = symbol::make("user");
    word_host = symbol::make("host");
}

}  // namespace email
}  // namespace zir
