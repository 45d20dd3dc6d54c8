// time!: see time.hpp.
#include "datatypes/time.hpp"

#include <cmath>
#include <cstring>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"

namespace zir {
namespace time {

// --- Values ------------------------------------------------------------------

Cell* make_at(Cell* c, double seconds) {
    cell::set_type(c, TYPE_TIME);
    c->w1 = 0;
    cell::set_float(c, seconds);
    return c;
}

Cell* make_in(Cell* block, u32 high, u32 low) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_TIME);
    c->w2 = low;
    c->w3 = high;
    return c;
}

Cell* push(double seconds) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_TIME);
    cell::set_float(c, seconds);
    return c;
}

double get_hours(double seconds) { return std::trunc(seconds / SECONDS_PER_HOUR); }

i32 get_minutes(double seconds) {
    double m = std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE);
    return m >= 0 && m < 60 ? i32(m) : 0;   // a NaN or infinite time has none
}

double get_seconds(double seconds) { return std::fmod(seconds, SECONDS_PER_MINUTE); }

// --- Text ------------------------------------------------------------------------

namespace {

// Appends ASCII text and answers its length.
i32 put(Cell* buffer, const char* t) {
    i32 n = i32(std::strlen(t));
    string::append_bytes(buffer, reinterpret_cast<const u8*>(t), n);
    return n;
}

}  // namespace

i32 form_value(double seconds, Cell* buffer, i32 part) {
    if (float_::not_finite_q(seconds)) return part - put(buffer, float_::format(seconds, float_::FORMAT_FLOAT));
    i32 n = 0;
    if (seconds < 0) {
        n += put(buffer, "-");
        seconds = -seconds;
    }
    double hours = std::floor(seconds / SECONDS_PER_HOUR);
    i32 minutes = get_minutes(seconds);
    double s = std::fmod(seconds, SECONDS_PER_MINUTE);
    // The seconds are written at six digits, so a value just below a minute
    // reads 60: it is a whole minute, carried into the minutes (and hours).
    char sec[40] = "00";
    if (s >= 0.000001) {
        const char* t = float_::format(s, float_::FORMAT_TIME);
        if (std::strcmp(t, "60") == 0) {
            if (++minutes == 60) {
                minutes = 0;
                hours += 1;
            }
        } else {
            bool pad = t[1] == 0 || t[1] == '.';
            std::snprintf(sec, sizeof sec, "%s%s", pad ? "0" : "", t);
        }
    }
    char text[80];
    if (hours < 1e15) {
        std::snprintf(text, sizeof text, "%lld:%02d:%s", static_cast<long long>(hours), minutes, sec);
    } else {
        // Beyond any clock: the hours as the float text of their digits.
        std::snprintf(text, sizeof text, "%s:%02d:%s", dtoa::form_float(hours, 0, false), minutes, sec);
    }
    n += put(buffer, text);
    return part - n;
}

bool written_as_day_q(double seconds) {
    constexpr double day = 24 * SECONDS_PER_HOUR;
    if (!(seconds >= day - SECONDS_PER_MINUTE && seconds < day)) return false;
    double s = std::fmod(seconds, SECONDS_PER_MINUTE);
    return s >= 0.000001 && std::strcmp(float_::format(s, float_::FORMAT_TIME), "60") == 0;
}

// --- Fields ------------------------------------------------------------------------

namespace {

// The field words, made by init_state.
i32 hour_word = 0, minute_word = 0, second_word = 0;

bool same_word(const Cell* word, i32 symbol) { return symbol::resolve(i32(word->w2)) == symbol::resolve(symbol); }

[[noreturn]] void invalid_path(const Cell* path, const Cell* element) {
    Cell none;
    cell::init(&none, TYPE_NONE);
    fire(ERR_SCRIPT, "invalid-path", path ? path : &none, element);
}

// The hour as an integer!: hours beyond 32 bits have no integer!.
i32 hours_as_integer(double seconds) {
    double h = get_hours(seconds);
    if (!(h >= -2147483648.0 && h <= 2147483647.0)) fire(ERR_MATH, "overflow");
    return i32(h);
}

}  // namespace

