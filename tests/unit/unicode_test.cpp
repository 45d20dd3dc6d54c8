// Unicode conversions: loading with widening, the strict decoder's errors,
// widening in place, UTF-16 in and out, exports into the string cache.
// (The decoders' judgement of byte strings is checked against Python's codec
// by tests/oracle/utf8.py.)
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/console.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"
#include "support.hpp"

namespace zir {
namespace {

using Bytes = std::vector<u8>;

std::u32string text_of(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    u32 unit = series::unit_of(s);
    std::u32string out;
    for (const u8* p = series::head(s); p < series::tail(s); p += unit) {
        u32 cp = 0;
        std::memcpy(&cp, p, unit);
        out += char32_t(cp);
    }
    return out;
}

u32 unit_of(u32 node) { return series::unit_of(node_buffer(node)); }

Cell string_cell(const std::u32string& text, u32 unit, u32 head = 0) {
    Cell c;
    cell::init(&c, TYPE_STRING);
    c.w1 = head;
    c.w2 = test::make_text_series(text, unit);
    return c;
}

Bytes bytes_of_binary(const Cell& bin) {
    SeriesBuffer* s = node_buffer(bin.w2);
    return Bytes(series::head(s) + bin.w1, series::tail(s));
}

Bytes utf8_of(const std::u32string& text) {
    Bytes out;
    for (char32_t c : text) {
        u8 buf[4];
        int n = unicode::cp_to_utf8(u32(c), buf);
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

template <class F>
LanguageError error_of(F f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return LanguageError{};
}

u32 load(const Bytes& b, i32* rem = nullptr, bool crlf = false, u32 target = 0) {
    return unicode::load_utf8(b.data(), i64(b.size()), target, rem, crlf);
}

// ===== Loading UTF-8 ========================================================

TEST(Utf8Load, TakesTheNarrowestUnitAndWidensKeepingEarlierCharacters) {
    struct Case {
        Bytes in;
        u32 unit;
        std::u32string text;
    } cases[] = {
        {{}, 1, U""},
        {{0x41, 0x42}, 1, U"AB"},
        {{0xC3, 0xA9}, 1, U"\u00E9"},                                          // é fits unit 1
        {{0xE2, 0x82, 0xAC}, 2, U"\u20AC"},                                    // € widens to 2
        {{0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC}, 2, U"A\u00E9\u20AC"},
        {{0x41, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 0x42}, 4, U"A\u00E9\U0001F600B"},   // 1 -> 4
        {{0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, 4, U"\u20AC\U0001F600"},           // 2 -> 4
        {{0xED, 0xA0, 0x80}, 2, U"\xD800"},                                    // a high surrogate loads
        {{0xEF, 0xBF, 0xBF}, 2, U"\uFFFF"},
    };
    for (const Case& c : cases) {
        u32 node = load(c.in);
        EXPECT_EQ(unit_of(node), c.unit) << testing::PrintToString(c.in);
        EXPECT_EQ(text_of(node), c.text) << testing::PrintToString(c.in);
    }
}

TEST(Utf8Load, LongTextsGrowAcrossSeveralWidenings) {
    // Widening happens deep inside a large text, then the buffer fills up at
    // the wider unit and must grow, several times.
    std::u32string text;
    for (int i = 0; i < 700; i++) text += char32_t('a' + i % 26);
    for (int i = 0; i < 500; i++) text += char32_t(0x400 + i);      // Cyrillic and beyond: unit 2
    for (int i = 0; i < 300; i++) text += char32_t(0x1F300 + i);    // unit 4
    for (int i = 0; i < 300; i++) text += char32_t(0xE0 + i % 32);
    u32 node = load(utf8_of(text));
    EXPECT_EQ(unit_of(node), 4u);
    EXPECT_EQ(text_of(node), text);
}

TEST(Utf8Load, ByteOrderMarkIsSkipped) {
    EXPECT_EQ(text_of(load({0xEF, 0xBB, 0xBF})), U"");
    EXPECT_EQ(text_of(load({0xEF, 0xBB, 0xBF, 0x41})), U"A");
    // Only a leading mark; a second one is an ordinary U+FEFF.
    EXPECT_EQ(text_of(load({0xEF, 0xBB, 0xBF, 0xEF, 0xBB, 0xBF})), U"\uFEFF");
    EXPECT_EQ(text_of(load({0x41, 0xEF, 0xBB, 0xBF})), U"A\uFEFF");
}

TEST(Utf8Load, CutCharacterStopsLoadingAndReportsTheRemainder) {
    struct Case {
        Bytes in;
        std::u32string text;
        i32 remainder;
    } cases[] = {
        {{0x41, 0x42}, U"AB", 0},
        {{0x41, 0xE2, 0x82}, U"A", 2},
        {{0x41, 0xF0, 0x9F, 0x98}, U"A", 3},
        {{0xC3}, U"", 1},
        {{0xEF, 0xBB}, U"", 2},   // two bytes of a mark: not skipped, a cut character
    };
    for (const Case& c : cases) {
        i32 rem = -1;
        u32 node = load(c.in, &rem);
        EXPECT_EQ(text_of(node), c.text) << testing::PrintToString(c.in);
        EXPECT_EQ(rem, c.remainder) << testing::PrintToString(c.in);
    }
}

TEST(Utf8Load, BlocksSplitAnywhereReassembleThroughTheRemainder) {
    const std::u32string text = U"a\u00E9\u20AC\U0001F600z";
    const Bytes all = utf8_of(text);
    for (size_t split = 0; split <= all.size(); split++) {
        Bytes first(all.begin(), all.begin() + i64(split));
        i32 rem = -1;
        std::u32string got = text_of(load(first, &rem));
        Bytes second(all.begin() + i64(split) - rem, all.end());
        got += text_of(load(second, &rem));
        EXPECT_EQ(rem, 0);
        EXPECT_EQ(got, text) << "split at " << split;
    }
}

TEST(Utf8Load, CrLfFlagTurnsLineEndsIntoLf) {
    struct Case {
        const char* in;
        std::u32string with_flag;
    } cases[] = {
        {"a\r\nb", U"a\nb"}, {"a\rb", U"a\nb"}, {"\r", U"\n"},       {"\r\r\n", U"\n\n"},
        {"\n\r", U"\n\n"},   {"a\n", U"a\n"},   {"\r\n\r\n", U"\n\n"},
    };
    for (const Case& c : cases) {
        Bytes in(c.in, c.in + std::strlen(c.in));
        EXPECT_EQ(text_of(load(in, nullptr, true)), c.with_flag) << c.in;
        std::u32string raw(in.begin(), in.end());
        EXPECT_EQ(text_of(load(in, nullptr, false)), raw) << c.in;
    }
    // Inside long ASCII runs, at every position of an eight-byte word.
    for (int pos = 0; pos < 20; pos++) {
        std::string in = std::string(size_t(pos), 'x') + "\r\n" + std::string(20, 'y') + "\r" + "z\xC3\xA9zzzzzzzzz\r";
        std::u32string want = std::u32string(size_t(pos), U'x') + U"\n" + std::u32string(20, U'y') + U"\nz\u00E9zzzzzzzzz\n";
        EXPECT_EQ(text_of(load(Bytes(in.begin(), in.end()), nullptr, true)), want) << pos;
    }
}

TEST(Utf8Load, IntoAStringReplacesItsContentAndKeepsItsUnit) {
    Cell str = string_cell(U"xyz", 2);
    Bytes in = {0x41, 0xC3, 0xA9};
    i32 rem = -1;
    EXPECT_EQ(unicode::load_utf8_into(in.data(), i64(in.size()), &str, &rem), str.w2);
    EXPECT_EQ(unit_of(str.w2), 2u);
    EXPECT_EQ(text_of(str.w2), U"A\u00E9");
    EXPECT_EQ(rem, 0);

    // A small target grows to hold the text.
    Cell small = string_cell(U"", 1);
    std::u32string text(200, U'q');
    Bytes long_in = utf8_of(text + U"\u20AC");
    unicode::load_utf8_into(long_in.data(), i64(long_in.size()), &small, nullptr);
    EXPECT_EQ(text_of(small.w2), text + U"\u20AC");
    EXPECT_EQ(unit_of(small.w2), 2u);
}

TEST(Utf8Load, MalformedTextRaisesAccessInvalidUtf8WithTheBytes) {
    struct Case {
        Bytes in;
        Bytes arg;   // the (up to 4) bytes at the failing position
    } cases[] = {
        {{0xC0, 0xAF}, {0xC0, 0xAF}},                          // overlong "/"
        {{0x41, 0xC1, 0xBF}, {0xC1, 0xBF}},                    // overlong, after a good character
        {{0xE0, 0x80, 0xAF}, {0xE0, 0x80, 0xAF}},              // 3-byte overlong
        {{0xE0, 0x9F, 0xBF}, {0xE0, 0x9F, 0xBF}},              // 0x7FF in three bytes
        {{0xF0, 0x80, 0x80, 0xAF}, {0xF0, 0x80, 0x80, 0xAF}},  // 4-byte overlong
        {{0xF0, 0x8F, 0xBF, 0xBF, 0x41}, {0xF0, 0x8F, 0xBF, 0xBF}},
        {{0xED, 0xB2, 0x80}, {0xED, 0xB2, 0x80}},              // DC80 is rejected
        {{0xEF, 0xBF, 0xBE}, {0xEF, 0xBF, 0xBE}},              // U+FFFE
        {{0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},  // past U+10FFFF
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, {0xF8, 0x88, 0x80, 0x80}},   // 5-byte form
        {{0x80}, {0x80}},                                      // stray continuation byte
        {{0xC3, 0x41}, {0xC3, 0x41}},                          // missing continuation byte
        {{0xE0, 0x80}, {0xE0, 0x80}},                          // cut, but already overlong
    };
    for (const Case& c : cases) {
        LanguageError e = error_of([&] { load(c.in); });
        EXPECT_EQ(e.category, ERR_ACCESS);
        EXPECT_STREQ(e.id, "invalid-utf8");
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_BINARY));
        EXPECT_EQ(bytes_of_binary(e.args[0]), c.arg) << testing::PrintToString(c.in);
    }
}

TEST(Utf8Decode, StrictDecoderAnswersMinusOneOnlyForAValidBeginning) {
    struct Case {
        Bytes in;
        i32 avail;
        i32 cp;
        i32 avail_out;   // bytes used, or bytes needed when cp is -1
    } cases[] = {
        {{0x41, 0x42}, 2, 0x41, 1},
        {{0xC3, 0xA9, 0x41}, 3, 0xE9, 2},
        {{0xE2, 0x82, 0xAC}, 3, 0x20AC, 3},
        {{0xE2, 0x82, 0xAC}, 2, -1, 3},
        {{0xE2, 0x82, 0xAC}, 1, -1, 3},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 4, 0x10FFFF, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 3, -1, 4},
        {{0xED, 0xAF, 0xBF}, 3, 0xDBFF, 3},
        {{0xED, 0xBF, 0xBF}, 3, 0xDFFF, 3},   // only DC00..DCFF is rejected
        {{0xEF, 0xBF, 0xBF}, 3, 0xFFFF, 3},
    };
    for (const Case& c : cases) {
        i32 avail = c.avail;
        EXPECT_EQ(unicode::decode_utf8_char(c.in.data(), &avail), c.cp) << testing::PrintToString(c.in);
        EXPECT_EQ(avail, c.avail_out) << testing::PrintToString(c.in);
    }
    // Bytes that can never complete a character raise at once, however few.
    for (Bytes in : {Bytes{0xE0, 0x80}, Bytes{0xF5}, Bytes{0xED, 0xB0}, Bytes{0xF0, 0x41}}) {
        i32 avail = i32(in.size());
        LanguageError e = error_of([&] { unicode::decode_utf8_char(in.data(), &avail); });
        EXPECT_STREQ(e.id, "invalid-utf8") << testing::PrintToString(in);
    }
}

TEST(Utf8Decode, FastDecoderAnswersThePointerAfterTheBytesItTook) {
    struct Case {
        Bytes in;   // NUL-terminated below
        i32 cp;
        int taken;
    } cases[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xE2, 0x28, 0xA1}, -1, 2},   // rejected at its second byte, which is taken
        {{0xC0, 0xAF}, -1, 1},         // C0 never starts a character
        {{0xE2, 0x82}, -1, 3},         // the terminating NUL stops a cut character
        {{0x00}, 0, 1},
    };
    for (Case c : cases) {
        c.in.push_back(0);
        i32 cp = 7;
        const u8* next = unicode::fast_decode_utf8_char(c.in.data(), &cp);
        EXPECT_EQ(cp, c.cp) << testing::PrintToString(c.in);
        EXPECT_EQ(next - c.in.data(), c.taken) << testing::PrintToString(c.in);
    }
}

