// The path family and paren!: text, making, inherited actions, comparison.
#include "datatypes/block.hpp"
#include "evaluator/actions.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Paths : ValueTest {};

TEST_F(Paths, Text) {
    Cell* ab = test::block({int_(1), int_(2)}, TYPE_PATH);
    struct Case {
        const Cell* value;
        const char* mold;
        const char* form;
    } cases[] = {
        {test::block({int_(1), int_(2)}, TYPE_PATH), "1/2", "1/2"},
        {test::block({int_(1), int_(2)}, TYPE_SET_PATH), "1/2:", "1/2"},
        {test::block({int_(1), int_(2)}, TYPE_GET_PATH), ":1/2", "1/2"},
        {test::block({int_(1), int_(2)}, TYPE_LIT_PATH), "'1/2", "1/2"},
        {test::block({int_(7)}, TYPE_PATH), "7", "7"},
        {test::block({}, TYPE_PATH), "", ""},
        {test::block({int_(1), test::block({int_(2), int_(3)}), int_(4)}, TYPE_PATH), "1/[2 3]/4", "1/2 3/4"},
        {test::block({int_(1), ab}, TYPE_PATH), "1/1/2", "1/1/2"},
        {test::block({int_(1), int_(2)}, TYPE_PAREN), "(1 2)", "1 2"},
        {test::block({}, TYPE_PAREN), "()", ""},
        {test::block({int_(1), nl(int_(2))}, TYPE_PAREN), "(1\n2)", "1 2"},
        {test::block({nl(int_(1)), int_(2)}, TYPE_PAREN), "(\n    1 2\n)", "1 2"},
        {test::block({test::block({int_(1)}, TYPE_PAREN)}), "[(1)]", "1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.value), c.mold);
        EXPECT_EQ(form(c.value), c.form);
    }
    MoldOptions only;
    only.only = true;
    EXPECT_EQ(mold(test::block({int_(1), int_(2)}, TYPE_PAREN), only), "1 2");
    MoldOptions part;
    part.part = 3;
    EXPECT_EQ(mold(test::block({int_(10), int_(20), int_(30)}, TYPE_SET_PATH), part), "10/");
}

TEST_F(Paths, CyclesWriteAPlaceholder) {
    Cell* p = test::block({int_(1)}, TYPE_PATH);
    block::zs_append(p, p);
    EXPECT_EQ(mold(p), "1/...");
    EXPECT_EQ(form(p), "1/...");
    Cell* q = test::block({int_(1)}, TYPE_PAREN);
    block::zs_append(q, q);
    EXPECT_EQ(mold(q), "(1 (...))");
}

TEST_F(Paths, Making) {
    auto make = [](u32 type, Cell* spec) {
        return reinterpret_cast<action::Make>(actions::lookup(type, ACT_MAKE))(nullptr, spec, type);
    };
    auto to = [](u32 type, Cell* spec) {
        return reinterpret_cast<action::Make>(actions::lookup(type, ACT_TO))(nullptr, spec, type);
    };
    Cell* empty = make(TYPE_PATH, int_(0));
    EXPECT_EQ(TYPE_OF(empty), u32(TYPE_PATH));
    EXPECT_EQ(block::zs_length_q(empty), 0);
    EXPECT_EQ(node_buffer(empty->w2)->size, 16u) << "room for one element";
    Cell* copied = make(TYPE_SET_PATH, test::block({int_(1), int_(2)}));
    EXPECT_EQ(mold(copied), "1/2:");
    EXPECT_EQ(error_of([&] { make(TYPE_PATH, none_()); }), "script bad-make-arg");
    EXPECT_EQ(mold(to(TYPE_PATH, int_(5))), "5") << "a scalar becomes a one-element path";
    EXPECT_EQ(mold(to(TYPE_GET_PATH, test::block({int_(1), int_(2)}))), ":1/2");
    Cell* paren = make(TYPE_PAREN, test::block({int_(1)}));
    EXPECT_EQ(mold(paren), "(1)");
    Cell* copy = actions::copy(test::block({int_(3), int_(4)}, TYPE_LIT_PATH), stack::push_slot(), nullptr, false, nullptr);
    EXPECT_EQ(mold(copy), "'3/4") << "copy keeps the path type";
}

TEST_F(Paths, InheritedAndRefusedActions) {
    Cell* p = test::block({int_(1), int_(2), int_(3)}, TYPE_PATH);
    EXPECT_EQ(actions::get<action::Length>(p, ACT_LENGTH_Q)(p), 3);
    for (u32 slot : {u32(ACT_SORT), u32(ACT_RANDOM), u32(ACT_TRIM), u32(ACT_ADD), u32(ACT_READ)}) {
        for (u32 type : {u32(TYPE_PATH), u32(TYPE_SET_PATH), u32(TYPE_GET_PATH), u32(TYPE_LIT_PATH)})
            EXPECT_EQ(actions::lookup(type, slot), nullptr) << slot << " " << type;
    }
    EXPECT_NE(actions::lookup(TYPE_PAREN, ACT_RANDOM), nullptr) << "paren! keeps random from block!";
    EXPECT_EQ(actions::lookup(TYPE_PAREN, ACT_SORT), actions::lookup(TYPE_BLOCK, ACT_SORT)) << "and sort";
    EXPECT_NE(actions::lookup(TYPE_BLOCK, ACT_SORT), nullptr);
    EXPECT_EQ(actions::lookup(TYPE_PAREN, ACT_TRIM), nullptr);
    EXPECT_NE(actions::lookup(TYPE_SET_PATH, ACT_MODIFY), nullptr);
    EXPECT_EQ(actions::lookup(TYPE_SET_PATH, ACT_COPY), actions::lookup(TYPE_PATH, ACT_COPY));
}

TEST_F(Paths, Comparison) {
    Cell* a = test::block({int_(1), int_(2)}, TYPE_PATH);
    Cell* b = test::block({int_(1), int_(2)}, TYPE_LIT_PATH);
    Cell* c = test::block({int_(1), int_(2)}, TYPE_SET_PATH);
    EXPECT_EQ(actions::compare_typed(a, test::block({int_(1), int_(2)}, TYPE_PATH), COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare_typed(a, c, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(a, b, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_typed(a, b, COMP_PARSE), 0) << "path! and lit-path! meet under the parse ops";
    EXPECT_EQ(actions::compare_typed(a, b, COMP_PARSE_CASE), 0);
    EXPECT_EQ(actions::compare_typed(test::block({int_(1)}, TYPE_PAREN), test::block({int_(1)}), COMP_EQUAL), NOT_COMPARABLE);
}

}  // namespace
}  // namespace zir
