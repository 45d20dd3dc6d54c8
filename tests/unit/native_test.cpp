// native!, action! and op! values: making them, their records, reflection,
// text and comparison, and operators made from natives and functions.
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/native.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

Cell* w(const char* s, u32 type = TYPE_WORD) { return test::word(s, type); }

struct Natives : ValueTest {
    static Cell* make(u32 type, Cell* spec) {
        Cell* result = datatype_(type);
        return reinterpret_cast<action::Make>(actions::lookup(type, ACT_MAKE))(result, spec, type);
    }
    static Cell* reflect(const Cell* value, const char* field) {
        Cell* v = stack::push(value);
        return reinterpret_cast<action::Reflect>(actions::lookup(TYPE_OF(v), ACT_REFLECT))(v, symbol::make(field));
    }
    // A native! numbered n over the spec [a b].
    static Cell* native_(i32 n, u32 type = TYPE_NATIVE) {
        return make(type, test::block({test::block({w("a"), w("b")}), int_(n)}));
    }
    // A function! as function! values are laid out: its context (on the
    // stack, from the spec), the spec, and a five-cell record whose first cell
    // is the body.
    static Cell* function_(Cell* spec, const Cell* body) {
        Cell* f = stack::push_slot();
        cell::init(f, TYPE_UNSET);
        collector::RootNode ctx(context::make(spec, true, false, context::KIND_FUNCTION));
        u32 record = memory::alloc_unset_cells(5);
        SeriesBuffer* r = node_buffer(record);
        r->tail = r->offset + 5 * 16;
        series::head_cells(r)[0] = *body;
        cell::init(f, TYPE_FUNCTION);
        f->w1 = ctx;
        f->w2 = spec->w2;
        f->w3 = record;
        *context::owner_of(ctx) = *f;
        return f;
    }
};

TEST_F(Natives, MakingKeepsTheSpecAndAFunctionContext) {
    Cell* spec = test::block({str("doc"), w("value"), test::block({w("integer!")}), w("only", TYPE_REFINEMENT),
                              w("return", TYPE_SET_WORD), test::block({w("block!")})});
    Cell* n = make(TYPE_NATIVE, test::block({spec, int_(7)}));
    EXPECT_EQ(TYPE_OF(n), TYPE_NATIVE);
    EXPECT_EQ(n->w1, 7u);
    EXPECT_EQ(n->w2, spec->w2);
    const Cell* record = series::head_cells(node_buffer(n->w3));
    ASSERT_EQ(series::length_of(node_buffer(n->w3)), 2);
    const Cell* ctx = &record[native::RECORD_CONTEXT];
    EXPECT_EQ(TYPE_OF(ctx), TYPE_CONTEXT);
    EXPECT_TRUE(ctx->header & context::ON_STACK);
    EXPECT_FALSE(ctx->header & context::HAS_SELF);
    EXPECT_EQ(context::kind_of(ctx), context::KIND_FUNCTION);
    ASSERT_EQ(context::word_count(ctx), 2) << "value and /only";
    EXPECT_EQ(symbol::spelling(i32(context::word_at(ctx, 1)->w2)), "only");
    EXPECT_EQ(TYPE_OF(&record[native::RECORD_ARGUMENTS]), TYPE_NONE);

    Cell* a = make(TYPE_ACTION, test::block({test::block({w("series")}), int_(62)}));
    EXPECT_EQ(TYPE_OF(a), TYPE_ACTION);
    EXPECT_EQ(a->w1, 62u);
}