TEST(Utf8Decode, CountSkipAndLeadSize) {
    const Bytes t = utf8_of(U"a\u00E9\u20AC\U0001F600b");   // 1 + 2 + 3 + 4 + 1 bytes
    const u8* p = t.data();
    const u8* end = p + t.size();
    EXPECT_EQ(unicode::count_utf8_chars(p, end), 5);
    EXPECT_EQ(unicode::count_utf8_chars(p, p + 4), 3);   // a character cut by `end` counts
    EXPECT_EQ(unicode::skip_utf8_chars(p, end, 0), p);
    EXPECT_EQ(unicode::skip_utf8_chars(p, end, 2), p + 3);
    EXPECT_EQ(unicode::skip_utf8_chars(p, end, 4), p + 10);
    EXPECT_EQ(unicode::skip_utf8_chars(p, end, 99), end);
    EXPECT_EQ(unicode::skip_utf8_chars(p + 1, p + 2, 1), p + 2);   // never past end

    struct {
        u8 lead;
        int size;
    } leads[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2}, {0xE0, 3},
                 {0xEF, 3}, {0xF0, 4}, {0xF7, 4}, {0xFF, 4}};
    for (auto l : leads) EXPECT_EQ(unicode::utf8_lead_size(l.lead), l.size) << int(l.lead);
}

