// The change-handler rule: an owner's change handler is user code, run by the
// report that comes before a change, and it may clear, extend or replace the
// very series being changed. Every modifying action of block!, hash!,
// string!, binary! and vector! runs here under handlers that do that; in
// stress builds every allocation also collects and moves every buffer, so a
// number or pointer kept from before the report shows up under the
// sanitizers.
#include <algorithm>
#include <functional>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/block_sort.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/vector.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

// What the handler does at the first report it receives (the one before the
// change); at every later one it allocates and collects.
enum Handler { COLLECTS, CLEARS, APPENDS };
Handler handler = COLLECTS;
i32 reports = 0;
bool in_handler = false;

void hostile_report(const Cell*, const Cell*, const Cell* value, i32, const Cell*, i32, i32) {
    if (in_handler) return;   // the handler's own changes report too
    in_handler = true;
    Cell* mark = stack::top;
    Cell* target = stack::push(value);
    target->w1 = 0;
    if (reports++ > 0 || handler == COLLECTS) {
        memory::alloc_cells(32);
        collector::do_cycle();
    } else if (handler == CLEARS) {
        series::clear(target);
    } else if (TYPE_OF(target) == TYPE_BINARY) {
        binary::insert(target, bin("AABBCC"), nullptr, false, nullptr, true);
    } else if (TYPE_OF(target) == TYPE_VECTOR) {
        vector::insert(target, test::block({int_(6), int_(7)}), nullptr, false, nullptr, true);
    } else if (any_text_q(TYPE_OF(target))) {
        string::insert(target, str("xyz"), nullptr, false, nullptr, true);
    } else {
        block::insert(target, test::block({int_(6), none_(), int_(7)}), nullptr, false, nullptr, true);
    }
    stack::top = mark;
    in_handler = false;
}

// The whole buffer molded as a block, whatever the value's type and head;
// text as it is.
std::string whole(const Cell* series) {
    if (any_text_q(TYPE_OF(series))) return string::to_std(at_(series, 0));
    if (!any_block_q(TYPE_OF(series))) return mold(series);
    Cell* view = stack::push(series);
    cell::set_type(view, TYPE_BLOCK);
    view->w1 = 0;
    view->w3 = 0;
    return mold(view);
}

// The cells' molds in sorted order, for results in any order.
std::string cells_sorted(const Cell* series) {
    std::vector<std::string> items;
    for (i32 i = 0; i < series::zs_abs_length_q(series); i++) {
        Cell* item = stack::push(block::zs_abs_at(series, i));   // molding allocates: the buffer may move
        items.push_back(mold(item));
        stack::pop(1);
    }
    std::sort(items.begin(), items.end());
    std::string text;
    for (const std::string& s : items) text += (text.empty() ? "" : " ") + s;
    return "{" + text + "}";
}

// Every cell of a hash! is found in its table at its own index.
void expect_indexed(const Cell* h, const std::string& what) {
    ASSERT_NE(h->w3, 0u) << what;
    for (i32 i = 0; i < series::zs_abs_length_q(h); i++) {
        const Cell* c = block::zs_abs_at(h, i);
        EXPECT_EQ(hash_table::find(h->w3, c, i, 1, COMP_EQUAL, false, false), c) << what << ": cell " << i;
    }
}

std::string head_of(const Cell* c) { return std::to_string(c->w1); }

