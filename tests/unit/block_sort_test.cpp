// block! sort and the set operations: refinements, ordering rules, errors,
// owner reports, comparator functions through the interpreter's hook, hash!
// results and collector safety.
#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/block_sort.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/none.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

// The integers of the whole buffer.
std::vector<i32> ints_of(const Cell* b) {
    std::vector<i32> out;
    for (i32 i = 0; i < series::zs_abs_length_q(b); i++) out.push_back(i32(block::zs_abs_at(b, i)->w2));
    return out;
}

// The whole buffer molded as a block, whatever the value's type and head.
std::string mold_all(const Cell* series) {
    Cell* view = stack::push(series);
    cell::set_type(view, TYPE_BLOCK);
    view->w1 = 0;
    view->w3 = 0;
    std::string text = mold(view);
    stack::pop(1);
    return text;
}

// "category id" and, when the first argument is a word, its spelling.
template <typename F>
std::string error_named(F f) {
    try {
        f();
    } catch (const LanguageError& e) {
        std::string text = std::string(category_name(e.category)) + " " + e.id;
        if (e.argc > 0 && TYPE_OF(&e.args[0]) == TYPE_WORD) text += " " + std::string(symbol::spelling(i32(e.args[0].w2)));
        return text;
    }
    return "";
}

struct SortOptions {
    bool case_ = false;
    Cell* skip = nullptr;
    Cell* compare = nullptr;
    Cell* part = nullptr;
    bool all = false, reverse = false, stable = false;
};

// Sorts through the action table, as the `sort` action reaches block!
// (hash! is not registered yet: it is sorted by block! sort directly).
Cell* sorted(Cell* series, SortOptions o = {}) {
    auto entry = TYPE_OF(series) == TYPE_HASH ? block::sort : actions::get<action::Sort>(series, ACT_SORT);
    return entry(series, o.case_, o.skip, o.compare, o.part, o.all, o.reverse, o.stable);
}

// Runs a set operation the way the natives do: the sets in the call's first
// two argument cells, the result left in the first.
Cell* set_op(int op, const Cell* a, const Cell* b = nullptr, Cell* skip = nullptr, bool case_ = false) {
    struct Restore {
        Cell* saved = stack::arguments;
        ~Restore() { stack::arguments = saved; }
    } restore;
    Cell* first = stack::push(a);
    stack::push(b ? b : &none::value);
    stack::arguments = first;
    block::do_set_op(case_, skip, op);
    return first;
}

// Every cell of a hash! is found in its table at its own index.
void expect_indexed(const Cell* h, const char* what) {
    ASSERT_NE(h->w3, 0u) << what;
    for (i32 i = 0; i < block::zs_length_q(h); i++) {
        const Cell* c = block::zs_abs_at(h, i);
        EXPECT_EQ(hash_table::find(h->w3, c, i, 1, COMP_EQUAL, false, false), c) << what << ": cell " << i;
    }
}

struct BlockSort : ValueTest {};

// --- Sorting -------------------------------------------------------------------------------

