// bitset!: the spec dialect, membership within and beyond the stored bytes,
// the complement, the bitwise and set operations, the text that reads back,
// and the owner's reports. Random runs check every operation against a plain
// model of the set.
#include <random>
#include <set>
#include <vector>

#include "datatypes/bitset.hpp"
#include "datatypes/char.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

template <u32 S>
typename datatype::SlotSig<S>::type act() {
    return action_of<S>(TYPE_BITSET);
}

Cell* ch(u32 cp) { return char_::push(cp); }

// A value's mold for a failure message; specs may hold values that cannot be
// molded yet (floats, binaries).
std::string show(const Cell* c) {
    try {
        return mold(c);
    } catch (const LanguageError&) {
        return std::string("a ") + datatype::name_of(TYPE_OF(c));
    }
}

Cell* make_bs(const Cell* spec) { return convert(TYPE_BITSET, spec, ACT_MAKE); }
Cell* to_bs(const Cell* spec) { return convert(TYPE_BITSET, spec); }

bool pick(Cell* bs, const Cell* index) {
    Cell* r = act<ACT_PICK>()(bs, 0, stack::push(index));
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_LOGIC));
    return r->w1 != 0;
}
bool has(const Cell* bs, i64 n) { return bitset::has_q(bs, n); }

// The members below `limit`, and whether the bits beyond count as members.
std::string members(const Cell* bs, i64 limit = 300) {
    std::string s;
    for (i64 n = 0; n < limit; n++)
        if (has(bs, n)) s += (s.empty() ? "" : " ") + std::to_string(n);
    return s + (has(bs, 1000000) ? " ..." : "");
}

Cell* append(Cell* bs, const Cell* spec) {
    return act<ACT_APPEND>()(bs, stack::push(spec), nullptr, false, nullptr, true);
}
Cell* remove(Cell* bs, const Cell* spec) { return act<ACT_REMOVE>()(bs, stack::push(spec), nullptr); }

// A set operation or bitwise action (math-op code) on two bitsets; answers the
// result cell.
Cell* combine(i32 code, const Cell* a, const Cell* b) {
    Cell* saved = stack::arguments;
    Cell* args = stack::push(a);
    stack::push(b);
    stack::arguments = args;
    bitset::do_bitwise(code);
    stack::arguments = saved;
    stack::top = args + 1;
    return args;
}

struct Bitsets : ValueTest {};

// --- Making ----------------------------------------------------------------------

TEST_F(Bitsets, MakeFromTheSpecDialect) {
    struct Case {
        const Cell* spec;
        const char* members;
        i32 length;
        i64 limit = 300;   // members shown below it
    } cases[] = {
        {str("ABC"), "65 66 67", 72},                                    // bit 67 lies in byte 8
        {block({ch('a'), word("-"), ch('c'), ch('x')}), "97 98 99 120", 128},
        {block({int_(3), word("-"), int_(5), int_(0)}), "0 3 4 5", 8},
        {block({int_(7), word("-"), int_(7)}), "7", 8},
        {block({float_(9.9), float_(0.5)}), "0 9", 16},                  // floats truncate
        {block({block({int_(1), block({str("\x02")})}), int_(8)}), "1 2 8", 16},
        {block({}), "", 8},
        {str(""), "", 8},
        {int_(65), "", 72},                                               // a size in bits: 9 bytes
        {int_(0), "", 0},
        {float_(16.9), "", 16},
        {binary_({0x80, 0x01}), "0 15", 16},
        {block({word("not"), binary_({0x7F})}), "0 8 9 ...", 8, 10},      // bytes inverted
        {block({word("not")}), "0 1 2 3 4 5 6 7 8 9 ...", 8, 10},
    };
    for (const Case& c : cases) {
        Cell* bs = make_bs(c.spec);
        ASSERT_EQ(TYPE_OF(bs), u32(TYPE_BITSET)) << show(c.spec);
        EXPECT_EQ(members(bs, c.limit), c.members) << show(c.spec);
        EXPECT_EQ(act<ACT_LENGTH_Q>()(bs), c.length) << show(c.spec);
    }
}

TEST_F(Bitsets, NotMakesTheComplement) {
    Cell* bs = make_bs(block({word("not"), str("a")}));
    EXPECT_TRUE(pick(bs, ch('b')));
    EXPECT_TRUE(pick(bs, int_(100000))) << "beyond the stored bytes";
    EXPECT_FALSE(pick(bs, ch('a')));
    EXPECT_FALSE(pick(bs, str("ab")));
    EXPECT_TRUE(pick(bs, str("bc")));
    EXPECT_EQ(act<ACT_LENGTH_Q>()(bs), 104);
    EXPECT_TRUE(bitset::complemented_q(bs));
}