// ===== Encoding UTF-8 =======================================================

TEST(Utf8Encode, CodePointsPastTheUnicodeRangeRaiseInvalidChar) {
    u8 buf[8];
    for (auto f : {+[] { u8 b[4]; unicode::cp_to_utf8(0x110000, b); },
                   +[] { unicode::cp_utf8_size(0x110000); },
                   +[] {
                       u32 v[2] = {0x41, 0xFFFFFFFF};
                       unicode::utf8_size_of(reinterpret_cast<u8*>(v), reinterpret_cast<u8*>(v + 2), 4);
                   }}) {
        LanguageError e = error_of(f);
        EXPECT_EQ(e.category, ERR_SCRIPT);
        EXPECT_STREQ(e.id, "invalid-char");
        ASSERT_EQ(e.argc, 1);
        EXPECT_EQ(TYPE_OF(&e.args[0]), u32(TYPE_INTEGER));
    }
    EXPECT_EQ(error_of([] { unicode::cp_utf8_size(0xFFFFFFFF); }).args[0].w2, 0xFFFFFFFFu);
    EXPECT_EQ(unicode::cp_to_utf8(0x10FFFF, buf), 4);
    EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0xF4, 0x8F, 0xBF, 0xBF}));
}

TEST(Utf8Encode, SizeOfARunAndPartialWrites) {
    u8 t1[] = {0x41, 0x7F, 0x80, 0xFF};
    EXPECT_EQ(unicode::utf8_size_of(t1, t1 + 4, 1), 6);
    u16 t2[] = {0x41, 0x80, 0x7FF, 0x800, 0xFFFF};
    EXPECT_EQ(unicode::utf8_size_of(reinterpret_cast<u8*>(t2), reinterpret_cast<u8*>(t2 + 5), 2), 1 + 2 + 2 + 3 + 3);
    u32 t4[] = {0x41, 0xFFFF, 0x10000, 0x10FFFF};
    EXPECT_EQ(unicode::utf8_size_of(reinterpret_cast<u8*>(t4), reinterpret_cast<u8*>(t4 + 4), 4), 1 + 3 + 4 + 4);

    for (int room = 0; room <= 5; room++) {
        u8 out[6] = {0, 0, 0, 0, 0xEE, 0xEE};
        int n = unicode::cp_to_utf8_room(0x1F600, out, room);
        EXPECT_EQ(n, room < 4 ? room : 4);
        Bytes full = {0xF0, 0x9F, 0x98, 0x80};
        EXPECT_EQ(Bytes(out, out + n), Bytes(full.begin(), full.begin() + n));
        EXPECT_EQ(out[4], 0xEE) << "wrote past the room";
    }
}

