// hash!: make, to, mold and copy, and the index kept in step by every block
// action: after random changes a hash! finds what a scan of its cells finds,
// and a copy never changes its original (nor the other way round).
#include <functional>
#include <random>

#include "datatypes/block.hpp"
#include "datatypes/block_sort.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/string.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Hash : ValueTest {};

// The index of the first cell equal to the value from `head` on (with `last`
// the farthest), found through the table, and by a scan of the same cells.
i32 found_at(const Cell* series, Cell* value, i32 head, bool case_, bool last, bool scan) {
    Cell* position = stack::push(series);
    position->w1 = u32(head);
    if (scan) {
        cell::set_type(position, TYPE_BLOCK);
        position->w3 = 0;
    }
    Cell* r = block::find(position, value, nullptr, false, case_, false, false, nullptr, nullptr, last, false, false,
                          false);
    return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1);
}

Cell* pool_value(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: return int_(i32(rng() % 8));
        case 1: {
            const char* texts[] = {"a", "A", "b", "B", "ab"};
            return str(texts[rng() % 5]);
        }
        case 2: {
            const char* words[] = {"x", "X", "y"};
            return word(words[rng() % 3]);
        }
        default: return none_();
    }
}

// One random block action on the hash (or on any block type).
std::string random_change(std::mt19937& rng, Cell* h) {
    i32 len = series::zs_abs_length_q(h);
    Cell* at = stack::push(h);
    at->w1 = u32(len > 0 ? i32(rng() % u32(len + 1)) : 0);
    switch (rng() % 11) {
        case 0: block::insert(at, pool_value(rng), nullptr, false, nullptr, false); return "insert";
        case 1:
            block::insert(at, test::block({pool_value(rng), pool_value(rng)}), nullptr, false, int_(2), true);
            return "append/dup";
        case 2: series::remove(at, int_(i32(rng() % 3)), nullptr); return "remove/part";
        case 3: block::change(at, pool_value(rng), nullptr, false, nullptr); return "change";
        case 4: block::change(at, test::block({pool_value(rng)}), int_(2), false, nullptr); return "change/part";
        case 5: block::sort(at, rng() % 2, nullptr, nullptr, nullptr, false, rng() % 2, rng() % 2); return "sort";
        case 6: block::trim(at, false, false, false, false, false, nullptr); return "trim";
        case 7: block::take(at, rng() % 2 ? int_(2) : nullptr, false, rng() % 2); return "take";
        case 8: series::reverse(at, nullptr, nullptr); return "reverse";
        case 9:
            if (len > 0) series::poke(stack::push(h), i32(rng() % u32(len)) + 1, pool_value(rng), nullptr);
            return "poke";
        default: series::move(at, stack::push(h), nullptr); return "move";
    }
}

// The whole of a hash as a block's text.
std::string whole(const Cell* h) {
    Cell* view = stack::push(h);
    cell::set_type(view, TYPE_BLOCK);
    view->w1 = 0;
    view->w3 = 0;
    return mold(view);
}

void expect_finds_as_scan(std::mt19937& rng, const Cell* h, const std::string& what) {
    i32 len = series::zs_abs_length_q(h);
    for (int probe = 0; probe < 12; probe++) {
        Cell* mark = stack::top;
        Cell* v = pool_value(rng);
        i32 head = len > 0 ? i32(rng() % u32(len + 1)) : 0;
        bool case_ = rng() % 2, last = rng() % 3 == 0;
        i32 a = found_at(h, v, head, case_, last, false), b = found_at(h, v, head, case_, last, true);
        ASSERT_EQ(a, b) << what << ": find " << mold(v) << " from " << head << (case_ ? " /case" : "")
                        << (last ? " /last" : "") << " in " << whole(h);
        stack::top = mark;
    }
}

TEST_F(Hash, FindsWhatAScanFindsAndCopiesStayApart) {
    std::mt19937 rng(777);
    Cell* h = hash::make(nullptr, test::block({int_(1), str("a"), word("x"), int_(1)}), TYPE_HASH);
    struct Kept {
        Cell* copy;
        std::string text;
    };
    std::vector<Kept> copies;
    // Under stress every allocation collects: fewer steps keep the run short
    // while still covering every kind of change many times.
    const int steps = collector::STRESS ? 200 : 1500;
    for (int step = 0; step < steps; step++) {
        Cell* mark = stack::top;
        std::string original = whole(h);
        if (step % 25 == 0 && copies.size() < 6) {
            // Copies of the whole table and of a part, indexed afresh.
            Cell* c = rng() % 2 ? hash::copy(stack::push(h), stack::push(h), nullptr, false, nullptr)
                                : hash::copy(at_(h, i32(rng() % 3)), stack::push(h), nullptr, false, nullptr);
            mark = stack::top;
            copies.push_back({c, whole(c)});
        }
        std::string what = "step " + std::to_string(step) + " " + random_change(rng, h);
        stack::top = mark;
        expect_finds_as_scan(rng, h, what);
        if (HasFatalFailure()) return;
        for (Kept& k : copies) {
            ASSERT_EQ(whole(k.copy), k.text) << what << ": a copy changed with its original";
            if (rng() % 4 == 0) {
                std::string before = whole(h);
                random_change(rng, k.copy);
                stack::top = mark;
                ASSERT_EQ(whole(h), before) << what << ": the original changed with its copy";
                k.text = whole(k.copy);
                expect_finds_as_scan(rng, k.copy, what + " (copy)");
                if (HasFatalFailure()) return;
            }
        }
        (void)original;
    }
}

