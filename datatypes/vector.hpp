// vector!: a series of fixed-width numbers or characters, packed in a byte
// buffer: every element has the vector's element type (integer!, char!,
// float! or percent!) and its width.
//
// A vector value holds its head index (in elements) in word 1, the node of
// its buffer in word 2 and the element type's id in word 3. The buffer's unit
// is the element width in bytes: 1, 2 or 4 for integers and chars, 4 or 8 for
// floats and percents (widths are written in bits in the language: 8, 16, 32,
// 64). Integers are stored two's complement in the low bytes and read back
// sign-extended, so an 8-bit vector holds -128..127 and writing keeps only the
// low bits; chars are read back unsigned. Floats and percents are IEEE singles
// or doubles; a percent element holds the fraction (50% is 0.5).
//
// vector! inherits the series actions it does not define from string! and
// series! (navigation, copy, find, select, sort, take ...), which reach the
// elements through series::vector_read and vector_write. Arithmetic is
// element-wise: with another vector it makes a new one, with a scalar it
// changes the vector in place.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace vector {

// The default width in bytes of an element type: 4 for integers and chars, 8
// for floats and percents.
u32 default_width(u32 type);

// --- Elements ----------------------------------------------------------------

// A 1-, 2- or 4-byte integer element, sign-extended.
i32 get_integer(const u8* p, u32 width);
// A 4- or 8-byte float element.
double get_float(const u8* p, u32 width);
// The element at `p` as a value of the element type, written into `out`.
void read_value(const u8* p, u32 type, u32 width, Cell* out);
Cell* push_value(const u8* p, u32 type, u32 width);
// Stores a char! or integer! value's low bits, or a float! or percent! value
// as a single or double; any other datatype raises `script invalid-type`.
void set_value(u8* p, const Cell* value, u32 width);

// --- Making and writing --------------------------------------------------------

// An empty vector with room for `count` elements; a size past the 32-bit
// limit raises `internal no-memory`.
Cell* make_at(Cell* c, i64 count, u32 type, u32 width);
Cell* push(const Cell* vector);
// Elements from the head to the tail.
i32 zs_length_q(const Cell* vector);
// Reserves four bytes at the tail and stores a 32-bit integer there.
void zs_append_int32(Cell* vector, i32 value);
// The typed writers: the value's datatype must be the element type (else
// `script invalid-arg` with the value); the buffer grows as needed.
void append_value(Cell* vector, const Cell* value);
// Element `index` (from the head) takes the value; at the tail it is appended.
void set_value_at(Cell* vector, i32 index, const Cell* value);
// The value is inserted before element `index` (from the head).
void insert_value_at(Cell* vector, i32 index, const Cell* value);

// --- Arithmetic ------------------------------------------------------------------

// The arithmetic of the current call's two arguments (the first a vector!,
// also the result cell): with a vector, a new vector of the shorter length
// and the larger width; with a scalar, the first vector changed in place.
Cell* do_math_op(i32 op);
// Every element from the head on combined with the scalar: element op scalar,
// or with `scalar_first` scalar op element. Answers the vector.
Cell* do_math_scalar(i32 op, Cell* vector, const Cell* scalar, bool scalar_first);

// --- Actions ------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, u32 type);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
i32 compare(const Cell* value, const Cell* other, i32 op);
// insert and append: /part and /dup arrive as integer! counts
// (series::insert_counts); append leaves the head where it was.
Cell* insert(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append);
// /part arrives as an integer! count of elements to replace (series::change_counts).
Cell* change(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);

void init();
// Makes the words of the element types (start-up and memory resets).
void init_state();

}  // namespace vector
}  // namespace zir
