// string!: append, insert, change, swap, take, trim, sort, the set
// operations and case changes, at every unit.
#include <functional>
#include <optional>

#include "datatypes/block.hpp"
#include "datatypes/block_sort.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "runtime/unicode.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct StringModify : ValueTest {};

u32 unit_of(const Cell* s) { return series::unit_of(node_buffer(s->w2)); }

// The whole text, whatever the head.
std::string whole(const Cell* s) { return string::to_std(at_(s, 0)); }
std::string text(const Cell* s) { return string::to_std(s); }

Cell* append(Cell* s, const Cell* v, i32 part = -1, i32 dup = -1) {
    return string::insert(stack::push(s), const_cast<Cell*>(v), part >= 0 ? int_(part) : nullptr, false,
                          dup >= 0 ? int_(dup) : nullptr, true);
}
Cell* insert(Cell* s, const Cell* v, i32 part = -1, i32 dup = -1) {
    return string::insert(stack::push(s), const_cast<Cell*>(v), part >= 0 ? int_(part) : nullptr, false,
                          dup >= 0 ? int_(dup) : nullptr, false);
}
Cell* change(Cell* s, const Cell* v, i32 part = -1, i32 dup = -1) {
    return string::change(stack::push(s), const_cast<Cell*>(v), part >= 0 ? int_(part) : nullptr, false,
                          dup >= 0 ? int_(dup) : nullptr);
}

// --- append -------------------------------------------------------------------------------

TEST_F(StringModify, AppendEachKindOfValue) {
    struct Case {
        std::function<const Cell*()> value;
        i32 part, dup;
        const char* expected;
    } cases[] = {
        {[] { return str("XY"); }, -1, -1, "aXY"},
        {[] { return str("XYZ"); }, 2, -1, "aXY"},
        {[] { return str("ab"); }, -1, 3, "aababab"},
        {[] { return str("XYZ"); }, 2, 2, "aXYXY"},
        {[] { return text_series(U"b", 1, TYPE_TAG); }, -1, -1, "a<b>"},
        {[] { return text_series(U"b", 1, TYPE_TAG); }, 2, -1, "a<b"},
        {[] { return text_series(U"bc", 1, TYPE_TAG); }, 1, -1, "a<"},
        {[] { return text_series(U"b", 1, TYPE_TAG); }, -1, 2, "a<b><b>"},
        {[] { return text_series(U"f", 2, TYPE_FILE); }, -1, -1, "af"},
        {[] { return char_('z'); }, -1, 3, "azzz"},
        {[] { return int_(12); }, -1, -1, "a12"},
        {[] { return int_(12); }, 1, -1, "a1"},
        {[] { return int_(12); }, -1, 3, "a121212"},
        {[] { return int_(123); }, 2, 2, "a1212"},
        {[] { return none_(); }, -1, -1, "anone"},
        {[] { return test::block({int_(1), str("b"), test::block({int_(2), int_(3)})}); }, -1, -1, "a1b2 3"},
        {[] { return test::block({int_(12), int_(34), int_(56)}); }, 3, -1, "a123"},
        {[] { return test::block({int_(12), str("cd")}); }, -1, 2, "a12cd12cd"},
        {[] { return test::block({}); }, -1, -1, "a"},
        {[] { return test::block({char_('c'), str("d"), char_(0xE9)}); }, -1, -1, "acdé"},
        {[] { return str("XY"); }, -1, 0, "a"},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            Cell* s = at_(text_series(U"a", unit), 1);
            Cell* r = append(s, c.value(), c.part, c.dup);
            EXPECT_EQ(text(r), c.expected) << c.expected << " " << unit;
            EXPECT_EQ(r->w1, 0u) << "append answers the series at its head";
        }
    }
}

TEST_F(StringModify, AppendWidensByTheValuesUnit) {
    Cell* s = text_series(U"ab", 1);
    append(s, char_(0x7F));
    EXPECT_EQ(unit_of(s), 1u);
    append(s, char_(0xE9));
    EXPECT_EQ(unit_of(s), 2u) << "a char! beyond ASCII widens as the mold writer does";
    append(s, text_series(U"\U0001F600", 4));
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(whole(s), "ab\x7F" "é😀");
    Cell* narrow = text_series(U"x", 1);
    Cell* wide = text_series(U"y\u4E2D", 2);
    append(wide, narrow);
    EXPECT_EQ(whole(wide), "y中x");
    EXPECT_EQ(unit_of(narrow), 1u) << "the source's storage is left alone";
}

