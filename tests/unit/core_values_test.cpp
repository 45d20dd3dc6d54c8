// The datatype registry, datatype!, unset!, none!, logic!, and the shared
// comparison, mold and form entries.
#include "datatypes/datatype.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/string.hpp"
#include "datatypes/unset.hpp"
#include "evaluator/actions.hpp"
#include "services/random.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct CoreValues : ValueTest {};

// --- Registry ------------------------------------------------------------------

i32 fake_form(const Cell*, Cell*, const Cell*, i32 part) { return part; }
i32 other_form(const Cell*, Cell*, const Cell*, i32 part) { return part - 1; }

TEST(Registry, InheritanceIsCopiedAtRegistration) {
    // Two spare ids stand for a parent and its children.
    const u32 parent = 55, child = 56;
    datatype::Registration p(parent, 0, "parent!");
    p.on<ACT_FORM>(fake_form);   // mold left unsupported: no parent to inherit from
    datatype::register_(p);
    EXPECT_EQ(actions::lookup(parent, ACT_FORM), reinterpret_cast<action::Generic>(fake_form));
    EXPECT_EQ(actions::lookup(parent, ACT_MOLD), nullptr);

    datatype::Registration c(child, parent, "child!");
    datatype::register_(c);
    EXPECT_EQ(actions::lookup(child, ACT_FORM), reinterpret_cast<action::Generic>(fake_form));
    EXPECT_EQ(actions::lookup(child, ACT_MOLD), nullptr) << "inheriting an unsupported slot leaves it unsupported";

    datatype::Registration own(child, parent, "child!");
    own.on<ACT_FORM>(other_form);
    datatype::register_(own);
    EXPECT_EQ(actions::lookup(child, ACT_FORM), reinterpret_cast<action::Generic>(other_form));

    // A later change of the parent row does not reach the child.
    datatype::Registration p2(parent, 0, "parent!");
    datatype::register_(p2);
    EXPECT_EQ(actions::lookup(parent, ACT_FORM), nullptr);
    EXPECT_EQ(actions::lookup(child, ACT_FORM), reinterpret_cast<action::Generic>(other_form));
    for (u32 t : {parent, child}) {
        for (u32 s = 1; s <= ACTION_SLOTS; s++) datatype::table[t][s - 1] = nullptr;
        datatype::names[t] = {};
    }
}

TEST_F(CoreValues, MissingActionRaisesExpectArg) {
    Cell* v = int_(1);
    EXPECT_EQ(error_of([&] { actions::get_action_of(v, ACT_TRIM); }), "script expect-arg");
}

// --- Text of values ----------------------------------------------------------------

TEST_F(CoreValues, MoldAndFormText) {
    struct Case {
        Cell* value;
        const char* mold;
        const char* mold_all;
        const char* form;
    } cases[] = {
        {datatype_(TYPE_BLOCK), "block!", "#(block!)", "block"},
        {datatype_(TYPE_INTEGER), "integer!", "#(integer!)", "integer"},
        {stack::push(&unset::value), "unset", "#(unset)", ""},
        {none_(), "none", "#(none)", "none"},
        {logic_(true), "true", "#(true)", "true"},
        {logic_(false), "false", "#(false)", "false"},
        {int_(-2147483647 - 1), "-2147483648", "-2147483648", "-2147483648"},
        {int_(0), "0", "0", "0"},
        {int_(1234567), "1234567", "1234567", "1234567"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.value), c.mold);
        MoldOptions all;
        all.all = true;
        EXPECT_EQ(mold(c.value, all), c.mold_all);
        EXPECT_EQ(form(c.value), c.form);
    }
}

