// block!: its text, comparison, searching, modification, copying, make and
// to, path access, the block routines, and the index hooks that hash! uses.
#include <cmath>
#include <functional>
#include <algorithm>
#include <map>

#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Block : ValueTest {};

// A block that holds itself as its last value.
Cell* self_holding(std::initializer_list<i32> values) {
    Cell* b = ints(values);
    block::zs_append(b, b);
    return b;
}

std::string refinement_named(const LanguageError& e) { return std::string(symbol::spelling(i32(e.args[0].w2))); }

// --- mold and form -----------------------------------------------------------------

TEST_F(Block, MoldText) {
    struct Case {
        Cell* value;
        MoldOptions options;
        const char* text;
    } cases[] = {
        {test::block({}), {}, "[]"},
        {ints({1, 2, 3}), {}, "[1 2 3]"},
        {test::block({int_(1), test::block({int_(2), test::block({int_(3)})}), none_(), logic_(true)}), {},
         "[1 [2 [3]] none true]"},
        {test::block({datatype_(TYPE_INTEGER), test::block({}), datatype_(TYPE_BLOCK)}), {}, "[integer! [] block!]"},
        // A first value on a new line indents the block by four spaces.
        {test::block({nl(int_(1)), nl(int_(2))}), {}, "[\n    1\n    2\n]"},
        {test::block({int_(1), nl(int_(2)), int_(3)}), {}, "[1\n2 3]"},
        {test::block({nl(int_(1)), int_(2), nl(int_(3))}), {}, "[\n    1 2\n    3\n]"},
        {test::block({nl(int_(1)), nl(test::block({nl(int_(2)), int_(3)}))}), {},
         "[\n    1\n    [\n        2 3\n    ]\n]"},
        {test::block({int_(1), test::block({nl(int_(2))})}), {}, "[1 [\n    2\n]]"},
        {test::block({int_(1), nl(test::block({nl(int_(2)), nl(int_(3))}))}), {}, "[1\n[\n    2\n    3\n]]"},
        // /only drops the outer brackets and the first line break.
        {ints({1, 2}), {true, false, false, -1}, "1 2"},
        {test::block({nl(int_(1)), nl(int_(2))}), {true, false, false, -1}, "1\n2"},
        {test::block({int_(1), test::block({int_(2)})}), {true, false, false, -1}, "1 [2]"},
        // /flat ignores new-line markers.
        {test::block({nl(int_(1)), nl(test::block({nl(int_(2))}))}), {false, false, true, -1}, "[1 [2]]"},
        {test::block({none_(), logic_(false), datatype_(TYPE_NONE)}), {false, true, false, -1},
         "[#(none) #(false) #(none!)]"},
        // /part stops molding once the limit is reached.
        {ints({1, 2, 3}), {false, false, false, 4}, "[1 2"},
        {ints({1, 2, 3}), {false, false, false, 1}, "["},
        {ints({1, 2, 3}), {false, false, false, 0}, ""},
        {test::block({nl(int_(1)), nl(int_(2))}), {false, false, false, 7}, "[\n    1"},
        {ints({10, 20}), {true, false, false, 4}, "10 2"},
        // A block met again inside itself.
        {self_holding({1}), {}, "[1 [...]]"},
        {self_holding({}), {}, "[[...]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.value, c.options), c.text) << c.text;
    EXPECT_EQ(cycles::depth(), 0) << "every walk leaves the cycle guard as it found it";
}

TEST_F(Block, MoldFromTheHeadAndOfCycles) {
    Cell* b = ints({1, 2, 3});
    EXPECT_MOLD(at_(b, 2), "[3]");
    EXPECT_MOLD(at_(b, 3), "[]");
    EXPECT_MOLD(at_(b, 9), "[]") << "a head past the tail molds as empty";
    // Two blocks holding each other.
    Cell* x = ints({1});
    Cell* y = ints({2});
    block::zs_append(x, y);
    block::zs_append(y, x);
    EXPECT_MOLD(x, "[1 [2 [...]]]");
    EXPECT_FORM(x, "1 2 ...");
    Cell* shared = ints({7});
    EXPECT_MOLD(test::block({shared, shared}), "[[7] [7]]") << "a block met twice, not inside itself, is no cycle";
}

TEST_F(Block, FormText) {
    struct Case {
        Cell* value;
        i32 part;
        const char* text;
    } cases[] = {
        {test::block({}), -1, ""},
        {test::block({int_(1), test::block({int_(2), int_(3)}), none_(), datatype_(TYPE_BLOCK)}), -1,
         "1 2 3 none block"},
        {test::block({nl(int_(1)), nl(int_(2))}), -1, "1 2"},
        {test::block({test::block({}), int_(1)}), -1, " 1"},
        {ints({1, 2, 3}), 3, "1 2"},
        {ints({1, 2, 3}), 2, "1 "},
        {self_holding({1, 2}), -1, "1 2 ..."},
    };
    for (const Case& c : cases) EXPECT_EQ(form(c.value, c.part), c.text) << c.text;

    // No space follows text that ends a line or a tab.
    for (const char* before : {"x\n", "x\t", "x\r", "x"}) {
        Cell* buffer = str(before);
        block::form(test::block({test::block({}), int_(1)}), buffer, nullptr, PART_UNLIMITED);
        std::string expected = std::string(before) + (std::string(before) == "x" ? " 1" : "1");
        EXPECT_EQ(string::to_std(buffer), expected);
    }
}

// --- Comparison --------------------------------------------------------------------

TEST_F(Block, CompareTable) {
    Cell* b = ints({1, 2});
    Cell* cyclic_a = self_holding({1});
    Cell* cyclic_b = self_holding({1});
    Cell* near_cyclic = test::block({int_(1), ints({1, 2})});
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 raw;
    } cases[] = {
        {test::block({}), test::block({}), COMP_EQUAL, 0},
        {test::block({}), test::block({}), COMP_STRICT_EQUAL, 0},
        {ints({1, 2}), ints({1, 2}), COMP_EQUAL, 0},
        {ints({1, 2}), ints({1, 3}), COMP_LESSER, -1},
        {ints({1, 3}), ints({1, 2}), COMP_SORT, 1},
        {ints({1}), ints({1, 2}), COMP_EQUAL, 1},
        {ints({1}), ints({1, 2}), COMP_LESSER, -1},
        {ints({1, 2}), ints({1}), COMP_SORT, 1},
        {test::block({}), ints({1}), COMP_SORT, -1},
        {test::block({}), ints({1}), COMP_EQUAL, 1},
        {ints({5}), ints({1, 2}), COMP_SORT, 1},
        // Values of different types order by type id (none! 3 before integer! 11).
        {ints({1}), test::block({none_()}), COMP_EQUAL, 1},
        {test::block({none_()}), ints({1}), COMP_SORT, -1},
        {ints({1}), test::block({none_()}), COMP_SORT, 1},
        {test::block({logic_(true)}), test::block({logic_(false)}), COMP_SORT, 1},
        {test::block({ints({1, 2})}), test::block({ints({1, 3})}), COMP_LESSER, -1},
        {b, b, COMP_SAME, 0},
        {b, ints({1, 2}), COMP_SAME, -1},
        {b, at_(b, 1), COMP_SAME, -1},
        {at_(b, 1), ints({2}), COMP_EQUAL, 0},
        {b, test::block({int_(1), int_(2)}, TYPE_PAREN), COMP_EQUAL, NOT_COMPARABLE},
        {cyclic_a, cyclic_b, COMP_EQUAL, 0},
        {cyclic_a, near_cyclic, COMP_EQUAL, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare_typed(c.a, c.b, c.op), c.raw) << mold(c.a) << " " << mold(c.b) << " op " << c.op;
    EXPECT_EQ(cycles::depth(), 0);
    EXPECT_TRUE(actions::compare(ints({1, 2}), ints({1, 2}), COMP_EQUAL));
    EXPECT_TRUE(actions::compare(ints({1}), ints({2}), COMP_NOT_EQUAL));
    EXPECT_EQ(error_of([&] { actions::compare(test::block({none_()}), test::block({none_()}), COMP_LESSER); }),
              "script invalid-compare") << "none cannot be ordered";
}

TEST_F(Block, PathsCompareAcrossTypesOnlyForParse) {
    Cell* p = test::block({int_(1)}, TYPE_PATH);
    Cell* lp = test::block({int_(1)}, TYPE_LIT_PATH);
    EXPECT_EQ(block::compare(p, lp, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(block::compare(p, lp, COMP_PARSE), 0);
    EXPECT_EQ(block::compare(p, lp, COMP_PARSE_CASE), 0);
    EXPECT_EQ(block::compare(p, test::block({int_(1)}, TYPE_SET_PATH), COMP_PARSE), NOT_COMPARABLE);
}

// --- find and select ------------------------------------------------------------------

struct Find {
    Cell* part = nullptr;
    bool only = false, case_ = false, same = false;
    Cell* skip = nullptr;
    bool last = false, reverse = false, tail = false, match = false;
};

// The head index find answers, or -1 for none.
i32 found(const Cell* series, Cell* value, Find f = {}) {
    Cell* s = stack::push(series);
    Cell* r = actions::find(s, value, f.part, f.only, f.case_, f.same, false, nullptr, f.skip, f.last, f.reverse,
                            f.tail, f.match);
    return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1);
}

TEST_F(Block, FindRefinements) {
    //                 0  1  2  3  4  5  6     7         8
    Cell* s = test::block({int_(1), int_(2), int_(3), int_(1), int_(2), int_(3), none_(), datatype_(TYPE_INTEGER),
                           int_(4)});
    struct Case {
        i32 head;
        Cell* value;
        Find options;
        i32 expected;
        const char* name;
    } cases[] = {
        {0, int_(2), {}, 1, "first match"},
        {2, int_(2), {}, 4, "from the head"},
        {0, int_(9), {}, -1, "absent"},
        {9, int_(4), {}, -1, "at the tail"},
        {0, int_(2), {.last = true}, 4, "/last"},
        {0, int_(2), {.tail = true}, 2, "/tail"},
        {0, int_(2), {.last = true, .tail = true}, 5, "/last /tail: one past"},
        {5, int_(2), {.reverse = true}, 4, "/reverse"},
        {4, int_(2), {.reverse = true}, 1, "/reverse starts before the head"},
        {0, int_(1), {.reverse = true}, -1, "/reverse at the head"},
        {5, int_(2), {.reverse = true, .tail = true}, 5, "/reverse /tail"},
        {0, int_(3), {.skip = int_(2)}, 2, "/skip 2 visits 0 2 4 6 8"},
        {0, int_(2), {.skip = int_(2)}, 4, "/skip 2"},
        {0, int_(1), {.skip = int_(3)}, 0, "/skip 3"},
        {0, int_(2), {.skip = int_(3)}, -1, "/skip 3 misses"},
        {0, int_(2), {.skip = int_(2), .tail = true}, 6, "/skip /tail: one record past"},
        {0, int_(1), {.skip = int_(3), .last = true}, 3, "/skip /last keeps records aligned"},
        {0, int_(1), {.skip = int_(3), .last = true, .tail = true}, 4, "backward /tail: one cell past"},
        {6, int_(3), {.skip = int_(3), .reverse = true, .tail = true}, 6, "/reverse /tail under /skip"},
        {0, int_(1), {.match = true}, 0, "/match at the head"},
        {0, int_(2), {.match = true}, -1, "/match only tries the head"},
        {0, int_(3), {.part = int_(2)}, -1, "/part 2"},
        {0, int_(3), {.part = int_(3)}, 2, "/part 3"},
        {1, int_(3), {.part = int_(1)}, -1, "/part from the head"},
        {0, int_(3), {.part = int_(0)}, -1, "/part 0"},
        {0, int_(2), {.part = int_(3), .last = true}, 1, "/part /last"},
        {0, ints({2, 3}), {}, 1, "a block is a sequence"},
        {2, ints({2, 3}), {}, 4, "sequence from the head"},
        {0, ints({2, 3}), {.tail = true}, 3, "sequence /tail"},
        {0, ints({2, 3}), {.last = true}, 4, "sequence /last"},
        {6, ints({2, 3}), {.reverse = true}, 4, "sequence /reverse"},
        {0, ints({3, 4}), {}, -1, "sequence absent"},
        {0, ints({3, 1}), {.part = int_(3)}, -1, "sequence must fit the /part"},
        {0, ints({3, 1}), {.part = int_(4)}, 2, "sequence within the /part"},
        {0, ints({2, 3}), {.only = true}, -1, "/only: the block itself"},
        {0, datatype_(TYPE_INTEGER), {}, 0, "a datatype finds its values"},
        {5, datatype_(TYPE_NONE), {}, 6, "a datatype finds its values"},
        {0, datatype_(TYPE_INTEGER), {.only = true}, 7, "/only: the datatype itself"},
        {0, datatype_(TYPE_INTEGER), {.last = true}, 8, "datatype /last"},
        {0, typeset_({TYPE_NONE, TYPE_DATATYPE}), {}, 6, "a typeset finds its values"},
        {0, none_(), {}, 6, "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(found(at_(s, c.head), c.value, c.options), c.expected) << c.name;

    // A position limits the search to the values before it.
    EXPECT_EQ(found(s, int_(3), {.part = at_(s, 2)}), -1);
    EXPECT_EQ(found(s, int_(3), {.part = at_(s, 3)}), 2);
    EXPECT_EQ(found(test::block({}), int_(1)), -1);

    // /same compares identity, plain find compares values.
    Cell* inner = ints({5});
    Cell* holder = test::block({int_(0), inner});
    Cell* twin = ints({5});
    EXPECT_EQ(found(holder, twin, {.only = true}), 1);
    EXPECT_EQ(found(holder, twin, {.only = true, .same = true}), -1);
    EXPECT_EQ(found(holder, inner, {.only = true, .same = true}), 1);
}

TEST_F(Block, FindErrors) {
    Cell* s = ints({1, 2, 3});
    try {
        found(s, int_(1), {.skip = none_()});
        ADD_FAILURE();
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "invalid-refine-arg");
        EXPECT_EQ(refinement_named(e), "skip");
    }
    try {
        found(s, int_(1), {.part = ints({1, 2, 3})});
        ADD_FAILURE();
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "invalid-refine-arg");
        EXPECT_EQ(refinement_named(e), "part");
    }
    EXPECT_EQ(error_of([&] { found(s, int_(1), {.skip = int_(0)}); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { found(s, int_(1), {.skip = int_(-3)}); }), "script out-of-range");
}

TEST_F(Block, Select) {
    Cell* s = ints({1, 10, 2, 20, 3, 30, 2});
    auto selected = [&](Cell* series, Cell* value, Find f = {}) -> std::string {
        Cell* c = stack::push(series);
        Cell* r = actions::get<action::Select>(c, ACT_SELECT)(c, value, f.part, f.only, f.case_, f.same, false,
                                                             nullptr, f.skip, f.last, f.reverse);
        return mold(r);
    };
    EXPECT_EQ(selected(s, int_(2)), "20");
    EXPECT_EQ(selected(s, int_(2), {.last = true}), "none") << "the match is the last value";
    EXPECT_EQ(selected(s, int_(30), {.last = true}), "2");
    EXPECT_EQ(selected(s, ints({2, 20})), "3") << "the value after the whole sequence";
    EXPECT_EQ(selected(s, int_(10), {.skip = int_(2)}), "none") << "10 is not a key under /skip 2";
    EXPECT_EQ(selected(s, int_(3), {.skip = int_(2)}), "30");
    EXPECT_EQ(selected(at_(s, 5), int_(2), {.reverse = true}), "20");
    EXPECT_EQ(selected(s, int_(7)), "none");
    EXPECT_EQ(selected(s, datatype_(TYPE_INTEGER)), "10");
}

// find and select on a hash! answer what they answer on a block! of the same
// cells, whether the table or a scan finds the match. /any and /with are for
// text and do not apply to blocks.
TEST_F(Block, FindAndSelectAnswerAlikeOnBlockAndHash) {
    Cell* inner = ints({1});
    Cell* twin = ints({1});
    //                        0        1        2        3        4        5         6         7        8      9
    std::initializer_list<const Cell*> cells = {int_(1), int_(2), int_(1), int_(3), int_(1), str("a"), str("A"),
                                                none_(), inner,   int_(2)};
    Cell* b = test::block(cells);
    Cell* h = hash_(cells);
    struct Case {
        i32 head;
        Cell* value;
        Find options;
        i32 at;               // find's answer (-1: none)
        const char* select;   // select's answer, or null where select has no such refinement
    } cases[] = {
        {0, int_(1), {}, 0, "2"},
        {1, int_(1), {}, 2, "3"},
        {0, int_(9), {}, -1, "none"},
        {10, int_(1), {}, -1, "none"},
        {0, int_(1), {.last = true}, 4, R"("a")"},
        {0, int_(1), {.part = int_(3), .last = true}, 2, "3"},
        {0, int_(1), {.part = int_(2), .last = true}, 0, "2"},
        {0, int_(1), {.part = at_(b, 3), .last = true}, 2, "3"},
        {1, int_(1), {.part = int_(1)}, -1, "none"},
        {0, int_(3), {.part = int_(3)}, -1, "none"},
        {0, int_(3), {.part = int_(4)}, 3, "1"},
        {3, int_(1), {.reverse = true}, 2, "3"},
        {5, int_(1), {.part = int_(1), .reverse = true}, 4, R"("a")"},
        {0, int_(1), {.reverse = true}, -1, "none"},
        {10, int_(2), {.reverse = true}, 9, "none"},
        {0, int_(1), {.skip = int_(2)}, 0, "2"},
        {1, int_(2), {.skip = int_(2)}, 1, "1"},
        {1, int_(3), {.skip = int_(3)}, -1, "none"},
        {0, int_(1), {.skip = int_(2), .last = true}, 4, R"("a")"},
        {0, int_(1), {.part = int_(4), .skip = int_(2), .last = true}, 2, "3"},
        {5, int_(1), {.skip = int_(2), .reverse = true}, 4, R"("a")"},
        {6, int_(1), {.skip = int_(2), .reverse = true}, -1, "none"},
        {6, int_(1), {.skip = int_(3), .reverse = true}, 2, "3"},
        {0, str("A"), {}, 5, R"("A")"},
        {0, str("A"), {.case_ = true}, 6, "none"},
        {0, str("a"), {.last = true}, 6, "none"},
        {0, str("a"), {.case_ = true, .last = true}, 5, R"("A")"},
        {7, str("a"), {.reverse = true}, 6, "none"},
        {7, str("A"), {.case_ = true, .reverse = true}, 6, "none"},
        {0, int_(2), {.same = true}, 1, "1"},
        {0, twin, {.only = true}, 8, "2"},
        {0, twin, {.only = true, .last = true}, 8, "2"},
        {0, inner, {.only = true, .same = true}, 8, "2"},
        {0, twin, {.only = true, .same = true}, -1, "none"},
        {0, none_(), {}, 7, "[1]"},
        {0, ints({1, 3}), {}, 2, "1"},
        {0, datatype_(TYPE_INTEGER), {.last = true}, 9, "none"},
        {0, int_(1), {.tail = true}, 1, nullptr},
        {0, int_(1), {.last = true, .tail = true}, 5, nullptr},
        {0, int_(1), {.part = int_(4), .last = true, .tail = true}, 3, nullptr},
        {3, int_(1), {.reverse = true, .tail = true}, 3, nullptr},
        {0, int_(1), {.match = true}, 0, nullptr},
        {1, int_(1), {.match = true}, -1, nullptr},
        {2, int_(1), {.tail = true, .match = true}, 3, nullptr},
    };
    // hash! is not in the action table yet: both go to block!'s entries.
    auto located = [](Cell* series, Cell* value, Find f) {
        Cell* c = stack::push(series);
        Cell* r = block::find(c, value, f.part, f.only, f.case_, f.same, false, nullptr, f.skip, f.last, f.reverse,
                              f.tail, f.match);
        return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1);
    };
    auto selected = [](Cell* series, Cell* value, Find f) {
        Cell* c = stack::push(series);
        return mold(block::select(c, value, f.part, f.only, f.case_, f.same, false, nullptr, f.skip, f.last,
                                  f.reverse));
    };
    i32 row = 0;
    for (const Case& c : cases) {
        Find on_hash = c.options;
        // A /part position is a position in the searched series itself.
        if (on_hash.part && TYPE_OF(on_hash.part) == TYPE_BLOCK) on_hash.part = at_(h, i32(on_hash.part->w1));
        EXPECT_EQ(located(at_(b, c.head), c.value, c.options), c.at) << "block!, row " << row;
        EXPECT_EQ(located(at_(h, c.head), c.value, on_hash), c.at) << "hash!, row " << row;
        if (c.select) {
            EXPECT_EQ(selected(at_(b, c.head), c.value, c.options), c.select) << "block!, row " << row;
            EXPECT_EQ(selected(at_(h, c.head), c.value, on_hash), c.select) << "hash!, row " << row;
        }
        row++;
    }

    // A block is found by its content: in a large table, whose probe for the
    // twin's identity never passes the block's own bucket, too.
    Cell* many = test::block({});
    for (i32 i = 0; i < 300; i++) block::zs_append(many, int_(i));
    block::zs_append(many, inner);
    Cell* big = stack::push(many);
    block::copy(big, big, nullptr, false, nullptr);
    big->w3 = hash_table::init(301, big->w2, hash_table::HASH, 0);
    cell::set_type(big, TYPE_HASH);
    for (Cell* series : {many, big}) {
        EXPECT_EQ(located(series, twin, {.only = true}), 300) << TYPE_OF(series);
        EXPECT_EQ(located(series, twin, {.only = true, .same = true}), -1) << TYPE_OF(series);
        EXPECT_EQ(located(series, inner, {.only = true, .same = true}), 300) << TYPE_OF(series);
    }
}

// --- insert, append, change -------------------------------------------------------------

struct Insert {
    Cell* part = nullptr;
    bool only = false;
    Cell* dup = nullptr;
};

Cell* inserted(Cell* series, Cell* value, Insert o = {}, bool append = false) {
    Cell* s = stack::push(series);
    return actions::get<action::Insert>(s, append ? ACT_APPEND : ACT_INSERT)(s, value, o.part, o.only, o.dup,
                                                                             append);
}

TEST_F(Block, InsertAndAppend) {
    struct Case {
        i32 head;
        std::initializer_list<i32> value;   // spread unless /only
        Insert options;
        bool append;
        const char* whole;
        i32 answer_head;
    } cases[] = {
        {0, {3, 4}, {}, true, "[1 2 3 4]", 0},
        {1, {3, 4}, {}, true, "[1 2 3 4]", 0},
        {0, {3, 4}, {.only = true}, true, "[1 2 [3 4]]", 0},
        {0, {7, 8}, {}, false, "[7 8 1 2]", 2},
        {1, {7, 8}, {}, false, "[1 7 8 2]", 3},
        {2, {7, 8}, {}, false, "[1 2 7 8]", 4},
        {9, {7}, {}, false, "[1 2 7]", 3},
        {0, {7, 8, 9}, {.part = int_(2)}, false, "[7 8 1 2]", 2},
        {0, {7, 8, 9}, {.part = int_(-1)}, false, "[7 8 9 1 2]", 3},
        {0, {7, 8, 9}, {.part = int_(99)}, true, "[1 2 7 8 9]", 0},
        {0, {7, 8}, {.dup = int_(3)}, true, "[1 2 7 8 7 8 7 8]", 0},
        {1, {0}, {.dup = int_(2)}, false, "[1 0 0 2]", 3},
        {0, {7}, {.dup = int_(0)}, false, "[1 2]", 0},
        {0, {}, {}, false, "[1 2]", 0},
        {1, {}, {}, true, "[1 2]", 0},
    };
    for (const Case& c : cases) {
        Cell* b = ints({1, 2});
        Cell* r = inserted(at_(b, c.head), ints(c.value), c.options, c.append);
        EXPECT_MOLD(b, c.whole) << c.whole;
        EXPECT_EQ(i32(r->w1), c.answer_head) << c.whole;
    }
    Cell* b = ints({1, 2});
    inserted(b, none_(), {.dup = int_(3)}, true);
    EXPECT_MOLD(b, "[1 2 none none none]") << "a single value";
    Cell* n = nl(ints({5}));
    inserted(b, n, {.only = true});
    EXPECT_MOLD(b, "[\n    [5] 1 2 none none none\n]") << "the inserted cell keeps its new-line flag";
}

TEST_F(Block, OneValueGoesInAlikeWithRoomOrWithout) {
    // A block with room takes one cell in place; a full one grows first.
    // Both must end the same at every position, the value's flags kept.
    auto make = [](bool roomy) {
        Cell* b = stack::push_slot();
        cell::init(b, TYPE_UNSET);
        block::make_at(b, roomy ? 8 : 3);
        for (i32 v : {1, 2, 3}) block::zs_append(b, int_(v));
        const SeriesBuffer* s = node_buffer(b->w2);
        EXPECT_EQ(s->tail + 16 <= s->size, roomy) << "the fixture has the room it claims";
        return b;
    };
    struct Case {
        i32 head;
        bool append;
        std::function<const Cell*()> value;
        Insert options;
        i32 answer_head;
    } cases[] = {
        {0, false, [] { return int_(9); }, {}, 1},
        {1, false, [] { return nl(int_(9)); }, {}, 2},
        {3, false, [] { return int_(9); }, {}, 4},
        {7, false, [] { return int_(9); }, {}, 4},
        {2, true, [] { return nl(int_(9)); }, {}, 0},
        {1, false, [] { return ints({5, 6}); }, {.only = true}, 2},
        {0, true, [] { return ints({5, 6}); }, {.only = true}, 0},
        {1, false, [] { return ints({5}); }, {}, 2},
        {1, false, [] { return int_(9); }, {.dup = int_(1)}, 2},
    };
    for (const Case& c : cases) {
        std::string molds[2];
        for (bool roomy : {false, true}) {
            Cell* b = make(roomy);
            Cell* r = inserted(at_(b, c.head), const_cast<Cell*>(c.value()), c.options, c.append);
            EXPECT_EQ(i32(r->w1), c.answer_head) << c.head << " " << roomy;
            molds[roomy] = mold(b);
        }
        EXPECT_EQ(molds[0], molds[1]) << "head " << c.head << (c.append ? " append" : " insert");
    }
    // The value may lie in the very cells that move to make room.
    for (bool roomy : {false, true}) {
        Cell* b = make(roomy);
        inserted(at_(b, 0), block::zs_abs_at(b, 0));
        inserted(at_(b, 2), block::zs_abs_at(b, 3), {}, true);
        EXPECT_MOLD(b, "[1 1 2 3 3]") << roomy;
    }
}

TEST_F(Block, InsertIntoItself) {
    Cell* b = ints({1, 2});
    inserted(b, b, {}, true);
    EXPECT_MOLD(b, "[1 2 1 2]");
    Cell* c = ints({1, 2, 3});
    inserted(at_(c, 1), c);
    EXPECT_MOLD(c, "[1 1 2 3 2 3]");
    Cell* d = ints({1, 2, 3});
    inserted(at_(d, 1), at_(d, 1), {.dup = int_(2)});
    EXPECT_MOLD(d, "[1 2 3 2 3 2 3]");
}

TEST_F(Block, DupCountOverflowIsNoMemory) {
    Cell* b = ints({1});
    EXPECT_EQ(error_of([&] { inserted(b, ints({1, 2}), {.dup = int_(0x40000000)}); }), "internal no-memory");
    EXPECT_EQ(error_of([&] { inserted(b, ints({1, 2, 3}), {.dup = int_(0x7FFFFFFF)}, true); }),
              "internal no-memory");
    EXPECT_EQ(error_of([&] {
                  Cell* s = stack::push(b);
                  block::change(s, ints({1, 2}), nullptr, false, int_(0x40000000));
              }),
              "internal no-memory");
    EXPECT_MOLD(b, "[1]") << "nothing was changed";
    inserted(b, int_(0), {.dup = int_(1000)}, true);
    EXPECT_EQ(block::zs_length_q(b), 1001);
}

TEST_F(Block, Change) {
    struct Case {
        i32 head;
        std::initializer_list<i32> value;
        Insert options;
        const char* whole;
        i32 answer_head;
    } cases[] = {
        {0, {9}, {}, "[9 2 3 4]", 1},
        {0, {8, 9}, {}, "[8 9 3 4]", 2},
        {3, {7, 8, 9}, {}, "[1 2 3 7 8 9]", 6},
        {4, {7}, {}, "[1 2 3 4 7]", 5},
        {0, {9}, {.part = int_(2)}, "[9 3 4]", 1},
        {1, {7, 8, 9}, {.part = int_(1)}, "[1 7 8 9 3 4]", 4},
        {0, {}, {.part = int_(2)}, "[3 4]", 0},
        {0, {}, {}, "[1 2 3 4]", 0},
        {1, {9}, {.part = int_(99)}, "[1 9]", 2},
        {0, {0}, {.dup = int_(3)}, "[0 0 0 4]", 3},
        {0, {5, 6}, {.part = int_(1), .dup = int_(2)}, "[5 6 5 6 2 3 4]", 4},
        {0, {7, 8}, {.only = true}, "[[7 8] 2 3 4]", 1},
        {0, {9}, {.dup = int_(0)}, "[1 2 3 4]", 0},
    };
    for (const Case& c : cases) {
        Cell* b = ints({1, 2, 3, 4});
        Cell* s = at_(b, c.head);
        Cell* r = block::change(s, ints(c.value), c.options.part, c.options.only, c.options.dup);
        EXPECT_MOLD(b, c.whole) << c.whole;
        EXPECT_EQ(i32(r->w1), c.answer_head) << c.whole;
    }
    // Changing a block with its own cells uses them as they were.
    Cell* b = ints({1, 2, 3, 4});
    block::change(stack::push(b), at_(b, 1), int_(1), false, nullptr);
    EXPECT_MOLD(b, "[2 3 4 2 3 4]");
}

// --- put, swap, trim, take ------------------------------------------------------------

TEST_F(Block, Put) {
    Cell* b = ints({1, 10, 2, 20});
    auto put = [&](Cell* key, Cell* value) { return block::put(stack::push(b), key, value, false); };
    Cell* v = int_(21);
    EXPECT_EQ(put(int_(2), v), v);
    EXPECT_MOLD(b, "[1 10 2 21]");
    put(int_(3), int_(30));
    EXPECT_MOLD(b, "[1 10 2 21 3 30]") << "an absent key is appended with its value";
    put(int_(30), int_(5));
    EXPECT_MOLD(b, "[1 10 2 21 3 30 5]") << "a key in the last cell gets a value appended";
    put(ints({1}), int_(6));
    put(ints({1}), int_(7));
    EXPECT_MOLD(b, "[1 10 2 21 3 30 5 [1] 7]") << "a block key is one value";
}

TEST_F(Block, SwapTrimTake) {
    Cell* a = ints({1, 2});
    Cell* b = ints({3, 4});
    block::swap(a, at_(b, 1));
    EXPECT_MOLD(a, "[4 2]");
    EXPECT_MOLD(b, "[3 1]");
    block::swap(a, at_(a, 1));
    EXPECT_MOLD(a, "[2 4]");
    block::swap(a, at_(b, 2));
    EXPECT_MOLD(a, "[2 4]") << "nothing at the other's head";
    EXPECT_EQ(error_of([&] { block::swap(a, int_(1)); }), "script invalid-arg");

    Cell* t = test::block({none_(), int_(1), none_(), none_(), int_(2), none_(), int_(3), none_()});
    block::trim(at_(t, 1), false, false, false, false, false, nullptr);
    EXPECT_MOLD(t, "[none 1 2 3]") << "from the head only";

    struct Case {
        i32 head;
        Cell* part;
        bool last;
        const char* taken;
        const char* left;
    } cases[] = {
        {0, nullptr, false, "1", "[2 3 4]"},
        {0, nullptr, true, "4", "[1 2 3]"},
        {0, int_(2), false, "[1 2]", "[3 4]"},
        {0, int_(2), true, "[3 4]", "[1 2]"},
        {1, int_(9), false, "[2 3 4]", "[1]"},
        {2, int_(-1), false, "[2]", "[1 3 4]"},
        {2, int_(-5), false, "[1 2]", "[3 4]"},
        {2, int_(-1), true, "[]", "[1 2 3 4]"},
        {1, int_(0), false, "[]", "[1 2 3 4]"},
        {3, nullptr, false, "4", "[1 2 3]"},
    };
    for (const Case& c : cases) {
        Cell* s = ints({1, 2, 3, 4});
        Cell* r = block::take(at_(s, c.head), c.part, false, c.last);
        EXPECT_MOLD(r, c.taken) << c.taken << " " << c.left;
        EXPECT_MOLD(s, c.left) << c.taken << " " << c.left;
    }
    Cell* s = ints({1, 2, 3, 4});
    EXPECT_MOLD(block::take(at_(s, 1), at_(s, 0), false, false), "[]") << "a position before the head";
    EXPECT_MOLD(block::take(stack::push(s), at_(s, 2), false, false), "[1 2]");
    EXPECT_MOLD(s, "[3 4]");
    EXPECT_MOLD(block::take(stack::push(s), at_(s, 1), false, true), "[4]") << "/last: from the position on";
    EXPECT_EQ(error_of([&] { block::take(stack::push(s), ints({1}), false, false); }), "script invalid-refine-arg");
    EXPECT_EQ(TYPE_OF(block::take(at_(s, 1), nullptr, false, false)), u32(TYPE_NONE));
    EXPECT_EQ(TYPE_OF(block::take(test::block({}), nullptr, false, false)), u32(TYPE_NONE));
}

TEST_F(Block, TakeDeepCopiesTheTakenSeries) {
    Cell* inner = ints({1, 2});
    Cell* s = test::block({inner, int_(3), inner});
    Cell* one = block::take(stack::push(s), nullptr, true, false);
    EXPECT_MOLD(one, "[1 2]");
    EXPECT_NE(one->w2, inner->w2);
    Cell* two = block::take(stack::push(s), int_(2), true, false);
    EXPECT_MOLD(two, "[3 [1 2]]");
    EXPECT_NE(block::zs_abs_at(two, 1)->w2, inner->w2);
    Cell* shallow = block::take(stack::push(test::block({inner})), nullptr, false, false);
    EXPECT_EQ(shallow->w2, inner->w2);
}

// --- copy ----------------------------------------------------------------------------

TEST_F(Block, CopyDeepAndTypes) {
    Cell* inner = nl(ints({2, 3}));
    Cell* b = test::block({int_(1), inner, test::block({test::block({int_(4)})})});
    Cell* r = stack::push(none_());
    actions::copy(b, r, nullptr, false, nullptr);
    EXPECT_EQ(block::zs_abs_at(r, 1)->w2, inner->w2) << "a plain copy shares nested blocks";
    actions::copy(b, r, nullptr, true, nullptr);
    EXPECT_EQ(mold(r), mold(b));
    EXPECT_NE(block::zs_abs_at(r, 1)->w2, inner->w2);
    EXPECT_TRUE(block::zs_abs_at(r, 1)->header & FLAG_NEW_LINE);
    u32 deepest = block::zs_abs_at(block::zs_abs_at(b, 2), 0)->w2;
    EXPECT_NE(block::zs_abs_at(block::zs_abs_at(r, 2), 0)->w2, deepest) << "all levels";
    actions::copy(b, r, int_(2), true, nullptr);
    EXPECT_EQ(mold(r), "[1\n[2 3]]");

    actions::copy(b, r, nullptr, false, datatype_(TYPE_BLOCK));
    EXPECT_NE(block::zs_abs_at(r, 1)->w2, inner->w2) << "/types block! copies blocks";
    EXPECT_EQ(block::zs_abs_at(block::zs_abs_at(r, 2), 0)->w2, deepest) << "shallowly without /deep";
    actions::copy(b, r, nullptr, true, typeset_({TYPE_BLOCK, TYPE_STRING}));
    EXPECT_NE(block::zs_abs_at(block::zs_abs_at(r, 2), 0)->w2, deepest);
    actions::copy(b, r, nullptr, true, datatype_(TYPE_INTEGER));
    EXPECT_EQ(block::zs_abs_at(r, 1)->w2, inner->w2) << "integer! selects no series";

    Cell* cyclic = self_holding({1});
    EXPECT_EQ(error_of([&] { actions::copy(cyclic, r, nullptr, true, nullptr); }), "internal no-cycle");
    EXPECT_EQ(cycles::depth(), 0);
    actions::copy(cyclic, r, nullptr, false, nullptr);
    EXPECT_EQ(mold(r), "[1 [1 [...]]]") << "a shallow copy holds the original";
}

// --- make and to -------------------------------------------------------------------------

TEST_F(Block, MakeAndTo) {
    auto make = [](Cell* spec, u32 type = TYPE_BLOCK) { return block::make(nullptr, spec, type); };
    auto to = [](Cell* spec, u32 type = TYPE_BLOCK) { return block::to(nullptr, spec, type); };
    Cell* m = make(int_(10));
    EXPECT_MOLD(m, "[]");
    EXPECT_GE(node_buffer(m->w2)->size, 160u);
    EXPECT_GE(node_buffer(make(int_(-5))->w2)->size, 16u) << "room for one value at least";
    EXPECT_GE(node_buffer(make(float_(3.9))->w2)->size, 48u);
    EXPECT_EQ(error_of([&] { make(float_(3e9)); }), "script out-of-range");
    EXPECT_EQ(error_of([&] { make(float_(std::nan(""))); }), "script out-of-range");

    Cell* source = ints({1, 2, 3});
    Cell* copy = make(at_(source, 1));
    EXPECT_MOLD(copy, "[2 3]");
    EXPECT_NE(copy->w2, source->w2);
    Cell* paren = make(source, TYPE_PAREN);
    EXPECT_EQ(TYPE_OF(paren), u32(TYPE_PAREN));
    EXPECT_EQ(TYPE_OF(to(source, TYPE_PATH)), u32(TYPE_PATH));
    try {
        make(none_());
        ADD_FAILURE();
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "bad-make-arg");
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_DATATYPE));
        EXPECT_EQ(e.args[0].w1, u32(TYPE_BLOCK));
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_NONE));
    }
    EXPECT_EQ(error_of([&] { make(typeset_({TYPE_NONE})); }), "script bad-make-arg");
    EXPECT_EQ(error_of([&] { make(str("1 2")); }), "script bad-make-arg");

    EXPECT_MOLD(to(int_(5)), "[5]");
    EXPECT_MOLD(to(none_()), "[none]");
    EXPECT_MOLD(to(logic_(true)), "[true]");
    EXPECT_MOLD(to(at_(source, 2)), "[3]");
    EXPECT_MOLD(to(typeset_({TYPE_INTEGER, TYPE_NONE, TYPE_BLOCK})), "[none! block! integer!]");
}