TEST_F(BlockSort, RefinementsTable) {
    struct Case {
        Cell* block;
        i32 head;
        SortOptions options;
        const char* text;   // the whole block afterwards
    } cases[] = {
        {ints({3, 1, 2}), 0, {}, "[1 2 3]"},
        {ints({}), 0, {}, "[]"},
        {ints({2, 1}), 2, {}, "[2 1]"},
        {ints({9, 5, 4, 3}), 1, {}, "[9 3 4 5]"},
        {ints({1, 3, 2}), 0, {.reverse = true}, "[3 2 1]"},
        // /part: a count, a position, a negative count sorting the cells before the head.
        {ints({5, 4, 3, 2, 1}), 0, {.part = int_(3)}, "[3 4 5 2 1]"},
        {ints({5, 4, 3, 2, 1}), 0, {.part = int_(99)}, "[1 2 3 4 5]"},
        {ints({5, 4, 3, 2, 1}), 0, {.part = int_(0)}, "[5 4 3 2 1]"},
        {ints({5, 4, 3, 2, 1}), 3, {.part = int_(-2)}, "[5 3 4 2 1]"},
        {ints({5, 4, 3, 2, 1}), 3, {.part = int_(-9)}, "[3 4 5 2 1]"},
        {ints({5, 4, 3, 2, 1}), 0, {.part = int_(-2)}, "[5 4 3 2 1]"},
        // /skip: records compared by their first cell, /compare k by their k-th.
        {ints({3, 30, 1, 10, 2, 20}), 0, {.skip = int_(2)}, "[1 10 2 20 3 30]"},
        {ints({1, 30, 2, 10, 3, 20}), 0, {.skip = int_(2), .compare = int_(2)}, "[2 10 3 20 1 30]"},
        {ints({1, 30, 2, 10, 3, 20}), 0, {.skip = int_(2), .compare = int_(2), .reverse = true},
         "[1 30 3 20 2 10]"},
        {ints({1, 30, 2, 10, 3, 20}), 0, {.skip = int_(2), .compare = int_(1)}, "[1 30 2 10 3 20]"},
        {ints({3, 1, 2}), 0, {.skip = int_(3)}, "[3 1 2]"},
        // /all: whole records, cell after cell.
        {ints({2, 2, 1, 9, 2, 1, 1, 3}), 0, {.skip = int_(2), .all = true}, "[1 3 1 9 2 1 2 2]"},
        {ints({2, 2, 1, 9, 2, 1, 1, 3}), 0, {.skip = int_(2), .all = true, .reverse = true}, "[2 2 2 1 1 9 1 3]"},
        // Records with equal keys keep their order under /stable, also reversed.
        {ints({2, 1, 1, 2, 2, 3, 1, 4, 0, 5}), 0, {.skip = int_(2), .stable = true}, "[0 5 1 2 1 4 2 1 2 3]"},
        {ints({2, 1, 1, 2, 2, 3, 1, 4, 0, 5}), 0, {.skip = int_(2), .reverse = true, .stable = true},
         "[2 1 2 3 1 2 1 4 0 5]"},
        {ints({1, 9, 2, 8, 3, 7}), 0, {.skip = int_(2), .part = int_(4)}, "[1 9 2 8 3 7]"},
        {ints({3, 9, 2, 8, 1, 7}), 0, {.skip = int_(2), .part = int_(4)}, "[2 8 3 9 1 7]"},
    };
    for (Case& c : cases) {
        Cell* position = at_(c.block, c.head);
        Cell* answer = sorted(position, c.options);
        EXPECT_EQ(answer, position) << c.text;
        EXPECT_EQ(answer->w1, u32(c.head)) << "the series is answered at its own head: " << c.text;
        EXPECT_EQ(mold(c.block), c.text);
    }
    // /part as a position of the same series.
    Cell* b = ints({5, 4, 3, 2, 1});
    sorted(at_(b, 1), {.part = at_(b, 4)});
    EXPECT_MOLD(b, "[5 2 3 4 1]");
    sorted(at_(b, 4), {.part = at_(b, 1), .reverse = true});
    EXPECT_MOLD(b, "[5 4 3 2 1]") << "a position before the head sorts back from the head";
}

TEST_F(BlockSort, ValuesThatCannotBeComparedOrderByTypeId) {
    // none! 3, logic! 4, block! 5, integer! 11: within a type by value.
    Cell* b = test::block({int_(3), logic_(true), ints({2, 1}), none_(), int_(1), logic_(false), ints({1, 5})});
    sorted(b);
    EXPECT_MOLD(b, "[none false true [1 5] [2 1] 1 3]");
    sorted(b, {.reverse = true});
    EXPECT_MOLD(b, "[3 1 [2 1] [1 5] true false none]");
    Cell* records = test::block({int_(1), none_(), int_(1), logic_(true), int_(0), int_(4)});
    sorted(records, {.skip = int_(2), .all = true});
    EXPECT_MOLD(records, "[0 4 1 none 1 true]") << "/all reaches the second cell where the first ties";
}

TEST_F(BlockSort, AgreesWithAReferenceSort) {
    u32 seed = 12345;
    auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    std::vector<i32> values;
    for (int i = 0; i < 600; i++) values.push_back(i32(next() % 50) - 25);
    for (bool stable : {false, true}) {
        Cell* b = ints(values);
        sorted(b, {.stable = stable});
        std::vector<i32> expected = values;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ints_of(b), expected) << (stable ? "merge sort" : "quicksort");
    }
    // Records [key id]: the stable sort keeps the ids of equal keys in order;
    // the quicksort keeps every record whole.
    std::vector<std::pair<i32, i32>> records;
    std::vector<i32> flat;
    for (i32 i = 0; i < 300; i++) {
        records.push_back({i32(next() % 7), i});
        flat.push_back(records.back().first);
        flat.push_back(i);
    }
    std::vector<std::pair<i32, i32>> expected = records;
    std::stable_sort(expected.begin(), expected.end(), [](auto& x, auto& y) { return x.first < y.first; });
    for (bool stable : {false, true}) {
        Cell* b = ints(flat);
        sorted(b, {.skip = int_(2), .stable = stable});
        std::vector<i32> got = ints_of(b);
        std::vector<std::pair<i32, i32>> pairs;
        for (size_t i = 0; i < got.size(); i += 2) pairs.push_back({got[i], got[i + 1]});
        if (stable) {
            EXPECT_EQ(pairs, expected);
        } else {
            for (size_t i = 1; i < pairs.size(); i++) ASSERT_LE(pairs[i - 1].first, pairs[i].first);
            std::sort(pairs.begin(), pairs.end());
            std::vector<std::pair<i32, i32>> whole = records;
            std::sort(whole.begin(), whole.end());
            EXPECT_EQ(pairs, whole);
        }
    }
}

