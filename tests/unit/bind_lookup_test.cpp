// Binding a whole block reads its context's words once (a filter on resolved
// symbols, and the words themselves for a small context) instead of asking
// the word table for every word, and a new function's body is bound as it is
// copied. Both must answer exactly what the word table answers, word by word.
// A context made from a spec of few words has its word list written at once
// and indexed in one pass, which must leave what adding them one by one
// leaves.
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hash_table.hpp"
#include "eval_support.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;
using collector::RootNode;

i32 sym(const std::string& s) { return symbol::make(s); }

// Every word the context could be asked for, in several letter cases and
// word types, then 600 words it lacks: with 600 symbols, many share the
// filter bit of a word it holds.
Cell* probe_words(i32 held) {
    static const u32 types[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_LIT_WORD, TYPE_REFINEMENT};
    Cell* b = test::block({});
    for (i32 i = 0; i < held + 3; i++) {
        std::string name = "zb-held-" + std::to_string(i);
        block::zs_append(b, word(name.c_str(), types[i % 5]));
        std::string upper = "ZB-Held-" + std::to_string(i);
        block::zs_append(b, word(upper.c_str(), types[(i + 1) % 5]));
        stack::top -= 2;
    }
    for (i32 i = 0; i < 600; i++) {
        block::zs_append(b, word(("zb-other-" + std::to_string(i)).c_str()));
        stack::top -= 1;
    }
    return b;
}

// Checks a bound copy of the probe words against the word table's answer.
void expect_table_answers(const Cell* bound, u32 ctx, const char* what) {
    i32 n = block::zs_length_q(bound);
    for (i32 i = 0; i < n; i++) {
        const Cell* w = block::zs_abs_at(bound, i);
        i32 slot = context::find_word(ctx, i32(w->w2), true);
        std::string name(symbol::spelling(i32(w->w2)));
        if (slot < 0) {
            EXPECT_EQ(w->w1, 0u) << what << ": " << name << " is not in the context";
        } else {
            EXPECT_EQ(w->w1, ctx) << what << ": " << name;
            EXPECT_EQ(i32(w->w3), slot) << what << ": " << name;
        }
    }
}

struct BindLookup : ValueTest {};

TEST_F(BindLookup, AgreesWithTheWordTableAtEverySize) {
    // Sizes on both sides of the small-context search and of the filter;
    // the global context stands for the largest.
    for (i32 size : {1, 2, 16, 17, 100, 256, 257, 300}) {
        RootNode ctx(context::create(size, false, false, 0, context::KIND_OBJECT));
        for (i32 i = 0; i < size; i++) context::add_word(ctx, sym("zb-held-" + std::to_string(i)));
        ASSERT_EQ(context::word_count(context::cell_of(ctx)), size);
        Cell* words = probe_words(size);
        Cell* nested = test::block({words}, TYPE_PAREN);
        context::bind(nested, ctx, false);
        expect_table_answers(words, ctx, ("bind, " + std::to_string(size) + " words").c_str());
        Cell* copy = context::copy_bound(nested, ctx, false, false);
        expect_table_answers(block::zs_abs_at(copy, 0), ctx, ("copy, " + std::to_string(size) + " words").c_str());
        stack::top = words;
    }
    Cell* words = probe_words(5);
    context::bind(words, context::global, false);
    expect_table_answers(words, context::global, "global");
}

TEST_F(BindLookup, SmallContextsHoldingTwinsAnswerAsTheTable) {
    // An exact-spelling addition puts letter-case twins with slots of their
    // own in one small context; whichever the table finds first is the one.
    RootNode ctx(context::create(4, true, false, 0, context::KIND_FUNCTION));
    i32 slot;
    context::find_or_put(ctx, sym("zb-twin"), false, &slot);
    context::find_or_put(ctx, sym("ZB-TWIN"), false, &slot);
    context::find_or_put(ctx, sym("zb-single"), false, &slot);
    ASSERT_EQ(context::word_count(context::cell_of(ctx)), 3);
    Cell* words = test::block({word("zb-twin"), word("ZB-TWIN"), word("Zb-Twin"), word("zb-single"), word("ZB-SINGLE"),
                         word("zb-none")});
    Cell* copy = context::copy_bound(words, ctx, false, false);
    context::bind(words, ctx, false);
    expect_table_answers(words, ctx, "bind");
    expect_table_answers(copy, ctx, "copy");
    EXPECT_EQ(block::zs_abs_at(words, 3)->w3, 2u);
}

