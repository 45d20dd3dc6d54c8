// time!: conversions, text, the three fields through paths and pick, the
// arithmetic guards, rounding and the notification of a path assignment.
#include <random>

#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "runtime/collector.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/time.hpp"
#include "number_test_support.hpp"
#include "runtime/ownership.hpp"

namespace zir {
namespace {

using namespace test;

struct Times : ValueTest {};

Cell* fl(double v) { return test::float_(v); }

double seconds_of(const Cell* c) { return time::get(c); }

TEST_F(Times, MakeAndTo) {
    struct Case {
        const Cell* spec;
        double seconds;
    } cases[] = {
        {int_(3600), 3600},
        {fl(90.5), 90.5},
        {percent_(0.5), 0.5},
        {time_(-5), -5},
        {test::block({}), 0},
        {test::block({int_(1)}), 3600},
        {test::block({int_(1), int_(30)}), 5400},
        {test::block({int_(1), int_(2), fl(3.5)}), 3723.5},
        {test::block({int_(-1), int_(30), int_(15)}), -5415},
        {test::block({int_(0), int_(90)}, TYPE_PAREN), 5400},
    };
    for (u32 slot : {ACT_MAKE, ACT_TO}) {
        for (const Case& c : cases) {
            Cell* r = convert(slot, TYPE_TIME, c.spec);
            EXPECT_EQ(TYPE_OF(r), u32(TYPE_TIME)) << mold(c.spec);
            EXPECT_EQ(seconds_of(r), c.seconds) << mold(c.spec);
        }
    }
    for (const Cell* bad : {test::block({int_(1), int_(2), int_(3), int_(4)}), test::block({int_(1), int_(-2)}),
                            test::block({int_(1), int_(2), fl(-0.5)}), test::block({fl(1.5)}),
                            test::block({int_(1), fl(2.0)}), test::block({str("1")}), none_(), pair_(1, 2)}) {
        try {
            to_(TYPE_TIME, bad);
            ADD_FAILURE() << mold(bad);
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "bad-to-arg") << mold(bad);
            EXPECT_EQ(e.args[0].w1, u32(TYPE_TIME));
        }
    }
    EXPECT_EQ(error_of([] { to_(TYPE_TIME, str("1:30")); }), block::load_text ? "" : "internal not-done");
    EXPECT_MOLD(to_(TYPE_TIME, fl(5415.5)), "1:30:15.5");
    EXPECT_MOLD(to_(TYPE_TIME, test::block({int_(-1), int_(30), int_(15)})), "-1:30:15");
}

TEST_F(Times, TextIsLoadedAsOneTime) {
    FakeLoader loader;
    EXPECT_EQ(seconds_of(to_(TYPE_TIME, str("1:30"))), 60.0);
    for (const char* bad : {"90", "1.5", "two", "x"})
        EXPECT_EQ(error_of([&] { to_(TYPE_TIME, str(bad)); }), "script bad-to-arg") << bad;
}

TEST_F(Times, Text) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {3600, "1:00:00"},
        {5415.5, "1:30:15.5"},
        {-90, "-0:01:30"},
        {0.25, "0:00:00.25"},
        {5.25, "0:00:05.25"},
        {10, "0:00:10"},
        {0, "0:00:00"},
        {-0.0, "0:00:00"},
        {0.0000001, "0:00:00"},
        {0.000002, "0:00:00.000002"},
        {360000, "100:00:00"},
        {-5415, "-1:30:15"},
        // Six digits of seconds that read 60 are the next minute.
        {59.9999999, "0:01:00"},
        {3599.9999999, "1:00:00"},
        {-3599.9999999, "-1:00:00"},
        {119.9999996, "0:02:00"},
        {59.99999, "0:01:00"},
        {59.9999, "0:00:59.9999"},
        {std::numeric_limits<double>::infinity(), "1.#INF"},
        {-std::numeric_limits<double>::infinity(), "-1.#INF"},
        {std::nan(""), "1.#NaN"},
    };
    for (const Case& c : cases) {
        EXPECT_FORM(time_(c.seconds), c.text) << c.seconds;
        EXPECT_MOLD(time_(c.seconds), c.text) << c.seconds;
    }
    EXPECT_EQ(form(time_(1e20)).substr(0, 6), "277777");
    Cell* buffer = str("");
    EXPECT_EQ(time::form_value(5415.5, buffer, 20), 20 - 9);
}