TEST_F(BlockSort, Errors) {
    Cell* five = ints({5, 4, 3, 2, 1});
    Cell* other = ints({1, 2});
    Cell* fn = stack::push_slot();
    cell::init(fn, TYPE_FUNCTION);
    struct Case {
        SortOptions options;
        const char* error;
    } cases[] = {
        {{.part = other}, "script invalid-refine-arg part"},
        {{.part = none_()}, "script invalid-refine-arg part"},
        {{.skip = int_(2)}, "script invalid-refine-arg skip"},
        {{.skip = int_(0)}, "script invalid-refine-arg skip"},
        {{.skip = int_(-1)}, "script invalid-refine-arg skip"},
        {{.skip = int_(6)}, "script invalid-refine-arg skip"},
        {{.skip = none_()}, "script invalid-refine-arg skip"},
        {{.skip = int_(3), .part = int_(4)}, "script invalid-refine-arg skip"},
        {{.all = true}, "script bad-refines"},
        {{.compare = int_(1)}, "script bad-refines"},
        {{.skip = int_(5), .compare = int_(1), .all = true}, "script bad-refines"},
        {{.skip = int_(5), .compare = int_(0)}, "script out-of-range"},
        {{.skip = int_(5), .compare = int_(6)}, "script out-of-range"},
        {{.compare = none_()}, "script invalid-refine-arg compare"},
        {{.compare = other}, "script invalid-refine-arg compare"},
        // Nothing to sort: nothing is checked.
        {{.skip = int_(2), .part = int_(0)}, ""},
        // The interpreter is not there to call a function.
        {{.compare = fn}, "internal not-done"},
    };
    ASSERT_EQ(block::call_comparator, nullptr);
    for (Case& c : cases) {
        EXPECT_EQ(error_named([&] { sorted(five, c.options); }), c.error);
        EXPECT_MOLD(five, "[5 4 3 2 1]") << c.error;
    }
    try {
        sorted(five, {.skip = int_(5), .compare = int_(7)});
        ADD_FAILURE() << "an offset past the record is out of range";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.args[0].w2, 7u) << "out-of-range names the offset";
    }
    EXPECT_TRUE(collector::active) << "the collector is back on after every error";
}

TEST_F(BlockSort, OwnedBlocksReportTheSortedRange) {
    static std::vector<std::string> reports;
    reports.clear();
    ownership::on_deep_change = [](const Cell*, const Cell*, const Cell*, i32 word, const Cell*, i32 index,
                                   i32 part) {
        reports.push_back(std::string(symbol::spelling(word)) + " " + std::to_string(index) + " " +
                          std::to_string(part));
    };
    Cell* b = ints({5, 4, 3, 2, 1});
    collector::RootCell owner;
    own(b, owner.get());
    sorted(b);
    sorted(at_(b, 3), {.part = int_(-2), .reverse = true});
    sorted(at_(b, 5));
    sorted(b, {.part = int_(0)});
    EXPECT_EQ(reports, (std::vector<std::string>{"sort 0 5", "sorted 0 5", "sort 1 2", "sorted 1 2"}));
    EXPECT_MOLD(b, "[1 3 2 4 5]");
    test::restore_hooks();
    ownership::unbind(*b);
}

TEST_F(BlockSort, HashIndexFollowsTheSort) {
    Cell* h = hash_({int_(3), int_(1), int_(2), int_(3), int_(0)});
    sorted(h, {.reverse = true});
    EXPECT_EQ(mold_all(h), "[3 3 2 1 0]");
    expect_indexed(h, "after sort");
}

// --- Case, through string!'s comparison ------------------------------------------------------

struct WithText : BlockSort {
    Cell* texts(std::initializer_list<const char*> items) {
        Cell* b = test::block({});
        for (const char* s : items) block::zs_append(b, str(s));
        return b;
    }
};

TEST_F(WithText, CaseSortsUpperBeforeLower) {
    Cell* b = texts({"b", "B", "a", "A"});
    sorted(b, {.stable = true});
    EXPECT_MOLD(b, R"(["a" "A" "b" "B"])");
    sorted(b, {.case_ = true});
    EXPECT_MOLD(b, R"(["A" "B" "a" "b"])");
    sorted(b, {.case_ = true, .reverse = true});
    EXPECT_MOLD(b, R"(["b" "a" "B" "A"])");
    Cell* mixed = test::block({str("x"), int_(2), none_(), str("a")});
    sorted(mixed);
    EXPECT_MOLD(mixed, R"([none "a" "x" 2])") << "string! (7) sorts before integer! (11)";
}