// ===== Widening in place ====================================================

TEST(Widen, ConvertsEveryElementAndSetsTheUnit) {
    // 16 bytes each: a buffer made for exactly these is full.
    const std::u32string narrow = U"\x01\x41\x7F\x80\xFF abcdefghijk";
    const std::u32string mid = U"\x41\xFF\u0100\uFFFF\x01\x02\x03\x04";
    struct Case {
        SeriesBuffer* (*fn)(SeriesBuffer*);
        std::u32string text;
        u32 from, to;
    } cases[] = {
        {unicode::widen_1_to_2, narrow, 1, 2},
        {unicode::widen_1_to_4, narrow, 1, 4},
        {unicode::widen_2_to_4, mid, 2, 4},
    };
    for (const Case& c : cases) {
        // A full buffer (must expand) and a roomy one with its head moved in.
        for (i64 room : {i64(0), i64(64)}) {
            u32 node = memory::alloc_series(i64(c.text.size()) + room, c.from, room ? 6 * c.from : 0);
            SeriesBuffer* s = node_buffer(node);
            for (size_t i = 0; i < c.text.size(); i++) {
                u32 v = u32(c.text[i]);
                std::memcpy(series::tail(s), &v, c.from);
                s->tail += c.from;
            }
            u32 offset = s->offset;
            SeriesBuffer* before = s;
            s = c.fn(s);
            EXPECT_EQ(s, node_buffer(node));
            if (!room) {
                EXPECT_NE(s, before) << "a full buffer must expand";
            }
            EXPECT_EQ(series::unit_of(s), c.to);
            EXPECT_EQ(text_of(node), c.text) << c.from << "->" << c.to << " room " << room;
            EXPECT_GE(i64(s->size) - s->offset, i64(c.text.size() + 1) * c.to) << "room for one more";
            if (room) {
                EXPECT_EQ(s->offset, offset) << "a roomy buffer converts where it is";
            }
        }
    }
}