struct ChangeHandlers : ValueTest {
    collector::RootCell owner;
    void SetUp() override {
        ValueTest::SetUp();
        ownership::on_deep_change = hostile_report;
    }
    void TearDown() override {
        test::restore_hooks();
        ValueTest::TearDown();
    }
    // A table of actions on a series with one answer per handler: each row
    // runs on a fresh series made by `make` (owned here) and `other`, and its
    // answer follows the whole of the series after " => ".
    using Run = std::function<std::string(Cell* series, Cell* other)>;
    struct Row {
        const char* name;
        Run run;
        const char* expected[3];
    };
    void run_rows(const Row* rows, size_t n, const std::function<Cell*()>& make,
                  const std::function<Cell*()>& make_other, const std::string& variant) {
        const char* handler_names[] = {"collects", "clears", "appends"};
        for (Handler h : {COLLECTS, CLEARS, APPENDS}) {
            for (const Row* row = rows; row < rows + n; row++) {
                std::string what = std::string(row->name) + ", handler " + handler_names[h] + variant;
                Cell* mark = stack::top;
                Cell* s = make();
                own(s, owner.get());
                Cell* other = make_other();
                handler = h;
                reports = 0;
                std::string answer;
                try {
                    answer = row->run(s, other);
                } catch (const LanguageError& e) {
                    ADD_FAILURE() << what << ": " << e.id;
                }
                EXPECT_GE(reports, 1) << what;
                memory::alloc_cells(8);   // may reuse a node freed by mistake
                collector::do_cycle();
                EXPECT_EQ(whole(s) + " => " + answer, row->expected[h]) << what;
                ownership::unbind(*s);
                stack::top = mark;
            }
        }
    }
    // [1 2 3 4 5] of the type, owned by an object with change handlers.
    Cell* owned(u32 type) {
        Cell* b = type == TYPE_HASH ? hash_({int_(1), int_(2), int_(3), int_(4), int_(5)})
                                    : test::block({int_(1), int_(2), int_(3), int_(4), int_(5)});
        own(b, owner.get());
        return b;
    }
};

