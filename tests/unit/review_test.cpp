// Faults found in review of the series, block, path and typeset datatypes:
// each test shows one and stays as its regression test.
#include <cmath>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Review : ValueTest {};

// An owner whose change handler allocates and collects, as user code may.
void collecting_report(const Cell*, const Cell*, const Cell*, i32, const Cell*, i32, i32) {
    memory::alloc_cells(8);
    collector::do_cycle();
}

TEST_F(Review, TakePartKeepsItsNewSeriesAcrossTheOwnerReport) {
    Cell* b = ints({1, 2, 3, 4, 5, 6});
    collector::RootCell owner;
    own(b, owner.get());
    ownership::on_deep_change = collecting_report;
    Cell* taken = series::take(stack::push(b), int_(2), false, false);
    test::restore_hooks();
    Cell* other = ints({7, 8});   // may reuse a node freed by mistake
    EXPECT_MOLD(taken, "[1 2]");
    EXPECT_MOLD(b, "[3 4 5 6]");
    EXPECT_MOLD(other, "[7 8]");
}

TEST_F(Review, TakePartOfAHashKeepsItsNewSeriesWhileReindexing) {
    // The cells moved down are indexed again; the two 3s form a new chain,
    // which allocates (and, in stress builds, collects).
    Cell* h = hash_({int_(1), int_(2), int_(3), int_(3), int_(4)});
    Cell* taken = series::take(stack::push(h), int_(1), false, false);
    Cell* other = ints({7, 8});
    ASSERT_EQ(TYPE_OF(taken), u32(TYPE_HASH));
    Cell* seen = stack::push(taken);
    cell::set_type(seen, TYPE_BLOCK);   // hash! has no mold of its own yet
    EXPECT_MOLD(seen, "[1]");
    EXPECT_MOLD(other, "[7 8]");
}

TEST_F(Review, MakePathFromAPercentTakesItsValueAsTheCapacity) {
    auto make = [](Cell* spec) {
        return reinterpret_cast<action::Make>(actions::lookup(TYPE_PATH, ACT_MAKE))(nullptr, spec, TYPE_PATH);
    };
    struct Case {
        double percent;   // as stored: 300% is 3.0
        u32 bytes;        // room made, at least one cell
    } cases[] = {{3.0, 48}, {0.33, 16}, {2.75, 32}, {0.0, 16}};
    for (const Case& c : cases) {
        Cell* spec = float_(c.percent);
        cell::set_type(spec, TYPE_PERCENT);
        Cell* p = make(spec);
        EXPECT_EQ(TYPE_OF(p), u32(TYPE_PATH));
        EXPECT_EQ(block::zs_length_q(p), 0);
        EXPECT_EQ(node_buffer(p->w2)->size, c.bytes) << c.percent;
    }
    Cell* huge = float_(1e12);
    cell::set_type(huge, TYPE_PERCENT);
    try {
        make(huge);
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "out-of-range");
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_PERCENT)) << "the error names the make argument as given";
    }
    Cell* nan = float_(std::nan(""));
    cell::set_type(nan, TYPE_PERCENT);
    EXPECT_EQ(error_of([&] { make(nan); }), "script out-of-range");
}

// A comparison that allocates and collects on the way, as the comparisons of
// contexts and of text may: every buffer may have moved when it returns.
i32 collecting_compare(const Cell* a, const Cell* b, i32) {
    u32 x = a->w2, y = b->w2;
    memory::alloc_cells(8);
    collector::do_cycle();
    return x < y ? -1 : x > y ? 1 : 0;
}

TEST_F(Review, NestedBlocksCompareWhileTheirElementsAllocate) {
    // char! stands in for a datatype whose comparison allocates.
    struct Swap {
        action::Generic& slot = datatype::table[TYPE_CHAR][ACT_COMPARE - 1];
        action::Generic saved = slot;
        Swap() { slot = reinterpret_cast<action::Generic>(collecting_compare); }
        ~Swap() { slot = saved; }
    } swap;
    auto ch = [](u32 code) {
        Cell* c = int_(i32(code));
        cell::set_type(c, TYPE_CHAR);
        return c;
    };
    memory::alloc_cells(64);   // garbage ahead of the blocks, so that they move
    Cell* a = test::block({test::block({ch('a'), ch('b'), ch('c')})});
    Cell* b = test::block({test::block({ch('a'), ch('b'), ch('c')})});
    Cell* c = test::block({test::block({ch('a'), ch('b'), ch('d')})});
    EXPECT_EQ(actions::compare_typed(a, b, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(a, c, COMP_SORT), -1);
    EXPECT_EQ(actions::compare_typed(c, a, COMP_SORT), 1);
}

TEST_F(Review, PathTextReadsEachElementAfterWritingTheSlash) {
    // The text grows many times on the way, at a "/" too; stress builds move
    // every buffer then, the path's and the block's holding it (the path is
    // molded where it lies) included.
    Cell* path = test::block({}, TYPE_PATH);
    std::string expected;
    for (i32 i = 0; i < 400; i++) {
        block::zs_append(path, int_(i));
        expected += (i ? "/" : "") + std::to_string(i);
    }
    Cell* holder = test::block({path});
    Cell* text = stack::push_slot();
    cell::init(text, TYPE_UNSET);
    for (bool form : {false, true}) {
        string::make_at(text, 1, 1);
        const Cell* held = block::zs_abs_at(holder, 0);
        if (form) actions::form(held, text, nullptr, PART_UNLIMITED);
        else actions::mold(held, text, false, false, false, nullptr, PART_UNLIMITED, 0);
        EXPECT_EQ(string::to_std(text), expected) << (form ? "form" : "mold");
    }
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

// An owner whose change handler drops the only other reference to what is
// being inserted, then collects: the cells on their way in must survive.
Cell* dropped_source = nullptr;
void dropping_report(const Cell*, const Cell*, const Cell*, i32, const Cell*, i32, i32) {
    if (dropped_source) block::zs_clear(dropped_source);
    collector::do_cycle();
}

TEST_F(Review, InsertedCellsSurviveAnOwnerThatDropsTheirSource) {
    for (bool append : {true, false}) {
        Cell* target = test::block({int_(1)});
        collector::RootCell owner;
        own(target, owner.get());
        // The inner blocks are held by the source block only.
        Cell* mark = stack::top;
        collector::RootCell source(*test::block({test::block({int_(7), int_(8)}), test::block({int_(9)})}));
        stack::top = mark;
        dropped_source = source.get();
        ownership::on_deep_change = dropping_report;
        block::insert(stack::push(target), source.get(), nullptr, false, nullptr, append);
        test::restore_hooks();
        dropped_source = nullptr;
        Cell* other = test::block({int_(5), int_(6)});   // may reuse a node freed by mistake
        EXPECT_MOLD(target, append ? "[1 [7 8] [9]]" : "[[7 8] [9] 1]");
        EXPECT_MOLD(other, "[5 6]");
    }
}

}  // namespace
}  // namespace zir