TEST_F(WithText, SetOperationsFoldCaseUnlessAsked) {
    struct Case {
        int op;
        Cell* a;
        Cell* b;
        bool case_;
        const char* text;
    } cases[] = {
        {block::SET_UNIQUE, texts({"a", "A", "b"}), nullptr, false, R"(["a" "b"])"},
        {block::SET_UNIQUE, texts({"a", "A", "b"}), nullptr, true, R"(["a" "A" "b"])"},
        {block::SET_INTERSECT, texts({"a", "B"}), texts({"b"}), false, R"(["B"])"},
        {block::SET_INTERSECT, texts({"a", "B"}), texts({"b"}), true, "[]"},
        {block::SET_EXCLUDE, texts({"a", "B"}), texts({"b"}), true, R"(["a" "B"])"},
        {block::SET_UNION, texts({"a"}), texts({"A", "a"}), true, R"(["a" "A"])"},
        {block::SET_UNION, texts({"a"}), texts({"A", "a"}), false, R"(["a"])"},
        {block::SET_DIFFERENCE, texts({"a", "x"}), texts({"A", "y"}), false, R"(["x" "y"])"},
        {block::SET_DIFFERENCE, texts({"a", "x"}), texts({"A", "y"}), true, R"(["a" "x" "A" "y"])"},
    };
    for (Case& c : cases) EXPECT_EQ(mold(set_op(c.op, c.a, c.b, nullptr, c.case_)), c.text);
}

// --- Comparator functions -----------------------------------------------------------------
//
// The interpreter is not there yet: a C++ hook stands in for the call of the
// function! and answers through `body`, which sees the two argument cells.

std::function<void(const Cell* first, const Cell* second, Cell* result)> body;
bool collector_was_on = false;
i32 calls = 0;

void run_body(const Cell*) {
    calls++;
    if (collector::active) collector_was_on = true;
    Cell* args = stack::arguments;
    Cell result;
    body(&args[0], &args[1], &result);
    *stack::arguments = result;
    stack::top = stack::arguments + 1;
}

struct Comparators : BlockSort {
    Cell* fn = nullptr;
    void SetUp() override {
        BlockSort::SetUp();
        fn = stack::push_slot();
        cell::init(fn, TYPE_FUNCTION);
        block::call_comparator = run_body;
        collector_was_on = false;
        calls = 0;
    }
    void TearDown() override {
        block::call_comparator = nullptr;
        body = nullptr;
        BlockSort::TearDown();
    }
};

Cell make_logic(bool v) {
    Cell c;
    cell::init(&c, TYPE_LOGIC);
    c.w1 = v;
    return c;
}

TEST_F(Comparators, ArgumentsAreHandedSecondFirst) {
    std::vector<std::pair<i32, i32>> seen;
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        seen.push_back({i32(a->w2), i32(b->w2)});
        cell::init(r, TYPE_NONE);
    };
    Cell* x = int_(1);
    Cell* y = int_(2);
    auto f = reinterpret_cast<std::intptr_t>(fn);
    Cell* top = stack::top;
    Cell* arguments = stack::arguments;
    auto frames = stack::call_top;
    block::sort_compare_with(x, y, f, 0);
    block::sort_compare_with(x, y, f, block::SORT_REVERSE);
    EXPECT_EQ(seen, (std::vector<std::pair<i32, i32>>{{2, 1}, {1, 2}}));
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(stack::arguments, arguments);
    EXPECT_EQ(stack::call_top, frames) << "the comparator's frame is closed";
}

TEST_F(Comparators, ResultsMapToAnOrder) {
    Cell answer;
    body = [&](const Cell*, const Cell*, Cell* r) { *r = answer; };
    Cell* x = int_(1);
    auto f = reinterpret_cast<std::intptr_t>(fn);
    Cell* blk = ints({});
    struct Case {
        Cell value;
        int order;
    } cases[] = {
        {make_logic(true), 1},   {make_logic(false), -1}, {*none_(), -1},      {*int_(7), 7},
        {*int_(-3), -3},         {*int_(0), 0},           {*float_(-0.5), -1}, {*float_(0.0), 0},
        {*float_(2.5), 1},       {*blk, 1},               {*datatype_(TYPE_INTEGER), 1},
    };
    for (const Case& c : cases) {
        answer = c.value;
        EXPECT_EQ(block::sort_compare_with(x, x, f, 0), c.order) << "type " << TYPE_OF(&c.value);
    }
}

