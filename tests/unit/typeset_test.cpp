// typeset! (text, construction from specs, bitwise operations, find,
// comparison, argument checks) and triple! (text, nothing else).
#include <algorithm>
#include <functional>
#include <vector>

#include "datatypes/datatype.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/unset.hpp"
#include "evaluator/actions.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Typesets : ValueTest {};

// The text an entry writes before any /part cut, and the part it answers.
struct Rendered {
    std::string text;
    i32 part_left;
};

Rendered render(const Cell* value, bool mold_it, i32 part = 1000) {
    Cell* saved = stack::top;
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    i32 left = mold_it ? actions::mold(value, buffer, false, false, false, nullptr, part, 0)
                       : actions::form(value, buffer, nullptr, part);
    Rendered r{string::to_std(buffer), left};
    stack::top = saved;
    return r;
}

// Runs a stack entry over two arguments pushed as its call would push them.
struct Call {
    Cell* saved_arguments = stack::arguments;
    Call(const Cell* a, const Cell* b) {
        Cell* first = stack::push(a);
        stack::push(b);
        stack::arguments = first;
    }
    ~Call() { stack::arguments = saved_arguments; }
    Cell* result() const { return stack::arguments; }
};

Cell bitwise(const Cell* a, const Cell* b, i32 op) {
    Call call(a, b);
    typeset::do_bitwise(op);
    return *call.result();
}

// The ids the registry lists, the ones typesets print and count.
std::vector<u32> listed_ids() {
    std::vector<u32> ids;
    for (u32 t = 1; t <= datatype::highest && t < typeset::BITS; t++)
        if (datatype::names[t].name) ids.push_back(t);
    return ids;
}

// --- Text --------------------------------------------------------------------------

TEST_F(Typesets, MoldAndFormText) {
    struct Case {
        Cell* value;
        const char* mold;
        const char* form;
    } cases[] = {
        {typeset_({}), "make typeset! []", ""},
        {typeset_({TYPE_INTEGER, TYPE_STRING}), "make typeset! [string! integer!]", "string! integer!"},
        {typeset_({TYPE_NONE}), "make typeset! [none!]", "none!"},
        {typeset_({TYPE_DATATYPE, TYPE_TYPESET, TYPE_BLOCK}), "make typeset! [datatype! block! typeset!]",
         "datatype! block! typeset!"},
        {typeset_({0}), "make typeset! []", ""},   // id 0 is no datatype
    };
    for (const Case& c : cases) {
        EXPECT_MOLD(c.value, c.mold);
        EXPECT_FORM(c.value, c.form);
        // The part answered is the part given minus every code point written.
        Rendered m = render(c.value, true), f = render(c.value, false);
        EXPECT_EQ(m.part_left, 1000 - i32(m.text.size())) << c.mold;
        EXPECT_EQ(f.part_left, 1000 - i32(f.text.size())) << c.form;
    }
}

TEST_F(Typesets, WritingStopsOnceThePartIsUsedUp) {
    Cell* ts = typeset_({TYPE_NONE, TYPE_STRING, TYPE_INTEGER});
    EXPECT_EQ(render(ts, true, 20).text, "make typeset! [none!]") << "15 + 6 passes 20: no more names";
    EXPECT_EQ(render(ts, false, 7).text, "none! string!");
    MoldOptions cut;
    cut.part = 18;
    EXPECT_EQ(mold(ts, cut), "make typeset! [non");
}

TEST_F(Typesets, TripleText) {
    struct Case {
        i32 a, b, c;
        const char* text;
    } cases[] = {
        {1, -2, 3, "make triple! [1 -2 3]"},
        {-2147483647 - 1, 0, 2147483647, "make triple! [-2147483648 0 2147483647]"},
    };
    for (const Case& c : cases) {
        Cell* t = triple::push(c.a, c.b, c.c);
        EXPECT_MOLD(t, c.text);
        EXPECT_FORM(t, c.text);
        MoldOptions all;
        all.all = true;
        EXPECT_EQ(mold(t, all), c.text);
        EXPECT_EQ(render(t, true).part_left, 1000 - i32(std::strlen(c.text)));
    }
}

