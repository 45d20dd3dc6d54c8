// point2D! and point3D!: see point.hpp.
#include "datatypes/point.hpp"

#include <cfloat>
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "services/random.hpp"

namespace zir {
namespace point {

Words words;

void init_state() { words = Words{symbol::make("x"), symbol::make("y"), symbol::make("z")}; }

float to_single(double d) {
    // Past the largest single by half a unit in its last place (2^103), the
    // nearest single is an infinity.
    constexpr double LIMIT = double(FLT_MAX) + 0x1p103;
    if (d >= LIMIT) return INFINITY;
    if (d <= -LIMIT) return -INFINITY;
    return float(d);
}

i32 field_of(const Cell* word, const Cell* parent, u32 type, i32 count) {
    i32 s = symbol::resolve(i32(word->w2));
    const i32 fields[3] = {words.x, words.y, words.z};
    for (i32 i = 0; i < count; i++)
        if (s == symbol::resolve(fields[i])) return i + 1;
    if (parent && TYPE_OF(parent) == type) fire(ERR_SCRIPT, "cannot-use", word, parent);
    fire(ERR_SCRIPT, "invalid-path", parent ? parent : &none::value, word);
}

void bad_to_arg(u32 type, const Cell* spec) {
    Cell t;
    datatype::make_at(&t, type);
    fire(ERR_SCRIPT, "bad-to-arg", &t, spec);
}

Cell* load_one(const Cell* text, u32 type) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    if (!block::load_one(text, out) || TYPE_OF(out) != type) bad_to_arg(type, text);
    return out;
}

i32 coordinates_form(const float* c, i32 n, Cell* buffer, i32 part) {
    i32 before = string::zs_length(buffer);
    string::append_char(buffer, '(');
    for (i32 i = 0; i < n; i++) {
        if (i > 0) string::append_literal(buffer, ", ");
        string::append_literal(buffer, float_::format(double(c[i]), float_::FORMAT_POINT));
    }
    string::append_char(buffer, ')');
    return part - (string::zs_length(buffer) - before);
}

}  // namespace point

namespace {

using point::get;
using point::put;
using point::to_single;

// The components of a point of either kind, and back.
struct Coords {
    float c[3];
    i32 n;
};
Coords coords_of(const Cell* p) {
    return Coords{{get(p->w1), get(p->w2), TYPE_OF(p) == TYPE_POINT3D ? get(p->w3) : 0.0f},
                  TYPE_OF(p) == TYPE_POINT3D ? 3 : 2};
}
void store(Cell* p, const Coords& k) {
    p->w1 = put(k.c[0]);
    p->w2 = put(k.c[1]);
    p->w3 = k.n == 3 ? put(k.c[2]) : 0;
}

float single_of(const Cell* c) {
    return TYPE_OF(c) == TYPE_INTEGER ? float(i32(c->w2)) : to_single(cell::get_float(c));
}
bool number_q(const Cell* c) { return TYPE_OF(c) == TYPE_INTEGER || TYPE_OF(c) == TYPE_FLOAT; }

// The family's make and to: `n` components from a block, a number, text, or
// (by `convert`) another coordinate datatype.
Cell* make_point(Cell* spec, u32 type, i32 n, bool (*convert)(const Cell* spec, Coords& k)) {
    Coords k{{0, 0, 0}, n};
    switch (TYPE_OF(spec)) {
        case TYPE_BLOCK: {
            const Cell* items = series::head_cells(series::buffer_of(spec)) + series::head_index(spec);
            if (series::rest_length(spec) < n) fire(ERR_SYNTAX, "malconstruct", spec);
            for (i32 i = 0; i < n; i++) {
                if (!number_q(&items[i])) fire(ERR_SYNTAX, "malconstruct", spec);
                k.c[i] = single_of(&items[i]);
            }
            break;
        }
        case TYPE_STRING:
            return point::load_one(spec, type);
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            k.c[0] = k.c[1] = k.c[2] = single_of(spec);
            break;
        default:
            if (TYPE_OF(spec) == type) return spec;
            if (!convert(spec, k)) point::bad_to_arg(type, spec);
            break;
    }
    Cell* out = stack::push_slot();
    cell::init(out, type);
    store(out, k);
    return out;
}

// The component a path or pick selects: 1..n, or a coordinate word.
i32 selected(const Cell* element, const Cell* parent, u32 type, i32 n, bool path) {
    if (TYPE_OF(element) == TYPE_WORD) return point::field_of(element, parent, type, n);
    i32 i = i32(element->w2);
    if (TYPE_OF(element) == TYPE_INTEGER && i >= 1 && i <= n) return i;
    if (!path) fire(ERR_SCRIPT, "out-of-range", element);
    fire(ERR_SCRIPT, "invalid-path", parent ? parent : &none::value, element);
}

Cell* push_component(const Cell* p, i32 field) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_FLOAT);
    cell::set_float(out, double(coords_of(p).c[field - 1]));
    return out;
}

