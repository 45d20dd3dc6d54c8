// The loop natives (while, until, loop, repeat, forever, foreach, forall,
// remove-each) and the iteration steps they are built from: see
// natives_control.hpp for the cells the steps work on.
//
// Every loop runs its body in a loop frame, the frame break and continue
// are aimed at. The body's value lands in the frame's result cell; a
// pending exit aimed at the frame is taken here, any other is left pending
// and the loop closes its frame and returns. Setting a loop word or removing
// from the series may run language code (an object's or a series' change
// handler); an exit left there arrives as a PendingExit, which is caught
// here, while the frame that may receive it still exists.
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/map.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives_control.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {

namespace {

inline Cell* arg(i32 i) { return stack::arguments + i; }

// Element i (from 1) of a series from its head, copied: none past the tail.
Cell pick_element(const Cell* series, i32 i) {
    stack::KeepTop restore;
    Cell s = *series;
    return *actions::pick(&s, i, nullptr);
}

// What the last body evaluation left.
enum Outcome { NORMAL, CONTINUED, BROKE, LEFT };

// Takes an exit aimed at the loop frame: break leaves its value (unset
// without /return) in the result cell.
inline Outcome outcome(const stack::Frame* frame) {
    if (ZIR_LIKELY(stack::pending == 0)) return NORMAL;
    if (!stack::target_q(frame)) return LEFT;
    // The exit's value is the body's (unset for continue): an exit that left
    // through C++ code (a comparator, a parse paren) leaves in the result
    // cell what the call had put there.
    *stack::arguments = stack::pending_value;
    return stack::take_pending() == stack::THROW_CONTINUE ? CONTINUED : BROKE;
}

// The loop frame and its result cell (unset).
inline stack::Frame* open_loop() {
    stack::mark_loop(u32(stack::body_symbol));
    stack::box_scalar(TYPE_UNSET);
    stack::keep();
    return stack::call_top - 1;
}

// The body's value goes to the loop frame's result cell.
inline Outcome run_body(const Cell* body, const stack::Frame* frame) {
    stack::keep();
    interpreter::eval_block(body, true);
    return outcome(frame);
}

// The same for a loop that runs nothing between two rounds of its body: the
// body's frame stays open from one round to the next (`open`, see
// interpreter::walk_body_again). An exit closes it before it is taken.
inline Outcome run_body_again(const Cell* body, const stack::Frame* frame, interpreter::BodyWalk* open) {
    interpreter::walk_body_again(body, open);
    return outcome(frame);
}

// Runs a step that may call language code back; an exit left there is
// pending again, the stacks as they were before the step.
template <typename Step>
inline bool guarded(Step step, bool* result) {
    stack::Checkpoint checkpoint;
    try {
        *result = step();
        return true;
    } catch (const stack::PendingExit&) {
        checkpoint.restore();
        return false;
    }
}

// Sets a loop word. A word of the global context or of a running function
// takes the value by a plain write; anything else (an object's field, a word
// to be looked up or added) may allocate or run a change handler, so the
// value is held for it.
inline void set_word(Cell* word, const Cell* value) {
    if (Cell* cell = context::plain_value_cell(word)) {
        *cell = *value;
        return;
    }
    collector::RootCell held(*value);
    context::set(word, held.get());
}

}  // namespace

// --- Iteration steps --------------------------------------------------------------

bool more_items_q(const Cell* series) {
    if (TYPE_OF(series) == TYPE_IMAGE) return series::head_index(series) < image::count_of(series);
    return series::head_index(series) < series::abs_length(series::buffer_of(series));
}

bool foreach_next() {
    Cell* series = stack::arguments - 2;
    Cell value;
    if (TYPE_OF(series) == TYPE_BLOCK) {
        // The buffer is looked up once for the test and the read.
        SeriesBuffer* b = series::buffer_of(series);
        i32 at = series::head_index(series);
        if (at >= block::cell_count(b)) return false;
        value = series::head_cells(b)[at];
    } else {
        if (!more_items_q(series)) return false;
        value = pick_element(series, 1);
    }
    cell::clear_new_line(&value);
    series->w1++;
    set_word(stack::arguments - 1, &value);
    return true;
}

void set_words_by_pick(const Cell* words, const Cell* series, i32 n) {
    for (i32 i = 1; i <= n; i++) {
        Cell w = word::loop_word(words, i - 1);
        Cell v = pick_element(series, i);
        set_word(&w, &v);
    }
}

bool foreach_next_multi(i32 n) {
    Cell* words = stack::arguments - 1;
    Cell* series = stack::arguments - 2;
    if (n <= 0 || !more_items_q(series)) return false;
    // The body may have shortened the words block itself.
    if (series::rest_length(words) < n) fire(ERR_SCRIPT, "invalid-arg", words);
    if (TYPE_OF(series) == TYPE_MAP) {
        if (n != 2) fire(ERR_SCRIPT, "invalid-arg", words);
        return map::set_loop_words(words, series, 2);
    }
    // The head moves on first: a change handler that sets a word may leave
    // by an exit, and the walk must not give the same elements again.
    const Cell at = *series;
    series->w1 += u32(n);
    switch (TYPE_OF(&at)) {
        case TYPE_IMAGE:
            image::set_loop_words(words, &at, n);
            break;
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BINARY:
        case TYPE_VECTOR:
            set_words_by_pick(words, &at, n);
            break;
        default:
            set_loop_words(words, &at, n, true, false, false);
            break;
    }
    return true;
}

void set_words_count() {
    const Cell* words = stack::arguments - 1;
    integer::make_at(stack::arguments - 3, series::rest_length(words));
}

void remove_each_next(i32 n) {
    if (!logic::truthy_q(stack::arguments, false, nullptr)) return;
    Cell* series = stack::arguments - 2;
    i32 length = series::abs_length(series::buffer_of(series));
    i32 at = i32(series->w1) - n;
    if (at < 0) at = 0;
    // The body may have shortened the series.
    if (at > length) at = length;
    // The record is removed through a copy of the walk's cell, which moves
    // back only once it is gone. A change handler that leaves by an exit
    // (continue) before the removal leaves the record in place and the walk
    // after it; one that leaves after the removal, the walk where it was.
    Cell* part = n > 1 ? stack::arguments - 3 : nullptr;
    Cell target = *series;
    target.w1 = u32(at);
    try {
        actions::remove(&target, part, nullptr);
    } catch (const stack::PendingExit&) {
        if (series::abs_length(series::buffer_of(series)) < length) series->w1 = u32(at);
        throw;
    }
    series->w1 = u32(at);
}

void forall_set() {
    Cell word = stack::arguments[-1];
    set_word(&word, stack::arguments - 2);
}

bool forall_next(bool advance) {
    Cell word = stack::arguments[-1];
    Cell* value = context::get(&word);
    if (advance) value->w1++;
    if (TYPE_OF(value) == TYPE_IMAGE) return series::head_index(value) >= image::count_of(value);
    return series::zs_tail_q(value);
}

void forall_sync() {
    Cell word = stack::arguments[-1];
    stack::arguments[-2].w1 = context::get(&word)->w1;
}

void to_loop_count(Cell* count) {
    if (TYPE_OF(count) != TYPE_FLOAT) return;
    double d = std::trunc(cell::get_float(count));
    // NaN fails both tests.
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(ERR_SCRIPT, "out-of-range", count);
    integer::make_at(count, i32(d));
}

void get_loop_count() { to_loop_count(stack::arguments); }

void repeat_step(Cell* word) {
    Cell value = *context::get(word);
    if (TYPE_OF(&value) != TYPE_INTEGER) return;
    value.w2 = u32(integer::get(&value) + 1);
    context::set(word, &value);
}

// --- The loops ------------------------------------------------------------------------

i32 while_star(i32 check, const i32* r) {
    if (check) check_args(6, r);
    const Cell cond = *arg(0), body = *arg(1);
    const stack::Frame* frame = open_loop();
    for (;;) {
        stack::keep();
        interpreter::eval_block(&cond, true);
        if (ZIR_UNLIKELY(stack::pending != 0)) {
            if (!stack::target_q(frame)) break;
            stack::take_pending();
            fire(ERR_THROW, "while-cond");
        }
        if (!logic::true_q()) break;
        Outcome o = run_body(&body, frame);
        if (ZIR_UNLIKELY(o >= BROKE)) break;
    }
    stack::box_scalar(TYPE_UNSET);
    stack::unwind_set_last();
    return 0;
}

i32 until_star(i32 check, const i32* r) {
    if (check) check_args(7, r);
    const Cell body = *arg(0);
    const stack::Frame* frame = open_loop();
    interpreter::BodyWalk open;
    for (;;) {
        Outcome o = run_body_again(&body, frame, &open);
        if (ZIR_LIKELY(o == NORMAL)) {
            // The test of the body's value may raise an error: it sees the
            // frames a closed body leaves.
            if (ZIR_UNLIKELY(TYPE_OF(stack::arguments) == TYPE_UNSET)) interpreter::close_body_walks(&open);
            if (logic::true_q()) break;
        } else if (o != CONTINUED) {
            break;
        }
    }
    interpreter::close_body_walks(&open);
    stack::unwind_set_last();
    return 0;
}

i32 loop_star(i32 check, const i32* r) {
    if (check) check_args(8, r);
    get_loop_count();
    i32 n = integer::get(arg(0));
    if (n <= 0) {
        stack::box_scalar(TYPE_NONE);
        stack::keep();
        return 0;
    }
    const Cell body = *arg(1);
    const stack::Frame* frame = open_loop();
    interpreter::BodyWalk open;
    for (i32 i = 0; i < n; i++) {
        if (ZIR_UNLIKELY(run_body_again(&body, frame, &open) >= BROKE)) break;
    }
    interpreter::close_body_walks(&open);
    stack::unwind_set_last();
    return 0;
}

i32 repeat_star(i32 check, const i32* r) {
    if (check) check_args(9, r);
    to_loop_count(arg(1));
    i32 n = integer::get(arg(1));
    if (n <= 0) {
        stack::box_scalar(TYPE_NONE);
        stack::keep();
        return 0;
    }
    const Cell body = *arg(2);
    // The value argument becomes the counter; the word argument is the word
    // set (the body may set the word: the counting goes on regardless).
    Cell* word = arg(0);
    Cell* counter = arg(1);
    // The counter is written whole each round (see cell::store): its count
    // written alone and the cell then copied to the word stalled every round
    // on the copy's load.
    const u32 header = counter->header, w1 = counter->w1, w3 = counter->w3;
    const stack::Frame* frame = open_loop();
    interpreter::BodyWalk open;
    for (i32 i = 1;; i++) {
        cell::store(counter, header, w1, u32(i), w3);
        Outcome o;
        if (Cell* cell = context::plain_value_cell(word)) {
            // No code runs while the word is set: no exit to watch for, and
            // the body's frame may stay open.
            cell::store(cell, header, w1, u32(i), w3);
            o = run_body_again(&body, frame, &open);
        } else {
            // A change handler may run: the frames it sees are the usual.
            interpreter::close_body_walks(&open);
            bool unused;
            o = guarded(
                    [&] {
                        set_word(word, counter);
                        return true;
                    },
                    &unused)
                    ? run_body(&body, frame)
                    : outcome(frame);
        }
        if (ZIR_UNLIKELY(o >= BROKE) || i == n) break;
    }
    interpreter::close_body_walks(&open);
    stack::unwind_set_last();
    return 0;
}

i32 forever_star(i32 check, const i32* r) {
    if (check) check_args(10, r);
    const Cell body = *arg(0);
    const stack::Frame* frame = open_loop();
    interpreter::BodyWalk open;
    while (run_body_again(&body, frame, &open) < BROKE) {
    }
    interpreter::close_body_walks(&open);
    stack::unwind_set_last();
    return 0;
}

namespace {

// Pushes the cells the steps read (the series, then the word or words
// block) and opens the loop frame; answers the number of words (1 for a
// single word). A block of no word is refused.
i32 open_walk(const Cell* word, const Cell* series) {
    i32 n = 1;
    if (TYPE_OF(word) == TYPE_BLOCK) {
        n = series::rest_length(word);
        if (n <= 0) fire(ERR_SCRIPT, "invalid-arg", word);
    }
    stack::push(series);
    stack::push(word);
    return n;
}

// Runs one step of a walk; false at the end or when the step was left by an
// exit (then `o` says what became of it).
template <typename Step>
inline bool walk_step(Step step, const stack::Frame* frame, Outcome* o) {
    bool more = false;
    if (ZIR_LIKELY(guarded(step, &more))) {
        *o = NORMAL;
        return more;
    }
    *o = outcome(frame);
    return *o < BROKE;
}

}  // namespace

i32 foreach_star(i32 check, const i32* r) {
    if (check) check_args(11, r);
    const Cell body = *arg(2);
    bool multi = TYPE_OF(arg(0)) == TYPE_BLOCK;
    if (TYPE_OF(arg(1)) == TYPE_MAP) {
        // A map gives a key and a value at each step.
        if (!multi || series::rest_length(arg(0)) != 2) fire(ERR_SCRIPT, "invalid-arg", arg(0));
    }
    i32 n = open_walk(arg(0), arg(1));
    const stack::Frame* frame = open_loop();
    Outcome o = NORMAL;
    // One word over a block, the word taking a plain write: no language
    // code runs in the step, which needs no guard. The word and the series
    // are read again every round: the body may have moved the values or
    // changed the series.
    // Such rounds keep the body's frame open from one to the next; the
    // other steps may run language code and close it first.
    Cell* series = stack::arguments - 2;
    const Cell* word = stack::arguments - 1;
    interpreter::BodyWalk open;
    for (;;) {
        if (!multi && ZIR_LIKELY(TYPE_OF(series) == TYPE_BLOCK)) {
            if (Cell* cell = context::plain_value_cell(word)) {
                SeriesBuffer* b = series::buffer_of(series);
                i32 at = series::head_index(series);
                if (at >= block::cell_count(b)) break;
                Cell value = series::head_cells(b)[at];
                cell::clear_new_line(&value);
                *cell = value;
                series->w1++;
                if (run_body_again(&body, frame, &open) >= BROKE) break;
                continue;
            }
        }
        interpreter::close_body_walks(&open);
        bool more = multi ? walk_step([n] { return foreach_next_multi(n); }, frame, &o)
                          : walk_step([] { return foreach_next(); }, frame, &o);
        if (o != NORMAL) {
            if (o >= BROKE) break;
            continue;
        }
        if (!more) break;
        if (run_body(&body, frame) >= BROKE) break;
    }
    interpreter::close_body_walks(&open);
    stack::unwind_set_last();
    return 0;
}

namespace {

bool forall_series_q(u32 type) {
    switch (type) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BINARY:
        case TYPE_VECTOR:
        case TYPE_IMAGE:
            return true;
        default:
            return false;
    }
}

}  // namespace