TEST_F(Bitsets, ToAndCopyFromABitset) {
    Cell* a = make_bs(block({word("not"), int_(3)}));
    Cell* b = to_bs(a);
    EXPECT_NE(a->w2, b->w2) << "a copy of the buffer";
    EXPECT_EQ(members(b), members(a));
    Cell* c = act<ACT_COPY>()(a, stack::push(a), nullptr, false, nullptr);
    EXPECT_NE(c->w2, a->w2);
    append(c, int_(3));
    EXPECT_FALSE(has(a, 3)) << "the copy is independent";
    EXPECT_TRUE(has(c, 3));
}

TEST_F(Bitsets, SpecErrors) {
    Cell* bs = make_bs(int_(8));
    struct Case {
        const Cell* spec;
        const char* make;
        const char* to;
        const char* append;
    } cases[] = {
        {block({ch('c'), word("-"), ch('a')}), "script past-end", "script past-end", "script past-end"},
        {block({ch('a'), word("-")}), "script past-end", "script past-end", "script past-end"},
        {block({ch('a'), word("-"), int_(100)}), "script invalid-arg", "script invalid-arg", "script invalid-arg"},
        {block({int_(1), word("-"), ch('z')}), "script invalid-arg", "script invalid-arg", "script invalid-arg"},
        {block({int_(-1)}), "script out-of-range", "script out-of-range", "script out-of-range"},
        {block({int_(-3), word("-"), int_(2)}), "script out-of-range", "script out-of-range", "script out-of-range"},
        {block({float_(NAN)}), "script out-of-range", "script out-of-range", "script out-of-range"},
        {block({float_(1e300)}), "script out-of-range", "script out-of-range", "script out-of-range"},
        {block({int_(INT32_MAX)}), "script out-of-range", "script out-of-range", "script out-of-range"},
        {block({binary_({1})}), "internal not-done", "internal not-done", "internal not-done"},
        {block({word("not"), ch('a')}, TYPE_PAREN), "script bad-make-arg", "script bad-to-arg", "script invalid-arg"},
        {block({none_()}), "script bad-make-arg", "script bad-to-arg", "script invalid-arg"},
        {block({word("-")}), "script bad-make-arg", "script bad-to-arg", "script invalid-arg"},
        {block({int_(1), word("not")}), "script bad-make-arg", "script bad-to-arg", "script invalid-arg"},
        {logic_(true), "script bad-make-arg", "script bad-to-arg", "script invalid-arg"},
        {int_(-8), "script out-of-range", "script bad-to-arg", "script out-of-range"},
        {float_(1e12), "script out-of-range", "script bad-to-arg", "script out-of-range"},
        {int_(8), "", "script bad-to-arg", ""},
        {binary_({1}), "", "", "internal not-done"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of([&] { make_bs(c.spec); }), c.make) << "make " << show(c.spec);
        EXPECT_EQ(error_of([&] { to_bs(c.spec); }), c.to) << "to " << show(c.spec);
        EXPECT_EQ(error_of([&] { append(bs, c.spec); }), c.append) << "append " << show(c.spec);
    }
    EXPECT_EQ(members(bs), "1 8") << "[1 not] set 1 before meeting `not`; the size row appended 8";
}

TEST_F(Bitsets, BadItemErrorsCarryTheItem) {
    try {
        make_bs(block({int_(1), none_()}));
        FAIL();
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 2);
        EXPECT_EQ(e.args[0].w1, u32(TYPE_BITSET));
        EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_NONE));
    }
    try {
        append(make_bs(int_(0)), block({int_(-4)}));
        FAIL();
    } catch (const LanguageError& e) {
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(i32(e.args[0].w2), -4);
    }
}

// A block that holds itself adds nothing new when met again.
TEST_F(Bitsets, CyclicSpecEnds) {
    Cell* b = block({int_(1)});
    *memory::alloc_tail(b) = *b;
    Cell* bs = make_bs(b);
    EXPECT_EQ(members(bs), "1");
    EXPECT_TRUE(pick(bs, b));
}

// --- Membership within and beyond the stored bytes ------------------------------------