Cell* pick_point(Cell* p, i32 index, Cell* boxed) {
    Coords k = coords_of(p);
    Cell n;
    if (!boxed) {
        cell::init(&n, TYPE_INTEGER);
        n.w2 = u32(index);
        boxed = &n;
    }
    return push_component(p, selected(boxed, p, TYPE_OF(p), k.n, false));
}

// Path access: reads a component as a float!, or sets it from an integer! or
// float! in place and tells the holder of the point.
Cell* eval_point(Cell* p, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element, i32,
                 bool, bool get_, bool, bool notify) {
    Coords k = coords_of(p);
    i32 field = selected(element, path, TYPE_OF(p), k.n, true);
    if (get_ || !value) return push_component(p, field);
    if (!number_q(value)) integer::invalid_operand(value);
    Cell* old = notify ? stack::push(p) : nullptr;
    k.c[field - 1] = single_of(value);
    store(p, k);
    if (notify) ownership::notify_set_path(grand_parent, prev_element, old, stack::push(p), value, field);
    return value;
}

Cell* random_point(Cell* p, bool seed, bool secure, bool) {
    Coords k = coords_of(p);
    if (seed) {
        u32 words[3] = {p->w1, p->w2, p->w3};
        random::seed(i32(hash_table::murmur3(words, size_t(k.n) * 4)));
        cell::init(p, TYPE_UNSET);
        return p;
    }
    for (i32 i = 0; i < k.n; i++)
        if (k.c[i] != 0.0f) k.c[i] = to_single(float_::random_in(double(k.c[i]), secure));
    store(p, k);
    return p;
}

i32 form_point(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    Coords k = coords_of(value);
    return point::coordinates_form(k.c, k.n, buffer, part);
}

i32 mold_point(const Cell* value, Cell* buffer, bool, bool, bool, const Cell* arg, i32 part, i32) {
    return form_point(value, buffer, arg, part);
}

// Equality within a few units in the last place (=), exact (==), bit for bit
// (same?); other operations order by the first component that differs.
i32 compare_coords(const Coords& a, const Coords& b, u32 wa[3], u32 wb[3], i32 op) {
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
            for (i32 i = 0; i < a.n; i++)
                if (!float_::equal32_q(a.c[i], b.c[i])) return 1;
            return 0;
        case COMP_STRICT_EQUAL:
            for (i32 i = 0; i < a.n; i++)
                if (!(a.c[i] == b.c[i])) return 1;
            return 0;
        case COMP_SAME:
            for (i32 i = 0; i < a.n; i++)
                if (wa[i] != wb[i]) return 1;
            return 0;
        default: {
            i32 i = 0;
            while (i < a.n - 1 && float_::equal32_q(a.c[i], b.c[i])) i++;
            float d = a.c[i] - b.c[i];
            return d < 0.0f ? -1 : d > 0.0f ? 1 : 0;
        }
    }
}

Cell* absolute_point(Cell* p) {
    Coords k = coords_of(p);
    for (i32 i = 0; i < k.n; i++) k.c[i] = std::fabs(k.c[i]);
    store(p, k);
    return p;
}

Cell* negate_point(Cell* p) {
    Coords k = coords_of(p);
    for (i32 i = 0; i < k.n; i++) k.c[i] = 0.0f - k.c[i];
    store(p, k);
    return p;
}

// Swaps the first and the last component: x and y, or x and z.
Cell* reverse_point(Cell* p, Cell*, Cell*) {
    Coords k = coords_of(p);
    std::swap(k.c[0], k.c[k.n - 1]);
    store(p, k);
    return p;
}