void init_state() {
    hour_word = symbol::make("hour");
    minute_word = symbol::make("minute");
    second_word = symbol::make("second");
}

i32 field_index(const Cell* word, const Cell* value) {
    if (same_word(word, hour_word)) return FIELD_HOUR;
    if (same_word(word, minute_word)) return FIELD_MINUTE;
    if (same_word(word, second_word)) return FIELD_SECOND;
    if (TYPE_OF(value) == TYPE_TIME) fire(ERR_SCRIPT, "cannot-use", word, value);
    return -1;
}

Cell* push_field(const Cell* time, i32 field) {
    double t = get(time);
    switch (field) {
        case FIELD_HOUR: return integer::push(hours_as_integer(t));
        case FIELD_MINUTE: return integer::push(get_minutes(t));
        case FIELD_SECOND: return float_::push_value(get_seconds(t));
        default: return nullptr;
    }
}

double with_field(double t, i32 field, const Cell* value) {
    u32 vt = TYPE_OF(value);
    if (vt != TYPE_INTEGER && !(field == FIELD_SECOND && vt == TYPE_FLOAT)) fire(ERR_SCRIPT, "invalid-arg", value);
    double v = vt == TYPE_INTEGER ? double(integer::get(value)) : float_::get(value);
    double magnitude = std::fabs(t);
    switch (field) {
        case FIELD_HOUR: {
            // The hour carries the sign (a zero hour keeps the time's own).
            bool negative = v < 0 || (v == 0 && t < 0);
            double r = std::fabs(v) * SECONDS_PER_HOUR + std::fmod(magnitude, SECONDS_PER_HOUR);
            return negative ? -r : r;
        }
        case FIELD_MINUTE: {
            double r = magnitude - (double(get_minutes(t)) - v) * SECONDS_PER_MINUTE;
            return t < 0 ? -r : r;
        }
        default:
            return t - (get_seconds(t) - v);
    }
}

void bad_to_arg(const Cell* spec) {
    Cell type;
    datatype::make_at(&type, TYPE_TIME);
    fire(ERR_SCRIPT, "bad-to-arg", &type, spec);
}

// --- Actions ------------------------------------------------------------------------