TEST_F(Typesets, TripleSupportsNothingButText) {
    Cell* t = triple::push(1, 2, 3);
    for (u32 slot = 1; slot <= ACTION_SLOTS; slot++) {
        if (slot == ACT_FORM || slot == ACT_MOLD) continue;
        EXPECT_EQ(actions::lookup(TYPE_TRIPLE, slot), nullptr) << "slot " << slot;
    }
    EXPECT_EQ(error_of([&] { actions::compare(t, t, COMP_EQUAL); }), "script expect-arg");
    EXPECT_EQ(error_of([&] { actions::find(t, t, nullptr, false, false, false, false, nullptr, nullptr, false,
                                           false, false, false); }),
              "script expect-arg");
}

// --- Making typesets ------------------------------------------------------------------

TEST_F(Typesets, MakeAndToFromSpecs) {
    // make and to on a datatype! run the entry of the type it denotes.
    auto entry = [](u32 slot) { return reinterpret_cast<action::Make>(actions::lookup(TYPE_TYPESET, slot)); };
    auto make = [&](Cell* spec) {
        Cell* proto = datatype_(TYPE_TYPESET);
        return *entry(ACT_MAKE)(proto, spec, TYPE_TYPESET);
    };
    Cell empty = make(block({}));
    EXPECT_EQ(TYPE_OF(&empty), u32(TYPE_TYPESET));
    EXPECT_FORM(&empty, "");

    Cell* numbers = typeset_({TYPE_INTEGER, TYPE_FLOAT});
    Cell* word_to_type = bound_word("zz-logic-type", datatype_(TYPE_LOGIC));
    Cell made = make(block({datatype_(TYPE_NONE), numbers, word_to_type}));
    EXPECT_MOLD(&made, "make typeset! [none! logic! integer! float!]");

    Cell* same = typeset_({TYPE_NONE});
    Cell* to = datatype_(TYPE_TYPESET);
    EXPECT_EQ(entry(ACT_TO)(to, same, TYPE_TYPESET), same) << "a typeset answers itself";

    EXPECT_EQ(error_of([&] { make(int_(3)); }), "script bad-to-arg");
    EXPECT_EQ(error_of([&] { make(block({int_(3)})); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { make(block({word("zz-unbound")})); }), "script no-value");
    Cell* unset_value = stack::push_slot();
    cell::init(unset_value, TYPE_UNSET);
    Cell* unset_word = bound_word("zz-unset-word", unset_value);
    EXPECT_EQ(error_of([&] { make(block({unset_word})); }), "script no-value");
    Cell* none_word = bound_word("zz-none-word", none_());
    EXPECT_EQ(error_of([&] { make(block({none_word})); }), "script invalid-arg") << "a word standing for none";
}

TEST_F(Typesets, SpecBlocksOfFunctionArguments) {
    Cell* holder = block({});
    Cell* words_type = bound_word("zz-word-value", word("zz-anything"));
    Cell* named_set = bound_word("zz-named-set", typeset_({TYPE_CHAR, TYPE_BLOCK}));
    Cell* spec = block({datatype_(TYPE_INTEGER), named_set, block({int_(1)}), words_type});
    Cell ts = *typeset::make_from_spec_in(holder, spec);   // the block cell moves at the next allocation
    EXPECT_MOLD(&ts, "make typeset! [block! char! integer! object!]") << "a word's word stands for object!";

    Cell* bad = block({datatype_(TYPE_INTEGER), int_(5)});
    EXPECT_EQ(error_of([&] { typeset::make_from_spec_in(holder, bad); }), "script invalid-type-spec");
    EXPECT_EQ(series::length_of(node_buffer(holder->w2)), 1) << "nothing appended for a bad spec";

    Cell any = *typeset::make_default_in(holder);
    for (u32 t = 0; t < typeset::BITS; t++) EXPECT_EQ(typeset::has_q(&any, t), t != TYPE_UNSET) << t;
    EXPECT_EQ(typeset::count(&any), i32(listed_ids().size()) - 1);

    Cell raw = *typeset::make_in(holder, 1, 2, 3);
    EXPECT_EQ(raw.w1 + raw.w2 + raw.w3, 6u);
    Cell copy = *typeset::push(&raw);
    typeset::clear(&copy);
    EXPECT_EQ(copy.w1 | copy.w2 | copy.w3, 0u);
}

TEST_F(Typesets, BitLayout) {
    // Id t is bit 0x80 >> (t & 7) of payload byte t >> 3, byte 0 the low byte of word 1.
    Cell* ts = typeset_({TYPE_DATATYPE, TYPE_BLOCK, TYPE_STRING, TYPE_FLOAT, TYPE_TYPESET, TYPE_EVENT, 70});
    EXPECT_EQ(ts->w1, 0x40u | 0x04u | 0x01u | (0x08u << 8));
    EXPECT_EQ(ts->w2, 0x40u | (0x02u << 16));
    EXPECT_EQ(ts->w3, 0x02u);
    for (u32 t : {1u, 5u, 7u, 12u, 33u, 54u, 70u}) EXPECT_TRUE(typeset::has_q(ts, t)) << t;
    for (u32 t : {0u, 2u, 6u, 13u, 32u, 55u, 95u}) EXPECT_FALSE(typeset::has_q(ts, t)) << t;
}

TEST_F(Typesets, ToBlockListsMembersInIdOrder) {
    Cell* ts = typeset_({TYPE_INTEGER, TYPE_NONE, TYPE_TYPESET});
    Cell* out = stack::push(&unset::value);
    typeset::to_block(ts, out);
    SeriesBuffer* b = node_buffer(out->w2);
    ASSERT_EQ(series::length_of(b), 3);
    const Cell* cells = series::head_cells(b);
    u32 expected[] = {TYPE_NONE, TYPE_INTEGER, TYPE_TYPESET};
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(TYPE_OF(&cells[i]), u32(TYPE_DATATYPE));
        EXPECT_EQ(cells[i].w1, expected[i]);
    }
    EXPECT_EQ(typeset::count(ts), 3);
}