// "ab" at `unit`, with room for more or none.
Cell* ab(u32 unit, bool roomy) {
    if (!roomy) return text_series(U"ab", unit);
    Cell* s = stack::push_slot();
    cell::init(s, TYPE_UNSET);
    string::make_at(s, 32, unit);
    string::append_char(s, 'a');
    string::append_char(s, 'b');
    return s;
}

TEST_F(StringModify, TextAndIntegersGoInAlikeWithRoomOrWithout) {
    // A string with room and as wide as the text takes it in place; else it
    // is widened or grown first. Both must end the same.
    struct Case {
        i32 head, part;
        const char* expected;
    } cases[] = {
        {0, -1, "abxy\u00E9"}, {1, -1, "aby\u00E9"}, {3, -1, "ab"}, {5, -1, "ab"}, {0, 2, "abxy"}, {1, 9, "aby\u00E9"},
    };
    for (u32 to : {1u, 2u, 4u}) {
        for (u32 from : {1u, 2u, 4u}) {
            for (const Case& c : cases) {
                for (bool roomy : {false, true}) {
                    Cell* s = ab(to, roomy);
                    Cell* r = append(s, at_(text_series(U"xy\u00E9", from), c.head), c.part);
                    std::string expected = c.expected;
                    std::string name = expected + " " + std::to_string(to) + "<-" + std::to_string(from) +
                                       (roomy ? " roomy" : " full");
                    EXPECT_EQ(whole(s), expected) << name;
                    EXPECT_EQ(r->w1, 0u) << name;
                    EXPECT_EQ(unit_of(s), std::max(to, from)) << name;
                }
            }
        }
    }
    for (i32 v : {0, 7, -7, 1023, 2147483647, INT32_MIN}) {
        for (u32 to : {1u, 2u, 4u}) {
            for (bool roomy : {false, true}) {
                Cell* s = ab(to, roomy);
                append(s, int_(v));
                EXPECT_EQ(whole(s), "ab" + std::to_string(v)) << v << " " << to << " " << roomy;
                Cell* t = ab(to, roomy);
                insert(at_(t, 2), int_(v));
                EXPECT_EQ(whole(t), "ab" + std::to_string(v)) << "insert at the tail " << v;
            }
        }
    }
}

TEST_F(StringModify, AppendToItself) {
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(U"ab\u00E9", unit);
        append(s, s);
        EXPECT_EQ(whole(s), "abéabé");
        append(s, at_(s, 4), -1, 2);
        EXPECT_EQ(whole(s), "abéabébébé");
    }
}

TEST_F(StringModify, AValueHoldingTheStringGoesInAsItWas) {
    // The block's text is what it was when the append began, owned or not.
    for (bool owned : {false, true}) {
        Cell* s = str("ab");
        collector::RootCell owner;
        if (owned) own(s, owner.get());
        append(s, test::block({s, s}));
        EXPECT_EQ(whole(s), "ababab") << owned;
        insert(at_(s, 1), test::block({s, int_(1)}), -1, 2);
        EXPECT_EQ(whole(s), "aababab1ababab1babab") << owned;
        if (owned) ownership::unbind(*s);
    }
}

TEST_F(StringModify, SizesPastTheLimitRaiseNoMemory) {
    EXPECT_EQ(error_of([] { append(str("a"), str("ab"), -1, 2000000000); }), "internal no-memory");
    EXPECT_EQ(error_of([] { insert(str("a"), str("ab"), -1, 2000000000); }), "internal no-memory");
    EXPECT_EQ(error_of([] { change(str("a"), str("ab"), -1, 2000000000); }), "internal no-memory");
    EXPECT_EQ(error_of([] { append(str("a"), int_(12), -1, 2000000000); }), "internal no-memory");
}

// --- insert -----------------------------------------------------------------------------------

TEST_F(StringModify, InsertEachKindOfValueAtTheHead) {
    struct Case {
        std::function<const Cell*()> value;
        i32 part, dup;
        const char* expected;
        u32 head;
    } cases[] = {
        {[] { return str("XY"); }, -1, -1, "aXYbc", 3},
        {[] { return str("XYZ"); }, 2, -1, "aXYbc", 3},
        {[] { return str("XY"); }, -1, 3, "aXYXYXYbc", 7},
        {[] { return char_('Z'); }, -1, 2, "aZZbc", 3},
        {[] { return char_(0x1F600); }, -1, -1, "a😀bc", 2},
        {[] { return text_series(U"b", 1, TYPE_TAG); }, -1, -1, "a<b>bc", 4},
        {[] { return text_series(U"b", 1, TYPE_TAG); }, 2, 2, "a<b<bbc", 5},
        // Formed values go in formed.
        {[] { return int_(12); }, -1, -1, "a12bc", 3},
        {[] { return int_(12); }, 1, -1, "a1bc", 2},
        {[] { return int_(12); }, -1, 2, "a1212bc", 5},
        {[] { return int_(123); }, 2, 2, "a1212bc", 5},
        {[] { return test::block({int_(1), str("x"), int_(2)}); }, -1, -1, "a1x2bc", 4},
        {[] { return test::block({int_(1), str("xyz")}); }, 3, 2, "a1xy1xybc", 7},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            Cell* s = at_(text_series(U"abc", unit), 1);
            Cell* r = insert(s, c.value(), c.part, c.dup);
            EXPECT_EQ(whole(r), c.expected) << c.expected << " " << unit;
            EXPECT_EQ(r->w1, c.head) << c.expected << " " << unit << ": the series just past what went in";
        }
    }
}