TEST_F(Times, FieldsOfANegativeTimeReadItsMagnitude) {
    Cell* t = time_(-5415);
    EXPECT_EQ(integer::get(time::push_field(t, time::FIELD_HOUR)), -1);
    EXPECT_EQ(integer::get(time::push_field(t, time::FIELD_MINUTE)), 30);
    Cell* s = time::push_field(t, time::FIELD_SECOND);
    EXPECT_EQ(TYPE_OF(s), u32(TYPE_FLOAT));
    EXPECT_EQ(float_::get(s), -15.0);
    EXPECT_EQ(time::push_field(t, 4), nullptr);
    EXPECT_EQ(error_of([] { time::push_field(time_(1e20), time::FIELD_HOUR); }), "math overflow");
}

// Sets one field through the path action, as `t/hour: v` does.
Cell* set_field(Cell* t, const char* field, const Cell* value, Cell* parent = nullptr, bool notify = false,
                Cell* parent_word = nullptr) {
    Cell* element = word(field);
    Cell* v = stack::push(value);
    return actions::eval_path(t, element, v, nullptr, parent, parent_word, 0, false, false, true, notify);
}

// The same for the time at the head of a block, found after the word and the
// value are made (making them may move the block's cells).
Cell* set_head_field(Cell* b, const char* field, const Cell* value, bool notify) {
    Cell* element = word(field);
    Cell* v = stack::push(value);
    Cell* t = block::cell_at(b->w2, 0);
    return actions::eval_path(t, element, v, nullptr, b, nullptr, 0, false, false, true, notify);
}

TEST_F(Times, SettingAFieldKeepsTheOthersAsTheyRead) {
    struct Case {
        double seconds;
        const char* field;
        const Cell* value;
        double result;
    } cases[] = {
        {5400, "hour", int_(3), 12600},
        {70, "second", fl(5.5), 65.5},
        {7199, "minute", int_(0), 3659},
        {5415, "minute", int_(75), 8115},
        {-5415, "minute", int_(10), -4215},
        {-5415, "hour", int_(-1), -5415},
        {-5415, "minute", int_(30), -5415},
        {-5415, "second", int_(-15), -5415},
        {-5415, "hour", int_(-2), -9015},
        {-5415, "hour", int_(2), 9015},
        {5415, "hour", int_(-2), -9015},
        {-1815, "hour", int_(0), -1815},
        {-5415, "second", int_(-20), -5420},
    };
    for (const Case& c : cases) {
        Cell* t = time_(c.seconds);
        set_field(t, c.field, c.value);
        EXPECT_EQ(seconds_of(t), c.result) << c.seconds << " " << c.field;
    }
    // Every field set to what it reads leaves the time; a field set reads back.
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> seconds(-400000, 400000);
    for (int i = 0; i < 500; i++) {
        double s = std::round(seconds(gen) * 100) / 100;
        Cell* t = time_(s);
        i32 h = integer::get(time::push_field(t, time::FIELD_HOUR));
        i32 m = integer::get(time::push_field(t, time::FIELD_MINUTE));
        set_field(t, "hour", int_(h));
        set_field(t, "minute", int_(m));
        EXPECT_NEAR(seconds_of(t), s, 1e-6) << s;
        i32 h2 = i32(gen() % 201) - 100, m2 = i32(gen() % 60);
        set_field(t, "hour", int_(h2));
        if (h2 == 0) continue;   // a zero hour keeps the sign, which the minute then reads
        set_field(t, "minute", int_(m2));
        EXPECT_EQ(integer::get(time::push_field(t, time::FIELD_HOUR)), h2) << s;
        EXPECT_EQ(integer::get(time::push_field(t, time::FIELD_MINUTE)), m2) << s;
    }
}