// --- Path access ---------------------------------------------------------------------------

// The answer may lie in the block: it is copied at once, as callers do.
Cell* path_get(Cell* parent, Cell* element, bool case_ = false) {
    return stack::push(
        block::eval_path(parent, element, nullptr, nullptr, nullptr, nullptr, -1, case_, true, true, false));
}

TEST_F(Block, PathAccess) {
    Cell* b = ints({1, 2, 3});
    EXPECT_MOLD(path_get(b, int_(2)), "2");
    EXPECT_MOLD(path_get(b, int_(4)), "none");
    EXPECT_MOLD(path_get(at_(b, 1), int_(-1)), "1");
    Cell* nine = int_(9);
    EXPECT_EQ(block::eval_path(b, int_(2), nine, nullptr, nullptr, nullptr, -1, false, false, true, false), nine);
    EXPECT_MOLD(b, "[1 9 3]");
    EXPECT_EQ(error_of([&] { block::eval_path(b, int_(4), nine, nullptr, nullptr, nullptr, -1, false, false, true,
                                              false); }),
              "script out-of-range");

    // Words select the value after a word of the same spelling.
    Cell* w = test::block({word("alpha", TYPE_SET_WORD), int_(1), word("beta"), int_(2), word("gamma")});
    EXPECT_MOLD(path_get(w, word("beta")), "2");
    EXPECT_MOLD(path_get(w, word("ALPHA")), "1") << "without case";
    EXPECT_MOLD(path_get(w, word("ALPHA"), true), "none") << "with case";
    EXPECT_MOLD(path_get(w, word("gamma")), "none") << "the last value has nothing after it";
    EXPECT_MOLD(path_get(w, word("delta")), "none");

    // Other keys are found as values.
    Cell* k = test::block({none_(), int_(5), logic_(true), int_(6)});
    EXPECT_MOLD(path_get(k, logic_(true)), "6");
    EXPECT_EQ(block::eval_path(k, none_(), int_(7), nullptr, nullptr, nullptr, -1, false, false, true, false)->w2, 7u);
    EXPECT_MOLD(k, "[none 7 true 6]");
    Cell* path = test::block({word("k"), logic_(false)}, TYPE_PATH);
    try {
        block::eval_path(k, logic_(false), int_(1), path, nullptr, nullptr, -1, false, false, true, false);
        ADD_FAILURE();
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "bad-path-set");
        EXPECT_EQ(e.args[0].w2, path->w2);
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_LOGIC));
    }
}

