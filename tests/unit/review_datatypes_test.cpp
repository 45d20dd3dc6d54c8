// Faults found in review of the scalar, text, container and object
// datatypes: each test shows one and stays as its regression test.
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct ReviewDatatypes : ValueTest {};

// A number's remainder by a pair, a point or a tuple cannot be handed to the
// richer value's core with the operands swapped, as add and multiply are:
// 5 // 2x3 would answer 2x3 // 5, that is 2x3. Like a division, it is refused.
TEST_F(ReviewDatatypes, ANumberLeavesNoRemainderByACoordinateOrATuple) {
    struct Case {
        const char* what;
        const Cell* left;
        const Cell* right;
    } cases[] = {
        {"integer // pair", int_(5), pair::push(2, 3)},
        {"integer // point2D", int_(5), point2D::push(2.0f, 3.0f)},
        {"integer // point3D", int_(5), point3D::push(2.0f, 3.0f, 4.0f)},
        {"integer // tuple", int_(5), tuple::push(3, 2 | 3 << 8 | 4 << 16, 0, 0)},
        {"float // pair", float_(5.0), pair::push(2, 3)},
        {"percent // point2D", percent_(5.0), point2D::push(2.0f, 3.0f)},
        {"float // tuple", float_(5.0), tuple::push(3, 2 | 3 << 8 | 4 << 16, 0, 0)},
    };
    for (const Case& c : cases) {
        try {
            Cell* r = direct(ACT_REMAINDER, c.left, c.right);
            ADD_FAILURE() << c.what << " answered " << mold(r);
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "not-related") << c.what;
            ASSERT_EQ(e.argc, 2) << c.what;
            EXPECT_EQ(symbol::spelling(i32(e.args[0].w2)), "remainder") << c.what;
        }
    }
    // The operations that commute still swap.
    EXPECT_MOLD(direct(ACT_MULTIPLY, int_(5), pair::push(2, 3)), "10x15");
    EXPECT_MOLD(direct(ACT_ADD, int_(5), tuple::push(3, 1 | 2 << 8 | 3 << 16, 0, 0)), "6.7.8");
    // With the richer value on the left the remainder is its own.
    EXPECT_MOLD(direct(ACT_REMAINDER, pair::push(5, 7), int_(3)), "2x1");
}

}  // namespace
}  // namespace zir