// Two blocks alike in shape, values and bindings, with every nested
// any-block series of the copy its own.
void expect_same_copy(const Cell* a, const Cell* b, const Cell* source) {
    ASSERT_EQ(TYPE_OF(a), TYPE_OF(b));
    ASSERT_EQ(block::zs_length_q(a), block::zs_length_q(b));
    EXPECT_NE(a->w2, source->w2);
    EXPECT_NE(b->w2, source->w2);
    EXPECT_EQ(node_buffer(a->w2)->flags & SERIES_LIBRARY, node_buffer(b->w2)->flags & SERIES_LIBRARY);
    for (i32 i = 0; i < block::zs_length_q(a); i++) {
        const Cell* x = block::zs_abs_at(a, i);
        const Cell* y = block::zs_abs_at(b, i);
        const Cell* s = block::zs_abs_at(source, i32(source->w1) + i);
        ASSERT_EQ(x->header, y->header) << i;
        if (any_block_q(TYPE_OF(x))) {
            EXPECT_EQ(x->w1, 0u);
            EXPECT_EQ(y->w1, 0u);
            expect_same_copy(x, y, s);
        } else {
            EXPECT_EQ(x->w1, y->w1) << i;
            EXPECT_EQ(x->w2, y->w2) << i;
            EXPECT_EQ(x->w3, y->w3) << i;
        }
    }
}

TEST_F(BindLookup, ACopyBoundIsTheCopyThenTheBind) {
    Cell* outside = bound_word("zb-out", int_(7));
    RootNode ctx(context::create(3, false, true, 0, context::KIND_OBJECT));
    for (const char* w : {"a", "b", "self-ish"}) context::add_word(ctx, sym(w));
    Cell* source = test::block({word("skipped"), word("a"), word("B", TYPE_SET_WORD), outside, str("text"), int_(3),
                          test::block({word("self"), word("a", TYPE_GET_WORD)}, TYPE_PAREN),
                          test::block({word("b"), word("c")}, TYPE_PATH),
                          hash_({word("a"), word("zb-key"), int_(1)}),
                          test::block({test::block({word("a", TYPE_LIT_WORD), word("x", TYPE_ISSUE)})})});
    source->w1 = 1;   // from the head on
    for (int round = 0; round < 4; round++) {
        bool self = round & 1, library = round & 2;
        Cell* expected = block::clone(source, true, true);
        context::bind(expected, ctx, self);
        if (library) block::mark_library(expected->w2);
        Cell* copy = context::copy_bound(source, ctx, self, library);
        expect_same_copy(copy, expected, source);
        EXPECT_EQ((node_buffer(block::zs_abs_at(copy, 8)->w2)->flags & SERIES_LIBRARY) != 0, library);
        EXPECT_EQ(block::zs_abs_at(source, 1)->w1, 0u) << "the source stays unbound";
        EXPECT_EQ(block::zs_abs_at(block::zs_abs_at(source, 6), 0)->w1, 0u);
        // The copied hash! has an index of its own that finds its keys.
        const Cell* h = block::zs_abs_at(copy, 7);
        ASSERT_EQ(TYPE_OF(h), TYPE_HASH);
        EXPECT_NE(h->w3, block::zs_abs_at(source, 8)->w3);
        EXPECT_NE(hash_table::find(h->w3, word("zb-key"), 0, 1, 0, false, false), nullptr);
        EXPECT_EQ(block::zs_abs_at(block::zs_abs_at(copy, 5), 0)->w1, self ? u32(ctx) : 0u)
            << "self stands for the owner only when asked";
        stack::top = source + 1;
    }
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(BindLookup, ACopyBoundOfABlockHoldingItselfIsRefused) {
    RootNode ctx(context::create(1, false, false, 0, context::KIND_OBJECT));
    context::add_word(ctx, sym("x"));
    Cell* b = test::block({word("x")});
    block::zs_append(b, test::block({word("x"), b}));
    EXPECT_EQ(error_of([&] { context::copy_bound(b, ctx, false, false); }), "internal no-cycle");
    EXPECT_EQ(cycles::depth(), 0);
    EXPECT_EQ(block::zs_abs_at(b, 0)->w1, 0u);
}

// The bytes of a series' used part.
std::string bytes_of(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    return std::string(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s));
}

// The (key, hash) pairs of a table's used and deleted buckets, in bucket
// order: what an empty bucket's pair holds is whatever its buffer held.
std::string filled_keys_of(const hash_table::Record& r) {
    const std::string flags = bytes_of(r.flags), keys = bytes_of(r.keys);
    std::string out;
    for (u32 i = 0; i < r.buckets; i++) {
        u32 word;
        std::memcpy(&word, flags.data() + (i >> 4) * 4, 4);
        if (((word >> ((i & 15) * 2)) & 3) != hash_table::BUCKET_EMPTY) out += keys.substr(i * 8, 8);
        else out += std::string(8, '-');
    }
    return out;
}