TEST_F(Times, PathAccess) {
    Cell* t = time_(5415.5);
    auto get = [&](const Cell* element) {
        return actions::eval_path(t, stack::push(element), nullptr, nullptr, nullptr, nullptr, 0, false, true, true,
                                  false);
    };
    EXPECT_EQ(integer::get(get(word("hour"))), 1);
    EXPECT_EQ(integer::get(get(word("MINUTE"))), 30);
    EXPECT_EQ(float_::get(get(word("second"))), 15.5);
    EXPECT_EQ(integer::get(get(int_(1))), 1);
    EXPECT_EQ(float_::get(get(int_(3))), 15.5);
    Cell* path = test::block({word("t"), word("day")}, TYPE_PATH);
    for (const Cell* bad : {int_(0), int_(4), word("day"), str("hour"), word("hour", TYPE_SET_WORD)}) {
        try {
            actions::eval_path(t, stack::push(bad), nullptr, path, nullptr, nullptr, 0, false, true, true, false);
            ADD_FAILURE() << mold(bad);
        } catch (const LanguageError& e) {
            EXPECT_STREQ(e.id, "invalid-path") << mold(bad);
            EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_PATH));
        }
    }
    struct Refusal {
        const char* field;
        const Cell* value;
    } refusals[] = {{"hour", fl(1.5)}, {"minute", str("1")}, {"second", none_()}, {"second", percent_(0.5)}};
    for (const Refusal& r : refusals)
        EXPECT_EQ(error_of([&] { set_field(t, r.field, r.value); }), "script invalid-arg") << r.field;
    EXPECT_EQ(seconds_of(t), 5415.5) << "a refused value changes nothing";
}