TEST_F(ChangeHandlers, EveryModifyingActionFollowsTheRule) {
    // Each row acts on `b` ([1 2 3 4 5], owned) and, where it names one,
    // `other` ([9], not owned), and answers what it has to show besides the
    // whole of `b`. The handler leaves `b` as it is (but collects), empties
    // it, or appends [6 none 7] to it, before the change.
    using Run = std::function<std::string(Cell* b, Cell* other)>;
    struct Row {
        const char* name;
        Run run;
        const char* expected[3];   // "whole of b => answer" after each handler
        bool any_order = false;    // the whole of b compared as a sorted list
    };
    auto at = [](Cell* s, i32 i) { return at_(s, i); };
    Row rows[] = {
        {"insert at 1",
         [&](Cell* b, Cell*) { return head_of(block::insert(at(b, 1), int_(9), nullptr, false, nullptr, false)); },
         {"[1 9 2 3 4 5] => 2", "[9] => 1", "[1 9 2 3 4 5 6 none 7] => 2"}},
        {"insert/dup [8 9] 2 at 4",
         [&](Cell* b, Cell*) {
             return head_of(block::insert(at(b, 4), test::block({int_(8), int_(9)}), nullptr, false, int_(2), false));
         },
         {"[1 2 3 4 8 9 8 9 5] => 8", "[8 9 8 9] => 4", "[1 2 3 4 8 9 8 9 5 6 none 7] => 8"}},
        {"append",
         [&](Cell* b, Cell*) { return head_of(block::insert(at(b, 2), int_(9), nullptr, false, nullptr, true)); },
         {"[1 2 3 4 5 9] => 0", "[9] => 0", "[1 2 3 4 5 6 none 7 9] => 0"}},
        {"change at 1",
         [&](Cell* b, Cell*) { return head_of(block::change(at(b, 1), int_(9), nullptr, false, nullptr)); },
         {"[1 9 3 4 5] => 2", "[9] => 1", "[1 9 3 4 5 6 none 7] => 2"}},
        {"change/part at 3 by 5",
         [&](Cell* b, Cell*) { return head_of(block::change(at(b, 3), int_(9), int_(5), false, nullptr)); },
         {"[1 2 3 9] => 4", "[9] => 1", "[1 2 3 9] => 4"}},
        {"put 3 9",
         [&](Cell* b, Cell*) { return mold(block::put(stack::push(b), int_(3), int_(9), false)); },
         {"[1 2 3 9 5] => 9", "[3 9] => 9", "[1 2 3 9 5 6 none 7] => 9"}},
        {"put 8 9 (a new key)",
         [&](Cell* b, Cell*) { return mold(block::put(stack::push(b), int_(8), int_(9), false)); },
         {"[1 2 3 4 5 8 9] => 9", "[8 9] => 9", "[1 2 3 4 5 6 none 7 8 9] => 9"}},
        {"swap at 1 with other",
         [&](Cell* b, Cell* other) {
             block::swap(at(b, 1), other);
             return whole(other);
         },
         {"[1 9 3 4 5] => [2]", "[] => [9]", "[1 9 3 4 5 6 none 7] => [2]"}},
        {"trim",
         [&](Cell* b, Cell*) {
             block::trim(stack::push(b), false, false, false, false, false, nullptr);
             return std::string();
         },
         {"[1 2 3 4 5] => ", "[] => ", "[1 2 3 4 5 6 7] => "}},
        {"remove/part at 1 by 2",
         [&](Cell* b, Cell*) { return head_of(series::remove(at(b, 1), int_(2), nullptr)); },
         {"[1 4 5] => 1", "[] => 1", "[1 4 5 6 none 7] => 1"}},
        {"remove at 4",
         [&](Cell* b, Cell*) { return head_of(series::remove(at(b, 4), nullptr, nullptr)); },
         {"[1 2 3 4] => 4", "[] => 4", "[1 2 3 4 6 none 7] => 4"}},
        {"remove/part at 1 by 10",
         [&](Cell* b, Cell*) { return head_of(series::remove(at(b, 1), int_(10), nullptr)); },
         {"[1] => 1", "[] => 1", "[1] => 1"}},
        {"random at 1",
         [&](Cell* b, Cell*) {
             series::random(at(b, 1), false, false, false);
             return block::zs_length_q(b) > 0 ? mold(stack::push(block::zs_abs_at(b, 0))) : std::string("none");
         },
         {"{1 2 3 4 5} => 1", "{} => none", "{1 2 3 4 5 6 7 none} => 1"},
         true},
        {"clear at 2",
         [&](Cell* b, Cell*) { return head_of(series::clear(at(b, 2))); },
         {"[1 2] => 2", "[] => 2", "[1 2] => 2"}},
        {"reverse at 1",
         [&](Cell* b, Cell*) {
             series::reverse(at(b, 1), nullptr, nullptr);
             return std::string();
         },
         {"[1 5 4 3 2] => ", "[] => ", "[1 7 none 6 5 4 3 2] => "}},
        {"reverse/part/skip at 1 by 4, records of 2",
         [&](Cell* b, Cell*) {
             series::reverse(at(b, 1), int_(4), int_(2));
             return std::string();
         },
         {"[1 4 5 2 3] => ", "[] => ", "[1 4 5 2 3 6 none 7] => "}},
        {"take at 1",
         [&](Cell* b, Cell*) { return whole(block::take(at(b, 1), nullptr, false, false)); },
         {"[1 3 4 5] => 2", "[] => none", "[1 3 4 5 6 none 7] => 2"}},
        {"take/last",
         [&](Cell* b, Cell*) { return whole(block::take(at(b, 1), nullptr, false, true)); },
         {"[1 2 3 4] => 5", "[] => none", "[1 2 3 4 5 6 none] => 7"}},
        {"take/part at 1 by 2",
         [&](Cell* b, Cell*) { return whole(block::take(at(b, 1), int_(2), false, false)); },
         {"[1 4 5] => [2 3]", "[] => []", "[1 4 5 6 none 7] => [2 3]"}},
        {"take/part at 3 by -2",
         [&](Cell* b, Cell*) { return whole(block::take(at(b, 3), int_(-2), false, false)); },
         {"[1 4 5] => [2 3]", "[] => []", "[1 4 5 6 none 7] => [2 3]"}},
        {"move at 1 to 4",
         [&](Cell* b, Cell*) { return head_of(series::move(at(b, 1), at(b, 4), nullptr)); },
         {"[1 3 4 5 2] => 4", "[] => 4", "[1 3 4 5 2 6 none 7] => 4"}},
        {"move/part at 1 by 2 into other",
         [&](Cell* b, Cell* other) {
             series::move(at(b, 1), other, int_(2));
             return whole(other);
         },
         {"[1 4 5] => [2 3 9]", "[] => [9]", "[1 4 5 6 none 7] => [2 3 9]"}},
        {"move from other to 4",
         [&](Cell* b, Cell* other) {
             series::move(other, at(b, 4), nullptr);
             return whole(other);
         },
         {"[1 2 3 4 9 5] => []", "[9] => []", "[1 2 3 4 9 5 6 none 7] => []"}},
        {"poke 2",
         [&](Cell* b, Cell*) {
             std::string error = error_of([&] { series::poke(stack::push(b), 2, int_(9), nullptr); });
             return error.empty() ? std::string("done") : error;
         },
         {"[1 9 3 4 5] => done", "[] => script out-of-range", "[1 9 3 4 5 6 none 7] => done"}},
        {"sort/reverse",
         [&](Cell* b, Cell*) {
             block::sort(stack::push(b), false, nullptr, nullptr, nullptr, false, true, false);
             return std::string();
         },
         {"[5 4 3 2 1] => ", "[] => ", "[7 6 5 4 3 2 1 none] => "}},
        {"sort/part/reverse at 1 by 2",
         [&](Cell* b, Cell*) {
             block::sort(at(b, 1), false, nullptr, nullptr, int_(2), false, true, true);
             return std::string();
         },
         {"[1 3 2 4 5] => ", "[] => ", "[1 3 2 4 5 6 none 7] => "}},
        {"sort/skip/reverse at 1, records of 2",
         [&](Cell* b, Cell*) {
             block::sort(at(b, 1), false, int_(2), nullptr, nullptr, false, true, false);
             return std::string();
         },
         {"[1 4 5 2 3] => ", "[] => ", "[1 6 none 4 5 2 3 7] => "}},
    };
    const char* handler_names[] = {"collects", "clears", "appends"};
    for (u32 type : {u32(TYPE_BLOCK), u32(TYPE_HASH)}) {
        for (Handler h : {COLLECTS, CLEARS, APPENDS}) {
            for (const Row& row : rows) {
                std::string what = std::string(row.name) + ", handler " + handler_names[h] +
                                   (type == TYPE_HASH ? ", hash!" : ", block!");
                Cell* mark = stack::top;
                Cell* b = owned(type);
                Cell* other = test::block({int_(9)});
                handler = h;
                reports = 0;
                std::string answer;
                try {
                    answer = row.run(b, other);
                } catch (const LanguageError& e) {
                    ADD_FAILURE() << what << ": " << e.id;
                }
                EXPECT_GE(reports, 1) << what;
                memory::alloc_cells(8);   // may reuse a node freed by mistake
                collector::do_cycle();
                std::string got = (row.any_order ? cells_sorted(b) : whole(b)) + " => " + answer;
                EXPECT_EQ(got, row.expected[h]) << what;
                if (type == TYPE_HASH) expect_indexed(b, what);
                ownership::unbind(*b);
                stack::top = mark;
            }
        }
    }
}