// --- Routines -------------------------------------------------------------------------

TEST_F(Block, Routines) {
    Cell* b = ints({1, 2, 3});
    EXPECT_EQ(block::zs_length_q(at_(b, 1)), 2);
    EXPECT_EQ(block::zs_length_q(at_(b, 5)), -2) << "negative past the tail";
    Cell* late = at_(b, 5);
    EXPECT_EQ(block::zs_head(late), block::zs_tail(b));
    EXPECT_EQ(late->w1, 3u);
    EXPECT_TRUE(block::zs_tail_q(late));
    EXPECT_EQ(block::zs_abs_at(b, 2)->w2, 3u);
    Cell* walker = at_(b, 1);
    EXPECT_FALSE(block::zs_next(walker));
    EXPECT_TRUE(block::zs_next(walker));
    EXPECT_TRUE(block::zs_next(walker));
    EXPECT_EQ(walker->w1, 3u);

    EXPECT_EQ(block::zs_select(b, int_(2))->w2, 3u);
    EXPECT_EQ(TYPE_OF(block::zs_select(b, int_(3))), u32(TYPE_NONE));
    block::zs_append_block(b, at_(ints({4, 5, 6}), 1));
    EXPECT_MOLD(b, "[1 2 3 5 6]");
    block::zs_remove_value(at_(b, 2), int_(1), false);
    EXPECT_MOLD(b, "[1 2 3 5 6]") << "searched from the head";
    block::zs_remove_value(at_(b, 2), int_(1), true);
    EXPECT_MOLD(b, "[2 3 5 6]");
    block::insert_value(b, int_(0), false, false);
    Cell* h = at_(b, 2);
    block::insert_value(h, int_(9), true, true);
    EXPECT_MOLD(b, "[0 2 9 3 5 6]");
    EXPECT_EQ(h->w1, 3u) << "advanced past the new value";
    block::insert_block(at_(b, 1), ints({7, 8}));
    EXPECT_MOLD(b, "[0 7 8 2 9 3 5 6]");
    block::zs_clear_from(b, 5);
    EXPECT_MOLD(b, "[0 7 8 2 9]");
    Cell* end = at_(b, 5);
    block::remove_last(end);
    EXPECT_MOLD(b, "[0 7 8 2]");
    EXPECT_EQ(end->w1, 4u) << "a head left past the tail follows it";
    block::zs_clear(at_(b, 1));
    EXPECT_MOLD(b, "[0]");
    block::remove_last(b);
    block::remove_last(b);
    EXPECT_MOLD(b, "[]");

    Cell* appended = block::zs_append(b, b);
    EXPECT_EQ(appended->w2, b->w2);
    EXPECT_MOLD(b, "[[...]]");
}