TEST_F(Bitsets, EmptyBitsetHoldsNothing) {
    Cell* bs = make_bs(int_(0));
    for (const Cell* i : {int_(0), ch('a'), str("a"), block({int_(0), word("-"), int_(5)}), int_(-1)})
        EXPECT_FALSE(pick(bs, i)) << mold(i);
    EXPECT_TRUE(pick(bs, block({}))) << "no item is false";
    EXPECT_FALSE(pick(bs, str(""))) << "an empty string is not a member";
}

TEST_F(Bitsets, RangesAndTextApplyEveryBitWithinTheStoredBytes) {
    // Appending a range to a complemented set sets the bits within it.
    Cell* bs = make_bs(block({word("not"), str("a")}));
    append(bs, block({int_(97), word("-"), int_(200)}));
    EXPECT_TRUE(has(bs, 97));
    EXPECT_EQ(members(bs, 300), members(make_bs(block({word("not")})), 300));

    // Removing a range that reaches past a plain set clears what it holds.
    Cell* plain = make_bs(str("abc"));
    remove(plain, block({int_(90), word("-"), int_(5000)}));
    EXPECT_EQ(members(plain), "");
    EXPECT_EQ(act<ACT_LENGTH_Q>()(plain), 104) << "nothing grew";

    // A range test reads the stored bits before the flag.
    Cell* holes = make_bs(block({word("not"), int_(3)}));
    EXPECT_FALSE(pick(holes, block({int_(0), word("-"), int_(100)})));
    EXPECT_TRUE(pick(holes, block({int_(4), word("-"), int_(100)})));
    EXPECT_FALSE(pick(make_bs(str("a")), block({int_(97), word("-"), int_(100000)})));

    // The same for text: each code point on its own.
    Cell* t = make_bs(block({word("not"), str("a")}));
    append(t, str("az\xF0\x9F\x98\x80"));
    EXPECT_TRUE(has(t, 'a'));
    EXPECT_TRUE(has(t, 0x1F600));
    EXPECT_EQ(act<ACT_LENGTH_Q>()(t), (0x1F600 + 8) / 8 * 8) << "appending covers the highest bit, full bytes";
    Cell* u = make_bs(str("ab"));
    remove(u, str("b\xF0\x9F\x98\x80"));
    EXPECT_EQ(members(u), "97");
    Cell* v = make_bs(block({word("not"), str("a")}));
    remove(v, str("b\xF0\x9F\x98\x80"));
    EXPECT_FALSE(has(v, 'b'));
    EXPECT_FALSE(has(v, 0x1F600));
    EXPECT_TRUE(has(v, 0x1F601));
    EXPECT_FALSE(has(v, 'a'));
}

TEST_F(Bitsets, SingleBitsFollowTheBeyondRule) {
    Cell* plain = make_bs(str("a"));
    remove(plain, int_(5000));
    EXPECT_EQ(act<ACT_LENGTH_Q>()(plain), 104) << "clearing beyond a plain set changes nothing";
    append(plain, int_(5000));
    EXPECT_EQ(act<ACT_LENGTH_Q>()(plain), 5008);
    EXPECT_EQ(members(plain, 6000), "97 5000");

    Cell* comp = make_bs(block({word("not"), str("a")}));
    remove(comp, int_(5000));
    EXPECT_EQ(act<ACT_LENGTH_Q>()(comp), 5008) << "clearing beyond a complemented set grows it, full";
    EXPECT_FALSE(has(comp, 5000));
    EXPECT_TRUE(has(comp, 4999));
    EXPECT_TRUE(has(comp, 5001));
    EXPECT_TRUE(has(comp, 5007)) << "grown bytes of a complemented set are full";
}