void absolute() { absolute_point(stack::arguments); }

// Each component rounded as a float! by the float core and stored back as a
// single. A coordinate scale (a pair!, or a point) gives each component its
// own unit; a component the scale lacks (z, from a pair or a point2D!) rounds
// to the unit of no scale.
Cell* round_point(Cell* p, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling) {
    if (scale && TYPE_OF(scale) == TYPE_MONEY) float_::not_related_to_caller(TYPE_MONEY);
    float_::RoundMode mode{even, down, half_down, floor, ceiling, half_ceiling};
    Coords k = coords_of(p);
    u32 st = scale ? TYPE_OF(scale) : TYPE_NONE;
    bool per_component = st == TYPE_PAIR || st == TYPE_POINT2D || st == TYPE_POINT3D;
    Coords units{{0, 0, 0}, 0};
    if (st == TYPE_PAIR) units = Coords{{float(i32(scale->w2)), float(i32(scale->w3)), 0}, 2};
    else if (per_component) units = coords_of(scale);
    for (i32 i = 0; i < k.n; i++) {
        Cell unit;
        const Cell* s = scale;
        if (per_component) {
            cell::init(&unit, TYPE_FLOAT);
            cell::set_float(&unit, double(units.c[i]));
            s = i < units.n ? &unit : nullptr;
        }
        double u = float_::round_unit(TYPE_FLOAT, s);
        k.c[i] = to_single(float_::round_to_unit(double(k.c[i]), u, mode));
    }
    store(p, k);
    return p;
}

// The arithmetic core; `pairs`: a pair! operand counts component by
// component (point2D!) rather than being refused (point3D!).
Cell* math_point(i32 op, bool pairs) {
    Cell* left = stack::arguments;
    const Cell* right = left + 1;
    Coords k = coords_of(left);
    double r[3];
    switch (TYPE_OF(right)) {
        case TYPE_INTEGER:
            r[0] = r[1] = r[2] = double(float(i32(right->w2)));
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            float s = to_single(cell::get_float(right));
            if (op == MATH_MULTIPLY || op == MATH_DIVIDE) {
                // A float scalar scales in single precision.
                for (i32 i = 0; i < k.n; i++) k.c[i] = op == MATH_MULTIPLY ? k.c[i] * s : k.c[i] / s;
                store(left, k);
                return left;
            }
            r[0] = r[1] = r[2] = double(s);
            break;
        }
        case TYPE_PAIR:
            if (!pairs) integer::invalid_operand(right);
            r[0] = double(i32(right->w2));
            r[1] = double(i32(right->w3));
            break;
        default: {
            if (TYPE_OF(right) != TYPE_OF(left)) integer::invalid_operand(right);
            Coords o = coords_of(right);
            for (i32 i = 0; i < k.n; i++) r[i] = double(o.c[i]);
            break;
        }
    }
    for (i32 i = 0; i < k.n; i++) k.c[i] = to_single(float_::do_math_op(double(k.c[i]), r[i], op));
    store(left, k);
    return left;
}

template <u32 T, i32 OP>
void math() {
    math_point(OP, T == TYPE_POINT2D);
}

// The rows of the family share every entry but make and compare.
template <u32 T>
void register_point(const char* name, action::Make make, action::Compare compare) {
    action::Direct add = math<T, MATH_ADD>, divide = math<T, MATH_DIVIDE>, multiply = math<T, MATH_MULTIPLY>;
    action::Direct remainder = math<T, MATH_REMAINDER>, subtract = math<T, MATH_SUBTRACT>;
    datatype::Registration r(T, 0, name);
    r.only_own().on<ACT_MAKE>(make).on<ACT_RANDOM>(random_point).on<ACT_TO>(make).on<ACT_FORM>(form_point);
    r.on<ACT_MOLD>(mold_point).on<ACT_EVAL_PATH>(eval_point).on<ACT_COMPARE>(compare).on<ACT_ABSOLUTE>(absolute);
    r.on<ACT_ADD>(add).on<ACT_DIVIDE>(divide).on<ACT_MULTIPLY>(multiply).on<ACT_NEGATE>(negate_point);
    r.on<ACT_REMAINDER>(remainder).on<ACT_ROUND>(round_point).on<ACT_SUBTRACT>(subtract);
    r.on<ACT_PICK>(pick_point).on<ACT_REVERSE>(reverse_point);
    datatype::register_(r);
}

}  // namespace