TEST_F(ChangeHandlers, EveryModifyingActionOfStringFollowsTheRule) {
    // As above, on "abcde" (owned) and `other` "9"; the handler appends "xyz".
    auto at = [](Cell* s, i32 i) { return at_(s, i); };
    auto ch = [](u32 cp) {
        Cell* c = int_(i32(cp));
        cell::set_type(c, TYPE_CHAR);
        return c;
    };
    auto text = [](const Cell* c) {
        if (TYPE_OF(c) == TYPE_NONE) return std::string("none");
        if (TYPE_OF(c) == TYPE_CHAR) return std::string(1, char(c->w2));
        return string::to_std(c);
    };
    Row rows[] = {
        {"insert at 1",
         [&](Cell* s, Cell*) { return head_of(string::insert(at(s, 1), str("XY"), nullptr, false, nullptr, false)); },
         {"aXYbcde => 3", "XY => 2", "aXYbcdexyz => 3"}},
        {"insert/dup at 4",
         [&](Cell* s, Cell*) { return head_of(string::insert(at(s, 4), str("XY"), nullptr, false, int_(2), false)); },
         {"abcdXYXYe => 8", "XYXY => 4", "abcdXYXYexyz => 8"}},
        {"insert/part of a formed value at 1",
         [&](Cell* s, Cell*) { return head_of(string::insert(at(s, 1), int_(123), int_(2), false, nullptr, false)); },
         {"a12bcde => 3", "12 => 2", "a12bcdexyz => 3"}},
        {"insert its own text at 1",
         [&](Cell* s, Cell*) { return head_of(string::insert(at(s, 1), at(s, 3), nullptr, false, nullptr, false)); },
         {"adebcde => 3", "de => 2", "adebcdexyz => 3"}},
        {"append",
         [&](Cell* s, Cell*) { return head_of(string::insert(at(s, 2), str("XY"), nullptr, false, nullptr, true)); },
         {"abcdeXY => 0", "XY => 0", "abcdexyzXY => 0"}},
        {"append/dup a formed value",
         [&](Cell* s, Cell*) { return head_of(string::insert(at(s, 2), int_(12), nullptr, false, int_(2), true)); },
         {"abcde1212 => 0", "1212 => 0", "abcdexyz1212 => 0"}},
        {"change at 1",
         [&](Cell* s, Cell*) { return head_of(string::change(at(s, 1), ch('X'), nullptr, false, nullptr)); },
         {"aXcde => 2", "X => 1", "aXcdexyz => 2"}},
        {"change/part at 3 by 5",
         [&](Cell* s, Cell*) { return head_of(string::change(at(s, 3), str("X"), int_(5), false, nullptr)); },
         {"abcX => 4", "X => 1", "abcX => 4"}},
        {"change with its own text",
         [&](Cell* s, Cell*) { return head_of(string::change(at(s, 1), at(s, 3), nullptr, false, nullptr)); },
         {"adede => 3", "de => 2", "adedexyz => 3"}},
        {"swap at 1 with other",
         [&](Cell* s, Cell* other) {
             string::swap(at(s, 1), other);
             return whole(other);
         },
         {"a9cde => b", " => 9", "a9cdexyz => b"}},
        {"trim/with",
         [&](Cell* s, Cell*) {
             string::trim(at(s, 0), false, false, false, false, false, str("bx"));
             return std::string();
         },
         {"acde => ", " => ", "acdeyz => "}},
        {"trim/lines",
         [&](Cell* s, Cell*) {
             string::trim(at(s, 0), false, false, false, true, false, nullptr);
             return std::string();
         },
         {"abcde => ", " => ", "abcdexyz => "}},
        {"trim",
         [&](Cell* s, Cell*) {
             string::trim(at(s, 1), false, false, false, false, false, nullptr);
             return std::string();
         },
         {"abcde => ", " => ", "abcdexyz => "}},
        {"move at 1 to 4",
         [&](Cell* s, Cell*) { return head_of(series::move(at(s, 1), at(s, 4), nullptr)); },
         {"acdeb => 4", " => 4", "acdebxyz => 4"}},
        {"move a wide char into other",
         [&](Cell* s, Cell* other) {
             Cell* wide = at(s, 0);
             string::poke_char(wide, 0, 0x4E2D);
             series::move(at(other, 0), at(s, 1), nullptr);
             return whole(other);
         },
         {"\u4E2D9bcde => ", "9 => ", "\u4E2D9bcdexyz => "}},
        {"take at 1",
         [&](Cell* s, Cell*) { return text(string::take(at(s, 1), nullptr, false, false)); },
         {"acde => b", " => none", "acdexyz => b"}},
        {"take/last",
         [&](Cell* s, Cell*) { return text(string::take(at(s, 1), nullptr, false, true)); },
         {"abcd => e", " => none", "abcdexy => z"}},
        {"take/part at 1 by 2",
         [&](Cell* s, Cell*) { return text(string::take(at(s, 1), int_(2), false, false)); },
         {"ade => bc", " => ", "adexyz => bc"}},
        {"sort/reverse",
         [&](Cell* s, Cell*) {
             string::sort(at(s, 0), false, nullptr, nullptr, nullptr, false, true, false);
             return std::string();
         },
         {"edcba => ", " => ", "zyxedcba => "}},
        {"sort/part/reverse at 1 by 2",
         [&](Cell* s, Cell*) {
             string::sort(at(s, 1), false, nullptr, nullptr, int_(2), false, true, true);
             return std::string();
         },
         {"acbde => ", " => ", "acbdexyz => "}},
        {"uppercase/part at 1 by 2 (told after the change)",
         [&](Cell* s, Cell*) {
             case_folding::change_string(at(s, 1), int_(2), 1);
             return std::string();
         },
         {"aBCde => ", " => ", "aBCdexyz => "}},
        {"poke 2 a wide char",
         [&](Cell* s, Cell*) {
             std::string error = error_of([&] { series::poke(at(s, 0), 2, ch(0x161), nullptr); });
             return error.empty() ? std::string("done") : error;
         },
         {"a\u0161cde => done", " => script out-of-range", "a\u0161cdexyz => done"}},
        {"remove/part at 1 by 2",
         [&](Cell* s, Cell*) { return head_of(series::remove(at(s, 1), int_(2), nullptr)); },
         {"ade => 1", " => 1", "adexyz => 1"}},
        {"reverse at 1",
         [&](Cell* s, Cell*) {
             series::reverse(at(s, 1), nullptr, nullptr);
             return std::string();
         },
         {"aedcb => ", " => ", "azyxedcb => "}},
        {"clear at 2",
         [&](Cell* s, Cell*) { return head_of(series::clear(at(s, 2))); },
         {"ab => 2", " => 2", "ab => 2"}},
    };
    for (u32 unit : {1u, 2u})
        run_rows(rows, std::size(rows), [&] { return text_series(U"abcde", unit); }, [] { return str("9"); },
                 ", unit " + std::to_string(unit));
}

