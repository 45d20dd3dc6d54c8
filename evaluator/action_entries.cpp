// The stack entries of the 62 action slots: each reads its arguments from the
// value stack and its refinements from the integers it is given, converts
// them for the typed entry of its slot (actions.cpp) and leaves the answer in
// the result cell. The direct slots hand the stack to the implementation
// itself.
#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/error.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace actions {

namespace {

inline Cell* arg(i32 i) { return stack::arguments + i; }
// A refinement with an argument: its cell, or null when absent.
inline Cell* ref(const i32* r, i32 i) { return r[i] < 0 ? nullptr : stack::arguments + r[i]; }
// A refinement without an argument.
inline bool flag(const i32* r, i32 i) { return r[i] >= 0; }

// The answer of a typed entry becomes the result (form R; implementations
// that write the result cell themselves answer it).
inline void result(const Cell* answer) {
    if (answer != stack::arguments) stack::set_last(answer);
}

// `script expect-arg` for an argument value, naming the caller and the
// argument's word (by position in the caller's spec when `word` is null).
[[noreturn]] void expect_arg(const Cell* value, i32 position, const Cell* word) {
    Cell caller, type, name;
    stack::caller_name(&caller);
    datatype::make_at(&type, TYPE_OF(value));
    if (word) name = *word;
    else error::call_argument_of(&caller, position, &name);
    fire(ERR_SCRIPT, "expect-arg", &caller, &type, &name);
}

// The field arguments of reflect and modify are words.
inline void check_word(i32 i) {
    if (!any_word_q(TYPE_OF(arg(i)))) expect_arg(arg(i), i, nullptr);
}

inline void direct(u32 slot) { reinterpret_cast<action::Direct>(get_action_first(slot))(); }

// mold and form: the result is a fresh string; /part limits it.
template <typename Render>
void render_star(Cell* part_arg, Render render) {
    // The /part cell lies above the first argument, where the buffer goes.
    Cell part_copy;
    const Cell* part = nullptr;
    if (part_arg) {
        part_copy = *part_arg;
        part = &part_copy;
    }
    i32 limit = part ? integer::get(part) : -1;
    if (part && limit < 1) {
        string::make_at(stack::arguments, 1, 1);
        stack::keep();
        return;
    }
    stack::keep();
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    render(stack::arguments, buffer, part, part ? limit : PART_UNLIMITED);
    if (part) string::truncate_from(buffer, limit);
    stack::set_last(buffer);
    stack::keep();
}

}  // namespace

void make_star(const i32*) { result(make(arg(0), arg(1))); }
void random_star(const i32* r) { result(random(arg(0), flag(r, 0), flag(r, 1), flag(r, 2))); }

void reflect_star(const i32*) {
    check_word(1);
    result(reflect(arg(0), i32(arg(1)->w2)));
}

void to_star(const i32*) { result(to(arg(0), arg(1))); }

void form_star(const i32* r) {
    render_star(ref(r, 0), [](Cell* value, Cell* buffer, const Cell* part, i32 budget) {
        form(value, buffer, part, budget);
    });
}

void mold_star(const i32* r) {
    bool only = flag(r, 0), all = flag(r, 1), flat = flag(r, 2);
    render_star(ref(r, 3), [=](Cell* value, Cell* buffer, const Cell* part, i32 budget) {
        mold(value, buffer, only, all, flat, part, budget, 0);
    });
}

void eval_path_star(const i32* r) {
    Cell* value = r && r[0] > 0 ? arg(2) : nullptr;
    Cell* parent = arg(0);
    auto f = reinterpret_cast<action::EvalPath>(get_action_checked(parent, ACT_EVAL_PATH, nullptr, arg(1), 0));
    result(f(parent, arg(1), value, nullptr, nullptr, nullptr, -1, false, false, true, false));
}

void compare_star(const i32* r) { compare_op(r ? r[0] : COMP_EQUAL); }