TEST_F(Times, Pick) {
    auto pick = [](const Cell* t, i32 index, const Cell* boxed) {
        Cell* v = stack::push(t);
        return actions::get<action::Pick>(v, ACT_PICK)(v, index, const_cast<Cell*>(boxed));
    };
    Cell* t = time_(-5415);
    EXPECT_EQ(integer::get(pick(t, 1, int_(1))), -1);
    EXPECT_EQ(integer::get(pick(t, 0, word("minute"))), 30);
    EXPECT_EQ(float_::get(pick(t, 3, int_(3))), -15.0);
    EXPECT_EQ(error_of([&] { pick(t, 0, word("day")); }), "script cannot-use");
    EXPECT_EQ(error_of([&] { pick(t, 4, int_(4)); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { pick(t, 0, int_(0)); }), "script invalid-arg");
    EXPECT_EQ(time::field_index(word("second"), none_()), time::FIELD_SECOND);
    EXPECT_EQ(time::field_index(word("day"), none_()), -1) << "date! tries its own fields";
}

// What an owner heard of a change.
struct Heard {
    int calls = 0;
    std::string action;
    i32 index = 0;
    Cell new_value{};
};
Heard heard;
void hear(const Cell*, const Cell*, const Cell*, i32 action, const Cell* new_value, i32 index, i32) {
    heard.calls++;
    heard.action = std::string(symbol::spelling(action));
    heard.index = index;
    heard.new_value = *new_value;
}

TEST_F(Times, AFieldSetInAnOwnedBlockIsReported) {
    Cell* b = test::block({time_(5400)});
    collector::RootCell owner;
    own(b, owner.get());
    ownership::on_deep_change = hear;
    heard = {};
    set_head_field(b, "minute", int_(10), true);
    ownership::on_deep_change = nullptr;
    EXPECT_EQ(seconds_of(block::cell_at(b->w2, 0)), 4200);
    EXPECT_EQ(heard.calls, 1);
    EXPECT_EQ(heard.action, "set-path");
    EXPECT_EQ(heard.index, time::FIELD_MINUTE);
    EXPECT_EQ(integer::get(&heard.new_value), 10);
    // Without the notification flag nobody hears.
    ownership::on_deep_change = hear;
    set_head_field(b, "hour", int_(2), false);
    ownership::on_deep_change = nullptr;
    EXPECT_EQ(heard.calls, 1);
}

struct HeardSet {
    int calls = 0;
    double old_seconds = 0, new_seconds = 0;
} heard_set;
void hear_set(const Cell*, const Cell* word, const Cell* old_value, const Cell* new_value) {
    heard_set.calls++;
    EXPECT_EQ(symbol::spelling(i32(word->w2)), "data");
    heard_set.old_seconds = time::get(old_value);
    heard_set.new_seconds = time::get(new_value);
}

TEST_F(Times, AFieldSetInAnObjectReachesItsChangeHandler) {
    collector::RootCell object(make_object(*time_(5400)));
    context::OnSet saved = context::on_set;
    context::on_set = hear_set;
    heard_set = {};
    Cell* t = time_(5400);
    set_field(t, "hour", int_(2), object.get(), true, word("data"));
    context::on_set = saved;
    EXPECT_EQ(heard_set.calls, 1);
    EXPECT_EQ(heard_set.old_seconds, 5400);
    EXPECT_EQ(heard_set.new_seconds, 9000);
    EXPECT_EQ(time::get(t), 9000);
}

// --- Arithmetic ---------------------------------------------------------------------

TEST_F(Times, Arithmetic) {
    struct Case {
        u32 slot;
        const Cell* left;
        const Cell* right;
        u32 type;
        double value;
    } cases[] = {
        {ACT_ADD, time_(3600), int_(30), TYPE_TIME, 3630},
        {ACT_ADD, int_(30), time_(3600), TYPE_TIME, 3630},
        {ACT_ADD, time_(3600), time_(1800), TYPE_TIME, 5400},
        {ACT_SUBTRACT, time_(3600), fl(0.5), TYPE_TIME, 3599.5},
        {ACT_MULTIPLY, time_(3600), int_(2), TYPE_TIME, 7200},
        {ACT_MULTIPLY, int_(2), time_(3600), TYPE_TIME, 7200},
        {ACT_DIVIDE, time_(3600), time_(1800), TYPE_FLOAT, 2.0},
        {ACT_DIVIDE, time_(3600), int_(2), TYPE_TIME, 1800},
        {ACT_DIVIDE, int_(3600), time_(1800), TYPE_TIME, 2.0},
        {ACT_REMAINDER, time_(3630), time_(60), TYPE_TIME, 30},
        {ACT_REMAINDER, time_(-90), int_(60), TYPE_TIME, -30},
    };
    for (const Case& c : cases) {
        Cell* r = direct(c.slot, c.left, c.right);
        EXPECT_EQ(TYPE_OF(r), c.type) << mold(c.left) << " slot " << c.slot << " " << mold(c.right);
        EXPECT_EQ(number_of(r), c.value) << mold(c.left) << " slot " << c.slot << " " << mold(c.right);
    }
    Cell* date = int_(1);
    cell::set_type(date, TYPE_DATE);
    EXPECT_EQ(error_of([] { direct(ACT_MULTIPLY, time_(60), time_(60)); }), "script not-related");
    EXPECT_EQ(error_of([&] { direct(ACT_SUBTRACT, time_(60), date); }), "script not-related");
    EXPECT_EQ(date::time_of(direct(ACT_ADD, time_(60), date::push(date::pack(2024, 1, 1, 0, false), 0))), 60.0);
    EXPECT_EQ(error_of([] { direct(ACT_ADD, time_(60), char_::push('a')); }), "script invalid-type");
    EXPECT_EQ(seconds_of(unary_(ACT_NEGATE, time_(60))), -60);
    EXPECT_EQ(TYPE_OF(direct(ACT_ABSOLUTE, time_(-60))), u32(TYPE_TIME));
    EXPECT_EQ(actions::lookup(TYPE_TIME, ACT_POWER), nullptr);
    EXPECT_TRUE(actions::compare(time_(3600), int_(3600), COMP_EQUAL));
}

Cell* swapped_date_core(i32 op) {
    Cell* a = stack::arguments;
    // The date comes first; the time after it.
    EXPECT_EQ(TYPE_OF(a), u32(TYPE_DATE));
    EXPECT_EQ(TYPE_OF(a + 1), u32(TYPE_TIME));
    EXPECT_EQ(op, MATH_ADD);
    a->w3 = 99;
    return a;
}

TEST_F(Times, AddingADateHandsTheTimeToIt) {
    actions::MathCore saved = actions::math_core[TYPE_DATE];
    actions::math_core[TYPE_DATE] = swapped_date_core;
    Cell* date = int_(1);
    cell::set_type(date, TYPE_DATE);
    Cell* r = direct(ACT_ADD, time_(60), date);
    actions::math_core[TYPE_DATE] = saved;
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_DATE));
    EXPECT_EQ(r->w3, 99u);
}