// --- point2D! ------------------------------------------------------------------------

namespace point2D {

Cell* make_at(Cell* c, float x, float y) {
    cell::set_type(c, TYPE_POINT2D);
    c->w1 = put(x);
    c->w2 = put(y);
    c->w3 = 0;
    return c;
}

Cell* push(float x, float y) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_POINT2D);
    return make_at(c, x, y);
}

Cell* make_in(Cell* block, float x, float y) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_POINT2D);
    return make_at(c, x, y);
}

float to_float32(const Cell* c) { return single_of(c); }

i32 field_index(const Cell* word, const Cell* parent) { return point::field_of(word, parent, TYPE_POINT2D, 2); }

Cell* do_math_op(i32 op) { return math_point(op, true); }

i32 compare(const Cell* value, const Cell* other, i32 op) {
    Cell converted;
    if (TYPE_OF(other) == TYPE_PAIR) {
        cell::init(&converted, TYPE_POINT2D);
        make_at(&converted, float(i32(other->w2)), float(i32(other->w3)));
        other = &converted;
    }
    if (TYPE_OF(other) != TYPE_POINT2D) return NOT_COMPARABLE;
    u32 wa[3] = {value->w1, value->w2, 0}, wb[3] = {other->w1, other->w2, 0};
    return compare_coords(coords_of(value), coords_of(other), wa, wb, op);
}

namespace {

bool convert(const Cell* spec, Coords& k) {
    if (TYPE_OF(spec) != TYPE_PAIR) return false;
    k.c[0] = float(i32(spec->w2));
    k.c[1] = float(i32(spec->w3));
    return true;
}

Cell* make(Cell*, Cell* spec, u32) { return make_point(spec, TYPE_POINT2D, 2, convert); }

}  // namespace

void init() {
    register_point<TYPE_POINT2D>("point2D!", make, compare);
    actions::math_core[TYPE_POINT2D] = do_math_op;
}

}  // namespace point2D

// --- point3D! ------------------------------------------------------------------------

namespace point3D {

Cell* make_at(Cell* c, float x, float y, float z) {
    cell::set_type(c, TYPE_POINT3D);
    c->w1 = put(x);
    c->w2 = put(y);
    c->w3 = put(z);
    return c;
}

Cell* push(float x, float y, float z) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_POINT3D);
    return make_at(c, x, y, z);
}

Cell* make_in(Cell* block, float x, float y, float z) {
    Cell* c = memory::alloc_tail(block);
    cell::init(c, TYPE_POINT3D);
    return make_at(c, x, y, z);
}

float to_float32(const Cell* c) { return single_of(c); }

i32 field_index(const Cell* word, const Cell* parent) { return point::field_of(word, parent, TYPE_POINT3D, 3); }

Cell* do_math_op(i32 op) { return math_point(op, false); }

namespace {

// A pair or a point2D! gives (x, y, 0).
bool convert(const Cell* spec, Coords& k) {
    if (TYPE_OF(spec) == TYPE_PAIR) {
        k.c[0] = float(i32(spec->w2));
        k.c[1] = float(i32(spec->w3));
    } else if (TYPE_OF(spec) == TYPE_POINT2D) {
        k.c[0] = point2D::x_of(spec);
        k.c[1] = point2D::y_of(spec);
    } else {
        return false;
    }
    k.c[2] = 0.0f;
    return true;
}

Cell* make(Cell*, Cell* spec, u32) { return make_point(spec, TYPE_POINT3D, 3, convert); }

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_POINT3D) return NOT_COMPARABLE;
    u32 wa[3] = {value->w1, value->w2, value->w3}, wb[3] = {other->w1, other->w2, other->w3};
    return compare_coords(coords_of(value), coords_of(other), wa, wb, op);
}

}  // namespace

void init() {
    register_point<TYPE_POINT3D>("point3D!", make, compare);
    actions::math_core[TYPE_POINT3D] = do_math_op;
}

}  // namespace point3D
}  // namespace zir