TEST_F(Bitsets, PokeFindAndPathAccess) {
    Cell* bs = make_bs(int_(16));
    struct Case {
        const Cell* value;
        bool member;
    } cases[] = {
        {logic_(true), true}, {none_(), false},   {int_(7), true},      {logic_(false), false},
        {str("x"), true},     {int_(0), false},   {float_(0.1), true},  {float_(0.0), false},
        {float_(-0.0), false},
    };
    for (const Case& c : cases) {
        Cell* answer = act<ACT_POKE>()(bs, 3, stack::push(c.value), nullptr);
        EXPECT_EQ(TYPE_OF(answer), TYPE_OF(c.value)) << "poke answers the value";
        EXPECT_EQ(has(bs, 3), c.member) << show(c.value);
    }
    act<ACT_POKE>()(bs, 0, logic_(true), str("AB"));
    EXPECT_EQ(members(bs), "65 66");

    auto path = act<ACT_EVAL_PATH>();
    auto get = [&](const Cell* e) {
        return path(bs, stack::push(e), nullptr, nullptr, nullptr, nullptr, 1, false, false, true, false);
    };
    EXPECT_EQ(get(ch('A'))->w1, 1u);
    EXPECT_EQ(get(int_(67))->w1, 0u);
    Cell* v = path(bs, int_(67), logic_(true), nullptr, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(TYPE_OF(v), u32(TYPE_LOGIC));
    EXPECT_TRUE(has(bs, 67));
    EXPECT_EQ(error_of([&] { get(str("A")); }), "script invalid-type");
    EXPECT_EQ(error_of([&] { get(block({int_(1)})); }), "script invalid-type");

    auto find = [&](const Cell* v) {
        return act<ACT_FIND>()(stack::push(bs), stack::push(v), nullptr, false, false, false, false, nullptr,
                               nullptr, false, false, false, false);
    };
    EXPECT_EQ(TYPE_OF(find(str("ABC"))), u32(TYPE_LOGIC));
    EXPECT_EQ(TYPE_OF(find(str("ABCD"))), u32(TYPE_NONE));
}

TEST_F(Bitsets, RemoveNeedsAKey) {
    Cell* bs = make_bs(str("a"));
    EXPECT_EQ(error_of([&] { act<ACT_REMOVE>()(bs, nullptr, nullptr); }), "script missing-arg");
    EXPECT_EQ(error_of([&] { remove(bs, logic_(true)); }), "script invalid-arg");
}

TEST_F(Bitsets, ClearEmptiesTheSetKeepingItsLength) {
    for (const Cell* spec : {str("abc"), block({word("not"), str("abc")})}) {
        Cell* bs = make_bs(spec);
        act<ACT_CLEAR>()(bs);
        EXPECT_EQ(members(bs), "") << show(spec);
        EXPECT_EQ(act<ACT_LENGTH_Q>()(bs), 104);
    }
}

// --- Complement, bitwise and set operations ---------------------------------------

TEST_F(Bitsets, ComplementTwiceGivesTheSameMembers) {
    Cell* bs = make_bs(block({int_(1), int_(9), str("z")}));
    std::string before = members(bs);
    Cell* once = act<ACT_COMPLEMENT>()(stack::push(bs));
    EXPECT_NE(once->w2, bs->w2) << "a new bitset";
    EXPECT_TRUE(has(once, 0));
    EXPECT_FALSE(has(once, 9));
    EXPECT_TRUE(has(once, 5000));
    Cell* twice = act<ACT_NEGATE>()(stack::push(once));
    EXPECT_EQ(members(twice), before);
    EXPECT_FALSE(bitset::complemented_q(twice));
}

TEST_F(Bitsets, ExcludeKeepsTheLongerBytesAndAndTheShorterLength) {
    Cell* longer = make_bs(block({int_(1), int_(20)}));
    Cell* shorter = make_bs(block({int_(1)}));
    Cell* ex = combine(11, longer, shorter);
    EXPECT_EQ(members(ex), "20");
    EXPECT_EQ(act<ACT_LENGTH_Q>()(ex), 24);
    Cell* both = combine(6, longer, shorter);
    EXPECT_EQ(members(both), "1");
    EXPECT_EQ(act<ACT_LENGTH_Q>()(both), 8);
    EXPECT_EQ(act<ACT_LENGTH_Q>()(combine(10, longer, shorter)), 24) << "intersect keeps the longer length";
    Cell* unique = combine(8, longer, int_(0));
    EXPECT_EQ(unique->w2, longer->w2) << "unique answers the first unchanged";
    EXPECT_EQ(error_of([&] { combine(5, longer, int_(3)); }), "script invalid-type");
}

// Past an operand's stored bytes its bits are its complement flag; the result
// holds what the combination of the two sets holds.
TEST_F(Bitsets, CombinationsOfComplementedSets) {
    Cell* not_a = make_bs(block({word("not"), str("a")}));      // 13 bytes
    Cell* not_z = make_bs(block({word("not"), int_(300)}));     // 38 bytes
    Cell* b = make_bs(str("b"));
    EXPECT_EQ(members(combine(5, not_a, not_z), 400), members(make_bs(block({word("not")})), 400));
    Cell* both = combine(6, not_a, not_z);
    EXPECT_FALSE(has(both, 'a'));
    EXPECT_FALSE(has(both, 300));
    EXPECT_TRUE(has(both, 299));
    EXPECT_TRUE(has(both, 100000));
    Cell* x = combine(7, not_a, b);
    EXPECT_FALSE(has(x, 'b'));
    EXPECT_TRUE(has(x, 'c'));
    EXPECT_FALSE(has(x, 'a'));
    EXPECT_TRUE(has(x, 100000));
    Cell* ex = combine(11, b, not_a);
    EXPECT_EQ(members(ex), "") << "b lies in not-a";
    Cell* ex2 = combine(11, not_a, b);
    EXPECT_FALSE(has(ex2, 'b'));
    EXPECT_TRUE(has(ex2, 'c'));
    EXPECT_TRUE(has(ex2, 100000));
}

// --- Comparison ---------------------------------------------------------------------

TEST_F(Bitsets, Comparison) {
    auto cmp = act<ACT_COMPARE>();
    Cell* a = make_bs(str("a"));
    Cell* a2 = make_bs(str("a"));
    Cell* b = make_bs(str("b"));
    Cell* z = make_bs(str("z"));
    EXPECT_EQ(cmp(a, a2, COMP_EQUAL), 0);
    EXPECT_EQ(cmp(a, a2, COMP_STRICT_EQUAL), 0);
    EXPECT_NE(cmp(a, a2, COMP_SAME), 0);
    EXPECT_EQ(cmp(a, stack::push(a), COMP_SAME), 0);
    EXPECT_EQ(cmp(a, b, COMP_LESSER), 1) << "'a' is bit 1 of byte 12: 0x40 > 0x20";
    EXPECT_EQ(cmp(a, z, COMP_LESSER), -1) << "shorter first";
    EXPECT_EQ(cmp(a, int_(1), COMP_EQUAL), NOT_COMPARABLE);
    Cell* na = act<ACT_COMPLEMENT>()(stack::push(make_bs(str("b"))));
    EXPECT_EQ(cmp(a, na, COMP_LESSER), -1) << "plain before complemented";
    Cell* e1 = make_bs(int_(0));
    Cell* e2 = act<ACT_COMPLEMENT>()(stack::push(make_bs(int_(0))));
    EXPECT_NE(cmp(e1, e2, COMP_EQUAL), 0) << "nothing and everything differ";
    EXPECT_EQ(cmp(e1, make_bs(int_(0)), COMP_EQUAL), 0);
}

// --- Text -------------------------------------------------------------------------------

TEST_F(Bitsets, MoldAndForm) {
    EXPECT_MOLD(make_bs(block({int_(0)})), "make bitset! #{80}");
    EXPECT_FORM(make_bs(block({int_(0)})), "make bitset! #{80}");
    EXPECT_MOLD(make_bs(str("ABC")), "make bitset! #{000000000000000070}");
    EXPECT_MOLD(make_bs(int_(0)), "make bitset! #{}");
    EXPECT_MOLD(make_bs(block({word("not"), int_(9), int_(15)})), "make bitset! [not #{0041}]");
    EXPECT_MOLD(make_bs(block({word("not")})), "make bitset! [not #{00}]");
    EXPECT_EQ(mold(make_bs(str("ABC")), {.part = 17}), "make bitset! #{00");
    EXPECT_EQ(mold(make_bs(str("ABC")), {.part = 14}), "make bitset! #");
    EXPECT_EQ(form(make_bs(block({word("not"), int_(9)})), 22), "make bitset! [not #{00");
}

TEST_F(Bitsets, MoldAnswersThePartLeft) {
    Cell* bs = make_bs(str("ABC"));
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    EXPECT_EQ(actions::mold(bs, buffer, false, false, false, nullptr, 100, 0), 100 - 34);
    Cell part;
    cell::init(&part, TYPE_INTEGER);
    EXPECT_LE(actions::mold(bs, buffer, false, false, false, &part, 18, 0), 0);
}

// What the mold shows reads back to the same members: the bytes made again
// through the binary spec the molded text holds.
TEST_F(Bitsets, MoldedBytesReadBack) {
    for (const Cell* spec : {block({word("not"), str("a\xC3\xA9"), int_(2)}), block({int_(3), str("xyz")})}) {
        Cell* bs = make_bs(spec);
        std::string text = mold(bs);
        size_t open = text.find("#{"), close = text.find('}');
        std::vector<u8> bytes;
        for (size_t i = open + 2; i < close; i += 2) bytes.push_back(u8(std::stoi(text.substr(i, 2), nullptr, 16)));
        Cell* bin = binary_({});
        for (u8 b : bytes) series::zs_append_byte(bin->w2, b);
        Cell* again = make_bs(text.find("[not") != std::string::npos ? block({word("not"), bin}) : bin);
        EXPECT_EQ(members(again, 400), members(bs, 400)) << text;
    }
}

// --- Strings searched for members ---------------------------------------------------------

TEST_F(Bitsets, StringsFindAndMatchMembers) {
    auto find = [](const char* text, const Cell* bs, bool last) {
        Cell* r = string::find(str(text), stack::push(bs), nullptr, false, false, false, false, nullptr, nullptr,
                               last, false, false, false);
        return TYPE_OF(r) == TYPE_NONE ? -1 : i32(r->w1);
    };
    Cell* digits = make_bs(block({ch('0'), word("-"), ch('9')}));
    EXPECT_EQ(find("ab7c9", digits, false), 2);
    EXPECT_EQ(find("ab7c9", digits, true), 4);
    EXPECT_EQ(find("abc", digits, false), -1);
    Cell* not_digits = make_bs(block({word("not"), ch('0'), word("-"), ch('9')}));
    EXPECT_EQ(find("12\xE4\xB8\xAD", not_digits, false), 2) << "past the stored bytes: a member";
    EXPECT_EQ(find("123", not_digits, false), -1);
    act<ACT_CLEAR>()(not_digits);
    EXPECT_EQ(find("12\xE4\xB8\xAD", not_digits, false), -1) << "a cleared set holds nothing";

    Cell* sel = string::select(str("k=v"), stack::push(make_bs(str("="))), nullptr, false, false, false, false,
                               nullptr, nullptr, false, false);
    ASSERT_EQ(TYPE_OF(sel), u32(TYPE_CHAR));
    EXPECT_EQ(sel->w2, u32('v'));

    EXPECT_TRUE(string::match_bitset_q(str("7up"), digits));
    EXPECT_FALSE(string::match_bitset_q(str("up"), digits));
    EXPECT_FALSE(string::match_bitset_q(str(""), not_digits));
}

// --- Owner reports and hostile handlers ------------------------------------------------

std::vector<std::string> reports;
enum Hostile { RECORD, CLEAR, GROW, COLLECT } hostile = RECORD;
bool in_handler = false;

void on_report(const Cell*, const Cell*, const Cell* value, i32 word, const Cell*, i32, i32) {
    reports.push_back(std::string(symbol::spelling(word)));
    if (in_handler || reports.size() % 2 == 0) return;   // acts on the report before the change
    in_handler = true;
    Cell* mark = stack::top;
    Cell* target = stack::push(value);
    switch (hostile) {
        case RECORD: break;
        case CLEAR: act<ACT_CLEAR>()(target); break;
        case GROW: append(target, int_(20000)); break;
        case COLLECT:
            memory::alloc_cells(64);
            collector::do_cycle();
            break;
    }
    stack::top = mark;
    in_handler = false;
}

struct OwnedBitsets : Bitsets {
    collector::RootCell owner;
    ownership::DeepChange saved = nullptr;
    void SetUp() override {
        Bitsets::SetUp();
        saved = ownership::on_deep_change;
        ownership::on_deep_change = on_report;
        reports.clear();
        hostile = RECORD;
    }
    void TearDown() override {
        ownership::on_deep_change = saved;
        Bitsets::TearDown();
    }
};

TEST_F(OwnedBitsets, ChangesReportBeforeAndAfter) {
    Cell* bs = make_bs(str("a"));
    own(bs, owner.get());
    append(bs, ch('b'));
    act<ACT_INSERT>()(bs, ch('c'), nullptr, false, nullptr, false);
    act<ACT_POKE>()(bs, 100, logic_(true), nullptr);
    remove(bs, ch('a'));
    act<ACT_CLEAR>()(bs);
    pick(bs, ch('a'));
    EXPECT_EQ(reports, (std::vector<std::string>{"insert", "inserted", "insert", "inserted", "poke", "poked",
                                                 "remove", "removed", "clear", "cleared"}));
    Cell* r = act<ACT_REFLECT>()(stack::push(bs), series::words.owned);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_BLOCK));
    act<ACT_MODIFY>()(stack::push(bs), series::words.owned, none_(), false);
    EXPECT_EQ(TYPE_OF(act<ACT_REFLECT>()(stack::push(bs), series::words.owned)), u32(TYPE_NONE));
    EXPECT_EQ(error_of([&] { act<ACT_REFLECT>()(stack::push(bs), symbol::make("spec")); }), "internal not-done");
}