TEST_F(ChangeHandlers, EveryModifyingActionOfBinaryFollowsTheRule) {
    // As above, on #{0102030405} (owned) and `other` #{09}; the handler
    // appends #{AABBCC}.
    auto at = [](Cell* b, i32 i) { return at_(b, i); };
    Row rows[] = {
        {"insert at 1",
         [&](Cell* b, Cell*) { return head_of(binary::insert(at(b, 1), bin("AB"), nullptr, false, nullptr, false)); },
         {"#{01AB02030405} => 2", "#{AB} => 1", "#{01AB02030405AABBCC} => 2"}},
        {"insert/dup at 4",
         [&](Cell* b, Cell*) { return head_of(binary::insert(at(b, 4), bin("ABCD"), nullptr, false, int_(2), false)); },
         {"#{01020304ABCDABCD05} => 8", "#{ABCDABCD} => 4", "#{01020304ABCDABCD05AABBCC} => 8"}},
        {"insert/part at 1",
         [&](Cell* b, Cell*) { return head_of(binary::insert(at(b, 1), bin("ABCDEF"), int_(2), false, nullptr, false)); },
         {"#{01ABCD02030405} => 3", "#{ABCD} => 2", "#{01ABCD02030405AABBCC} => 3"}},
        {"insert its own bytes at 1",
         [&](Cell* b, Cell*) { return head_of(binary::insert(at(b, 1), at(b, 3), nullptr, false, nullptr, false)); },
         {"#{01040502030405} => 3", "#{0405} => 2", "#{01040502030405AABBCC} => 3"}},
        {"append",
         [&](Cell* b, Cell*) { return head_of(binary::insert(at(b, 2), bin("AB"), nullptr, false, nullptr, true)); },
         {"#{0102030405AB} => 0", "#{AB} => 0", "#{0102030405AABBCCAB} => 0"}},
        {"append an integer",
         [&](Cell* b, Cell*) { return head_of(binary::insert(at(b, 2), int_(255), nullptr, false, nullptr, true)); },
         {"#{0102030405FF} => 0", "#{FF} => 0", "#{0102030405AABBCCFF} => 0"}},
        {"change at 1",
         [&](Cell* b, Cell*) { return head_of(binary::change(at(b, 1), int_(255), nullptr, false, nullptr)); },
         {"#{01FF030405} => 2", "#{FF} => 1", "#{01FF030405AABBCC} => 2"}},
        {"change/part at 3 by 5",
         [&](Cell* b, Cell*) { return head_of(binary::change(at(b, 3), bin("AB"), int_(5), false, nullptr)); },
         {"#{010203AB} => 4", "#{AB} => 1", "#{010203AB} => 4"}},
        {"change with its own bytes",
         [&](Cell* b, Cell*) { return head_of(binary::change(at(b, 1), at(b, 3), nullptr, false, nullptr)); },
         {"#{0104050405} => 3", "#{0405} => 2", "#{0104050405AABBCC} => 3"}},
        {"swap at 1 with other",
         [&](Cell* b, Cell* other) {
             string::swap(at(b, 1), other);
             return whole(other);
         },
         {"#{0109030405} => #{02}", "#{} => #{09}", "#{0109030405AABBCC} => #{02}"}},
        {"trim/with",
         [&](Cell* b, Cell*) {
             binary::trim(at(b, 0), false, false, false, false, false, bin("02AA"));
             return std::string();
         },
         {"#{01030405} => ", "#{} => ", "#{01030405BBCC} => "}},
        {"trim",
         [&](Cell* b, Cell*) {
             binary::trim(at(b, 1), false, false, false, false, false, nullptr);
             return std::string();
         },
         {"#{0102030405} => ", "#{} => ", "#{0102030405AABBCC} => "}},
        {"take at 1",
         [&](Cell* b, Cell*) { return whole(string::take(at(b, 1), nullptr, false, false)); },
         {"#{01030405} => 2", "#{} => none", "#{01030405AABBCC} => 2"}},
        {"take/part at 1 by 2",
         [&](Cell* b, Cell*) { return whole(string::take(at(b, 1), int_(2), false, false)); },
         {"#{010405} => #{0203}", "#{} => #{}", "#{010405AABBCC} => #{0203}"}},
        {"poke 2",
         [&](Cell* b, Cell*) {
             std::string error = error_of([&] { series::poke(at(b, 0), 2, int_(255), nullptr); });
             return error.empty() ? std::string("done") : error;
         },
         {"#{01FF030405} => done", "#{} => script out-of-range", "#{01FF030405AABBCC} => done"}},
        {"sort/reverse",
         [&](Cell* b, Cell*) {
             string::sort(at(b, 0), false, nullptr, nullptr, nullptr, false, true, false);
             return std::string();
         },
         {"#{0504030201} => ", "#{} => ", "#{CCBBAA0504030201} => "}},
        {"remove/part at 1 by 2",
         [&](Cell* b, Cell*) { return head_of(series::remove(at(b, 1), int_(2), nullptr)); },
         {"#{010405} => 1", "#{} => 1", "#{010405AABBCC} => 1"}},
        {"reverse at 1",
         [&](Cell* b, Cell*) {
             series::reverse(at(b, 1), nullptr, nullptr);
             return std::string();
         },
         {"#{0105040302} => ", "#{} => ", "#{01CCBBAA05040302} => "}},
        {"clear at 2",
         [&](Cell* b, Cell*) { return head_of(series::clear(at(b, 2))); },
         {"#{0102} => 2", "#{} => 2", "#{0102} => 2"}},
    };
    run_rows(rows, std::size(rows), [] { return bin("0102030405"); }, [] { return bin("09"); }, "");
    // A value that is no byte is refused before any report.
    Cell* b = bin("01");
    own(b, owner.get());
    reports = 0;
    EXPECT_EQ(error_of([&] { series::poke(b, 1, int_(256), nullptr); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { binary::insert(b, int_(-129), nullptr, false, nullptr, true); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { binary::change(b, int_(999), nullptr, false, nullptr); }), "script invalid-arg");
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(whole(b), "#{01}");
    ownership::unbind(*b);
}

TEST_F(ChangeHandlers, EveryModifyingActionOfVectorFollowsTheRule) {
    // As above, on a vector of [1 2 3 4 5] (owned); the handler appends [6 7].
    using Run = std::function<std::string(Cell* v)>;
    struct Row {
        const char* name;
        Run run;
        const char* expected[3];
    };
    auto at = [](Cell* s, i32 i) { return at_(s, i); };
    auto elements = [](const Cell* v) { return "[" + form(at_(v, 0)) + "]"; };
    auto shown = [&](const Cell* c) { return TYPE_OF(c) == TYPE_VECTOR ? elements(c) : mold(c); };
    Row rows[] = {
        {"insert at 1",
         [&](Cell* v) { return head_of(vector::insert(at(v, 1), int_(9), nullptr, false, nullptr, false)); },
         {"[1 9 2 3 4 5] => 2", "[9] => 1", "[1 9 2 3 4 5 6 7] => 2"}},
        {"insert/dup [8 9] 2 at 4",
         [&](Cell* v) {
             return head_of(vector::insert(at(v, 4), test::block({int_(8), int_(9)}), nullptr, false, int_(2), false));
         },
         {"[1 2 3 4 8 9 8 9 5] => 8", "[8 9 8 9] => 4", "[1 2 3 4 8 9 8 9 5 6 7] => 8"}},
        {"append at 2",
         [&](Cell* v) { return head_of(vector::insert(at(v, 2), int_(9), nullptr, false, nullptr, true)); },
         {"[1 2 3 4 5 9] => 2", "[9] => 2", "[1 2 3 4 5 6 7 9] => 2"}},
        {"change at 1",
         [&](Cell* v) { return head_of(vector::change(at(v, 1), int_(9), nullptr, false, nullptr)); },
         {"[1 9 3 4 5] => 2", "[9] => 1", "[1 9 3 4 5 6 7] => 2"}},
        {"change/part at 3 by 5",
         [&](Cell* v) { return head_of(vector::change(at(v, 3), int_(9), int_(5), false, nullptr)); },
         {"[1 2 3 9] => 4", "[9] => 1", "[1 2 3 9] => 4"}},
        {"change at 1 with a vector",
         [&](Cell* v) {
             Cell* other = vector::make(nullptr, test::block({int_(8), int_(9)}), TYPE_VECTOR);
             return head_of(vector::change(at(v, 1), other, nullptr, false, nullptr));
         },
         {"[1 8 9 4 5] => 3", "[8 9] => 2", "[1 8 9 4 5 6 7] => 3"}},
        {"poke 2",
         [&](Cell* v) {
             std::string error = error_of([&] { series::poke(stack::push(v), 2, int_(9), nullptr); });
             return error.empty() ? std::string("done") : error;
         },
         {"[1 9 3 4 5] => done", "[] => script out-of-range", "[1 9 3 4 5 6 7] => done"}},
        {"remove/part at 1 by 2",
         [&](Cell* v) { return head_of(series::remove(at(v, 1), int_(2), nullptr)); },
         {"[1 4 5] => 1", "[] => 1", "[1 4 5 6 7] => 1"}},
        {"take at 1",
         [&](Cell* v) { return shown(string::take(at(v, 1), nullptr, false, false)); },
         {"[1 3 4 5] => 2", "[] => none", "[1 3 4 5 6 7] => 2"}},
        {"take/last",
         [&](Cell* v) { return shown(string::take(at(v, 1), nullptr, false, true)); },
         {"[1 2 3 4] => 5", "[] => none", "[1 2 3 4 5 6] => 7"}},
        {"take/part at 1 by 2",
         [&](Cell* v) { return shown(string::take(at(v, 1), int_(2), false, false)); },
         {"[1 4 5] => [2 3]", "[] => []", "[1 4 5 6 7] => [2 3]"}},
        {"reverse at 1",
         [&](Cell* v) {
             series::reverse(at(v, 1), nullptr, nullptr);
             return std::string();
         },
         {"[1 5 4 3 2] => ", "[] => ", "[1 7 6 5 4 3 2] => "}},
        {"clear at 2",
         [&](Cell* v) { return head_of(series::clear(at(v, 2))); },
         {"[1 2] => 2", "[] => 2", "[1 2] => 2"}},
        {"sort/reverse",
         [&](Cell* v) {
             string::sort(at(v, 0), false, nullptr, nullptr, nullptr, false, true, false);
             return std::string();
         },
         {"[5 4 3 2 1] => ", "[] => ", "[7 6 5 4 3 2 1] => "}},
        {"move at 1 to 4",
         [&](Cell* v) { return head_of(series::move(at(v, 1), at(v, 4), nullptr)); },
         {"[1 3 4 5 2] => 4", "[] => 4", "[1 3 4 5 2 6 7] => 4"}},
        {"random at 1",
         [&](Cell* v) {
             series::random(at(v, 1), false, false, false);
             return mold(series::pick(v, 1, nullptr));
         },
         {"", "", ""}},
    };
    const char* handler_names[] = {"collects", "clears", "appends"};
    for (Handler h : {COLLECTS, CLEARS, APPENDS}) {
        for (const Row& row : rows) {
            std::string what = std::string(row.name) + ", handler " + handler_names[h];
            Cell* mark = stack::top;
            Cell* v = vector::make(nullptr, ints({1, 2, 3, 4, 5}), TYPE_VECTOR);
            own(v, owner.get());
            handler = h;
            reports = 0;
            std::string answer;
            try {
                answer = row.run(v);
            } catch (const LanguageError& e) {
                ADD_FAILURE() << what << ": " << e.id;
            }
            EXPECT_GE(reports, 1) << what;
            memory::alloc_cells(8);   // may reuse a node freed by mistake
            collector::do_cycle();
            if (*row.expected[h]) {
                EXPECT_EQ(elements(v) + " => " + answer, row.expected[h]) << what;
            } else {
                // A shuffle: the same elements in some order, the first in place.
                std::string got = form(at_(v, 0));
                EXPECT_EQ(got.substr(0, 1), h == CLEARS ? "" : "1") << what;
            }
            ownership::unbind(*v);
            stack::top = mark;
        }
    }
}

}  // namespace
}  // namespace zir