TEST_F(Block, MakersAndClone) {
    Cell c;
    cell::init(&c, TYPE_NONE);
    c.header |= FLAG_NEW_LINE;
    collector::RootCell held(c);
    block::make_at(held.get(), -3);
    EXPECT_EQ(TYPE_OF(held.get()), u32(TYPE_BLOCK));
    EXPECT_TRUE(held->header & FLAG_NEW_LINE) << "the cell keeps its flags";
    EXPECT_EQ(block::zs_length_q(held.get()), 0);
    block::make_fixed_at(held.get(), 0, false);
    EXPECT_EQ(TYPE_OF(series::head_cells(node_buffer(held->w2))), u32(TYPE_UNSET)) << "unset cells";

    Cell* parent = ints({1});
    Cell* child = block::make_in(parent, 4);
    block::zs_append(child, int_(2));
    EXPECT_MOLD(parent, "[1 [2]]");
    Cell* rooted = block::make_in(nullptr, 2);
    block::zs_append(rooted, int_(3));
    collector::do_cycle();
    EXPECT_MOLD(rooted, "[3]") << "kept by the root cell";
    Cell* only = block::push_only_star(0);
    EXPECT_EQ(stack::top - 1, only);
    EXPECT_GE(node_buffer(only->w2)->size, 16u);
    EXPECT_EQ(block::push(parent)->w2, parent->w2);

    Cell* inner = ints({2});
    Cell* p = test::block({int_(3)}, TYPE_PAREN);
    Cell* source = test::block({int_(1), inner, p}, TYPE_PAREN);
    Cell* shallow = block::clone(at_(source, 1), false, false);
    EXPECT_EQ(TYPE_OF(shallow), u32(TYPE_PAREN));
    EXPECT_EQ(block::zs_length_q(shallow), 2);
    EXPECT_EQ(block::zs_abs_at(shallow, 0)->w2, inner->w2);
    Cell* deep = block::clone(source, true, false);
    EXPECT_NE(block::zs_abs_at(deep, 1)->w2, inner->w2);
    EXPECT_EQ(block::zs_abs_at(deep, 2)->w2, p->w2) << "parens only with the any-block flag";
    Cell* deeper = block::clone(source, true, true);
    EXPECT_NE(block::zs_abs_at(deeper, 2)->w2, p->w2);
    EXPECT_EQ(error_of([&] { block::clone(self_holding({1}), true, false); }), "internal no-cycle");

    Cell* mixed = test::block({inner, int_(1), p, inner});
    block::copy_types(mixed->w2, 1, 4, 1, false, datatype_(TYPE_BLOCK));
    EXPECT_EQ(block::zs_abs_at(mixed, 0)->w2, inner->w2) << "outside the range";
    EXPECT_EQ(block::zs_abs_at(mixed, 2)->w2, p->w2) << "paren! is not selected";
    EXPECT_NE(block::zs_abs_at(mixed, 3)->w2, inner->w2);
}