TEST_F(StringModify, InsertAtTheTailIsAppend) {
    Cell* empty = str("");
    Cell* r = insert(empty, str("ab"));
    EXPECT_EQ(whole(r), "ab");
    EXPECT_EQ(r->w1, 2u) << "answers the series at its tail";
    r = insert(at_(str("x"), 5), int_(7), -1, 2);
    EXPECT_EQ(whole(r), "x77");
    EXPECT_EQ(r->w1, 3u);
}

TEST_F(StringModify, InsertIntoItself) {
    struct Case {
        i32 head, source;
        const char* expected;
    } cases[] = {{0, 0, "abcdabcd"}, {0, 2, "cdabcd"}, {1, 3, "adbcd"}, {2, 1, "abbcdcd"}, {3, 0, "abcabcdd"}};
    for (u32 unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            Cell* s = text_series(U"abcd", unit);
            insert(at_(s, c.head), at_(s, c.source));
            EXPECT_EQ(whole(s), c.expected) << c.head << " " << c.source << " " << unit;
        }
    }
}

// --- change -----------------------------------------------------------------------------------

TEST_F(StringModify, Change) {
    struct Case {
        std::function<const Cell*()> value;
        i32 head, part, dup;
        const char* expected;
        u32 result_head;
    } cases[] = {
        {[] { return str("XY"); }, 0, -1, -1, "XYcdef", 2},
        {[] { return str("XY"); }, 0, 4, -1, "XYef", 2},
        {[] { return str("XY"); }, 0, 0, -1, "XYabcdef", 2},
        {[] { return str("XY"); }, 4, -1, -1, "abcdXY", 6},
        {[] { return str("XY"); }, 5, -1, -1, "abcdeXY", 7},
        {[] { return str("XY"); }, 1, 99, -1, "aXY", 3},
        {[] { return str("X"); }, 0, -1, 3, "XXXdef", 3},
        {[] { return str("X"); }, 4, -1, 3, "abcdXXX", 7},
        {[] { return str("\u4E2D"); }, 1, -1, -1, "a中cdef", 2},
        {[] { return char_('Z'); }, 2, -1, -1, "abZdef", 3},
        {[] { return char_('Z'); }, 2, 3, 2, "abZZf", 4},
        {[] { return int_(12); }, 0, -1, -1, "12cdef", 2},
        {[] { return int_(12); }, 0, 1, -1, "12bcdef", 2},
        {[] { return text_series(U"t", 1, TYPE_TAG); }, 1, 1, -1, "a<t>cdef", 4},
        {[] { return test::block({int_(1), int_(2)}); }, 3, -1, -1, "abc12f", 5},
        // At the tail: appended, the answer at the new tail.
        {[] { return str("XY"); }, 6, 3, -1, "abcdefXY", 8},
        {[] { return int_(5); }, 9, -1, 2, "abcdef55", 8},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            Cell* s = at_(text_series(U"abcdef", unit), c.head);
            Cell* r = change(s, c.value(), c.part, c.dup);
            EXPECT_EQ(whole(r), c.expected) << c.expected << " " << unit;
            EXPECT_EQ(r->w1, c.result_head) << c.expected << " " << unit;
        }
    }
}

TEST_F(StringModify, ChangeWithItsOwnText) {
    struct Case {
        i32 head, source, part;
        const char* expected;
    } cases[] = {
        {0, 2, -1, "cdefef"}, {2, 0, -1, "ababcdef"}, {1, 0, 2, "aabcdefdef"}, {0, 0, -1, "abcdef"},
    };
    for (u32 unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            Cell* s = text_series(U"abcdef", unit);
            change(at_(s, c.head), at_(s, c.source), c.part);
            EXPECT_EQ(whole(s), c.expected) << c.head << " " << c.source << " " << unit;
        }
    }
}