TEST_F(Times, EvenAndOddLookAtTheWholeSeconds) {
    struct Case {
        double seconds;
        bool even;
    } cases[] = {{2, true}, {63, false}, {1.9999999, true}, {-3, false}, {-2.5, true}, {0, true},
                 {3600 * 5 + 1, false}, {std::nan(""), true}, {std::numeric_limits<double>::infinity(), true}};
    for (const Case& c : cases) {
        EXPECT_EQ(predicate_(ACT_EVEN_Q, time_(c.seconds)), c.even) << c.seconds;
        EXPECT_EQ(predicate_(ACT_ODD_Q, time_(c.seconds)), !c.even) << c.seconds;
    }
}

TEST_F(Times, RoundStaysATime) {
    struct Case {
        double seconds;
        const Cell* scale;
        const char* how;
        double result;
    } cases[] = {
        {3753, int_(60), "", 3780},
        {3753, time_(60), "", 3780},
        {3753, time_(60), "down", 3720},
        {1.5, nullptr, "", 2},
        {-1.5, nullptr, "", -2},
        {2.5, nullptr, "even", 2},
        {1.25, fl(0.5), "", 1.5},
        // Far beyond 32 bits of seconds, an integer scale still gives a time.
        {3e12 + 31, int_(60), "", 3e12 + 60},
        {-3e12 - 31, int_(60), "floor", -3e12 - 60},
    };
    for (const Case& c : cases) {
        Cell* r = round_(time_(c.seconds), c.scale, c.how);
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_TIME)) << c.seconds;
        EXPECT_EQ(seconds_of(r), c.result) << c.seconds << " " << c.how;
    }
    Cell* money = int_(1);
    cell::set_type(money, TYPE_MONEY);
    EXPECT_EQ(error_of([&] { round_(time_(1), money); }), "script not-related");
}

TEST_F(Times, ValueBuilders) {
    Cell* b = test::block({});
    time::make_in(b, 0x40AC2000, 0);   // 3600.0
    EXPECT_MOLD(b, "[1:00:00]");
    EXPECT_MOLD(time::push(90), "0:01:30");
    Cell c;
    cell::init(&c, TYPE_NONE);
    c.header |= FLAG_NEW_LINE;
    time::make_at(&c, 60);
    EXPECT_EQ(c.header, u32(TYPE_TIME) | FLAG_NEW_LINE);
    EXPECT_EQ(time::get_hours(-5415), -1);
    EXPECT_EQ(time::get_minutes(-5415), 30);
    EXPECT_EQ(time::get_seconds(-5415), -15);
    EXPECT_EQ(time::get_minutes(std::nan("")), 0);
}

}  // namespace
}  // namespace zir