// --- Index hooks ---------------------------------------------------------------------------

// A stand-in for hash!'s index: a shadow of each buffer's cells, kept only
// through the hooks. After every action it must equal the buffer.
std::map<u32, std::vector<u32>> shadows;

std::vector<u32> cells_of(u32 node) {
    std::vector<u32> v;
    SeriesBuffer* s = node_buffer(node);
    for (Cell* c = series::head_cells(s); c < series::tail_cells(s); c++) v.push_back(c->w2);
    return v;
}
void shadow_drop(const Cell* series, i32 from, i32 to) {
    std::vector<u32>& v = shadows[series->w2];
    std::vector<u32> now = cells_of(series->w2);
    for (i32 i = from; i < to; i++)
        if (size_t(i) >= v.size() || size_t(i) >= now.size() || v[size_t(i)] != now[size_t(i)])
            ADD_FAILURE() << "dropped cell " << i << " is not the indexed one";
    if (size_t(to) <= v.size()) v.erase(v.begin() + from, v.begin() + to);
}
void shadow_put(const Cell* series, i32 from, i32 to) {
    std::vector<u32>& v = shadows[series->w2];
    std::vector<u32> now = cells_of(series->w2);
    v.insert(v.begin() + from, now.begin() + from, now.begin() + to);
}
void shadow_init(Cell* series) { shadows[series->w2] = cells_of(series->w2); }