// ===== Exports into the string cache ========================================

TEST(Utf8Export, EncodesFromTheHeadUpToTheLimit) {
    struct Case {
        std::u32string text;
        u32 unit, head;
        i32 limit;
        bool crlf;
        std::u32string want;
    } cases[] = {
        {U"A\u00E9\n", 1, 0, -1, false, U"A\u00E9\n"},
        {U"A\u00E9\n", 1, 0, -1, true, U"A\u00E9\r\n"},
        {U"\n\n", 1, 0, -1, true, U"\r\n\r\n"},
        {U"x\u20AC\ny", 2, 1, -1, true, U"\u20AC\r\ny"},
        {U"x\u20AC\ny", 2, 1, 2, false, U"\u20AC\n"},
        {U"\U0001F600\xD800\u0100", 4, 0, -1, false, U"\U0001F600\xD800\u0100"},   // surrogates encode too
        {U"abc", 1, 0, 0, false, U""},
        {U"abc", 1, 5, -1, false, U""},   // head past the tail
    };
    for (const Case& c : cases) {
        Cell str = string_cell(c.text, c.unit, c.head);
        i32 len = c.limit;
        u8* out = unicode::to_utf8_part(&str, &len, c.crlf);
        Bytes want = utf8_of(c.want);
        EXPECT_EQ(Bytes(out, out + len), want);
        EXPECT_EQ(out[len], 0);
        EXPECT_NE(str.w3, 0u);
    }
    Cell bad = string_cell(U"a\x110000", 4);
    i32 len = -1;
    EXPECT_STREQ(error_of([&] { unicode::to_utf8(&bad, &len); }).id, "invalid-char");
}