namespace {

// [hours minutes seconds], each optional from the end; only the hours may be
// negative, and then the whole time is.
double from_block(const Cell* spec) {
    i32 n = block::zs_length_q(spec);
    if (n > 3) bad_to_arg(spec);
    double parts[3] = {0, 0, 0};
    bool negative = false;
    for (i32 i = 0; i < n; i++) {
        const Cell* item = block::cell_at(spec->w2, i64(spec->w1) + i);
        u32 t = TYPE_OF(item);
        if (t == TYPE_INTEGER) parts[i] = double(integer::get(item));
        else if (t == TYPE_FLOAT && i == 2) parts[i] = float_::get(item);
        else bad_to_arg(spec);
        if (parts[i] < 0) {
            if (i > 0) bad_to_arg(spec);
            negative = true;
            parts[i] = -parts[i];
        }
    }
    double s = parts[0] * SECONDS_PER_HOUR + parts[1] * SECONDS_PER_MINUTE + parts[2];
    return negative ? -s : s;
}

// A text must load as exactly one time!.
double from_text(const Cell* spec) {
    Cell* loaded = stack::push_slot();
    cell::init(loaded, TYPE_UNSET);
    if (!block::load_text_q(spec, loaded) || block::zs_length_q(loaded) != 1) bad_to_arg(spec);
    const Cell* v = block::cell_at(loaded->w2, loaded->w1);
    if (TYPE_OF(v) != TYPE_TIME) bad_to_arg(spec);
    double d = get(v);
    stack::pop(1);
    return d;
}

Cell* make(Cell*, Cell* spec, u32) {
    u32 t = TYPE_OF(spec);
    double seconds;
    switch (t) {
        case TYPE_TIME: return spec;
        case TYPE_INTEGER: seconds = double(integer::get(spec)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: seconds = float_::get(spec); break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: seconds = from_block(spec); break;
        default:
            if (!any_text_q(t)) bad_to_arg(spec);
            seconds = from_text(spec);
            break;
    }
    cell::init(spec, TYPE_TIME);
    cell::set_float(spec, seconds);
    return spec;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) { return form_value(get(value), buffer, part); }

i32 mold(const Cell* value, Cell* buffer, bool, bool, bool, const Cell*, i32 part, i32) {
    return form_value(get(value), buffer, part);
}

Cell* eval_path(Cell* time, Cell* element, Cell* value, Cell* path, Cell* parent, Cell* parent_word, i32,
                bool, bool get_only, bool, bool notify_q) {
    i32 field = -1;
    if (TYPE_OF(element) == TYPE_INTEGER) field = integer::get(element);
    else if (TYPE_OF(element) == TYPE_WORD) field = field_index(element, path);
    if (field < FIELD_HOUR || field > FIELD_SECOND) invalid_path(path, element);
    if (get_only || !value) return push_field(time, field);
    double t = with_field(get(time), field, value);
    if (!notify_q) {
        cell::set_float(time, t);
        return value;
    }
    // The handlers get stack copies: the time's own cell may move.
    Cell* old_time = stack::push(time);
    cell::set_float(time, t);
    Cell* new_time = stack::push(time);
    ownership::notify_set_path(parent, parent_word, old_time, new_time, value, field);
    return value;
}

void add() {
    if (TYPE_OF(stack::arguments + 1) == TYPE_DATE) {
        integer::hand_swapped(TYPE_DATE, MATH_ADD);
        return;
    }
    float_::do_math(MATH_ADD);
}

void subtract() {
    if (TYPE_OF(stack::arguments + 1) == TYPE_DATE) integer::not_related(MATH_SUBTRACT, TYPE_TIME);
    float_::do_math(MATH_SUBTRACT);
}

void multiply() {
    if (TYPE_OF(stack::arguments + 1) == TYPE_TIME) integer::not_related(MATH_MULTIPLY, TYPE_TIME);
    float_::do_math(MATH_MULTIPLY);
}

// A time over a time is a ratio.
void divide() {
    bool ratio = TYPE_OF(stack::arguments + 1) == TYPE_TIME;
    Cell* r = float_::do_math(MATH_DIVIDE);
    if (ratio) cell::set_type(r, TYPE_FLOAT);
}

// The rounding core on the seconds; the answer stays a time! whatever the scale.
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    double s = float_::round_unit(TYPE_TIME, scale);
    double r = float_::round_to_unit(get(value), s, {even, down, half_down, floor, ceiling, half_ceiling});
    cell::set_float(value, r);
    return value;
}

// The whole seconds past the minute, nudged away from zero so that a time
// stored a hair below a whole second counts as that second.
bool odd_q(const Cell* value) {
    double t = get(value);
    t += t >= 0 ? 0.000001 : -0.000001;
    double s = std::fmod(t, SECONDS_PER_MINUTE);
    if (s != s) return false;   // a time with no seconds (infinite, NaN)
    return (i32(s) & 1) != 0;
}
bool even_q(const Cell* value) { return !odd_q(value); }

Cell* pick(Cell* time, i32 index, Cell* boxed) {
    i32 field = index;
    if (boxed && TYPE_OF(boxed) == TYPE_WORD) field = field_index(boxed, time);
    if (field < FIELD_HOUR || field > FIELD_SECOND) {
        Cell given;
        if (boxed) given = *boxed;
        else integer::make_at(&given, index);
        fire(ERR_SCRIPT, "invalid-arg", &given);
    }
    return push_field(time, field);
}

}  // namespace

void init() {
    datatype::Registration r(TYPE_TIME, TYPE_FLOAT, "time!");
    r.only_own().from_parent(ACT_RANDOM).from_parent(ACT_COMPARE).from_parent(ACT_ABSOLUTE);
    r.from_parent(ACT_NEGATE).from_parent(ACT_REMAINDER);
    r.on<ACT_MAKE>(make).on<ACT_TO>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(eval_path);
    r.on<ACT_ADD>(add).on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_ROUND>(round);
    r.on<ACT_SUBTRACT>(subtract).on<ACT_EVEN_Q>(even_q).on<ACT_ODD_Q>(odd_q).on<ACT_PICK>(pick);
    datatype::register_(r);
}

}  // namespace time
}  // namespace zir