struct IndexedBlock : Block {
    action::Generic saved_row[ACTION_SLOTS];
    datatype::TypeName saved_name;
    void SetUp() override {
        Block::SetUp();
        // hash! dispatches like block! here, so that put and the typed entries reach it.
        std::memcpy(saved_row, datatype::table[TYPE_HASH], sizeof saved_row);
        saved_name = datatype::names[TYPE_HASH];
        datatype::register_(datatype::Registration(TYPE_HASH, TYPE_BLOCK, "hash!"));
    }
    void TearDown() override {
        std::memcpy(datatype::table[TYPE_HASH], saved_row, sizeof saved_row);
        datatype::names[TYPE_HASH] = saved_name;
        Block::TearDown();
    }

    // Runs every modifying action on `h` (and `other`), calling `check` after each.
    void run_steps(Cell* h, Cell* other, const std::function<void(const char*)>& check) {
        struct Step {
            const char* name;
            std::function<void()> run;
        } steps[] = {
            {"append", [&] { inserted(h, ints({7, 8}), {}, true); }},
            {"insert", [&] { inserted(at_(h, 2), ints({9}), {.dup = int_(2)}); }},
            {"change", [&] { block::change(at_(h, 1), ints({10, 11, 12}), int_(1), false, nullptr); }},
            {"change/part", [&] { block::change(at_(h, 3), int_(13), int_(3), false, nullptr); }},
            {"poke", [&] { series::poke(h, 2, int_(14), nullptr); }},
            {"remove", [&] { series::remove(at_(h, 1), int_(2), nullptr); }},
            {"reverse", [&] { series::reverse(at_(h, 1), int_(4), nullptr); }},
            {"take", [&] { block::take(at_(h, 1), nullptr, false, false); }},
            {"take/last", [&] { block::take(stack::push(h), int_(2), false, true); }},
            {"take/part back", [&] { block::take(at_(h, 3), int_(-2), false, false); }},
            {"move within", [&] { series::move(h, at_(h, 3), int_(2)); }},
            {"move across", [&] { series::move(at_(h, 1), at_(other, 1), int_(2)); }},
            {"swap within", [&] { block::swap(h, at_(h, 2)); }},
            {"swap across", [&] { block::swap(at_(h, 1), other); }},
            {"put new", [&] { block::put(stack::push(h), int_(40), int_(41), false); }},
            {"put existing", [&] { block::put(stack::push(h), int_(40), int_(42), false); }},
            {"trim", [&] {
                 series::poke(h, 1, none_(), nullptr);
                 block::trim(h, false, false, false, false, false, nullptr);
             }},
            {"routines", [&] {
                 block::zs_append(h, int_(50));
                 block::insert_value(h, int_(51), false, false);
                 block::insert_block(at_(h, 2), ints({52, 53}));
                 block::zs_remove_value(h, int_(52), true);
                 block::remove_last(h);
                 block::zs_clear_from(h, 5);
             }},
            {"random", [&] { series::random(at_(h, 1), false, false, false); }},
            {"clear", [&] { series::clear(at_(h, 2)); }},
        };
        for (const Step& s : steps) {
            s.run();
            check(s.name);
        }
    }
};