// --- swap and take ------------------------------------------------------------------------------

TEST_F(StringModify, Swap) {
    Cell* a = at_(text_series(U"abc", 1), 1);
    Cell* b = text_series(U"\u4E2Dz", 2);
    Cell* r = string::swap(stack::push(a), b);
    EXPECT_EQ(r->w1, 1u);
    EXPECT_EQ(whole(a), "a中c");
    EXPECT_EQ(unit_of(a), 2u) << "the first one widens";
    EXPECT_EQ(whole(b), "bz");
    Cell* bin = text_series(U"xy", 1, TYPE_BINARY);
    Cell* wide = text_series(U"\u0161!", 2);
    EXPECT_EQ(error_of([&] { string::swap(stack::push(bin), wide); }), "script invalid-arg")
        << "a binary! keeps bytes: a wider code point is refused, not cut to its low byte";
    EXPECT_EQ(error_of([&] { string::swap(stack::push(wide), bin); }), "script invalid-arg");
    EXPECT_EQ(whole(wide), "\u0161!");
    EXPECT_EQ(string::get_char_at(bin, 0), u32('x'));
    Cell* latin = text_series(U"\u00e9!", 2);
    string::swap(stack::push(bin), latin);
    EXPECT_EQ(unit_of(bin), 1u);
    EXPECT_EQ(string::get_char_at(bin, 0), 0xE9u) << "a code point that is a byte goes in";
    EXPECT_EQ(whole(latin), "x!");
    Cell* at_tail = at_(str("ab"), 2);
    Cell* other = str("cd");
    string::swap(stack::push(at_tail), other);
    EXPECT_EQ(whole(at_tail), "ab");
    EXPECT_EQ(whole(other), "cd");
    EXPECT_EQ(error_of([&] { string::swap(stack::push(str("a")), test::block({int_(1)})); }), "script invalid-arg");
    EXPECT_EQ(error_of([&] { string::swap(stack::push(str("a")), char_('b')); }), "script invalid-arg");
}

TEST_F(StringModify, Take) {
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(U"ab\u00E9d", unit);
        Cell* one = string::take(stack::push(s), nullptr, false, false);
        ASSERT_EQ(TYPE_OF(one), u32(TYPE_CHAR));
        EXPECT_EQ(one->w2, u32('a'));
        Cell* last = string::take(stack::push(s), nullptr, false, true);
        EXPECT_EQ(last->w2, u32('d'));
        Cell* part = string::take(stack::push(s), int_(5), false, false);
        EXPECT_EQ(TYPE_OF(part), u32(TYPE_STRING));
        EXPECT_EQ(text(part), "bé");
        EXPECT_EQ(TYPE_OF(string::take(stack::push(s), nullptr, false, false)), u32(TYPE_NONE));
    }
    Cell* b = string::take(stack::push(text_series(U"\u00FF", 1, TYPE_BINARY)), nullptr, false, false);
    EXPECT_EQ(TYPE_OF(b), u32(TYPE_INTEGER));
    EXPECT_EQ(b->w2, 255u);
}

// --- trim -----------------------------------------------------------------------------------------

struct Trim {
    bool head = false, tail = false, auto_ = false, lines = false, all = false;
    const Cell* with = nullptr;
};

std::string trimmed(const std::u32string& t, Trim o, u32 unit = 1, i32 head = 0) {
    Cell* s = at_(text_series(t, unit), head);
    string::trim(s, o.head, o.tail, o.auto_, o.lines, o.all, const_cast<Cell*>(o.with));
    EXPECT_EQ(s->w1, u32(head));
    return whole(s);
}

TEST_F(StringModify, TrimByRefinement) {
    struct Case {
        std::u32string text;
        Trim options;
        const char* expected;
    } cases[] = {
        {U"  ab\n  \n", {}, "ab\n"},
        {U"  ab\n  \n", {.tail = true}, "  ab"},
        {U"  ab\n  \n", {.head = true}, "ab\n  \n"},
        {U"  ab\n  \n", {.head = true, .tail = true}, "ab"},
        {U"  a  \n   b  c \n", {}, "a\nb  c\n"},
        {U"a \t\nb", {}, "a\nb"},
        {U"a \r\nb", {}, "a \r\nb"},
        {U"\u3000a\u00A0b\u2028", {}, "a\u00A0b"},
        {U"\x01x\x01", {}, "x"},
        {U"\ta\n\nb", {.lines = true}, "a b"},
        {U"  a  b \n c  ", {.lines = true}, "a b c"},
        {U" \u00A0 ", {.lines = true}, ""},
        {U"abcab", {.with = nullptr}, "abcab"},
        {U" a\tb\nc\rd\u00A0e", {.all = true}, "abcd\u00A0e"},
        {U"\u00A0", {.all = true}, "\u00A0"},
    };
    for (const Case& c : cases) {
        for (u32 unit : {2u, 4u}) EXPECT_EQ(trimmed(c.text, c.options, unit), c.expected) << c.expected;
    }
    EXPECT_EQ(trimmed(std::u32string(U"\0x\0", 3), {}), std::string("\0x\0", 3)) << "NUL is no whitespace";
    EXPECT_EQ(trimmed(U"  ab  ", {.tail = true}, 1, 1), "  ab") << "from the head";
    EXPECT_EQ(trimmed(U"x  ab  ", {}, 1, 1), "xab");
}