TEST_F(Comparators, SortByTheFunctionsRule) {
    // func [a b] [a < b]: true when its first argument goes first.
    bool false_as_none = false;
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        bool first = i32(a->w2) < i32(b->w2);
        if (!first && false_as_none) cell::init(r, TYPE_NONE);
        else *r = make_logic(first);
    };
    for (bool stable : {false, true}) {
        for (bool as_none : {false, true}) {
            false_as_none = as_none;
            Cell* b = ints({3, 1, 5, 2, 4});
            sorted(b, {.compare = fn, .stable = stable});
            EXPECT_MOLD(b, "[1 2 3 4 5]");
            sorted(b, {.compare = fn, .reverse = true, .stable = stable});
            EXPECT_MOLD(b, "[5 4 3 2 1]");
        }
    }
    // Records: the function sees the first cell of each.
    Cell* records = ints({3, 30, 1, 10, 2, 20});
    sorted(records, {.skip = int_(2), .compare = fn});
    EXPECT_MOLD(records, "[1 10 2 20 3 30]");
    EXPECT_TRUE(collector_was_on) << "the collector stays on while a comparator runs";
}

TEST_F(Comparators, AllHandsTheRecordsAsBlocks) {
    std::vector<std::string> seen;
    i32 key = 1;
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        seen.push_back(mold(a) + " " + mold(b));
        i32 x = i32(block::zs_abs_at(a, key)->w2), y = i32(block::zs_abs_at(b, key)->w2);
        *r = make_logic(x < y);
    };
    Cell* b = ints({1, 30, 2, 10, 3, 20});
    sorted(b, {.skip = int_(2), .compare = fn, .all = true, .stable = true});
    EXPECT_MOLD(b, "[2 10 3 20 1 30]");
    ASSERT_FALSE(seen.empty());
    std::set<std::string> pairs;
    for (const char* x : {"[1 30]", "[2 10]", "[3 20]"})
        for (const char* y : {"[1 30]", "[2 10]", "[3 20]"})
            if (std::string(x) != y) pairs.insert(std::string(x) + " " + y);
    for (const std::string& s : seen) EXPECT_TRUE(pairs.count(s)) << "two whole records: " << s;
    // A larger record size after a smaller one: the blocks grow.
    Cell* wide = ints({2, 0, 0, 3, 1, 0, 0, 9});
    key = 0;
    sorted(wide, {.skip = int_(4), .compare = fn, .all = true});
    EXPECT_MOLD(wide, "[1 0 0 9 2 0 0 3]");
    key = 3;
    sorted(wide, {.skip = int_(4), .compare = fn, .all = true});
    EXPECT_MOLD(wide, "[2 0 0 3 1 0 0 9]");
}

// A block made a hash!, indexed anew.
Cell* as_hash(Cell* b) {
    b->w3 = hash_table::init(block::zs_length_q(b), b->w2, hash_table::HASH, 0);
    cell::set_type(b, TYPE_HASH);
    return b;
}

TEST_F(Comparators, ComparatorsThatAllocateAndCollectKeepTheResultRight) {
    // The collector stays on: in stress builds every allocation collects and
    // moves every buffer, the sorted block's included.
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        for (int i = 0; i < 3; i++) memory::alloc_cells(8);
        if (calls % 8 == 0) collector::do_cycle();
        *r = make_logic(i32(a->w2) < i32(b->w2));
    };
    std::vector<i32> values;
    for (i32 i = 0; i < 120; i++) values.push_back((i * 37) % 120);
    std::vector<i32> expected = values;
    std::sort(expected.begin(), expected.end());
    for (bool stable : {false, true}) {
        for (bool hash : {false, true}) {
            Cell* b = ints(values);
            // A block held by the sorted one alone, past the /part.
            Cell* mark = stack::top;
            block::zs_append(b, test::block({ints({3, 2}), ints({1})}));
            stack::top = mark;
            if (hash) as_hash(b);
            sorted(b, {.compare = fn, .part = int_(120), .stable = stable});
            std::vector<i32> got = ints_of(b);
            got.pop_back();
            EXPECT_EQ(got, expected) << (stable ? "merge sort" : "quicksort");
            collector::do_cycle();
            EXPECT_MOLD(stack::push(block::zs_abs_at(b, 120)), "[[3 2] [1]]");
            if (hash) expect_indexed(b, stable ? "merge sort" : "quicksort");
        }
    }
}

TEST_F(Comparators, TheSortedCellsStayAliveWhenTheComparatorDropsThem) {
    // Blocks held by the sorted block alone: the comparator empties it and
    // collects, then reads the blocks it is handed. Only the sort's own copy
    // keeps them alive (stress builds poison whatever dies).
    Cell* b = nullptr;
    body = [&](const Cell* x, const Cell* y, Cell* r) {
        if (calls == 1) {
            series::clear(stack::push(b));
            stack::pop(1);
            memory::alloc_cells(64);
            collector::do_cycle();
        }
        i32 kx = i32(block::zs_abs_at(x, 0)->w2), ky = i32(block::zs_abs_at(y, 0)->w2);
        *r = make_logic(kx < ky);
    };
    for (bool stable : {false, true}) {
        calls = 0;
        b = test::block({});
        Cell* mark = stack::top;
        for (i32 k : {5, 3, 9, 1, 7, 2, 8}) block::zs_append(b, ints({k, k}));
        stack::top = mark;
        sorted(b, {.compare = fn, .stable = stable});
        EXPECT_MOLD(b, "[]") << "the order goes back into what is left: nothing";
        EXPECT_GT(calls, 6);
    }
}