// --- Operations --------------------------------------------------------------------------

TEST_F(Typesets, BitwiseOperations) {
    Cell* a = typeset_({TYPE_NONE, TYPE_INTEGER, TYPE_FLOAT});
    Cell* b = typeset_({TYPE_INTEGER, TYPE_LOGIC});
    struct Case {
        i32 op;
        const Cell* other;
        const char* form;
    } cases[] = {
        {5, b, "none! logic! integer! float!"},
        {9, b, "none! logic! integer! float!"},
        {6, b, "integer!"},
        {10, b, "integer!"},
        {7, b, "none! logic! float!"},
        {12, b, "none! logic! float!"},
        {11, b, "none! float!"},
        {8, b, "none! integer! float!"},
        {5, datatype_(TYPE_BLOCK), "none! block! integer! float!"},
        {11, datatype_(TYPE_FLOAT), "none! integer!"},
    };
    for (const Case& c : cases) {
        Cell r = bitwise(a, c.other, c.op);
        EXPECT_EQ(TYPE_OF(&r), u32(TYPE_TYPESET));
        EXPECT_FORM(&r, c.form) << "op " << c.op;
    }
    EXPECT_EQ(error_of([&] { bitwise(a, int_(1), 6); }), "script invalid-arg");
    // The action entries run the same operations.
    Call call(a, b);
    reinterpret_cast<action::Direct>(actions::lookup(TYPE_TYPESET, ACT_XOR_T))();
    EXPECT_FORM(call.result(), "none! logic! float!");
}

TEST_F(Typesets, ComplementAndFind) {
    auto find = [](Cell* ts, Cell* value) {
        Cell* s = stack::push(ts);
        return *actions::find(s, value, nullptr, false, false, false, false, nullptr, nullptr, false, false, false,
                              false);
    };
    Cell* empty = typeset_({});
    Cell* everything = stack::push(empty);
    actions::get<action::Unary>(everything, ACT_COMPLEMENT)(everything);
    EXPECT_EQ(everything->w1 & everything->w2 & everything->w3, ~0u) << "all 96 bits";
    for (u32 t = 1; t <= datatype::highest; t++) {
        Cell found = find(everything, datatype_(t));
        ASSERT_EQ(TYPE_OF(&found), u32(TYPE_LOGIC));
        EXPECT_EQ(found.w1, 1u) << t;
        EXPECT_EQ(find(empty, datatype_(t)).w1, 0u) << t;
    }
    EXPECT_EQ(typeset::count(everything), i32(listed_ids().size()));
    EXPECT_EQ(error_of([&] { find(everything, int_(11)); }), "script invalid-arg");
}