TEST_F(StringModify, TrimWith) {
    Cell* ab = str("ab");
    EXPECT_EQ(trimmed(U"abcab xa", {.with = ab}), "c x");
    EXPECT_EQ(trimmed(U"abcab xa", {.all = true, .with = ab}), "c x");
    EXPECT_EQ(trimmed(U"a-b-c", {.with = char_('-')}), "abc");
    EXPECT_EQ(trimmed(U"a-b-c", {.with = int_('b')}), "a--c");
    EXPECT_EQ(trimmed(U"a b", {.with = str("")}), "a b") << "an empty set removes nothing";
    EXPECT_EQ(trimmed(U"\u4E2Da\u4E2D", {.with = str("\u4E2D")}, 2), "a");
    EXPECT_EQ(trimmed(U"a1b2c3d4e5", {.with = str("12345")}), "abcde") << "more than a few to remove";
    EXPECT_EQ(error_of([] { trimmed(U"a", {.auto_ = true}); }), "internal not-done");
    EXPECT_EQ(error_of([] { trimmed(U"a", {.with = test::block({})}); }), "script invalid-arg");
}

// --- sort -------------------------------------------------------------------------------------------

struct Sort {
    bool case_ = false;
    Cell* skip = nullptr;
    Cell* compare = nullptr;
    Cell* part = nullptr;
    bool all = false, reverse = false, stable = false;
};

Cell* sorted(Cell* s, Sort o = {}) {
    return string::sort(s, o.case_, o.skip, o.compare, o.part, o.all, o.reverse, o.stable);
}

TEST_F(StringModify, SortFoldsAlikeAtEveryWidth) {
    // One text, stored at each width, sorts the same.
    const std::u32string text = U"bB\u00C9a\u00E9Ae\u00FFE";
    std::string first;
    for (u32 unit : {1u, 2u, 4u}) {
        Cell* s = text_series(text, unit);
        std::string got = whole(sorted(s, {.stable = true}));
        if (unit == 1) first = got;
        EXPECT_EQ(got, first) << unit;
    }
    EXPECT_EQ(first, "aAbBeE\u00C9\u00E9\u00FF");
    Cell* s = str("bBaA");
    sorted(s);
    std::string quick = whole(s);
    EXPECT_TRUE(quick == "aAbB" || quick == "AabB" || quick == "aABb" || quick == "AaBb") << quick;
    EXPECT_EQ(whole(sorted(str("bBaA"), {.case_ = true})), "ABab");
    EXPECT_EQ(whole(sorted(str("bBaA"), {.case_ = true, .stable = true})), "ABab");
    EXPECT_EQ(whole(sorted(str("cab"), {.reverse = true})), "cba");
}

// A vector! of `width`-byte elements of `type` (its word 3), from raw values.
template <typename T>
Cell* vector_of(std::initializer_list<T> values, u32 type) {
    u32 node = memory::alloc_series(i64(values.size()), sizeof(T), 0);
    SeriesBuffer* b = node_buffer(node);
    u8* p = series::head(b);
    for (T v : values) {
        std::memcpy(p, &v, sizeof(T));
        p += sizeof(T);
    }
    b->tail = b->offset + u32(values.size() * sizeof(T));
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_VECTOR);
    c->w2 = node;
    c->w3 = type;
    return c;
}

template <typename T>
std::vector<T> elements_of(const Cell* v) {
    SeriesBuffer* b = node_buffer(v->w2);
    std::vector<T> out(series::used_bytes(b) / sizeof(T));
    std::memcpy(out.data(), series::head(b), out.size() * sizeof(T));
    return out;
}