TEST_F(Comparators, ComparatorsThatChangeTheBlockLeaveItValid) {
    // The comparator changes the very block being sorted at its first call.
    // The sort goes on over its copy and writes the order back into the range
    // as far as the block still reaches.
    Cell* target = nullptr;
    std::function<void()> change;
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        if (calls == 1) {
            Cell* mark = stack::top;
            change();
            stack::top = mark;
        }
        *r = make_logic(i32(a->w2) < i32(b->w2));
    };
    struct Row {
        const char* name;
        std::function<void()> change;
        const char* whole;
    } rows[] = {
        {"clears it", [&] { series::clear(stack::push(target)); }, "[]"},
        {"appends to it",
         [&] { block::insert(stack::push(target), ints({7, 8}), nullptr, false, nullptr, true); },
         "[0 1 2 3 4 5 7 8]"},
        {"takes two from its head", [&] { series::take(stack::push(target), int_(2), false, false); },
         "[0 1 2 3]"},
        {"sorts it the other way",
         [&] { block::sort(stack::push(target), false, nullptr, nullptr, nullptr, false, true, false); },
         "[0 1 2 3 4 5]"},
    };
    for (const Row& row : rows) {
        for (bool stable : {false, true}) {
            for (bool hash : {false, true}) {
                std::string what = std::string(row.name) + (stable ? ", merge sort" : ", quicksort") +
                                   (hash ? ", hash!" : ", block!");
                calls = 0;
                target = ints({5, 3, 1, 4, 2, 0});
                if (hash) as_hash(target);
                change = row.change;
                sorted(target, {.compare = fn, .stable = stable});
                collector::do_cycle();
                EXPECT_EQ(mold_all(target), row.whole) << what;
                if (hash) expect_indexed(target, what.c_str());
            }
        }
    }
}

TEST_F(Comparators, ErrorsPropagateAndLeaveThingsInStep) {
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        if (calls == 4) fire(ERR_SCRIPT, "invalid-arg", a);
        *r = make_logic(i32(a->w2) < i32(b->w2));
    };
    Cell* h = hash_({int_(5), int_(3), int_(4), int_(1), int_(2), int_(0)});
    Cell* top = stack::top;
    Cell* arguments = stack::arguments;
    auto frames = stack::call_top;
    for (bool stable : {false, true}) {
        calls = 0;
        EXPECT_EQ(error_named([&] { sorted(h, {.compare = fn, .stable = stable}); }), "script invalid-arg");
        // A catching frame would unwind the comparator's frame.
        stack::call_top = frames;
        stack::arguments = arguments;
        stack::top = top;
        EXPECT_TRUE(collector::active);
        std::vector<i32> got = ints_of(h);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<i32>{0, 1, 2, 3, 4, 5})) << "the cells are a permutation of what they were";
        expect_indexed(h, stable ? "after a failed merge sort" : "after a failed quicksort");
    }
}

// --- Set operations -------------------------------------------------------------------------

