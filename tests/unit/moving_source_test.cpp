// Values that C++ code sees only by address or by copy while the collector may
// run: the arguments of an error on its way to a handler, and the source text
// of an appender when that text lies in a series buffer that the append itself
// moves. In stress builds every allocation collects and moves every buffer.
#include <string>
#include <vector>

#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/series.hpp"
#include "runtime/unicode.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct MovingSource : ValueTest {};

// A string made for the report only: the error is the one reference to it.
[[noreturn]] void raise_with_fresh_string(const char* text) {
    Cell s;
    cell::init(&s, TYPE_UNSET);
    string::make_at(&s, 4, 1);
    collector::RootCell keep(s);
    string::append_utf8(keep.get(), reinterpret_cast<const u8*>(text), i64(std::strlen(text)));
    fire(ERR_SCRIPT, "invalid-arg", keep.get());
}

TEST_F(MovingSource, ErrorArgumentsStayAliveWhileTheErrorTravels) {
    try {
        raise_with_fresh_string("only the error holds me");
    } catch (const LanguageError& e) {
        collector::do_cycle();
        memory::alloc_cells(64);   // may reuse the node of a string freed by mistake
        collector::do_cycle();
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(string::to_std(&e.args[0]), "only the error holds me");
    }
}

TEST_F(MovingSource, AHandlersCopyOfTheErrorOutlivesTheThrownOne) {
    LanguageError kept;
    try {
        raise_with_fresh_string("copied out of the handler");
    } catch (const LanguageError& e) {
        kept = e;
    }
    collector::do_cycle();
    memory::alloc_cells(64);
    collector::do_cycle();
    EXPECT_EQ(string::to_std(&kept.args[0]), "copied out of the handler");
}

TEST_F(MovingSource, TheUtf8LoadersBinaryArgumentSurvivesCollection) {
    const u8 bad[] = {'a', 0xC3, 0x28, 0};
    try {
        unicode::load_utf8(bad, 3, 0, nullptr, false);
        FAIL() << "no error raised";
    } catch (const LanguageError& e) {
        collector::do_cycle();
        memory::alloc_bytes(64);
        collector::do_cycle();
        ASSERT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_BINARY));
        SeriesBuffer* s = node_buffer(e.args[0].w2);
        ASSERT_GE(series::used_bytes(s), 1u);
        EXPECT_EQ(series::head(s)[0], 0xC3);
    }
}

// A string whose buffer is exactly full, so the next append must grow it.
Cell* full_string(const char* text) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    string::make_at(c, 1, 1);
    string::append_utf8(c, reinterpret_cast<const u8*>(text), i64(std::strlen(text)));
    SeriesBuffer* s = node_buffer(c->w2);
    while (s->tail < s->size) {
        string::append_char(c, '.');
        s = node_buffer(c->w2);
    }
    return c;
}

TEST_F(MovingSource, AppendingAWordsSpellingThatMovesWithTheGrowth) {
    i32 id = symbol::make("a-word-spelled-long-enough-to-matter");
    struct Case {
        const char* start;
        bool utf8;
    } cases[] = {{"ascii ", false}, {"ascii ", true}, {"wide \xC3\xA9 ", false}, {"wider \xF0\x9F\x98\x80 ", true}};
    for (const Case& c : cases) {
        Cell* s = full_string(c.start);
        std::string expected = string::to_std(s) + std::string(symbol::spelling(id));
        std::string_view view = symbol::spelling(id);
        if (c.utf8) string::append_utf8(s, reinterpret_cast<const u8*>(view.data()), i64(view.size()));
        else string::append_bytes(s, reinterpret_cast<const u8*>(view.data()), i64(view.size()));
        EXPECT_EQ(string::to_std(s), expected) << c.start;
    }
}

TEST_F(MovingSource, AppendingAStringToItself) {
    for (bool utf8 : {false, true}) {
        Cell* s = full_string("abc");
        std::string before = string::to_std(s);
        SeriesBuffer* b = node_buffer(s->w2);
        const u8* own = series::head(b);
        i64 n = series::used_bytes(b);
        if (utf8) string::append_utf8(s, own, n);
        else string::append_bytes(s, own, n);
        EXPECT_EQ(string::to_std(s), before + before) << (utf8 ? "utf8" : "bytes");
    }
}

TEST_F(MovingSource, InsertingCodePointsFromTheStringsOwnBuffer) {
    // Four-byte elements are code points: the string's own buffer can be the source.
    Cell* s = text_series(U"\U0001F600xyz", 4);
    SeriesBuffer* b = node_buffer(s->w2);
    ASSERT_EQ(b->tail, b->size) << "the insert must grow the buffer";
    string::insert_codepoints(s, 1, reinterpret_cast<const u32*>(series::head(b)), series::length_of(b));
    EXPECT_EQ(string::to_std(s), "\xF0\x9F\x98\x80\xF0\x9F\x98\x80xyzxyz");
}

TEST_F(MovingSource, RawByteAppendFromTheSeriesItself) {
    u32 node = memory::alloc_bytes(16);
    collector::RootNode keep(node);
    for (int i = 0; i < 16; i++) series::zs_append_byte(node, u8('a' + i));
    for (int round = 0; round < 3; round++) {
        SeriesBuffer* s = node_buffer(node);
        series::zs_append_bytes(node, series::head(s), series::used_bytes(s));
    }
    SeriesBuffer* s = node_buffer(node);
    ASSERT_EQ(series::used_bytes(s), 128u);
    for (u32 i = 0; i < 128; i++) ASSERT_EQ(series::head(s)[i], u8('a' + i % 16)) << i;
}

TEST_F(MovingSource, InterningASpellingViewedInsideAnotherSymbol) {
    // Spellings viewed inside the symbol table's buffers are interned into a
    // small word table of their own, which grows on the way: the growth
    // allocates, and every allocation may move the viewed spelling.
    collector::RootNode words(memory::alloc_cells(8));
    collector::RootNode table(hash_table::init(8, words, hash_table::WORDS, 1));
    std::vector<std::string> expected;
    u32 buckets = hash_table::record(table)->buckets;
    for (int i = 0; i < 64; i++) {
        i32 source = symbol::make("moving-spelling-" + std::to_string(i) + "-tail");
        std::string_view view = symbol::spelling(source);
        view.remove_suffix(5);
        expected.emplace_back(view);
        i32 id = hash_table::intern_symbol(table, reinterpret_cast<const u8*>(view.data()), i32(view.size()), false);
        ASSERT_EQ(id, i + 1);
    }
    ASSERT_GT(hash_table::record(table)->buckets, buckets) << "the table never grew";
    for (int i = 0; i < 64; i++) {
        std::string again = expected[size_t(i)];
        EXPECT_EQ(hash_table::intern_symbol(table, reinterpret_cast<const u8*>(again.data()), i32(again.size()), false),
                  i + 1)
            << again;
    }
}

}  // namespace
}  // namespace zir