TEST_F(StringModify, SortOfBytesAndVectorElements) {
    // Bytes fold A..Z only; vector elements compare by value, never folded.
    EXPECT_EQ(whole(sorted(text_series(U"bB\u00E9aA\u00C9", 1, TYPE_BINARY), {.stable = true})),
              "aAbB\u00C9\u00E9");
    Cell* bytes = vector_of<i8>({-1, 5, -128, 3, 127}, TYPE_INTEGER);
    sorted(bytes);
    EXPECT_EQ(elements_of<i8>(bytes), (std::vector<i8>{-128, -1, 3, 5, 127})) << "signed";
    Cell* i32s = vector_of<i32>({7, -70000, 0}, TYPE_INTEGER);
    sorted(i32s, {.reverse = true});
    EXPECT_EQ(elements_of<i32>(i32s), (std::vector<i32>{7, 0, -70000}));
    Cell* f64 = vector_of<double>({2.5, -1.0, 0.5, -0.25}, TYPE_FLOAT);
    sorted(f64);
    EXPECT_EQ(elements_of<double>(f64), (std::vector<double>{-1.0, -0.25, 0.5, 2.5}));
    Cell* f32 = vector_of<float>({2.5f, -1.5f, 0.5f}, TYPE_PERCENT);
    sorted(f32);
    EXPECT_EQ(elements_of<float>(f32), (std::vector<float>{-1.5f, 0.5f, 2.5f}));
    Cell* chars = vector_of<u16>({'b', 'A', 'a', 0x4E2D}, TYPE_CHAR);
    sorted(chars);
    EXPECT_EQ(elements_of<u16>(chars), (std::vector<u16>{'A', 'a', 'b', 0x4E2D})) << "unfolded";
}

TEST_F(StringModify, SortRecordsPartsAndOffsets) {
    struct Case {
        const char* text;
        i32 head;
        std::function<Sort()> options;
        const char* expected;
    } cases[] = {
        {"b1a2", 0, [] { return Sort{.skip = int_(2)}; }, "a2b1"},
        {"a2b1", 0, [] { return Sort{.skip = int_(2), .compare = int_(2)}; }, "b1a2"},
        {"a2a1", 0, [] { return Sort{.skip = int_(2), .all = true}; }, "a1a2"},
        {"a2a1", 0, [] { return Sort{.skip = int_(2), .stable = true}; }, "a2a1"},
        {"dcba", 0, [] { return Sort{.part = int_(2)}; }, "cdba"},
        {"dcba", 2, [] { return Sort{.part = int_(-2)}; }, "cdba"},
        {"dcba", 1, [] { return Sort{.part = int_(-5)}; }, "dcba"},
        {"dcba", 1, [] { return Sort{.part = int_(9)}; }, "dabc"},
        {"dcba", 0, [] { return Sort{.part = int_(0)}; }, "dcba"},
    };
    for (const Case& c : cases) {
        for (u32 unit : {1u, 2u, 4u}) {
            std::u32string t;
            for (const char* p = c.text; *p; p++) t += char32_t(*p);
            Cell* s = at_(text_series(t, unit), c.head);
            Cell* r = sorted(s, c.options());
            EXPECT_EQ(whole(r), c.expected) << c.text << " " << unit;
            EXPECT_EQ(r->w1, u32(c.head));
        }
    }
    Cell* s = str("abcd");
    Cell* d = at_(s, 2);
    sorted(s, {.part = d, .reverse = true});
    EXPECT_EQ(whole(s), "bacd") << "a part given as a position";
}

TEST_F(StringModify, SortRefinementErrors) {
    struct Case {
        std::function<Sort()> options;
        const char* error;
    } cases[] = {
        {[] { return Sort{.skip = int_(2)}; }, "script invalid-refine-arg"},   // odd length
        {[] { return Sort{.skip = int_(0)}; }, "script invalid-refine-arg"},
        {[] { return Sort{.skip = int_(9)}; }, "script invalid-refine-arg"},
        {[] { return Sort{.skip = str("x")}; }, "script invalid-refine-arg"},
        {[] { return Sort{.all = true}; }, "script bad-refines"},
        {[] { return Sort{.compare = int_(1)}; }, "script bad-refines"},
        {[] { return Sort{.skip = int_(1), .compare = int_(1), .all = true}; }, "script bad-refines"},
        {[] { return Sort{.skip = int_(1), .compare = int_(2)}; }, "script out-of-range"},
        {[] { return Sort{.compare = str("x")}; }, "script invalid-refine-arg"},
        {[] { return Sort{.part = str("abc")}; }, "script invalid-refine-arg"},
    };
    for (const Case& c : cases) {
        Cell* s = str("cba");
        EXPECT_EQ(error_of([&] { sorted(s, c.options()); }), c.error) << c.error;
        EXPECT_EQ(whole(s), "cba");
    }
    Cell* fn = stack::push_slot();
    cell::init(fn, TYPE_FUNCTION);
    auto saved_comparator = block::call_comparator;
    block::call_comparator = nullptr;
    EXPECT_EQ(error_of([&] { sorted(str("ba"), {.compare = fn}); }), "internal not-done")
        << "no interpreter's entry to call the function";
    block::call_comparator = saved_comparator;
}