TEST_F(BlockSort, SetOperationsTable) {
    Cell* none = none_();
    struct Case {
        int op;
        Cell* a;
        Cell* b;
        Cell* skip;
        const char* text;
    } cases[] = {
        {block::SET_UNIQUE, ints({1, 2, 1, 3, 2}), nullptr, nullptr, "[1 2 3]"},
        {block::SET_UNIQUE, test::block({int_(1), logic_(true), int_(1), none, logic_(false), logic_(true), none}),
         nullptr, nullptr, "[1 true none false]"},
        {block::SET_UNIQUE, ints({}), nullptr, nullptr, "[]"},
        {block::SET_UNIQUE, at_(ints({1, 2, 1, 3}), 1), nullptr, nullptr, "[2 1 3]"},
        {block::SET_UNIQUE, at_(ints({1, 2}), 7), nullptr, nullptr, "[]"},
        {block::SET_UNION, ints({1, 2, 2, 3}), ints({4, 3, 5, 4, 1}), nullptr, "[1 2 3 4 5]"},
        {block::SET_UNION, ints({}), ints({1, 1}), nullptr, "[1]"},
        {block::SET_UNION, at_(ints({9, 1}), 1), at_(ints({9, 2}), 1), nullptr, "[1 2]"},
        {block::SET_UNION, ints({1}), at_(ints({2}), 5), nullptr, "[1]"},
        {block::SET_INTERSECT, ints({1, 2, 3, 2, 4}), ints({2, 4, 6}), nullptr, "[2 4]"},
        {block::SET_INTERSECT, ints({1, 2}), ints({}), nullptr, "[]"},
        {block::SET_EXCLUDE, ints({1, 2, 3, 2, 4}), ints({2, 6}), nullptr, "[1 3 4]"},
        {block::SET_EXCLUDE, ints({1, 1}), ints({}), nullptr, "[1]"},
        {block::SET_DIFFERENCE, ints({1, 2, 3, 3}), ints({3, 4, 4, 5}), nullptr, "[1 2 4 5]"},
        {block::SET_DIFFERENCE, ints({1, 2}), ints({2, 1}), nullptr, "[]"},
        // Blocks are equal by content, not by identity.
        {block::SET_UNIQUE, test::block({ints({1}), ints({2}), ints({1})}), nullptr, nullptr, "[[1] [2]]"},
        {block::SET_INTERSECT, test::block({ints({1}), ints({3}), int_(2)}), test::block({ints({1}), int_(2)}),
         nullptr, "[[1] 2]"},
        {block::SET_EXCLUDE, test::block({ints({1}), ints({3})}), test::block({ints({1})}), nullptr, "[[3]]"},
        {block::SET_DIFFERENCE, test::block({ints({1})}), test::block({ints({1}), ints({2})}), nullptr, "[[2]]"},
        // Records of /skip values, keyed by their first value.
        {block::SET_UNIQUE, ints({1, 10, 2, 20, 1, 30}), nullptr, int_(2), "[1 10 2 20]"},
        {block::SET_UNIQUE, ints({1, 2, 2, 1}), nullptr, int_(2), "[1 2 2 1]"},
        {block::SET_UNIQUE, ints({1, 10, 2, 20, 1}), nullptr, int_(2), "[1 10 2 20]"},
        {block::SET_UNIQUE, ints({1, 10, 3}), nullptr, int_(2), "[1 10 3]"},
        {block::SET_UNIQUE, ints({1, 2, 1}), nullptr, int_(1), "[1 2]"},
        {block::SET_UNION, ints({1, 10, 2, 20}), ints({2, 99, 3, 30}), int_(2), "[1 10 2 20 3 30]"},
        {block::SET_INTERSECT, ints({1, 10, 2, 20, 3, 30}), ints({3, 0, 1, 0}), int_(2), "[1 10 3 30]"},
        {block::SET_INTERSECT, ints({5, 1, 6, 2}), ints({1, 5}), int_(2), "[]"},
        {block::SET_EXCLUDE, ints({1, 10, 2, 20, 3, 30}), ints({3, 0, 1, 0}), int_(2), "[2 20]"},
        {block::SET_DIFFERENCE, ints({1, 10, 2, 20}), ints({2, 0, 5, 50}), int_(2), "[1 10 5 50]"},
        {block::SET_UNIQUE, test::block({ints({1}), int_(0), ints({1}), int_(9)}), nullptr, int_(2), "[[1] 0]"},
    };
    for (Case& c : cases) {
        Cell before = *c.a;
        std::string original = mold_all(c.a);
        Cell* r = set_op(c.op, c.a, c.b, c.skip);
        EXPECT_EQ(mold(r), c.text) << "op " << c.op;
        EXPECT_EQ(r->w1, 0u);
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_BLOCK));
        EXPECT_NE(r->w2, before.w2) << "a new series";
        EXPECT_EQ(mold_all(c.a), original) << "the first set is left alone";
    }
}

TEST_F(BlockSort, SetOperationErrors) {
    Cell* a = ints({1, 2});
    Cell* b = ints({2});
    EXPECT_EQ(error_named([&] { set_op(block::SET_UNIQUE, a, nullptr, int_(0)); }),
              "script invalid-refine-arg skip");
    EXPECT_EQ(error_named([&] { set_op(block::SET_UNION, a, b, int_(-1)); }), "script invalid-refine-arg skip");
    EXPECT_EQ(error_named([&] { set_op(block::SET_INTERSECT, a, b, none_()); }),
              "script invalid-refine-arg skip");
    EXPECT_EQ(error_named([&] { set_op(block::SET_EXCLUDE, a, int_(2)); }), "script expect-val");
    EXPECT_EQ(error_named([&] { set_op(block::SET_UNIQUE, a, int_(2)); }), "") << "unique takes one set";
}