void absolute_star(const i32*) { direct(ACT_ABSOLUTE); }
void add_star(const i32*) { direct(ACT_ADD); }
void divide_star(const i32*) { direct(ACT_DIVIDE); }
void multiply_star(const i32*) { direct(ACT_MULTIPLY); }
void negate_star(const i32*) { result(negate(arg(0))); }
void power_star(const i32*) { direct(ACT_POWER); }
void remainder_star(const i32*) { direct(ACT_REMAINDER); }

void round_star(const i32* r) {
    result(round(arg(0), ref(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)));
}

void subtract_star(const i32*) { direct(ACT_SUBTRACT); }
void even_q_star(const i32*) { logic::make_at(arg(0), even_q(arg(0))); }
void odd_q_star(const i32*) { logic::make_at(arg(0), odd_q(arg(0))); }
void and_tilde_star(const i32*) { direct(ACT_AND_T); }
void complement_star(const i32*) { result(complement(arg(0))); }
void or_tilde_star(const i32*) { direct(ACT_OR_T); }
void xor_tilde_star(const i32*) { direct(ACT_XOR_T); }

namespace {

// append and insert: /part and /dup as counts; nothing to do leaves the
// series as the action would answer it unchanged.
void insert_star(const i32* r, bool append_) {
    // One value appended to a block, no refinement: block::insert's own first
    // case, without the dispatch.
    if (append_ && TYPE_OF(arg(0)) == TYPE_BLOCK && r[0] < 0 && r[1] < 0 && r[2] < 0 &&
        !any_block_q(TYPE_OF(arg(1))) && block::insert_one_q(arg(0), arg(1), true, 0))
        return;
    Cell* part = ref(r, 0);
    Cell* dup = ref(r, 2);
    if ((part || dup) && !series::insert_counts(arg(1), part, dup)) {
        if (append_ && any_series_q(TYPE_OF(arg(0)))) arg(0)->w1 = 0;
        return;
    }
    Cell* series = arg(0);
    auto f = reinterpret_cast<action::Insert>(get_action(TYPE_OF(series), series, append_ ? ACT_APPEND : ACT_INSERT));
    result(f(series, arg(1), part, flag(r, 1), dup, append_));
}

}  // namespace

void append_star(const i32* r) { insert_star(r, true); }
void at_star(const i32*) { direct(ACT_AT); }
void back_star(const i32*) { direct(ACT_BACK); }

void change_star(const i32* r) {
    Cell* part = ref(r, 0);
    Cell* dup = ref(r, 2);
    if (!series::change_counts(arg(0), part, dup)) return;
    result(change(arg(0), arg(1), part, flag(r, 1), dup));
}

void clear_star(const i32*) { result(clear(arg(0))); }

void copy_star(const i32* r) {
    Cell* types = ref(r, 2);
    if (types && TYPE_OF(types) != TYPE_DATATYPE && TYPE_OF(types) != TYPE_TYPESET) {
        Cell kind;
        series::make_word(&kind, symbol::make("kind"));
        expect_arg(types, 0, &kind);
    }
    Cell* destination = stack::push_slot();
    cell::init(destination, TYPE_UNSET);
    result(copy(arg(0), destination, ref(r, 0), flag(r, 1), types));
}