// The interpreter is not there: a C++ hook stands in for the function's call.
std::function<void(const Cell* first, const Cell* second, Cell* result)> body;
void run_body(const Cell*) {
    Cell* args = stack::arguments;
    Cell result;
    body(&args[0], &args[1], &result);
    *stack::arguments = result;
    stack::top = stack::arguments + 1;
}

struct StringComparators : StringModify {
    Cell* fn = nullptr;
    void (*saved_comparator)(const Cell*) = nullptr;
    void SetUp() override {
        StringModify::SetUp();
        fn = stack::push_slot();
        cell::init(fn, TYPE_FUNCTION);
        saved_comparator = block::call_comparator;
        block::call_comparator = run_body;
    }
    void TearDown() override {
        block::call_comparator = saved_comparator;
        body = nullptr;
        StringModify::TearDown();
    }
};

TEST_F(StringComparators, AFunctionGetsCharsOrRecords) {
    // true when the first argument goes first: here, the greater code point.
    body = [](const Cell* a, const Cell* b, Cell* r) {
        ASSERT_EQ(TYPE_OF(a), u32(TYPE_CHAR));
        cell::init(r, TYPE_LOGIC);
        r->w1 = a->w2 > b->w2;
    };
    EXPECT_EQ(whole(sorted(text_series(U"acb\u4E2D", 2), {.compare = fn})), "中cba");
    EXPECT_EQ(whole(sorted(str("acb"), {.compare = fn, .reverse = true})), "abc");
    EXPECT_EQ(whole(sorted(str("acbd"), {.compare = fn, .stable = true})), "dcba");
    // With /all and /skip: two strings holding the records; an integer answer.
    body = [](const Cell* a, const Cell* b, Cell* r) {
        ASSERT_EQ(TYPE_OF(a), u32(TYPE_STRING));
        std::string x = string::to_std(a), y = string::to_std(b);
        cell::init(r, TYPE_INTEGER);
        r->w2 = u32(x[1] < y[1] ? 1 : x[1] > y[1] ? -1 : 0);   // by the second letter, descending
    };
    EXPECT_EQ(whole(sorted(str("a1b3c2"), {.skip = int_(2), .compare = fn, .all = true})), "b3c2a1");
}

TEST_F(StringComparators, AComparatorThatChangesTheString) {
    Cell* s = str("dcba");
    body = [&](const Cell* a, const Cell* b, Cell* r) {
        string::remove_part(s, 2, 2);   // cut the string short while it is sorted
        memory::alloc_cells(16);
        collector::do_cycle();
        cell::init(r, TYPE_LOGIC);
        r->w1 = a->w2 < b->w2;
    };
    sorted(s, {.compare = fn});
    EXPECT_EQ(whole(s), "ab") << "the sorted order written into what is left";
}

// --- Set operations ---------------------------------------------------------------------------------

Cell* set_op(int op, const Cell* a, const Cell* b = nullptr, Cell* skip = nullptr, bool case_ = false) {
    struct Restore {
        Cell* saved = stack::arguments;
        ~Restore() { stack::arguments = saved; }
    } restore;
    Cell* first = stack::push(a);
    stack::push(b ? b : &none::value);
    stack::arguments = first;
    string::do_set_op(case_, skip, op);
    return first;
}

