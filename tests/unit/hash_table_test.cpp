// Hash tables: hashing, sizing, symbols, word tables, node keys, pointer map;
// and the cycle guard.
#include <map>
#include <random>

#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"
#include "support.hpp"

namespace zir {
namespace {

using collector::RootNode;
using test::CapturedOutput;

struct HashTable : test::Collecting {};

TEST(Hashing, Murmur3MatchesPublishedVectors) {
    // Published MurmurHash3 x86_32 results for these seeds.
    u32 saved = hash_table::seed;
    struct Case {
        u32 seed;
        const char* text;
        u32 hash;
    } cases[] = {
        {0, "", 0},
        {1, "", 0x514E28B7},
        {0xFFFFFFFF, "", 0x81F16F39},
        {0, "test", 0xBA6BD213},
        {0x9747B28C, "test", 0x704B81DC},
        {0, "Hello, world!", 0xC0363E43},
        {0x9747B28C, "Hello, world!", 0x24884CBA},
        {0, "The quick brown fox jumps over the lazy dog", 0x2E4FF723},
        {0x9747B28C, "The quick brown fox jumps over the lazy dog", 0x2FA826CD},
        {0x9747B28C, "a", 0x7FA09EA6},
        {0x9747B28C, "ab", 0x74875592},
        {0x9747B28C, "abc", 0xC84A62DD},
    };
    for (const Case& c : cases) {
        hash_table::seed = c.seed;
        EXPECT_EQ(hash_table::murmur3(c.text, std::strlen(c.text)), c.hash) << c.text;
    }
    hash_table::seed = saved;
}

TEST(Hashing, StringHashFoldsCaseUnlessAskedNotTo) {
    RootNode a(test::make_text_series(U"Stra\u00DFe \u00C9t\u00E9", 1));
    RootNode b(test::make_text_series(U"STRA\u00DFE \u00C9T\u00C9", 2));   // same text, wider unit
    Cell ca, cb;
    cell::init(&ca, TYPE_STRING);
    cell::init(&cb, TYPE_STRING);
    ca.w2 = a;
    cb.w2 = b;
    EXPECT_EQ(hash_table::hash_string(&ca, false), hash_table::hash_string(&cb, false));
    EXPECT_NE(hash_table::hash_string(&ca, true), hash_table::hash_string(&cb, true));
    ca.w1 = 1;   // from the head on
    EXPECT_NE(hash_table::hash_string(&ca, false), hash_table::hash_string(&cb, false));
}

// Spellings are hashed lower-cased in ASCII, four bytes at a time without a
// lower-cased copy: every byte value, at every place of a block and of the
// tail, against MurmurHash3 of the copy.
TEST_F(HashTable, SpellingHashIsMurmur3OfTheAsciiLowerCasedText) {
    for (u32 start = 0; start < 256; start += 3) {
        for (u32 length = 0; length <= 9; length++) {
            std::string text, lowered;
            for (u32 j = 0; j < length; j++) {
                u8 c = u8(start + j * 37);
                text += char(c);
                lowered += char(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
            }
            RootNode node(memory::alloc_bytes(i64(length) + 1));
            SeriesBuffer* s = node_buffer(node);
            std::memcpy(series::data(s), text.data(), length);
            s->tail = s->offset + length;
            Cell spelling;
            cell::init(&spelling, TYPE_SYMBOL);
            spelling.w3 = node;
            ASSERT_EQ(hash_table::hash_value(&spelling, false), hash_table::murmur3(lowered.data(), length))
                << "bytes from " << start << ", length " << length;
        }
    }
}

TEST_F(HashTable, InitialSizing) {
    struct Case {
        i32 size;
        hash_table::Kind kind;
        u32 buckets, upper;
    } cases[] = {
        {0, hash_table::WORDS, 8, 6},      // 4 / 0.77 = 5 -> 8
        {4, hash_table::WORDS, 8, 6},
        {10, hash_table::WORDS, 16, 12},   // 12.98 -> 16
        {100, hash_table::NODES, 256, 197},
        {4000, hash_table::WORDS, 16384, 12615},   // word tables of 4000 or more double first
        {4000, hash_table::NODES, 8192, 6307},
    };
    for (const Case& c : cases) {
        RootNode t(hash_table::init(c.size, 0, c.kind, 1));
        EXPECT_EQ(hash_table::record(t)->buckets, c.buckets) << c.size;
        EXPECT_EQ(hash_table::record(t)->upper, c.upper) << c.size;
    }
}

TEST_F(HashTable, SymbolsAndTheirCaseTwins) {
    i32 print = symbol::make("zz-print");
    i32 Print = symbol::make("Zz-Print");
    EXPECT_NE(print, Print);
    EXPECT_EQ(symbol::get(Print)->w1, u32(print)) << "a twin names the canonical symbol";
    EXPECT_EQ(symbol::make("zz-print"), print);
    EXPECT_EQ(symbol::make("Zz-Print"), Print);
    i32 PRINT = symbol::make("ZZ-PRINT");
    EXPECT_EQ(symbol::resolve(PRINT), print) << "never the alias of a twin";
    EXPECT_EQ(symbol::resolve(Print), print);
    EXPECT_EQ(symbol::resolve(print), print);
    EXPECT_EQ(symbol::make_case_insensitive("zZ-pRiNt"), print);
    EXPECT_EQ(symbol::spelling(Print), "Zz-Print");
    {
        CapturedOutput out;
        Cell w;
        cell::init(&w, TYPE_WORD);
        w.w2 = u32(Print);
        debug::print_symbol(&w);
        EXPECT_EQ(out.text(), "Zz-Print");
    }
    // Only ASCII letters fold: these are unrelated symbols.
    i32 e1 = symbol::make("zz-\xC3\xA9t\xC3\xA9");
    i32 e2 = symbol::make("zz-\xC3\x89T\xC3\x89");
    EXPECT_EQ(symbol::resolve(e2), e2);
    EXPECT_NE(symbol::resolve(e1), symbol::resolve(e2));
}

TEST_F(HashTable, SymbolTableGrowsAndKeepsEveryId) {
    std::vector<std::pair<std::string, i32>> made;
    u32 before = hash_table::record(symbol::table)->buckets;
    // Until the table has grown, then a hundred more (each symbol collects
    // under stress, so no more than needed; earlier tests may have filled it
    // well past its first size).
    for (int i = 0, after = -1; i < i32(before) + 20000 && after < 100; i++) {
        std::string s = "grow-" + std::to_string(i);
        made.emplace_back(s, symbol::make(s));
        if (after >= 0 || hash_table::record(symbol::table)->buckets > before) after++;
    }
    EXPECT_GE(hash_table::record(symbol::table)->buckets, before * 16) << "grows at least sixteenfold";
    for (const auto& [text, id] : made) {
        ASSERT_EQ(symbol::make(text), id);
        ASSERT_EQ(symbol::spelling(id), text);
    }
    std::string upper = "GROW-" + std::to_string(made.size() - 1);
    EXPECT_EQ(symbol::resolve(symbol::make(upper)), made.back().second);
}

// The text interned may lie in a series buffer that growing the table moves
// (under stress every allocation collects and moves buffers): each spelling
// is read from a byte series, and a table of its own grows many times.
TEST_F(HashTable, InterningTextFromAMovingBufferAcrossGrowth) {
    RootNode cells(memory::alloc_cells(4));
    RootNode table(hash_table::init(4, cells, hash_table::WORDS, 1));
    RootNode text(memory::alloc_bytes(64));
    const int count = collector::STRESS ? 300 : 3000;
    auto intern = [&](const std::string& spelling) {
        SeriesBuffer* s = node_buffer(text);
        std::memcpy(series::data(s), spelling.data(), spelling.size());
        s->tail = s->offset + u32(spelling.size());
        return hash_table::intern_symbol(table, series::data(node_buffer(text)), i32(spelling.size()), false);
    };
    u32 buckets = hash_table::record(table)->buckets;
    for (int i = 0; i < count; i++) ASSERT_EQ(intern("moving-" + std::to_string(i)), i + 1);
    EXPECT_GT(hash_table::record(table)->buckets, buckets);
    const Cell* symbols = series::head_cells(node_buffer(cells));
    for (int i = 0; i < count; i++) {
        std::string expected = "moving-" + std::to_string(i);
        SeriesBuffer* s = node_buffer(symbols[i].w3);
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(series::head(s)), series::used_bytes(s)), expected);
        ASSERT_EQ(intern(expected), i + 1) << "found again after growing";
    }
    // Case variants walk the same buckets: a new variant is added after the
    // spelling it varies, an exact spelling answers itself, and a search
    // without case answers the variant met first.
    i32 upper = intern("MOVING-7");
    EXPECT_EQ(upper, count + 1);
    EXPECT_EQ(intern("MOVING-7"), upper);
    EXPECT_EQ(intern("moving-7"), 8);
    EXPECT_EQ(hash_table::intern_symbol(table, reinterpret_cast<const u8*>("mOvInG-7"), 8, true), 8);
}

TEST_F(HashTable, WordTablesFindByIdOrByAlias) {
    RootNode words(memory::alloc_cells(2));
    RootNode ctx(memory::alloc_cells(2));
    RootNode t(hash_table::init(2, words, hash_table::WORDS, 0));
    i32 lower = symbol::make("zz-word");
    i32 upper = symbol::make("ZZ-WORD");
    i32 index = -7;
    EXPECT_EQ(hash_table::find_symbol(t, lower, true, 0, &index), -1) << "absent, nothing added";
    EXPECT_EQ(hash_table::find_symbol(t, lower, true, ctx, &index), -1) << "added: -1 still";
    EXPECT_EQ(index, 0);
    EXPECT_EQ(hash_table::find_symbol(t, upper, true, 0, &index), 0) << "alias match";
    EXPECT_EQ(hash_table::find_symbol(t, upper, false, 0, &index), -1) << "exact ids differ";
    // Many words: the table grows, every slot stays where it was.
    for (int i = 0; i < 500; i++) {
        hash_table::find_symbol(t, symbol::make("zz-w" + std::to_string(i)), true, ctx, &index);
        ASSERT_EQ(index, i + 1);
    }
    for (int i = 0; i < 500; i++)
        ASSERT_EQ(hash_table::find_symbol(t, symbol::make("ZZ-W" + std::to_string(i)), true, 0, nullptr), i + 1);
    const Cell* w = series::head_cells(node_buffer(hash_table::record(t)->block)) + 3;
    EXPECT_EQ(TYPE_OF(w), u32(TYPE_WORD));
    EXPECT_EQ(w->w1, u32(ctx));
    EXPECT_EQ(w->w3, 3u);
    RootNode copy_block(memory::copy_series(node_buffer(hash_table::record(t)->block)));
    RootNode copy(hash_table::copy_words(t, copy_block));
    EXPECT_EQ(hash_table::find_symbol(copy, symbol::make("zz-w42"), true, 0, nullptr), 43);
    hash_table::find_symbol(copy, symbol::make("zz-only-in-copy"), true, ctx, &index);
    EXPECT_EQ(hash_table::find_symbol(t, symbol::make("zz-only-in-copy"), true, 0, nullptr), -1);
}

TEST_F(HashTable, NodeKeysAgainstAModel) {
    RootNode t(hash_table::init(0, 0, hash_table::NODES, 1));
    // The keys live in one rooted block: guards must leave in order, which a
    // vector of them does not promise.
    constexpr u32 KEYS = 200;
    RootNode keys(memory::alloc_cells(KEYS));
    Cell list;
    cell::init(&list, TYPE_BLOCK);
    list.w2 = keys;
    for (u32 i = 0; i < KEYS; i++) {
        RootNode key(memory::alloc_bytes(8));
        Cell* c = memory::alloc_tail(&list);
        cell::init(c, TYPE_BINARY);
        c->w2 = key;
    }
    std::map<u32, u32> model;
    std::mt19937 rng(7);
    for (int step = 0; step < 3000; step++) {
        u32 k = series::head_cells(node_buffer(keys))[rng() % KEYS].w2;
        switch (rng() % 3) {
            case 0: {
                Cell* v = hash_table::put_node(t, k);
                EXPECT_EQ(v->header, 2u) << "value cells start unset";
                v->w2 = u32(step);
                model[k] = u32(step);
                break;
            }
            case 1: {
                Cell* v = hash_table::delete_node(t, k);
                EXPECT_EQ(v != nullptr, model.erase(k) == 1);
                break;
            }
            default: {
                Cell* v = hash_table::get_node(t, k);
                auto it = model.find(k);
                ASSERT_EQ(v != nullptr, it != model.end());
                if (v) {
                    EXPECT_EQ(v->w2, it->second);
                }
            }
        }
        if (step % 500 == 0) collector::do_cycle();
    }
    EXPECT_EQ(hash_table::record(t)->count, model.size());
    size_t visited = 0;
    hash_table::for_each_node(t, [](u32, Cell*, void* n) { ++*static_cast<size_t*>(n); }, &visited);
    EXPECT_EQ(visited, model.size());
}

TEST(PointerMap, AgainstAModel) {
    pointer_map::Map* m = pointer_map::create(0);
    EXPECT_EQ(m->buckets, 8u);
    std::map<u32, u32> model;
    std::mt19937 rng(11);
    for (int step = 0; step < 20000; step++) {
        u32 k = rng() % 3000;
        if (rng() % 4) {
            pointer_map::put(m, k, u32(step));
            model[k] = u32(step);
        } else {
            pointer_map::remove(m, k);
            model.erase(k);
        }
    }
    EXPECT_EQ(pointer_map::count(m), model.size());
    for (const auto& [k, v] : model) {
        u32* got = pointer_map::get(m, k);
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(*got, v);
    }
    EXPECT_EQ(pointer_map::get(m, 99999), nullptr);
    EXPECT_EQ(pointer_map::find(m, 99999), -1);
    size_t seen = 0;
    for (u32* p = pointer_map::next(m, nullptr); p; p = pointer_map::next(m, p)) {
        ASSERT_EQ(model.at(p[0]), p[1]);
        seen++;
    }
    EXPECT_EQ(seen, model.size());
    pointer_map::clear(m);
    EXPECT_EQ(pointer_map::count(m), 0u);
    EXPECT_EQ(pointer_map::next(m, nullptr), nullptr);
    pointer_map::destroy(m);
}

TEST(CycleGuard, DepthLimitAndRestoreOnErrors) {
    cycles::reset();
    for (u32 i = 1; i <= 999; i++) cycles::push(i);
    EXPECT_TRUE(cycles::find_q(500));
    EXPECT_THROW(cycles::push(1000), LanguageError) << "the thousandth push is too deep";
    EXPECT_EQ(cycles::depth(), 0) << "and empties the stack";
    EXPECT_FALSE(cycles::find_q(500));

    try {
        cycles::Guard a(1);
        cycles::Guard b(2);
        EXPECT_EQ(cycles::depth(), 2);
        fire(ERR_SCRIPT, "invalid-arg");
    } catch (const LanguageError&) {
    }
    EXPECT_EQ(cycles::depth(), 0) << "an error unwinding through a walk leaves nothing behind";
    EXPECT_FALSE(cycles::find_q(1));
    cycles::push(5);
    cycles::push(6);
    cycles::pop_n(5);
    EXPECT_EQ(cycles::depth(), 0);
    cycles::pop();
    EXPECT_EQ(cycles::depth(), 0);
}

}  // namespace
}  // namespace zir