TEST_F(BlockSort, SetOperationResultTypes) {
    Cell* paren = test::block({int_(1), int_(1), int_(2)}, TYPE_PAREN);
    Cell* r = set_op(block::SET_UNIQUE, paren);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_PAREN)) << "the first set's type is kept";
    EXPECT_EQ(r->w3, 0u);
    EXPECT_EQ(mold_all(r), "[1 2]");

    struct Case {
        int op;
        bool first_hash, second_hash;
        bool hash;
        const char* text;
    } cases[] = {
        {block::SET_UNION, false, true, true, "[1 2 3 4]"},
        {block::SET_INTERSECT, false, true, true, "[2 3]"},
        {block::SET_EXCLUDE, false, true, true, "[1]"},
        {block::SET_DIFFERENCE, false, true, true, "[1 4]"},
        {block::SET_UNION, true, false, true, "[1 2 3 4]"},
        {block::SET_INTERSECT, true, true, true, "[2 3]"},
        {block::SET_DIFFERENCE, true, false, true, "[1 4]"},
        {block::SET_UNIQUE, true, false, true, "[1 2 3]"},
        {block::SET_UNIQUE, false, true, false, "[1 2 3]"},
    };
    for (const Case& c : cases) {
        Cell* a = c.first_hash ? hash_({int_(1), int_(2), int_(3), int_(2)}) : ints({1, 2, 3, 2});
        Cell* b = c.second_hash ? hash_({int_(2), int_(3), int_(4)}) : ints({2, 3, 4});
        Cell* out = set_op(c.op, a, b);
        EXPECT_EQ(TYPE_OF(out), u32(c.hash ? TYPE_HASH : TYPE_BLOCK)) << "op " << c.op;
        EXPECT_EQ(mold_all(out), c.text) << "op " << c.op;
        if (c.hash) expect_indexed(out, "a hash! result");
        else EXPECT_EQ(out->w3, 0u);
    }
    // A hash! result of records indexes every cell, not only the keys.
    Cell* h = set_op(block::SET_UNIQUE, hash_({int_(1), int_(7), int_(1), int_(8), int_(2), int_(7)}), nullptr,
                     int_(2));
    EXPECT_EQ(mold_all(h), "[1 7 2 7]");
    expect_indexed(h, "records");
    // Blocks inside a hash! set are compared by content too.
    Cell* nested = set_op(block::SET_INTERSECT, test::block({ints({1}), ints({2})}), hash_({ints({2})}));
    EXPECT_EQ(mold_all(nested), "[[2]]");
}

// Set operations on a few hundred values, against a reference built here:
// tables grow and chains form while every allocation may collect.
TEST_F(BlockSort, SetOperationsAgreeWithAReference) {
    u32 seed = 777;
    auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    std::vector<i32> a, b;
    for (int i = 0; i < 300; i++) a.push_back(i32(next() % 120));
    for (int i = 0; i < 200; i++) b.push_back(i32(next() % 120) + 60);
    Cell* set_a = ints(a);
    Cell* set_b = ints(b);
    for (i32 skip : {1, 2, 3}) {
        auto keys = [&](const std::vector<i32>& v) {
            std::set<i32> k;
            for (size_t i = 0; i < v.size(); i += size_t(skip)) k.insert(v[i]);
            return k;
        };
        auto walk = [&](std::vector<i32>& out, std::set<i32>& seen, const std::vector<i32>& v,
                        const std::set<i32>* other, bool wanted) {
            for (size_t i = 0; i < v.size(); i += size_t(skip)) {
                if (other && (other->count(v[i]) > 0) != wanted) continue;
                if (!seen.insert(v[i]).second) continue;
                for (size_t k = i; k < std::min(v.size(), i + size_t(skip)); k++) out.push_back(v[k]);
            }
        };
        std::set<i32> ka = keys(a), kb = keys(b);
        for (int op = block::SET_UNIQUE; op <= block::SET_DIFFERENCE; op++) {
            std::vector<i32> expected;
            std::set<i32> seen;
            switch (op) {
                case block::SET_UNIQUE: walk(expected, seen, a, nullptr, false); break;
                case block::SET_UNION:
                    walk(expected, seen, a, nullptr, false);
                    walk(expected, seen, b, nullptr, false);
                    break;
                case block::SET_INTERSECT: walk(expected, seen, a, &kb, true); break;
                case block::SET_EXCLUDE: walk(expected, seen, a, &kb, false); break;
                default:
                    walk(expected, seen, a, &kb, false);
                    walk(expected, seen, b, &ka, false);
                    break;
            }
            Cell* out = set_op(op, set_a, set_b, int_(skip));
            EXPECT_EQ(ints_of(out), expected) << "op " << op << " skip " << skip;
        }
    }
    // The same with a hash! as the first set: its own table answers membership.
    Cell* ha = hash_({});
    for (i32 v : a) block::zs_append(ha, int_(v));
    Cell* out = set_op(block::SET_DIFFERENCE, set_b, ha);
    std::vector<i32> expected;
    std::set<i32> seen, in_a(a.begin(), a.end()), in_b(b.begin(), b.end());
    for (i32 v : b)
        if (!in_a.count(v) && seen.insert(v).second) expected.push_back(v);
    for (i32 v : a)
        if (!in_b.count(v) && seen.insert(v).second) expected.push_back(v);
    EXPECT_EQ(ints_of(out), expected);
    expect_indexed(out, "a hash! difference");
}

}  // namespace
}  // namespace zir