i32 forall_star(i32 check, const i32* r) {
    if (check) check_args(12, r);
    const Cell body = *arg(1);
    // The starting series (arguments - 2 in the frame), then the word.
    Cell* start = word::get_value(arg(0));
    if (!forall_series_q(TYPE_OF(start))) {
        Cell caller, type, argument;
        stack::caller_name(&caller);
        datatype::make_at(&type, TYPE_OF(start));
        series::make_word(&argument, symbol::make("word"));
        fire(ERR_SCRIPT, "expect-arg", &caller, &type, &argument);
    }
    stack::push(arg(0));
    const stack::Frame* frame = open_loop();
    bool broke = false;
    if (!forall_next(false)) {
        for (;;) {
            Outcome o = run_body(&body, frame);
            if (o == BROKE) broke = true;
            if (o >= BROKE) break;
            // The word must still hold the series the loop began with (seen
            // through another datatype of its class, `as`, it still is).
            Cell word = stack::arguments[-1];
            const Cell* now = context::get(&word);
            const Cell* first = stack::arguments - 2;
            if (!forall_series_q(TYPE_OF(now)) || now->w2 != first->w2) {
                Cell v = *now;
                fire(ERR_SCRIPT, "bad-loop-series", &v);
            }
            if (forall_next(true)) break;
        }
    }
    bool left = stack::pending != 0;
    stack::unwind_set_last();
    // After a normal end the word is back at the starting position; after a
    // break it stays where the loop stopped.
    if (!broke && !left) {
        Cell word = stack::arguments[3];
        stack::top = stack::arguments + 3;
        set_word(&word, stack::arguments + 2);
    }
    stack::keep();
    return 0;
}

i32 remove_each_star(i32 check, const i32* r) {
    if (check) check_args(13, r);
    const Cell body = *arg(2);
    bool multi = TYPE_OF(arg(0)) == TYPE_BLOCK;
    stack::push_scalar(TYPE_INTEGER)->w2 = 0;
    i32 n = open_walk(arg(0), arg(1));
    const stack::Frame* frame = open_loop();
    if (multi) set_words_count();
    Outcome o = NORMAL;
    for (;;) {
        bool more = multi ? walk_step([n] { return foreach_next_multi(n); }, frame, &o)
                          : walk_step([] { return foreach_next(); }, frame, &o);
        if (o != NORMAL) {
            if (o >= BROKE) break;
            continue;
        }
        if (!more) break;
        o = run_body(&body, frame);
        if (o >= BROKE) break;
        if (o == CONTINUED) continue;
        bool unused;
        if (!guarded(
                [n] {
                    remove_each_next(n);
                    return true;
                },
                &unused)) {
            if (outcome(frame) >= BROKE) break;
        }
    }
    stack::unwind_set_last();
    // The series, changed in place, at its starting position.
    stack::set_last(arg(1));
    stack::keep();
    return 0;
}

}  // namespace natives
}  // namespace zir