TEST(Utf8Export, CacheIsMadeOnceReusedAndExpanded) {
    Cell str = string_cell(U"hello", 1);
    EXPECT_EQ(str.w3, 0u);
    i32 len = -1;
    u8* first = unicode::to_utf8(&str, &len);
    u32 cache = str.w3;
    ASSERT_NE(cache, 0u);
    EXPECT_EQ(node_buffer(cache)->flags & SERIES_UNIT_MASK, 1u);

    len = 2;   // smaller: same buffer, same place
    EXPECT_EQ(unicode::to_utf8(&str, &len), first);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first)), "he");
    EXPECT_EQ(str.w3, cache);
    u32 size_before = node_buffer(cache)->size;

    // The same cache serves a much longer text: expanded, same node.
    std::u32string longer(500, U'\u20AC');
    Bytes in = utf8_of(longer);
    unicode::load_utf8_into(in.data(), i64(in.size()), &str, nullptr);
    len = -1;
    u8* out = unicode::to_utf8(&str, &len);
    EXPECT_EQ(str.w3, cache);
    EXPECT_GT(node_buffer(cache)->size, size_before);
    EXPECT_EQ(Bytes(out, out + len), utf8_of(longer));
}

TEST(Utf8Export, BufferAndLimitWriteOnlyWhatTheyMay) {
    Cell str = string_cell(U"a\u00E9\U0001F600z", 4);   // 1 + 2 + 4 + 1 bytes
    u8 buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(unicode::to_utf8_buffer(&str, buf, -1, true), 8);
    EXPECT_EQ(Bytes(buf, buf + 9), (Bytes{0x61, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 0x7A, 0}));
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(unicode::to_utf8_buffer(&str, buf, 2, false), 3);
    EXPECT_EQ(buf[3], 0xEE);

    struct Case {
        i32 room, n;
        bool nul;
        i32 bytes;
    } cases[] = {
        {16, 0, true, 8}, {8, 0, false, 8}, {8, 0, true, 7},   // the NUL takes a byte of the room
        {6, -1, false, 3}, {7, 0, true, 3},                    // only whole characters
        {7, 0, false, 7}, {16, 2, true, 3}, {0, 0, true, 0}, {1, 0, true, 0},
    };
    for (const Case& c : cases) {
        std::memset(buf, 0xEE, sizeof buf);
        i32 bytes = unicode::to_utf8_limit(&str, buf, c.room, c.n, c.nul);
        EXPECT_EQ(bytes, c.bytes) << "room " << c.room << " n " << c.n;
        if (c.nul && c.room > 0) {
            EXPECT_EQ(buf[bytes], 0);
        }
        for (i32 i = c.room; i < 16; i++) EXPECT_EQ(buf[i], 0xEE) << "wrote past the room " << c.room;
    }
}

// ===== UTF-16 ===============================================================

std::vector<u16> utf16_of(const std::u32string& text) {
    std::vector<u16> out;
    for (char32_t c : text) {
        u16 u[2];
        int n = unicode::cp_to_utf16(u32(c), u);
        out.insert(out.end(), u, u + n);
    }
    return out;
}