TEST_F(BindLookup, AContextMadeAtOnceIsTheOneMadeWordByWord) {
    // Spec sizes through the last one written at once (32 words) and past it,
    // letter-case twins and repeats left out, non-words skipped, a head past
    // the first word (whose words still count), on the stack or in a block.
    for (i32 size : {0, 1, 3, 4, 5, 12, 13, 31, 32, 33, 50}) {
        for (bool on_stack : {false, true}) {
            Cell* spec = test::block({str("doc")});
            Cell* top = stack::top;
            for (i32 i = 0; i < size; i++) {
                static const u32 types[] = {TYPE_WORD, TYPE_REFINEMENT, TYPE_GET_WORD, TYPE_LIT_WORD};
                block::zs_append(spec, word(("zb-made-" + std::to_string(i)).c_str(), types[i % 4]));
                block::zs_append(spec, ints({i}));
                if (i % 5 == 2) block::zs_append(spec, word(("ZB-Made-" + std::to_string(i)).c_str()));
                if (i % 7 == 3) block::zs_append(spec, word(("zb-made-" + std::to_string(i)).c_str()));
                stack::top = top;
            }
            for (i32 head : {0, 3}) {
                if (head > block::zs_length_q(spec)) continue;
                spec->w1 = u32(head);
                std::string what = std::to_string(size) + " words, head " + std::to_string(head);
                RootNode made(context::make(spec, on_stack, false, context::KIND_FUNCTION));
                i32 from_head = block::zs_length_q(spec);
                RootNode one(context::create(from_head, on_stack, false, 0, context::KIND_FUNCTION));
                for (i32 i = 0; i < block::cell_count(node_buffer(spec->w2)); i++) {
                    const Cell* c = block::cell_at(spec->w2, i);
                    u32 t = TYPE_OF(c);
                    if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT)
                        context::add_word(one, i32(c->w2));
                }
                const Cell* a = context::cell_of(made);
                const Cell* b = context::cell_of(one);
                EXPECT_EQ(a->header, b->header) << what;
                ASSERT_EQ(context::word_count(a), context::word_count(b)) << what;
                for (i32 i = 0; i < context::word_count(a); i++) {
                    const Cell* x = context::word_at(a, i);
                    const Cell* y = context::word_at(b, i);
                    EXPECT_EQ(x->header, y->header) << what << ", word " << i;
                    EXPECT_EQ(x->w1, u32(made)) << what << ", word " << i;
                    EXPECT_EQ(y->w1, u32(one));
                    EXPECT_EQ(x->w2, y->w2) << what << ", word " << i;
                    EXPECT_EQ(x->w3, y->w3) << what << ", word " << i;
                }
                const hash_table::Record ra = *hash_table::record(a->w1);
                const hash_table::Record rb = *hash_table::record(b->w1);
                EXPECT_EQ(ra.count, rb.count) << what;
                EXPECT_EQ(ra.occupied, rb.occupied) << what;
                EXPECT_EQ(ra.buckets, rb.buckets) << what;
                EXPECT_EQ(ra.upper, rb.upper) << what;
                EXPECT_EQ(bytes_of(ra.flags), bytes_of(rb.flags)) << what;
                EXPECT_EQ(filled_keys_of(ra), filled_keys_of(rb)) << what;
                if (!on_stack) {
                    EXPECT_EQ(bytes_of(a->w2), bytes_of(b->w2)) << what << ": the values";
                }
            }
            stack::top = spec;
        }
    }
}

struct BindLanguage : EvalTest {};

TEST_F(BindLanguage, FunctionsBindAsTheyDid) {
    // A function of many arguments (past the small-context search), and one
    // whose body holds letter-case variants and nested code. (Objects, `bind`
    // and methods rebuilt for a derived object: tests/scripts/binding.zir.)
    std::string args, sum, call;
    for (int i = 0; i < 20; i++) {
        args += " a" + std::to_string(i);
        sum += (i ? " + a" : "a") + std::to_string(i);
        call += " " + std::to_string(i + 1);
    }
    EXPECT_EQ(eval_mold(("f: func [" + args + "] [" + sum + "] f" + call).c_str()), "210");
    EXPECT_EQ(eval_mold("g: func [x /y z] [reduce [X (x + 1) [:x] either y [z] ['no] 'x]] g/y 4 5"),
              "[4 5 [:x] 5 x]");
    EXPECT_EQ(eval_error("b: [x] append/only b b func [x] b"), "internal no-cycle");
}

}  // namespace
}  // namespace zir
