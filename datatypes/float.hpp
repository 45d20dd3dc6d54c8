// float!: IEEE doubles in payload words 2 and 3 (low half in word 2).
//
// Besides its own actions this module is the floating-point core of the
// numbers: percent! and time! keep the same payload and inherit most float!
// actions, and integer! hands it mixed arithmetic, power and rounding. It
// holds the text formatter (`format`), the math dispatcher that decides the
// result type of mixed operations (`do_math`), the tolerant equality
// (`almost_equal_q`), the rounding core and the random draw.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace float_ {

// What `format` is writing: the layout and precision differ.
enum FormatKind : i32 {
    FORMAT_FLOAT32 = 0,     // a 32-bit float element
    FORMAT_FLOAT = 1,       // a float!
    FORMAT_PERCENT32 = 2,   // a 32-bit percent element, already times 100
    FORMAT_PERCENT = 3,     // a percent!, already times 100
    FORMAT_TIME = 4,        // the seconds of a time!
    FORMAT_POINT = 5,       // a coordinate of a point
};

// The gap below which two doubles are equal under `=`, and below which a
// magnitude prints as zero when pretty printing is on.
constexpr double EPSILON = 2.220446049250313e-16;

// Set from `system/options/float/pretty?` (true at start): prints values near
// zero as zero and tidies the 17th digit. `full_support_q` mirrors `full?`.
extern bool pretty_print_q;
extern bool full_support_q;

inline double get(const Cell* c) { return cell::get_float(c); }

Cell* box(double d);
// The cell becomes exactly a float! holding d.
Cell* make_at(Cell* c, double d);
Cell* make_in(Cell* block, u32 high, u32 low);
Cell* push(u32 high, u32 low);
Cell* push_value(double d);

double fabs(double d);
bool nan_q(double d);
bool nan32_q(float f);
bool not_finite_q(double d);

// Equality of `=`: equal, closer than EPSILON, or at most ten units in the
// last place apart; a NaN equals nothing.
bool almost_equal_q(double a, double b);
// The same for the 32-bit floats of the point datatypes.
bool equal32_q(float a, float b);

// The text of a double as a `kind` prints, in a buffer the next call
// overwrites: "1.#INF", "-1.#INF", "1.#NaN" for the values that are no numbers.
const char* format(double d, i32 kind);

// a op b by IEEE rules (division by zero gives an infinity or NaN); the
// remainder keeps the sign of a. The bitwise operations raise `script
// cannot-use`.
double do_math_op(double a, double b, i32 op);

// The math action on the current call's two arguments when either is a float!,
// percent! or time! (or integer! on the left, from integer!'s dispatcher):
// decides the result type (time! over percent! over float!) or hands the
// operation to the other operand's datatype. Answers the result cell.
Cell* do_math(i32 op);

// The comparison of a float! value, its double given apart so that integer!
// can compare through it with its own datatype `type`.
i32 compare_double(double a, u32 type, const Cell* other, i32 op);

// How `round` resolves a value that lies between two multiples of the unit.
struct RoundMode {
    bool even, down, half_down, floor, ceiling, half_ceiling;
};
// Whether v is already a multiple of the unit s as far as a double can tell
// (a unit of 0 leaves every value alone): round then answers it unchanged.
inline bool exact_at_unit_q(double v, double s) { return s < (v < 0 ? -v : v) * 0x1p-53 || s == 0.0; }
// v rounded to a multiple of the unit s (positive); raises `math overflow`
// when a result for a unit of 1 or more leaves the finite doubles.
double round_to_unit(double v, double s, RoundMode mode);
// The unit of a round: 1.0 (0.01 for a percent!), or the magnitude of the /to
// scale; raises the errors of a scale that cannot be a unit.
double round_unit(u32 value_type, const Cell* scale);

// The round action of float! and percent!, which integer! hands its non-integer
// scales to (the value then already a float!).
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);

// A uniformly drawn double between 0 and max.
double random_in(double max, bool secure);

// make and to of float! and percent!: the spec cell becomes the result.
Cell* make(Cell* proto, Cell* spec, u32 type);

// The integer a size argument stands for: a float! is truncated when it lies
// within the 32-bit range (else `script out-of-range`); any other cell answers
// its word 2.
i32 to_integer_checked(const Cell* value);

// Raises `script not-related` with the caller's name and a datatype (the
// round of a money! scale).
[[noreturn]] void not_related_to_caller(u32 type);

// What the numbers need of money! and date!, which register after them and
// set these; a null entry raises `internal not-done`.
struct Bridges {
    Cell* (*money_from_integer)(i32 n);                 // pushes the amount, no currency
    Cell* (*money_from_float)(double x, bool strict);   // pushes the amount, no currency
    i32 (*money_to_integer)(const Cell* money);         // its integral part
    double (*money_to_float)(const Cell* money);
    i32 (*date_to_epoch)(const Cell* date);             // seconds since 1-Jan-1970
};
extern Bridges bridges;
// A bridge, or `internal not-done` while its datatype is not there.
template <typename F>
F bridge(F f);

// Registers float!.
void init();

}  // namespace float_
}  // namespace zir

#include "runtime/fire.hpp"

template <typename F>
F zir::float_::bridge(F f) {
    if (!f) fire(ERR_INTERNAL, "not-done");
    return f;
}