// The handler runs before the change and may clear the set, grow it far, or
// collect (moving every buffer): the change then applies to the set as it is.
TEST_F(OwnedBitsets, HandlersThatChangeTheSetFirst) {
    struct Row {
        Hostile handler;
        const char* expected;
    };
    for (Row row : {Row{RECORD, "97 98 99 200"}, Row{CLEAR, "99 200"}, Row{GROW, "97 98 99 200 20000"},
                    Row{COLLECT, "97 98 99 200"}}) {
        Cell* mark = stack::top;
        Cell* bs = make_bs(str("ab"));
        own(bs, owner.get());
        hostile = row.handler;
        reports.clear();
        append(bs, block({ch('c'), int_(200)}));
        EXPECT_EQ(members(bs, 30000), row.expected) << row.handler;
        stack::top = mark;
    }
    for (Hostile h : {CLEAR, GROW, COLLECT}) {
        Cell* bs = make_bs(block({word("not"), str("ab")}));
        own(bs, owner.get());
        hostile = h;
        reports.clear();
        remove(bs, block({ch('c'), word("-"), ch('e')}));
        EXPECT_FALSE(has(bs, 'c'));
        EXPECT_FALSE(has(bs, 'e'));
        EXPECT_EQ(has(bs, 'f'), h != CLEAR) << h;
        reports.clear();
        act<ACT_POKE>()(bs, 300, logic_(true), nullptr);
        EXPECT_TRUE(has(bs, 300)) << h;
    }
}