TEST(Utf16, CodePointsToUnits) {
    struct Case {
        u32 cp;
        std::vector<u16> units;
    } cases[] = {
        {0x41, {0x41}},           {0xFFFF, {0xFFFF}},       {0xDC00, {0xDC00}},
        {0x10000, {0xD800, 0xDC00}}, {0x1F600, {0xD83D, 0xDE00}}, {0x10FFFF, {0xDBFF, 0xDFFF}},
        {0x110000, {}},
    };
    for (const Case& c : cases) {
        u16 out[2] = {0, 0};
        int n = unicode::cp_to_utf16(c.cp, out);
        EXPECT_EQ(std::vector<u16>(out, out + n), c.units) << std::hex << c.cp;
    }
    u16 wide[8];
    EXPECT_EQ(unicode::ascii_to_utf16("ab\xE9", wide), 3);
    EXPECT_EQ(std::vector<u16>(wide, wide + 4), (std::vector<u16>{'a', 'b', 0xE9, 0}));
}

TEST(Utf16, UnitOfScansEveryHighByte) {
    struct Case {
        std::vector<u16> in;
        u32 unit;
    } cases[] = {
        {{}, 1},
        {{0x41, 0xFF}, 1},
        {{0x41, 0x100}, 2},
        {{0x20AC, 0xD800}, 4},
        {{0xDFFF}, 4},
        {{0xE000, 0xFFFF}, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(unicode::utf16_unit_of(c.in.data(), i64(c.in.size())), c.unit);
}

TEST(Utf16, LoadCombinesPairsDropsCrAndMarksTheBuffer) {
    struct Case {
        std::vector<u16> in;
        bool drop_cr;
        u32 unit;
        std::u32string text;
    } cases[] = {
        {{'a', '\r', '\n'}, false, 1, U"a\r\n"},
        {{'a', '\r', '\n'}, true, 1, U"a\n"},
        {{0x20AC, '\r'}, true, 2, U"\u20AC"},
        {{0xD83D, 0xDE00, '\r', 'x'}, true, 4, U"\U0001F600x"},
        {{0xD83D, 0xDE00, '\r', 'x'}, false, 4, U"\U0001F600\rx"},
        {{0xDE00, 'x'}, false, 4, U"\xDE00x"},   // a lone low surrogate is kept as it is
        {{}, false, 2, U""},
    };
    for (const Case& c : cases) {
        u32 node = unicode::load_utf16(c.in.data(), i64(c.in.size()), nullptr, c.drop_cr);
        EXPECT_EQ(unit_of(node), c.unit);
        EXPECT_EQ(text_of(node), c.text);
        EXPECT_TRUE(node_buffer(node)->flags & unicode::SERIES_FROM_UTF16);
    }
    // A target takes the unit the text needs, narrower or wider.
    Cell str = string_cell(U"\U0001F600\U0001F600\U0001F600", 4);
    std::vector<u16> ascii = {'o', 'k'};
    EXPECT_EQ(unicode::load_utf16(ascii.data(), 2, &str, false), str.w2);
    EXPECT_EQ(unit_of(str.w2), 1u);
    EXPECT_EQ(text_of(str.w2), U"ok");
    // The source need not be aligned.
    u8 odd[7] = {0xFF, 0x3D, 0xD8, 0x00, 0xDE, 0x41, 0x00};
    EXPECT_EQ(text_of(unicode::load_utf16(odd + 1, 3, nullptr, false)), U"\U0001F600A");
}

TEST(Utf16, ExportSizesItsCopyAndRoundTrips) {
    const std::u32string texts[] = {U"", U"plain\ntext\n", U"\u00E9\u00FF\n", U"\u20AC\uFFFF\n\n",
                                    U"\U00010000\n\U0010FFFF\U0001F600a"};
    for (const std::u32string& text : texts) {
        u32 width = 1;
        for (char32_t c : text) width = c > 0xFFFF ? 4 : c > 0xFF && width < 2 ? 2 : width;
        for (bool crlf : {false, true}) {
            Cell str = string_cell(text, width);
            i32 len = -1;
            u16* out = unicode::to_utf16_part(&str, &len, crlf);
            ASSERT_NE(out, nullptr);
            std::u32string with_cr;
            for (char32_t c : text) {
                if (c == U'\n' && crlf) with_cr += U'\r';
                with_cr += c;
            }
            std::vector<u16> want = utf16_of(with_cr);
            EXPECT_EQ(std::vector<u16>(out, out + len), want);
            EXPECT_EQ(out[len], 0);
            // The computed size holds the copy and its NUL.
            SeriesBuffer* cache = node_buffer(str.w3);
            SeriesBuffer* s = node_buffer(str.w2);
            i64 size = 2 * i64(text.size()) + 2 +
                       unicode::utf16_extra_size(series::head(s), series::tail(s), width);
            EXPECT_LE(2 * i64(len) + 2, size);
            EXPECT_LE(size, i64(cache->size) - cache->offset);
            // And back (from a copy: loading allocates, which may move the
            // cache): dropping the CRs gives the text again.
            std::vector<u16> copy(out, out + len);
            u32 back = unicode::load_utf16(copy.data(), len, nullptr, crlf);
            EXPECT_EQ(text_of(back), text);
        }
    }
    Cell bad = string_cell(U"a\x110000", 4);
    i32 len = -1;
    EXPECT_EQ(unicode::to_utf16_part(&bad, &len, false), nullptr);
    EXPECT_EQ(len, -1);
}

TEST(Utf16, LoadWithoutSourceReadsTheStringsOwnCache) {
    // A string's UTF-16 copy loaded into a target that shares its cache and
    // is too small, so that loading allocates after finding the cache.
    Cell str = string_cell(U"a\U0001F600\u20AC", 4);
    i32 len = -1;
    unicode::to_utf16_part(&str, &len, false);
    EXPECT_EQ(len, 4);
    Cell small = string_cell(U"", 1);
    small.w3 = str.w3;
    u32 node = unicode::load_utf16(nullptr, len, &small, false);
    EXPECT_EQ(node, small.w2);
    EXPECT_EQ(text_of(node), U"a\U0001F600\u20AC");
}

void write_to_stderr(const u8* bytes, size_t n) { (void)!::write(2, bytes, n); }

TEST(Utf16DeathTest, MalformedSurrogatePairEndsTheProcessWithAFailure) {
    const std::vector<u16> inputs[] = {
        {'a', 0xD83D},           // high surrogate as the last unit
        {0xD83D, 'a', 0xDE00},   // not followed by a low one
        {0xD83D, 0xD83D, 0xDE00},
    };
    for (const std::vector<u16>& in : inputs) {
        EXPECT_EXIT(
            {
                console::set_sink(write_to_stderr);
                unicode::load_utf16(in.data(), i64(in.size()), nullptr, false);
            },
            testing::ExitedWithCode(unicode::EXIT_INVALID_UTF16),
            "\\*\\*\\* Input Error: invalid UTF-16LE codepoint");
    }
}

// ===== Windows-1251 =========================================================

TEST(Windows1251, LoadsIntoTheNarrowestUnitWithLineEnds) {
    Bytes latin = {0x41, 0xA0, 0xAB};   // all three map below 0x100
    u32 node = unicode::load_windows_1251(latin.data(), 3, 0, false);
    EXPECT_EQ(unit_of(node), 1u);
    EXPECT_EQ(text_of(node), U"A\u00A0\u00AB");
    Bytes cyr = {0x41, 0x0D, 0x0A, 0xC0, 0x0D, 0xFF};
    node = unicode::load_windows_1251(cyr.data(), i64(cyr.size()), 0, true);
    EXPECT_EQ(unit_of(node), 2u);
    EXPECT_EQ(text_of(node), U"A\n\u0410\n\u044F");
}

}  // namespace
}  // namespace zir