TEST_F(Typesets, ComparisonAndSorting) {
    Cell* a = typeset_({TYPE_INTEGER, TYPE_NONE});
    Cell* b = typeset_({TYPE_NONE, TYPE_INTEGER});
    Cell* c = typeset_({TYPE_NONE});
    EXPECT_TRUE(actions::compare(a, b, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(a, b, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(a, b, COMP_SAME));
    EXPECT_FALSE(actions::compare(a, c, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(a, c, COMP_NOT_EQUAL));
    EXPECT_FALSE(actions::compare(a, int_(1), COMP_EQUAL));
    EXPECT_EQ(actions::compare_typed(a, datatype_(TYPE_INTEGER), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(error_of([&] { actions::compare(a, b, COMP_LESSER); }), "script invalid-compare");

    std::vector<Cell> sets = {*typeset_({TYPE_NONE, TYPE_LOGIC, TYPE_INTEGER}), *typeset_({}),
                              *typeset_({TYPE_TYPESET}), *typeset_({TYPE_BLOCK, TYPE_STRING})};
    std::sort(sets.begin(), sets.end(),
              [](const Cell& x, const Cell& y) { return actions::compare_typed(&x, &y, COMP_SORT) < 0; });
    std::vector<i32> counts;
    for (const Cell& s : sets) counts.push_back(typeset::count(&s));
    EXPECT_EQ(counts, (std::vector<i32>{0, 1, 2, 3})) << "ordered by how many datatypes each holds";
}

// --- Argument checks -----------------------------------------------------------------------

// A native frame named `name` for the checks to report as the caller.
struct NativeFrame {
    explicit NativeFrame(const char* name) { stack::mark_native(u32(symbol::make(name))); }
    ~NativeFrame() { stack::unwind(); }
};

TEST_F(Typesets, ArgumentChecks) {
    Cell* numbers = typeset_({TYPE_INTEGER, TYPE_FLOAT});
    Cell* bad = none_();
    NativeFrame frame("zz-checked");
    int_(3);
    stack::push(bad);
    EXPECT_EQ(typeset::check_arg(numbers, 0, stack::arguments), stack::arguments);
    LanguageError e = raised([&] { typeset::check_arg(numbers, 1, stack::arguments + 1); });
    EXPECT_STREQ(e.id, "expect-arg");
    ASSERT_EQ(e.argc, 3);
    EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_WORD));
    EXPECT_EQ(symbol::spelling(i32(e.args[0].w2)), "zz-checked") << "the caller's name";
    EXPECT_EQ(TYPE_OF(&e.args[1]), u32(TYPE_DATATYPE));
    EXPECT_EQ(e.args[1].w1, u32(TYPE_NONE));

    typeset::check_stack_arg(numbers, 0);
    typeset::check_stack_arg(typeset_({}), -1);   // an absent refinement: nothing to check
    EXPECT_EQ(error_of([&] { typeset::check_stack_arg(numbers, 1); }), "script expect-arg");
    typeset::check_refinement_arg(logic_(false), numbers, 1);
    EXPECT_EQ(error_of([&] { typeset::check_refinement_arg(logic_(true), numbers, 1); }), "script expect-arg");

    EXPECT_EQ(typeset::check_not_unset(0, bad), bad);
    Cell unset_cell;
    cell::init(&unset_cell, TYPE_UNSET);
    e = raised([&] { typeset::check_not_unset(0, &unset_cell); });
    EXPECT_STREQ(e.id, "expect-arg");
    EXPECT_EQ(e.args[1].w1, u32(TYPE_UNSET));
}

}  // namespace
}  // namespace zir