// --- Against a model ------------------------------------------------------------------------

// Bits below DOMAIN one by one; every bit at or above it is `beyond`. Specs
// only name bits below DOMAIN - 8, so stored bytes never reach past it.
constexpr i64 DOMAIN = 256;

struct Model {
    std::vector<bool> bits = std::vector<bool>(DOMAIN);
    bool beyond = false;
    bool has(i64 n) const { return n < DOMAIN ? bits[size_t(n)] : beyond; }
};

std::string utf8_of(u32 cp) {
    std::string s;
    if (cp < 0x80) {
        s += char(cp);
    } else {
        s += char(0xC0 | (cp >> 6));
        s += char(0x80 | (cp & 0x3F));
    }
    return s;
}

struct RandomSpecs {
    std::mt19937 rng{20240611};
    i64 bit() { return i64(rng() % (DOMAIN - 8)); }

    // A spec item and the bits it names; `top` items may not be a number
    // (make reads a number as a size).
    Cell* item(std::set<i64>& bits, int depth, bool number_ok) {
        switch (rng() % (depth < 2 ? 5 : 3)) {
            case 0:
                if (number_ok) {
                    i64 n = bit();
                    bits.insert(n);
                    return rng() % 3 ? int_(i32(n)) : float_(double(n) + 0.75);
                }
                [[fallthrough]];
            case 1: {
                i64 n = bit();
                bits.insert(n);
                if (!number_ok) return str(utf8_of(u32(n)).c_str());
                return ch(u32(n));
            }
            case 2: {
                std::string text;
                for (u32 i = 0, k = 1 + rng() % 4; i < k; i++) {
                    i64 n = bit();
                    bits.insert(n);
                    text += utf8_of(u32(n));
                }
                return str(text.c_str());
            }
            default: {
                Cell* b = block({});
                for (u32 i = 0, k = 1 + rng() % 4; i < k; i++) {
                    if (rng() % 3 == 0) {
                        i64 lo = bit(), hi = bit();
                        if (hi < lo) std::swap(lo, hi);
                        for (i64 n = lo; n <= hi; n++) bits.insert(n);
                        bool chars = rng() % 2;
                        Cell* a = chars ? ch(u32(lo)) : int_(i32(lo));
                        Cell* z = chars ? ch(u32(hi)) : int_(i32(hi));
                        Cell* dash = word("-");
                        *memory::alloc_tail(b) = *a;
                        *memory::alloc_tail(b) = *dash;
                        *memory::alloc_tail(b) = *z;
                    } else {
                        Cell* it = item(bits, depth + 1, true);
                        *memory::alloc_tail(b) = *it;
                    }
                }
                return b;
            }
        }
    }
};