TEST_F(IndexedBlock, EveryModificationReportsTheCellsItTouches) {
    series::IndexHooks saved = series::index_hooks;
    series::index_hooks = {shadow_drop, shadow_put, shadow_init};
    shadows.clear();
    Cell* h = ints({1, 2, 3, 4, 5, 6});
    Cell* other = ints({70, 80});
    for (Cell* c : {h, other}) {
        cell::set_type(c, TYPE_HASH);
        shadow_init(c);
    }
    run_steps(h, other, [&](const char* step) {
        EXPECT_EQ(shadows[h->w2], cells_of(h->w2)) << "after " << step;
        EXPECT_EQ(shadows[other->w2], cells_of(other->w2)) << "after " << step;
    });
    Cell* taken = block::take(stack::push(other), int_(2), false, false);
    EXPECT_EQ(TYPE_OF(taken), u32(TYPE_HASH));
    EXPECT_EQ(shadows[taken->w2], cells_of(taken->w2)) << "a taken hash! is indexed anew";
    series::index_hooks = saved;
}

// Every cell is found in the table at its own index; values gone are not.
void expect_table_in_step(const Cell* h, const char* step) {
    std::vector<u32> values = cells_of(h->w2);
    for (size_t i = 0; i < values.size(); i++) {
        const Cell* cell = block::zs_abs_at(h, i32(i));
        const Cell* hit = hash_table::find(h->w3, cell, i32(i), 1, COMP_EQUAL, false, false);
        EXPECT_EQ(hit, cell) << "cell " << i << " after " << step;
    }
    for (i32 v = 0; v <= 90; v++) {
        if (std::find(values.begin(), values.end(), u32(v)) != values.end()) continue;
        Cell probe;
        cell::init(&probe, TYPE_INTEGER);
        probe.w2 = u32(v);
        EXPECT_EQ(hash_table::find(h->w3, &probe, 0, 1, COMP_EQUAL, false, false), nullptr)
            << v << " is gone after " << step;
    }
}