TEST_F(CoreValues, MoldAndFormStackEntries) {
    // The stack entries read /part from the cell after the value: position 1.
    Cell* saved = stack::arguments;
    const i32 part_at_1[4] = {-1, -1, -1, 1};
    stack::arguments = stack::top;
    datatype_(TYPE_BLOCK);
    int_(3);
    actions::mold_star(part_at_1);
    EXPECT_EQ(string::to_std(stack::arguments), "blo");
    stack::arguments = stack::top;
    datatype_(TYPE_BLOCK);
    int_(0);
    actions::mold_star(part_at_1);
    EXPECT_EQ(TYPE_OF(stack::arguments), u32(TYPE_STRING));
    EXPECT_EQ(string::to_std(stack::arguments), "") << "a limit of 0 renders nothing";
    *stack::arguments = *logic_(true);
    const i32 no_part[1] = {-1};
    actions::form_star(no_part);
    EXPECT_EQ(string::to_std(stack::arguments), "true");
    stack::arguments = saved;
}

// --- Comparison ----------------------------------------------------------------

TEST_F(CoreValues, ComparisonTable) {
    struct Case {
        const Cell* a;
        const Cell* b;
        i32 op;
        i32 raw;   // the raw answer
    } cases[] = {
        {datatype_(TYPE_BLOCK), datatype_(TYPE_BLOCK), COMP_EQUAL, 0},
        {datatype_(TYPE_BLOCK), datatype_(TYPE_STRING), COMP_EQUAL, 1},
        {datatype_(TYPE_BLOCK), datatype_(TYPE_STRING), COMP_LESSER, NOT_COMPARABLE},
        {stack::push(&unset::value), stack::push(&unset::value), COMP_EQUAL, 0},
        {none_(), stack::push(&unset::value), COMP_EQUAL, NOT_COMPARABLE},
        {none_(), none_(), COMP_SORT, 0},
        {none_(), none_(), COMP_LESSER, NOT_COMPARABLE},
        {logic_(true), logic_(false), COMP_SORT, 1},
        {logic_(false), logic_(true), COMP_SORT, -1},
        {logic_(true), int_(1), COMP_EQUAL, NOT_COMPARABLE},
        {int_(3), int_(5), COMP_LESSER, -1},
        {int_(5), int_(5), COMP_STRICT_EQUAL, 0},
        {int_(5), none_(), COMP_STRICT_EQUAL, 1},
        {int_(5), none_(), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases) EXPECT_EQ(actions::compare_typed(c.a, c.b, c.op), c.raw) << mold(c.a) << " " << mold(c.b);
}

TEST_F(CoreValues, ComparisonMappedToTruth) {
    EXPECT_TRUE(actions::compare(int_(1), int_(1), COMP_EQUAL));
    EXPECT_FALSE(actions::compare(int_(1), none_(), COMP_EQUAL)) << "not comparable: not equal";
    EXPECT_TRUE(actions::compare(int_(1), none_(), COMP_NOT_EQUAL));
    EXPECT_EQ(error_of([&] { actions::compare(int_(1), none_(), COMP_LESSER); }), "script invalid-compare");
    EXPECT_EQ(error_of([&] { actions::compare(datatype_(TYPE_BLOCK), datatype_(TYPE_STRING), COMP_LESSER); }),
              "script invalid-compare");
    EXPECT_TRUE(actions::compare(int_(2), int_(1), COMP_GREATER));
    EXPECT_TRUE(actions::compare(int_(2), int_(2), COMP_GREATER_EQUAL));
    EXPECT_TRUE(actions::compare(int_(2), int_(2), COMP_LESSER_EQUAL));
}

// --- logic! ----------------------------------------------------------------------

TEST_F(CoreValues, TruthRule) {
    struct Case {
        const Cell* value;
        bool truth;
    } cases[] = {{none_(), false},     {logic_(false), false}, {logic_(true), true},
                 {int_(0), true},      {str(""), true},        {stack::push(&unset::value), true},
                 {datatype_(TYPE_NONE), true}};
    for (const Case& c : cases) EXPECT_EQ(logic::truthy_q(c.value, false, nullptr), c.truth) << mold(c.value);
    Cell* w = word("undefined-thing");
    EXPECT_EQ(error_of([&] { logic::truthy_q(&unset::value, true, w); }), "script no-value");
}

TEST_F(CoreValues, MakeAndToLogic) {
    // make and to on the datatype logic! dispatch on logic!.
    auto logic_make = [&](Cell* spec) {
        return logic::get(reinterpret_cast<action::Make>(actions::lookup(TYPE_LOGIC, ACT_MAKE))(nullptr, spec, TYPE_LOGIC));
    };
    auto logic_to = [&](Cell* spec) {
        return logic::get(reinterpret_cast<action::Make>(actions::lookup(TYPE_LOGIC, ACT_TO))(nullptr, spec, TYPE_LOGIC));
    };
    EXPECT_EQ(logic_make(int_(0)), 0u);
    EXPECT_EQ(logic_make(int_(2)), 1u);
    EXPECT_EQ(logic_make(str("false")), 1u);
    EXPECT_EQ(logic_make(none_()), 0u);
    EXPECT_EQ(logic_to(none_()), 0u);
    EXPECT_EQ(logic_to(int_(0)), 1u) << "to has no number rule";
    EXPECT_EQ(logic_to(logic_(false)), 0u);
}

TEST_F(CoreValues, LogicOperations) {
    Cell* saved = stack::arguments;
    struct Case {
        void (*op)();
        bool a, b, result;
    } cases[] = {
        {reinterpret_cast<void (*)()>(actions::lookup(TYPE_LOGIC, ACT_AND_T)), true, false, false},
        {reinterpret_cast<void (*)()>(actions::lookup(TYPE_LOGIC, ACT_AND_T)), true, true, true},
        {reinterpret_cast<void (*)()>(actions::lookup(TYPE_LOGIC, ACT_OR_T)), false, true, true},
        {reinterpret_cast<void (*)()>(actions::lookup(TYPE_LOGIC, ACT_OR_T)), false, false, false},
        {reinterpret_cast<void (*)()>(actions::lookup(TYPE_LOGIC, ACT_XOR_T)), true, true, false},
        {reinterpret_cast<void (*)()>(actions::lookup(TYPE_LOGIC, ACT_XOR_T)), true, false, true},
    };
    for (const Case& c : cases) {
        stack::arguments = logic_(c.a);
        logic_(c.b);
        c.op();
        EXPECT_EQ(logic::get(stack::arguments), u32(c.result));
    }
    stack::arguments = logic_(true);
    int_(1);
    EXPECT_EQ(error_of(cases[0].op), "script expect-arg");
    stack::arguments = saved;
    Cell* t = logic_(true);
    actions::get<action::Unary>(t, ACT_COMPLEMENT)(t);
    EXPECT_EQ(logic::get(t), 0u);
}

TEST_F(CoreValues, RandomLogic) {
    // Seeding answers unset; draws follow the generator: true above 0x3FFFFFFF.
    Cell* v = logic_(true);
    auto rnd = actions::get<action::Random>(v, ACT_RANDOM);
    rnd(v, true, false, false);
    EXPECT_EQ(TYPE_OF(v), u32(TYPE_UNSET));
    random::seed(1);
    std::vector<i32> draws;
    for (int i = 0; i < 50; i++) draws.push_back(random::genrand());
    random::seed(1);
    for (i32 d : draws) {
        Cell* b = logic_(false);
        rnd(b, false, false, false);
        EXPECT_EQ(logic::get(b), u32(d > 0x3FFFFFFF));
    }
}

TEST_F(CoreValues, NoneAnswersNoneToSeriesActions) {
    Cell* n = none_();
    EXPECT_EQ(actions::get<action::Length>(n, ACT_LENGTH_Q)(n), -1);
    Cell* r = actions::find(n, int_(1), nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    EXPECT_EQ(TYPE_OF(r), u32(TYPE_NONE));
}

}  // namespace
}  // namespace zir