void expect_model(const Cell* bs, const Model& m, const std::string& what) {
    for (i64 n = 0; n < DOMAIN + 64; n++) ASSERT_EQ(has(bs, n), m.has(n)) << what << ": bit " << n;
    ASSERT_EQ(has(bs, 1 << 20), m.beyond) << what;
}

TEST_F(Bitsets, RandomOperationsAgreeWithASetModel) {
    RandomSpecs g;
    constexpr int SLOTS = 3;
    Cell* pool = stack::top;
    Model models[SLOTS];
    for (int i = 0; i < SLOTS; i++) cell::init(stack::push_slot(), TYPE_NONE);
    for (int i = 0; i < SLOTS; i++) {
        Cell made = *make_bs(int_(0));
        pool[i] = made;
        stack::top = pool + SLOTS;
    }
    const int rounds = 250;
    for (int round = 0; round < rounds; round++) {
        Cell* mark = stack::top;
        int k = int(g.rng() % SLOTS), other = int(g.rng() % SLOTS);
        Cell* bs = pool + k;
        Model& m = models[k];
        std::set<i64> bits;
        std::string what = "round " + std::to_string(round);
        switch (g.rng() % 11) {
            case 0: {   // make, plain or complemented
                bool complemented = g.rng() % 2;
                Cell* spec = g.item(bits, 0, false);
                if (complemented) {
                    Cell* b = block({word("not")});
                    *memory::alloc_tail(b) = *spec;
                    spec = b;
                }
                *bs = *make_bs(spec);
                m = Model{};
                m.beyond = complemented;
                for (i64 n = 0; n < DOMAIN; n++) m.bits[size_t(n)] = complemented != (bits.count(n) > 0);
                what += " make " + show(spec);
                break;
            }
            case 1:
            case 2: {
                Cell* spec = g.item(bits, 0, true);
                if (g.rng() % 2) append(bs, spec);
                else act<ACT_INSERT>()(bs, spec, nullptr, false, nullptr, false);
                for (i64 n : bits) m.bits[size_t(n)] = true;
                what += " append " + show(spec);
                break;
            }
            case 3: {
                Cell* spec = g.item(bits, 0, true);
                remove(bs, spec);
                for (i64 n : bits) m.bits[size_t(n)] = false;
                what += " remove " + show(spec);
                break;
            }
            case 4: {
                Cell* spec = g.item(bits, 0, true);
                bool set = g.rng() % 2;
                act<ACT_POKE>()(bs, 0, set ? int_(1) : logic_(false), spec);
                for (i64 n : bits) m.bits[size_t(n)] = set;
                what += " poke " + show(spec);
                break;
            }
            case 5: {   // pick and find change nothing
                Cell* spec = g.item(bits, 0, true);
                bool all = true;
                for (i64 n : bits) all = all && m.has(n);
                ASSERT_EQ(pick(bs, spec), all) << what << " pick " << show(spec);
                break;
            }
            case 6:
                act<ACT_COMPLEMENT>()(bs);
                for (i64 n = 0; n < DOMAIN; n++) m.bits[size_t(n)] = !m.bits[size_t(n)];
                m.beyond = !m.beyond;
                what += " complement";
                break;
            case 7:
            case 8: {
                static const i32 codes[] = {5, 6, 7, 9, 10, 11, 12};
                i32 code = codes[g.rng() % 7];
                const Model& o = models[other];
                auto f = [code](bool x, bool y) {
                    switch (code) {
                        case 5: case 9: return x || y;
                        case 6: case 10: return x && y;
                        case 11: return x && !y;
                        default: return x != y;
                    }
                };
                *bs = *combine(code, bs, pool + other);
                Model r;
                for (i64 n = 0; n < DOMAIN; n++) r.bits[size_t(n)] = f(m.bits[size_t(n)], o.bits[size_t(n)]);
                r.beyond = f(m.beyond, o.beyond);
                m = r;
                what += " combine " + std::to_string(code);
                break;
            }
            case 9:
                act<ACT_CLEAR>()(bs);
                m = Model{};
                what += " clear";
                break;
            default:
                *bs = *act<ACT_COPY>()(pool + other, stack::push(pool + other), nullptr, false, nullptr);
                m = models[other];
                what += " copy";
                break;
        }
        stack::top = mark;
        expect_model(bs, m, what);
    }
}

}  // namespace
}  // namespace zir
