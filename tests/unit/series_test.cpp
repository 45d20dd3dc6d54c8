// Raw series access by node, cell helpers and the checked size conversion.
#include <cmath>

#include "datatypes/float.hpp"
#include "runtime/fire.hpp"
#include "runtime/series.hpp"
#include "support.hpp"

namespace zir {
namespace {

TEST(Cells, CopyAndHeaderBits) {
    Cell c{TYPE_INTEGER | FLAG_NEW_LINE | 0x1200, 1, 2, 3};
    copy_cell(&c, &c);
    EXPECT_EQ(c.header, u32(TYPE_INTEGER | FLAG_NEW_LINE | 0x1200));
    EXPECT_EQ(c.w1 + c.w2 + c.w3, 6u);
    cell::set_type(&c, TYPE_CHAR);
    EXPECT_EQ(c.header, u32(TYPE_CHAR | FLAG_NEW_LINE | 0x1200)) << "only the type byte changes";
    cell::clear_new_line(&c);
    EXPECT_EQ(c.header, u32(TYPE_CHAR | 0x1200));
    Cell d;
    copy_cell(&c, &d);
    EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
    cell::set_float(&d, -2.5);
    EXPECT_EQ(cell::get_float(&d), -2.5);
}

TEST(RawSeries, IntEntries) {
    u32 node = series::make_raw(2, 4);
    EXPECT_EQ(series::unit_of(node_buffer(node)), 4u);
    for (u32 v : {10u, 20u, 30u, 20u, 40u}) series::zs_append_int(node, v);   // grows past its room
    EXPECT_EQ(series::zs_units(node), 5);
    EXPECT_EQ(series::zs_pick_int(node, 1), 10u);
    EXPECT_EQ(series::zs_pick_int(node, 5), 40u);
    EXPECT_EQ(series::zs_find_ptr(node, 20), 4) << "byte offset of the first match";
    EXPECT_EQ(series::zs_find_ptr(node, 99), -1);
    series::zs_remove_ptr(node, 20);
    series::zs_remove_ptr(node, 99);   // absent: nothing happens
    EXPECT_EQ(series::zs_units(node), 4);
    EXPECT_EQ(series::zs_pick_int(node, 2), 30u);
    EXPECT_EQ(series::zs_pick_int(node, 3), 20u);
    series::zs_insert_int(node, 0, 5);
    series::zs_insert_int(node, 5, 50);
    series::zs_poke_int(node, 3, 33);
    std::vector<u32> got;
    for (i32 i = 1; i <= series::zs_units(node); i++) got.push_back(series::zs_pick_int(node, i));
    EXPECT_EQ(got, (std::vector<u32>{5, 10, 33, 20, 40, 50}));
}

TEST(RawSeries, BytesCutAndCopy) {
    u32 node = series::make_raw(4, 1);
    series::zs_append_bytes(node, reinterpret_cast<const u8*>("hello world"), 11);
    series::zs_append_byte(node, '!');
    EXPECT_EQ(series::zs_units(node), 12);
    EXPECT_EQ(series::zs_pick_byte(node, 1), 'h');
    EXPECT_EQ(series::zs_pick_byte(node, 12), '!');
    series::zs_remove_at(node, 5, 6);
    EXPECT_EQ(series::zs_units(node), 6);
    EXPECT_EQ(series::zs_pick_byte(node, 6), '!');
    u32 copy = series::zs_copy_node(node);
    series::zs_cut_at(node, 3);   // keeps two
    EXPECT_EQ(series::zs_units(node), 2);
    EXPECT_EQ(series::zs_units(copy), 6);
    series::zs_cut_at(node, 1);
    EXPECT_EQ(series::zs_units(node), 0) << "cutting at 1 empties the series";
    series::zs_append_byte(copy, 'x');
    series::zs_clear_all(copy);
    EXPECT_EQ(series::zs_units(copy), 0);
    EXPECT_EQ(series::zs_flags(copy) & SERIES_UNIT_MASK, 1u);
}

TEST(CheckedSize, FloatsWithinTheIntegerRange) {
    Cell f;
    cell::init(&f, TYPE_FLOAT);
    struct Case {
        double d;
        i32 n;
    } ok[] = {{2147483647.0, 2147483647}, {-2147483648.0, i32(-2147483647 - 1)}, {3.9, 3}, {-3.9, -3}, {0.0, 0}};
    for (const Case& c : ok) {
        cell::set_float(&f, c.d);
        EXPECT_EQ(float_::to_integer_checked(&f), c.n) << c.d;
    }
    for (double d : {2147483648.0, -2147483649.0, std::nan(""), 1e300}) {
        cell::set_float(&f, d);
        try {
            float_::to_integer_checked(&f);
            ADD_FAILURE() << d;
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "out-of-range");
            EXPECT_EQ(e.argc, 1);
            EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_FLOAT));
        }
    }
    Cell i;
    cell::init(&i, TYPE_INTEGER);
    i.w2 = u32(-7);
    EXPECT_EQ(float_::to_integer_checked(&i), -7);
}

}  // namespace
}  // namespace zir