TEST_F(IndexedBlock, HashTablesFollowEveryModification) {
    Cell* h = hash_({int_(1), int_(2), int_(3), int_(4), int_(5), int_(6)});
    Cell* other = hash_({int_(70), int_(80)});
    run_steps(h, other, [&](const char* step) {
        expect_table_in_step(h, step);
        expect_table_in_step(other, step);
    });
    Cell* taken = block::take(stack::push(other), int_(2), false, false);
    ASSERT_NE(taken->w3, 0u);
    expect_table_in_step(taken, "take/part");
}

TEST_F(IndexedBlock, FindAndSelectUseTheTable) {
    Cell* h = hash_({int_(1), int_(2), int_(3), int_(1), int_(2), int_(3), none_()});
    EXPECT_EQ(found(h, int_(2)), 1);
    EXPECT_EQ(found(at_(h, 2), int_(2)), 4);
    EXPECT_EQ(found(h, int_(2), {.last = true}), 4);
    EXPECT_EQ(found(at_(h, 4), int_(2), {.reverse = true}), 1);
    EXPECT_EQ(found(h, int_(3), {.part = int_(2)}), -1) << "the /part limit applies to the found cell";
    EXPECT_EQ(found(h, int_(2), {.tail = true}), 2);
    EXPECT_EQ(found(h, int_(9)), -1);
    EXPECT_EQ(found(h, datatype_(TYPE_NONE)), 6) << "datatypes are searched by scanning";
    EXPECT_EQ(found(h, ints({3, 1})), 2) << "sequences too";
    block::zs_append(h, int_(9));
    EXPECT_EQ(found(h, int_(9)), 7);
    Cell* s = stack::push(h);
    EXPECT_MOLD(block::select(s, int_(3), nullptr, false, false, false, false, nullptr, nullptr, false, false), "1");
}

// --- Owners ---------------------------------------------------------------------------

std::vector<std::string> reports;
void record_report(const Cell*, const Cell*, const Cell*, i32 word, const Cell*, i32 index, i32 part) {
    reports.push_back(std::string(symbol::spelling(word)) + " " + std::to_string(index) + " " +
                      std::to_string(part));
}

TEST_F(Block, OwnedBlocksReportEveryChange) {
    ownership::on_deep_change = record_report;
    reports.clear();
    Cell* b = ints({1, 2, 3, 4});
    collector::RootCell owner;
    own(b, owner.get());

    inserted(b, int_(5), {}, true);
    inserted(at_(b, 1), ints({6, 7}));
    block::change(at_(b, 1), int_(8), nullptr, false, nullptr);
    block::put(stack::push(b), int_(2), int_(9), false);
    block::put(stack::push(b), int_(2), int_(9), false);   // the same value: no change
    block::swap(b, at_(b, 1));
    block::trim(b, false, false, false, false, false, nullptr);
    block::take(stack::push(b), nullptr, false, false);
    EXPECT_EQ(reports, (std::vector<std::string>{"append 4 1", "appended 4 1", "insert 1 2", "inserted 1 2",
                                                 "change 1 1", "changed 1 1", "put 4 1", "put-ed 4 1",
                                                 "swap 0 1", "swaped 0 1", "trim 0 7", "trimmed 0 7",
                                                 "take 0 1", "taken 0 1"}));
    EXPECT_MOLD(b, "[1 7 2 9 4 5]");
    test::restore_hooks();
    ownership::unbind(*b);
}

TEST_F(Block, OwnedSeriesWithRoomStillReportOneValue) {
    // The one-step appends and inserts are for series no owner watches: with
    // room to spare, an owned block or string still reports every change.
    ownership::on_deep_change = record_report;
    reports.clear();
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    block::make_at(b, 8);
    block::zs_append(b, int_(1));
    collector::RootCell owner;
    own(b, owner.get());
    inserted(b, int_(2), {}, true);
    inserted(at_(b, 1), int_(3));
    EXPECT_MOLD(b, "[1 3 2]");
    Cell* s = stack::push_slot();
    cell::init(s, TYPE_UNSET);
    string::make_at(s, 32, 1);
    collector::RootCell text_owner;
    own(s, text_owner.get());
    for (Cell* v : {str("ab"), int_(12)}) {
        Cell* t = stack::push(s);
        actions::get<action::Insert>(t, ACT_APPEND)(t, v, nullptr, false, nullptr, true);
    }
    EXPECT_EQ(string::to_std(s), "ab12");
    EXPECT_EQ(reports, (std::vector<std::string>{"append 1 1", "appended 1 1", "insert 1 1", "inserted 1 1",
                                                 "append 0 2", "appended 0 2", "append 2 2", "appended 2 2"}));
    test::restore_hooks();
    ownership::unbind(*b);
    ownership::unbind(*s);
}

// --- Collector safety -----------------------------------------------------------------------

TEST_F(Block, NestedBuildingSurvivesCollections) {
    // Every step allocates; in stress builds every allocation moves every buffer.
    Cell* root = test::block({});
    std::string expected = "[";
    for (i32 i = 0; i < 40; i++) {
        Cell* row = ints({i});
        inserted(row, ints({i, i + 1}), {.dup = int_(2)}, true);
        inserted(root, row, {.only = true}, true);
        Cell* last = test::block({int_(-i)});
        block::zs_append(block::zs_abs_at(root, i), last);
        expected += std::string(i ? " " : "") + "[" + std::to_string(i);
        for (int k = 0; k < 2; k++) expected += " " + std::to_string(i) + " " + std::to_string(i + 1);
        expected += " [" + std::to_string(-i) + "]]";
    }
    expected += "]";
    Cell* copy = stack::push(none_());
    actions::copy(root, copy, nullptr, true, nullptr);
    collector::do_cycle();
    EXPECT_EQ(mold(root), expected);
    EXPECT_EQ(mold(copy), expected);
    EXPECT_EQ(actions::compare_typed(root, copy, COMP_EQUAL), 0);
    Cell* taken = block::take(stack::push(copy), int_(20), true, true);
    series::reverse(taken, nullptr, nullptr);
    block::change(at_(copy, 5), taken, nullptr, false, int_(2));
    EXPECT_EQ(block::zs_length_q(copy), 45) << "15 rows replaced by 40";
    Cell* first_changed = stack::push(block::zs_abs_at(copy, 5));
    Cell* last_row = stack::push(block::zs_abs_at(root, 39));
    EXPECT_EQ(mold(first_changed), mold(last_row));
}

}  // namespace
}  // namespace zir