void find_star(const i32* r) {
    result(find(arg(0), arg(1), ref(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref(r, 5), ref(r, 6),
                flag(r, 7), flag(r, 8), flag(r, 9), flag(r, 10)));
}

void head_star(const i32*) { direct(ACT_HEAD); }
void head_q_star(const i32*) { direct(ACT_HEAD_Q); }
void index_q_star(const i32*) { direct(ACT_INDEX_Q); }
void insert_star(const i32* r) { insert_star(r, false); }

void length_q_star(const i32*) {
    i32 n = length_q(arg(0));
    if (n < 0) cell::init(arg(0), TYPE_NONE);
    else integer::make_at(arg(0), n);
}

void move_star(const i32* r) { result(move(arg(0), arg(1), ref(r, 0))); }
void next_star(const i32*) { direct(ACT_NEXT); }
void pick_star(const i32*) { result(pick(arg(0), index_of(arg(1)), arg(1))); }

void poke_star(const i32*) {
    poke(arg(0), index_of(arg(1)), arg(2), arg(1));
    stack::set_last(arg(2));
}

void put_star(const i32* r) { result(put(arg(0), arg(1), arg(2), flag(r, 0))); }
void remove_star(const i32* r) { result(remove(arg(0), ref(r, 0), ref(r, 1))); }
void reverse_star(const i32* r) { result(reverse(arg(0), ref(r, 0), ref(r, 1))); }

void select_star(const i32* r) {
    result(select(arg(0), arg(1), ref(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref(r, 5), ref(r, 6),
                  flag(r, 7), flag(r, 8)));
}

void sort_star(const i32* r) {
    result(sort(arg(0), flag(r, 0), ref(r, 1), ref(r, 2), ref(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)));
}

void skip_star(const i32*) { direct(ACT_SKIP); }
void swap_star(const i32*) { result(swap(arg(0), arg(1))); }
void tail_star(const i32*) { direct(ACT_TAIL); }
void tail_q_star(const i32*) { direct(ACT_TAIL_Q); }
void take_star(const i32* r) { result(take(arg(0), ref(r, 0), flag(r, 1), flag(r, 2))); }

void trim_star(const i32* r) {
    result(trim(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref(r, 5)));
}

void create_star(const i32*) { result(create(arg(0))); }
void close_star(const i32*) { result(close(arg(0))); }
void delete_star(const i32*) { result(delete_(arg(0))); }

void modify_star(const i32* r) {
    check_word(1);
    modify(arg(0), i32(arg(1)->w2), arg(2), flag(r, 0));
}

void open_star(const i32* r) {
    result(open(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref(r, 4)));
}

void open_q_star(const i32*) { result(open_q(arg(0))); }
void query_star(const i32*) { result(query(arg(0))); }

void read_star(const i32* r) {
    result(read(arg(0), ref(r, 0), ref(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), ref(r, 5)));
}

void rename_star(const i32*) { result(rename(arg(0), arg(1))); }
void update_star(const i32*) { result(update(arg(0))); }

void write_star(const i32* r) {
    result(write(arg(0), arg(1), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref(r, 4), ref(r, 5), ref(r, 6),
                 ref(r, 7)));
}

// --- The table ----------------------------------------------------------------------

void register_() {
    static const action::StackEntry entries[ACTION_SLOTS] = {
        make_star,      random_star,    reflect_star,    to_star,        form_star,       mold_star,
        eval_path_star, nullptr,        compare_star,    absolute_star,  add_star,        divide_star,
        multiply_star,  negate_star,    power_star,      remainder_star, round_star,      subtract_star,
        even_q_star,    odd_q_star,     and_tilde_star,  complement_star, or_tilde_star,  xor_tilde_star,
        append_star,    at_star,        back_star,       change_star,    clear_star,      copy_star,
        find_star,      head_star,      head_q_star,     index_q_star,   insert_star,     length_q_star,
        move_star,      next_star,      pick_star,       poke_star,      put_star,        remove_star,
        reverse_star,   select_star,    sort_star,       skip_star,      swap_star,       tail_star,
        tail_q_star,    take_star,      trim_star,       create_star,    close_star,      delete_star,
        modify_star,    open_star,      open_q_star,     query_star,     read_star,       rename_star,
        update_star,    write_star,
    };
    for (u32 i = 0; i < ACTION_SLOTS; i++) table[i] = reinterpret_cast<action::Generic>(entries[i]);
}

void call_star(u32 slot, const i32* refinements) {
    static const i32 absent[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    reinterpret_cast<action::StackEntry>(table[slot - 1])(refinements ? refinements : absent);
}

}  // namespace actions
}  // namespace zir