TEST_F(StringModify, SetOperations) {
    using block::SET_UNIQUE, block::SET_UNION, block::SET_INTERSECT, block::SET_EXCLUDE, block::SET_DIFFERENCE;
    struct Case {
        int op;
        const char* a;
        const char* b;
        bool case_;
        i32 skip;
        const char* expected;
    } cases[] = {
        {SET_UNIQUE, "aAbB", nullptr, false, 0, "ab"},
        {SET_UNIQUE, "aAbB", nullptr, true, 0, "aAbB"},
        {SET_UNIQUE, "\u00E9\u00C9", nullptr, false, 0, "\u00E9"},
        {SET_UNION, "abc", "CDE", false, 0, "abcDE"},
        {SET_UNION, "abc", "CDE", true, 0, "abcCDE"},
        {SET_INTERSECT, "abcd", "bdx", false, 0, "bd"},
        {SET_INTERSECT, "abcd", "BDX", true, 0, ""},
        {SET_EXCLUDE, "abcd", "bd", false, 0, "ac"},
        {SET_DIFFERENCE, "abc", "bcd", false, 0, "ad"},
        {SET_UNIQUE, "a1a2b3", nullptr, false, 2, "a1b3"},
        {SET_INTERSECT, "a1b2c3", "c9a8", false, 2, "a1c3"},
        {SET_INTERSECT, "a1b2c3", "1a", false, 2, ""},
        {SET_UNION, "a1", "b2a3c", false, 2, "a1b2c"},
    };
    for (const Case& c : cases) {
        Cell* r = set_op(c.op, str(c.a), c.b ? str(c.b) : nullptr, c.skip ? int_(c.skip) : nullptr, c.case_);
        EXPECT_EQ(TYPE_OF(r), u32(TYPE_STRING));
        EXPECT_EQ(whole(r), c.expected) << c.op << " " << c.a;
        EXPECT_EQ(r->w1, 0u);
    }
    Cell* file = set_op(SET_UNIQUE, text_series(U"aa\U0001F600", 4, TYPE_FILE));
    EXPECT_EQ(TYPE_OF(file), u32(TYPE_FILE)) << "the first argument's type";
    EXPECT_EQ(whole(file), "a😀");
    // Bytes never fold: a and A, and the Latin-1 letters E0 and C0, stay apart.
    Cell* bytes = set_op(SET_UNIQUE, text_series(U"aA\u00E0\u00C0aA", 1, TYPE_BINARY));
    EXPECT_EQ(TYPE_OF(bytes), u32(TYPE_BINARY));
    EXPECT_EQ(whole(bytes), "aA\u00E0\u00C0");
    EXPECT_EQ(error_of([] { set_op(SET_UNIQUE, str("a"), nullptr, int_(0)); }), "script invalid-refine-arg");
    EXPECT_EQ(error_of([] { set_op(SET_UNIQUE, str("a"), nullptr, str("x")); }), "script invalid-refine-arg");
}

// --- Case changes -------------------------------------------------------------------------------------

TEST_F(StringModify, CaseChanges) {
    struct Case {
        std::u32string text;
        u32 unit;
        int flag;
        std::optional<i32> part;
        std::u32string expected;
        u32 unit_after;
    } cases[] = {
        {U"\u00FF", 1, 1, {}, U"\u0178", 2},
        {U"a\u00FFb", 1, 1, {}, U"A\u0178B", 2},
        {U"12\u4E2D", 2, 1, {}, U"12\u4E2D", 2},
        {U"\U00010428", 4, 1, {}, U"\U00010400", 4},
        {U"\U0001E922", 4, 1, {}, U"\U0001E900", 4},
        {U"\U0001E944", 4, 1, {}, U"\U0001E944", 4},
        {U"abcdef", 1, 1, 3, U"ABCdef", 1},
        {U"abcdef", 1, 1, -1, U"abcdef", 1},
        {U"abc", 1, 1, 10, U"ABC", 1},
        {U"\u00C9COLE", 1, 0, {}, U"\u00E9cole", 1},
        {U"\u0178A", 2, 0, {}, U"\u00FFa", 2},
    };
    for (const Case& c : cases) {
        Cell* s = text_series(c.text, c.unit);
        case_folding::change_string(s, c.part ? int_(*c.part) : nullptr, c.flag);
        std::u32string got;
        for (i32 i = 0; i < string::zs_abs_length(s); i++) got += char32_t(string::get_char_at(s, i));
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(unit_of(s), c.unit_after);
    }
    // A part past the tail: the code points beyond it stay as they were.
    Cell* s = at_(text_series(U"abcdefgh", 1), 2);
    series::buffer_of(s)->tail -= 3;   // "abcde": "fgh" lies beyond the tail
    case_folding::change_string(s, int_(10), 1);
    series::buffer_of(s)->tail += 3;
    EXPECT_EQ(whole(s), "abCDEfgh");
    Cell* t = str("abcdef");
    case_folding::change_string(at_(t, 1), at_(t, 3), 1);
    EXPECT_EQ(whole(t), "aBCdef") << "a part given as a position";
    EXPECT_EQ(error_of([&] { case_folding::change_string(t, str("ab"), 1); }), "script invalid-refine-arg");
    Cell* c = char_(0xE9);
    case_folding::change_string(c, nullptr, 1);
    EXPECT_EQ(c->w2, 0xC9u);
}

}  // namespace
}  // namespace zir
