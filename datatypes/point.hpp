// point2D! and point3D!: immediate coordinates with single-precision float
// components, written (x, y) and (x, y, z); the floating-point sisters of
// pair!. The view engine keeps positions and sizes in them.
//
// A point2D! holds x and y as IEEE singles in payload words 1 and 2 (word 3
// carries nothing); a point3D! holds x, y and z in words 1 to 3. Arithmetic
// is done in doubles and stored back rounded to single, but a float scalar
// multiplies and divides in single precision. `=` tolerates a few units in
// the last place of a single; `==` is exact. The double arithmetic, the text
// of a component and the tolerant equality are float!'s.
//
// The two types are one family and share this module: `point` holds what
// they have in common, `point2D` and `point3D` their values and actions.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace point {

// A double rounded to the nearest single; out of the single range it gives an
// infinity, as IEEE rounding does (without the undefined conversion).
float to_single(double d);

inline float get(u32 word) { return std::bit_cast<float>(word); }
inline u32 put(float f) { return std::bit_cast<u32>(f); }

// --- Shared with pair! ----------------------------------------------------------

// The coordinate words, by symbol id, made at start-up by `init_state`.
struct Words {
    i32 x, y, z;
};
extern Words words;
void init_state();

// The number (1..count) of the coordinate a word names. Any other word raises
// `script cannot-use` (the word, the parent) when the parent is of `type` (a
// pick), and otherwise `script invalid-path` (the parent, the word): a path
// access passes its path as the parent.
i32 field_of(const Cell* word, const Cell* parent, u32 type, i32 count);

// `script bad-to-arg` with the datatype and the spec.
[[noreturn]] void bad_to_arg(u32 type, const Cell* spec);
// The one value a text loads to, pushed; it must be of `type` (else
// bad-to-arg).
Cell* load_one(const Cell* text, u32 type);
// "(c1, c2...)" with each component formatted; answers the part left.
i32 coordinates_form(const float* c, i32 n, Cell* buffer, i32 part);

}  // namespace point

namespace point2D {

inline float x_of(const Cell* c) { return point::get(c->w1); }
inline float y_of(const Cell* c) { return point::get(c->w2); }

// Writes a point2D! into a cell, keeping its new-line flag.
Cell* make_at(Cell* c, float x, float y);
Cell* push(float x, float y);
Cell* make_in(Cell* block, float x, float y);

// The single of a float! (rounded) or an integer! (converted).
float to_float32(const Cell* c);

// 1 for the word x, 2 for y. Any other word raises `script cannot-use` (the
// word, the parent) when the parent is a point2D! (pick), and otherwise
// `script invalid-path` (the parent, the word) (path access).
i32 field_index(const Cell* word, const Cell* parent);

// The arithmetic core on the current call's two arguments; the result
// replaces the first, which must be a point2D!.
Cell* do_math_op(i32 op);

// The comparison, also reached from pair!.
i32 compare(const Cell* value, const Cell* other, i32 op);

void init();

}  // namespace point2D

namespace point3D {

inline float x_of(const Cell* c) { return point::get(c->w1); }
inline float y_of(const Cell* c) { return point::get(c->w2); }
inline float z_of(const Cell* c) { return point::get(c->w3); }

Cell* make_at(Cell* c, float x, float y, float z);
Cell* push(float x, float y, float z);
Cell* make_in(Cell* block, float x, float y, float z);
float to_float32(const Cell* c);
// As point2D's, with 3 for the word z.
i32 field_index(const Cell* word, const Cell* parent);
Cell* do_math_op(i32 op);

void init();

}  // namespace point3D
}  // namespace zir