TEST_F(Hash, MakeToAndMold) {
    struct Case {
        std::function<Cell*()> make;
        const char* text;
    } cases[] = {
        {[] { return hash::make(nullptr, int_(0), TYPE_HASH); }, "make hash! []"},
        {[] { return hash::make(nullptr, float_(5.5), TYPE_HASH); }, "make hash! []"},
        {[] { return hash::make(nullptr, at_(ints({1, 2, 3}), 1), TYPE_HASH); }, "make hash! [2 3]"},
        {[] { return hash::make(nullptr, test::block({int_(1)}, TYPE_PAREN), TYPE_HASH); }, "make hash! [1]"},
        {[] { return hash::to(nullptr, int_(7), TYPE_HASH); }, "make hash! [7]"},
        {[] { return hash::to(nullptr, hash_({int_(1), int_(2)}), TYPE_HASH); }, "make hash! [1 2]"},
        {[] { return hash::make(nullptr, hash_({str("a")}), TYPE_HASH); }, "make hash! [\"a\"]"},
    };
    for (const Case& c : cases) {
        Cell* h = c.make();
        EXPECT_EQ(TYPE_OF(h), u32(TYPE_HASH)) << c.text;
        EXPECT_NE(h->w3, 0u) << c.text;
        EXPECT_MOLD(h, c.text);
    }
    EXPECT_EQ(mold(hash_({int_(1)}), {true, false, false, -1}), "[1]");
    EXPECT_EQ(mold(hash_({int_(1), int_(2)}), {false, false, false, 13}), "make hash! [1");
    EXPECT_EQ(error_of([] { hash::make(nullptr, int_(-1) , TYPE_HASH); }), "");
    EXPECT_EQ(error_of([] { hash::make(nullptr, float_(1e12), TYPE_HASH); }), "script out-of-range");
    EXPECT_EQ(actions::lookup(TYPE_HASH, ACT_RANDOM), nullptr) << "random is not offered";
    EXPECT_EQ(actions::lookup(TYPE_HASH, ACT_FIND), actions::lookup(TYPE_BLOCK, ACT_FIND));
}

TEST_F(Hash, CopyOfTheWholeTakesTheTableAndOfAPartIndexesAfresh) {
    Cell* h = hash_({int_(1), int_(2), int_(1), str("k")});
    Cell* whole_copy = hash::copy(stack::push(h), stack::push(h), nullptr, false, nullptr);
    Cell* part_copy = hash::copy(at_(h, 1), stack::push(h), nullptr, false, nullptr);
    Cell* limited = hash::copy(stack::push(h), stack::push(h), int_(2), false, nullptr);
    for (Cell* c : {whole_copy, part_copy, limited}) {
        EXPECT_EQ(TYPE_OF(c), u32(TYPE_HASH));
        EXPECT_NE(c->w3, h->w3);
        EXPECT_NE(c->w2, h->w2);
    }
    EXPECT_EQ(hash_table::record(whole_copy->w3)->buckets, hash_table::record(h->w3)->buckets);
    EXPECT_EQ(found_at(part_copy, int_(1), 0, false, false, false), 1);
    EXPECT_EQ(found_at(part_copy, str("K"), 0, false, false, false), 2);
    EXPECT_EQ(found_at(limited, str("k"), 0, false, false, false), -1);
    EXPECT_EQ(found_at(whole_copy, int_(1), 1, false, false, false), 2);
    // A deep copy copies nested blocks and still finds by value.
    Cell* nested = hash_({ints({1}), str("x")});
    Cell* deep = hash::copy(stack::push(nested), stack::push(nested), nullptr, true, nullptr);
    EXPECT_MOLD(deep, "make hash! [[1] \"x\"]");
    EXPECT_EQ(found_at(deep, str("x"), 0, false, false, false), 1);
}

TEST_F(Hash, SortAndTrimKeepEveryValueFindable) {
    Cell* h = hash_({int_(3), none_(), str("b"), int_(1), none_(), str("A"), int_(2)});
    block::trim(stack::push(h), false, false, false, false, false, nullptr);
    block::sort(stack::push(h), false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_MOLD(h, "make hash! [\"A\" \"b\" 1 2 3]") << "mixed types sort by type id";
    const char* texts[] = {"a", "b"};
    for (i32 i = 0; i < 2; i++) EXPECT_EQ(found_at(h, str(texts[i]), 0, false, false, false), i);
    for (i32 i = 1; i <= 3; i++) EXPECT_EQ(found_at(h, int_(i), 0, false, false, false), i + 1);
    EXPECT_EQ(found_at(h, none_(), 0, false, false, false), -1);
}

}  // namespace
}  // namespace zir