TEST_F(Natives, MakeRefusesBadSpecs) {
    Cell* words = test::block({w("a")});
    struct Case {
        u32 type;
        Cell* spec;
    } cases[] = {
        {TYPE_NATIVE, int_(3)},
        {TYPE_NATIVE, test::block({words})},
        {TYPE_NATIVE, test::block({words, int_(1), int_(2)})},
        {TYPE_NATIVE, test::block({int_(1), words})},
        {TYPE_NATIVE, test::block({words, str("1")})},
        {TYPE_NATIVE, test::block({words, int_(0)})},
        {TYPE_NATIVE, test::block({words, int_(121)})},
        {TYPE_NATIVE, test::block({words, int_(-1)})},
        {TYPE_ACTION, test::block({words, int_(63)})},
        {TYPE_ACTION, test::block({words, int_(0)})},
        {TYPE_NATIVE, test::block({words, int_(1)}, TYPE_PAREN)},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { make(c.type, c.spec); }), "script bad-make-arg") << mold(c.spec);
    EXPECT_EQ(native_(120)->w1, 120u);
    // Two values from the head count.
    EXPECT_EQ(make(TYPE_NATIVE, at_(test::block({int_(9), words, int_(4)}), 1))->w1, 4u);
}

TEST_F(Natives, ComparisonByEntry) {
    Cell* first = native_(3);
    Cell* again = native_(3);
    Cell* other = native_(5);
    Cell* act = native_(3, TYPE_ACTION);
    EXPECT_NE(first->w3, again->w3) << "separate records";
    EXPECT_TRUE(actions::compare(first, again, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(first, again, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(first, again, COMP_SAME));
    EXPECT_FALSE(actions::compare(first, other, COMP_EQUAL));
    EXPECT_LT(actions::compare_typed(first, other, COMP_SORT), 0);
    EXPECT_GT(actions::compare_typed(other, first, COMP_SORT), 0);
    EXPECT_FALSE(actions::compare(first, act, COMP_EQUAL)) << "a native is no action";
    EXPECT_EQ(actions::compare_typed(first, act, COMP_EQUAL), NOT_COMPARABLE);
    // The datatype's own entry has no order but for sorting.
    auto own = [](const Cell* a, const Cell* b, i32 op) {
        return reinterpret_cast<action::Compare>(actions::lookup(TYPE_OF(a), ACT_COMPARE))(a, b, op);
    };
    EXPECT_EQ(own(first, other, COMP_LESSER), NOT_COMPARABLE);
    EXPECT_EQ(own(first, other, COMP_CASE_SORT), -1);
    EXPECT_EQ(own(act, native_(1, TYPE_ACTION), COMP_NOT_EQUAL), 1);
    // Equal values hash alike, whatever their records.
    EXPECT_EQ(hash_table::hash_value(first, false), hash_table::hash_value(again, false));
}

TEST_F(Natives, ReflectAndText) {
    Cell* n = native_(12);
    Cell* spec = reflect(n, "spec");
    EXPECT_EQ(TYPE_OF(spec), TYPE_BLOCK);
    EXPECT_EQ(spec->w1, 0u);
    EXPECT_MOLD(spec, "[a b]");
    EXPECT_MOLD(reflect(n, "BODY"), "12") << "the entry's number";
    EXPECT_EQ(error_of([&] { reflect(n, "words"); }), "internal not-done");
    EXPECT_EQ(error_of([&] { reflect(n, "zz-anything"); }), "internal not-done");

    EXPECT_FORM(n, "?native?");
    EXPECT_MOLD(n, "make native! [[a b]]");
    Cell* a = native_(2, TYPE_ACTION);
    EXPECT_FORM(a, "?action?");
    EXPECT_MOLD(a, "make action! [[a b]]");
    EXPECT_MOLD(reflect(a, "body"), "2");
    EXPECT_EQ(actions::form(n, str(""), nullptr, 50), 42);
    EXPECT_EQ(actions::mold(n, str(""), false, false, false, nullptr, 50, 0), 30);
}

TEST_F(Natives, OperatorsNeedTwoOperands) {
    auto spec_native = [](std::initializer_list<const Cell*> words) {
        return make(TYPE_NATIVE, test::block({test::block(words), int_(4)}));
    };
    struct Case {
        Cell* source;
        const char* error;
    } cases[] = {
        {spec_native({w("a"), w("b")}), ""},
        {spec_native({str("doc"), w("a"), test::block({w("integer!")}), w("b")}), ""},
        {spec_native({w("a"), w("b", TYPE_LIT_WORD)}), ""},
        {spec_native({w("a"), w("b", TYPE_GET_WORD)}), ""},
        {spec_native({w("a"), w("b"), w("local", TYPE_REFINEMENT), w("c"), w("d")}), ""},
        {spec_native({w("a"), w("b"), w("EXTERN", TYPE_REFINEMENT), w("c")}), ""},
        {spec_native({w("a"), w("b"), w("return", TYPE_SET_WORD), w("c")}), ""},
        {spec_native({w("a", TYPE_LIT_WORD), w("b")}), "script bad-op-spec"},
        {spec_native({w("a", TYPE_GET_WORD), w("b")}), "script bad-op-spec"},
        {spec_native({w("a")}), "script bad-op-spec"},
        {spec_native({w("a"), w("b"), w("c")}), "script bad-op-spec"},
        {spec_native({w("a"), w("b"), w("only", TYPE_REFINEMENT)}), "script bad-op-spec"},
        {spec_native({}), "script bad-op-spec"},
        {int_(1), "script invalid-type"},
        {test::block({w("a"), w("b")}), "script invalid-type"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { make(TYPE_OP, c.source); }), c.error) << mold(c.source);
}

TEST_F(Natives, OperatorsFromNatives) {
    Cell* n = native_(9);
    Cell* op = make(TYPE_OP, n);
    EXPECT_EQ(TYPE_OF(op), TYPE_OP);
    EXPECT_EQ((op->header >> op::SOURCE_SHIFT) & 0xFF, TYPE_NATIVE);
    EXPECT_EQ(op->w1, n->w1);
    EXPECT_EQ(op->w2, n->w2);
    EXPECT_EQ(op->w3, n->w3);
    EXPECT_FORM(op, "?op?");
    EXPECT_MOLD(op, "make op! [[a b]]");
    EXPECT_MOLD(reflect(op, "spec"), "[a b]");
    EXPECT_MOLD(reflect(op, "body"), "9");
    EXPECT_TRUE(actions::compare(op, make(TYPE_OP, native_(9)), COMP_EQUAL));
    EXPECT_FALSE(actions::compare(op, n, COMP_EQUAL));
    Cell* from_action = make(TYPE_OP, native_(11, TYPE_ACTION));
    EXPECT_EQ((from_action->header >> op::SOURCE_SHIFT) & 0xFF, TYPE_ACTION);
    EXPECT_MOLD(reflect(from_action, "body"), "11");
}

TEST_F(Natives, OperatorsFromFunctions) {
    Cell* spec = test::block({w("a"), w("b")});
    Cell* body = test::block({w("a")});
    Cell* f = function_(spec, body);
    Cell* op = make(TYPE_OP, f);
    EXPECT_EQ((op->header >> op::SOURCE_SHIFT) & 0xFF, TYPE_FUNCTION);
    EXPECT_EQ(op->w1, f->w1);
    const Cell* kept = series::head_cells(node_buffer(f->w3)) + op::FUNCTION_RECORD_OP;
    EXPECT_EQ(TYPE_OF(kept), TYPE_FUNCTION) << "the function is reachable from its record";
    EXPECT_EQ(kept->w1, f->w1);
    EXPECT_MOLD(op, "make op! func [a b][a]");
    EXPECT_MOLD(reflect(op, "body"), "[a]");

    // A function without a body molds as one, brackets balanced.
    Cell* bodiless = function_(spec, none_());
    EXPECT_MOLD(make(TYPE_OP, bodiless), "make op! func [a b] none");

    Cell* lit_first = function_(test::block({w("a", TYPE_LIT_WORD), w("b")}), body);
    EXPECT_EQ(error_of([&] { make(TYPE_OP, lit_first); }), "script bad-op-spec");
    EXPECT_EQ(TYPE_OF(series::head_cells(node_buffer(lit_first->w3)) + op::FUNCTION_RECORD_OP), TYPE_UNSET)
        << "nothing kept when refused";
}

}  // namespace
}  // namespace zir
