// ZIRBIN: the byte forms of records, sharing and reference paths, round trips
// of generated values in both forms (plain and packed), and a decoder that
// answers every fault of its input with the format error.
#include <functional>
#include <random>
#include <unordered_map>

#include "boot/catalog.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/image.hpp"
#include "datatypes/image_backend.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "loader/lz77.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "values.hpp"
#include "zirbin_shape.hpp"

namespace zir {
namespace {

using namespace test;
using Bytes = std::vector<u8>;
using test::Shape;

// --- Helpers -------------------------------------------------------------------

Bytes bytes_of(const Cell* bin) { return binary::bytes_of(bin); }

Bytes encode(const Cell* v, bool compact) { return bytes_of(compact ? zirbin::encode_cp(v) : zirbin::encode(v)); }

// Decodes an image (run-time mode) into a new block, pushed.
Cell* decode(const Bytes& image) {
    Cell* target = test::block({});
    zirbin::codec_q = 1;
    zirbin::decode(image.data(), target, i64(image.size()));
    return target;
}

// The error a decode raises: "category id" and, for zb-invalid-record, the
// offset it names.
std::string decode_error(const Bytes& image) {
    try {
        decode(image);
    } catch (const LanguageError& e) {
        std::string s = std::string(category_name(e.category)) + " " + e.id;
        if (std::string(e.id) == "zb-invalid-record" && TYPE_OF(&e.args[0]) == TYPE_INTEGER)
            s += " " + std::to_string(i32(e.args[0].w2));
        return s;
    }
    return "";
}

bool format_error(const std::string& e) {
    return e.rfind("script zb-invalid-record", 0) == 0 || e == "script invalid-data";
}

std::string hex(const Bytes& b, size_t from = 0) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = from; i < b.size(); i++) {
        if (!s.empty()) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

Bytes unhex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            i++;
            continue;
        }
        out.push_back(u8(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// A compact image around hand-written records (no symbol table).
Bytes compact_image(const Bytes& records) {
    Bytes out = {'Z', 'I', 'R', 'B', 'I', 'N', 2, 1, 1};
    u32 n = u32(records.size());
    while (n >= 0x80) out.push_back(u8(n | 0x80)), n >>= 7;
    out.push_back(u8(n));
    out.insert(out.end(), records.begin(), records.end());
    return out;
}

// A fixed-width image around hand-written record words.
Bytes fixed_image(const std::vector<u32>& words, const std::vector<std::string>& symbols = {}) {
    Bytes out = {'Z', 'I', 'R', 'B', 'I', 'N', 2, u8(symbols.empty() ? 0 : 4)};
    auto put = [&](u32 v) {
        for (int i = 0; i < 4; i++) out.push_back(u8(v >> (8 * i)));
    };
    put(1);
    put(u32(words.size() * 4));
    if (!symbols.empty()) {
        Bytes area;
        std::vector<u32> offsets;
        for (auto& s : symbols) {
            offsets.push_back(u32(area.size()));
            area.insert(area.end(), s.begin(), s.end());
            area.push_back(0);
            while (area.size() % 8) area.push_back(0);
        }
        put(u32(offsets.size()));
        put(u32(area.size()));
        for (u32 o : offsets) put(o);
        out.insert(out.end(), area.begin(), area.end());
    }
    for (u32 w : words) put(w);
    return out;
}

// The record area of a compact image: what follows its header and table.
std::string compact_records(const Bytes& image) {
    size_t p = 8;
    auto varint = [&]() {
        u32 v = 0;
        for (int s = 0;; s += 7) {
            u8 b = image[p++];
            v |= u32(b & 0x7F) << s;
            if (!(b & 0x80)) return v;
        }
    };
    varint();
    varint();
    if (image[7] & 4) {
        u32 n = varint(), s = varint();
        p += 4 * n + s;
    }
    return hex(image, p);
}

// The record words of a fixed-width image.
std::vector<u32> fixed_records(const Bytes& image) {
    size_t p = 16;
    if (image[7] & 4) {
        u32 n, s;
        std::memcpy(&n, &image[16], 4);
        std::memcpy(&s, &image[20], 4);
        p = 24 + 4 * n + s;
    }
    std::vector<u32> words;
    for (; p + 4 <= image.size(); p += 4) {
        u32 w;
        std::memcpy(&w, &image[p], 4);
        words.push_back(w);
    }
    return words;
}

// A word bound to a new object holding `value` in its one field.
Cell* object_word(const char* name, const Cell* value) {
    Cell* obj = stack::push(&unset::value);
    cell::init(obj, TYPE_UNSET);
    object::make_at(obj, 1);
    context::put(obj->w1, symbol::make(name), value);
    Cell* w = stack::push(&unset::value);
    cell::init(w, TYPE_UNSET);
    cell::init(w, TYPE_WORD);
    w->w1 = obj->w1;
    w->w2 = u32(symbol::make(name));
    w->w3 = 0;
    return w;
}

// --- Fixture ---------------------------------------------------------------------

// Two natives and an action that decoded values may name: each has an entry
// and the spec it was defined with.
struct Zirbin : ValueTest {
    i32 saved_count = 0;
    action::Generic saved_natives[3] = {};
    action::Generic saved_action = nullptr;
    u32 saved_specs[3] = {};  // the own specs of native 2, native 3 and add
    Cell* native2 = nullptr;   // native 2 [a b]: infix-able
    Cell* native3 = nullptr;   // native 3 [value /only]
    Cell* action11 = nullptr;  // action 11 [a b]

    static void entry() {}

    Cell* make_native(u32 type, i32 slot, const char* spec) {
        Cell* s = read_block(spec);
        Cell* args = test::block({s, int_(slot)});
        Cell* out = type == TYPE_NATIVE ? native::make(nullptr, args, type) : action::make(nullptr, args, type);
        zirbin::set_own_spec(type, slot, out->w2);
        return out;
    }

    void SetUp() override {
        ValueTest::SetUp();
        saved_count = natives::count;
        for (int i = 0; i < 3; i++) saved_natives[i] = natives::table[i];
        saved_action = actions::table[ACT_ADD - 1];
        for (int i = 0; i < 3; i++) natives::table[i] = reinterpret_cast<action::Generic>(&entry);
        natives::count = 3;
        actions::table[ACT_ADD - 1] = reinterpret_cast<action::Generic>(&entry);
        saved_specs[0] = zirbin::own_spec(TYPE_NATIVE, 2);
        saved_specs[1] = zirbin::own_spec(TYPE_NATIVE, 3);
        saved_specs[2] = zirbin::own_spec(TYPE_ACTION, ACT_ADD);
        native2 = make_native(TYPE_NATIVE, 2, "a b");
        native3 = make_native(TYPE_NATIVE, 3, "value /only");
        action11 = make_native(TYPE_ACTION, ACT_ADD, "value1 value2");
    }
    void TearDown() override {
        natives::count = saved_count;
        for (int i = 0; i < 3; i++) natives::table[i] = saved_natives[i];
        actions::table[ACT_ADD - 1] = saved_action;
        zirbin::set_own_spec(TYPE_NATIVE, 2, saved_specs[0]);
        zirbin::set_own_spec(TYPE_NATIVE, 3, saved_specs[1]);
        zirbin::set_own_spec(TYPE_ACTION, ACT_ADD, saved_specs[2]);
        ValueTest::TearDown();
    }

    // Encodes, decodes and compares, in both forms, plain and packed.
    void round_trip(const Cell* v, const char* what) {
        for (bool compact : {false, true}) {
            for (bool packed : {false, true}) {
                Cell* image = compact ? zirbin::encode_cp(v) : zirbin::encode(v);
                if (packed) image = zirbin::pack(image);
                Bytes b = bytes_of(image);
                Cell* out = decode(b);
                ASSERT_EQ(block::cell_count(node_buffer(out->w2)), 1) << what;
                Cell copy = *block::cell_at(out->w2, 0);
                Shape shape;
                EXPECT_TRUE(shape.same(v, &copy)) << what << (compact ? " compact" : " fixed")
                                                  << (packed ? " packed: " : ": ") << shape.why;
            }
        }
    }
};

// --- Container and scalar records -----------------------------------------------

TEST_F(Zirbin, NoneInCompactFormIsElevenBytes) {
    EXPECT_EQ(hex(encode(none_(), true)), "5A 49 52 42 49 4E 02 01 01 01 03");
}

TEST_F(Zirbin, ValuesWithoutWordsHaveNoSymbolTable) {
    EXPECT_EQ(encode(int_(5), false)[7], 0);
    EXPECT_EQ(encode(int_(5), true)[7], 1);
    EXPECT_EQ(encode(test::word("zz-alpha"), false)[7], 4);
    EXPECT_EQ(encode(test::word("zz-alpha"), true)[7], 5);
}

TEST_F(Zirbin, CompactScalarRecords) {
    struct Case {
        Cell* value;
        const char* bytes;
    } cases[] = {
        {int_(0), "80"},
        {int_(63), "BF"},
        {int_(64), "0B 80 01"},
        {int_(-1), "0B 01"},
        {int_(-2147483647 - 1), "0B FF FF FF FF 0F"},
        {logic_(true), "C2"},
        {logic_(false), "C3"},
        {float_(2.0), "4C 04"},
        {float_(2.5), "0C 00 00 00 00 00 00 04 40"},
        {float_(-0.0), "0C 00 00 00 00 00 00 00 80"},
        {percent_(0.5), "66 64"},
        {time_(3600.0), "6B A0 38"},
        {char_(0x1F600), "0A 80 EC 07"},
        {pair_(1, -2), "25 02 03"},
        {datatype_(TYPE_BLOCK), "01 05"},
        {nl(none_()), "C0 03"},
    };
    for (const Case& c : cases) EXPECT_EQ(compact_records(encode(c.value, true)), c.bytes) << c.bytes;
    // 0.5% is 0.005: times 100 is no whole number, so the double stays.
    EXPECT_EQ(compact_records(encode(percent_(0.005), true)).substr(0, 2), "26");
}

TEST_F(Zirbin, TuplesOfThreePartsHaveNoLength) {
    auto tuple = [](std::initializer_list<u8> parts) {
        Cell* c = stack::push(&unset::value);
        cell::init(c, TYPE_TUPLE);
        c->header |= u32(parts.size()) << 19;
        std::memcpy(&c->w1, parts.begin(), parts.size());
        return c;
    };
    EXPECT_EQ(compact_records(encode(tuple({1, 2, 3}), true)), "27 01 02 03");
    EXPECT_EQ(compact_records(encode(tuple({1, 2, 3, 4}), true)), "67 04 01 02 03 04");
    std::vector<u32> words = fixed_records(encode(tuple({1, 2, 3, 4}), false));
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0], 39u | (4u << 8));
    EXPECT_EQ(words[1], 0x04030201u);
}

TEST_F(Zirbin, FixedWidthRecords) {
    // "abc" at one byte per unit: header, head, count, the bytes and a pad.
    EXPECT_EQ(fixed_records(encode(str("abc"), false)), (std::vector<u32>{7 | 0x100, 0, 3, 0x00636261}));
    // A float after a record ending at a multiple of 4 but not 8: a zero word first.
    Cell* b = test::block({int_(7), float_(1.5)});
    std::vector<u32> words = fixed_records(encode(b, false));
    EXPECT_EQ(words, (std::vector<u32>{5, 0, 2, 11, 7, 0, 12, 0x3FF80000, 0}));
    // A global word: three words, bit 25, its table index and slot.
    Cell* w = stack::push(word::load("zz-global-word"));
    words = fixed_records(encode(w, false));
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], 15u | (1u << 25));
    EXPECT_EQ(words[1], 0u);
    EXPECT_EQ(words[2], w->w3);
}

TEST_F(Zirbin, AWordOfAnObjectCarriesItsObjectOnceThenAReference) {
    Cell* w = object_word("zz-field", int_(5));
    Cell* b = test::block({w, w});
    std::vector<u32> words = fixed_records(encode(b, false));
    // block, head, count; word, symbol, slot; object, class, context body ...
    EXPECT_EQ(words[3], 15u);
    EXPECT_EQ(words[6] & 0xFF, 32u);
    // ... and at the end the second word: shared, with the path 0, 0.
    std::vector<u32> tail(words.end() - 7, words.end());
    EXPECT_EQ(tail, (std::vector<u32>{15u | (1u << 19), 0, 0, 255, 2, 0, 0}));
    round_trip(b, "words of one object");
}

TEST_F(Zirbin, TheCodecReadsABinaryFromItsHead) {
    Cell* image = zirbin::encode_cp(str("from the head"));
    Cell* bin = stack::push(image);
    binary::zs_insert(bin, 0, reinterpret_cast<const u8*>("junk"), 4);
    bin->w1 = 4;
    Cell* target = test::block({});
    zirbin::codec_q = 0;
    EXPECT_EQ(zirbin::decode_binary(bin, target), 0);
    EXPECT_EQ(zirbin::codec_q, 1u);
    EXPECT_MOLD(target, "[\"from the head\"]");
    bin->w1 = 0;
    LanguageError e = raised([&] { zirbin::decode_binary(bin, target); });
    EXPECT_STREQ(e.id, "invalid-data");
    EXPECT_EQ(TYPE_OF(&e.args[0]), TYPE_BINARY);
}

TEST_F(Zirbin, AVersionByteIsNotChecked) {
    Bytes image = encode(int_(9), true);
    for (u8 version : {1, 2, 77}) {
        image[6] = version;
        Cell* out = decode(image);
        EXPECT_EQ(block::cell_at(out->w2, 0)->w2, 9u);
    }
}

TEST_F(Zirbin, ARunTimeDecodeAppendsAfterWhatTheTargetHolds) {
    Cell* target = test::block({int_(1), int_(2)});
    Bytes image = encode(test::block({int_(3)}), true);
    zirbin::codec_q = 1;
    EXPECT_EQ(zirbin::decode(image.data(), target, i64(image.size())), 2);
    EXPECT_MOLD(target, "[1 2 [3]]");
    // References count from the first decoded value, whatever came before.
    Bytes shared = compact_image(unhex("05 02 05 01 81 C1 05 02 00 00"));
    zirbin::decode(shared.data(), target, i64(shared.size()));
    EXPECT_MOLD(target, "[1 2 [3] [[1] [1]]]");
}

// --- Sharing --------------------------------------------------------------------

TEST_F(Zirbin, ABlockMetTwiceIsWrittenOnce) {
    Cell* inner = ints({1});
    Cell* outer = test::block({inner, inner});
    EXPECT_EQ(compact_records(encode(outer, true)), "05 02 05 01 81 C1 05 02 00 00");
    Cell* out = decode(compact_image(unhex("05 02 05 01 81 C1 05 02 00 00")));
    Cell* o = block::cell_at(out->w2, 0);
    Cell a = *block::cell_at(o->w2, 0), b = *block::cell_at(o->w2, 1);
    EXPECT_EQ(a.w2, b.w2);
    // A change through one is seen through the other.
    *memory::alloc_tail(&a) = *int_(2);
    EXPECT_MOLD(&b, "[1 2]");
}

TEST_F(Zirbin, SharingAndCyclesSurviveBothForms) {
    Cell* text = str("shared text");
    Cell* inner = test::block({int_(1), text});
    Cell* outer = test::block({inner, at_(inner, 1), at_(text, 3), inner});
    *memory::alloc_tail(inner) = *outer;   // a cycle: inner holds outer, outer holds inner
    *memory::alloc_tail(outer) = *outer;   // and outer holds itself
    round_trip(outer, "cycles");
}

// An error is written as its code and fields, not as a reference: one error
// met twice comes back as two equal errors of their own, the series among its
// fields still shared.
TEST_F(Zirbin, AnErrorMetTwiceComesBackAsTwoEqualErrors) {
    Cell* near = ints({1, 2});
    Cell* e = error::make(datatype_(TYPE_ERROR), stack::push(int_(400)), TYPE_ERROR);
    *error::field(e, error::FIELD_NEAR) = *near;
    Cell* outer = test::block({e, e});
    for (bool compact : {false, true}) {
        Cell* out = decode(bytes_of(compact ? zirbin::encode_cp(outer) : zirbin::encode(outer)));
        const Cell copy = *block::cell_at(out->w2, 0);   // (molding below may move the block's cells)
        Cell a = *block::cell_at(copy.w2, 0), b = *block::cell_at(copy.w2, 1);
        ASSERT_EQ(TYPE_OF(&a), TYPE_ERROR);
        EXPECT_NE(a.w1, b.w1) << "two contexts";
        EXPECT_EQ(mold(&a), mold(e));
        EXPECT_EQ(mold(&b), mold(e));
        EXPECT_EQ(error::field(&a, error::FIELD_NEAR)->w2, error::field(&b, error::FIELD_NEAR)->w2);
        Shape shape;
        EXPECT_TRUE(shape.same(outer, &copy)) << shape.why;
    }
}

// An error holding itself cannot be written by value: the encoder stops at
// its nesting limit with a language error, in both forms.
TEST_F(Zirbin, AnErrorHoldingItselfIsTooDeep) {
    Cell* e = error::make(datatype_(TYPE_ERROR), stack::push(int_(400)), TYPE_ERROR);
    *error::field(e, error::FIELD_ARG1) = *e;
    EXPECT_EQ(error_of([&] { zirbin::encode_cp(e); }), "internal too-deep");
    EXPECT_EQ(error_of([&] { zirbin::encode(e); }), "internal too-deep");
}

// --- Words, objects, functions, natives -------------------------------------------

TEST_F(Zirbin, FunctionsKeepTheirContextsSpecsAndBodies) {
    Cell* spec = read_block("a b /local c");
    Cell* body = read_block("c: a b zz-outside");
    function::push(spec, body, 0, 0, 0, function::validate(spec));
    Cell* fn = stack::top - 1;
    Cell* b = test::block({fn, fn});
    round_trip(b, "function twice");
    // A word of the function's context alone brings the function with it.
    Cell* bw = stack::push(block::cell_at(function::record_cell(fn, function::RECORD_BODY)->w2, 1));
    round_trip(test::block({bw, fn, bw}), "word of a function");
}

TEST_F(Zirbin, ObjectsWithHandlersAndNestedObjects) {
    Cell* obj = stack::push(&unset::value);
    cell::init(obj, TYPE_UNSET);
    object::make_at(obj, 4);
    context::put(obj->w1, symbol::make("x"), int_(1));
    Cell* inner = stack::push(&unset::value);
    cell::init(inner, TYPE_UNSET);
    object::make_at(inner, 1);
    context::put(inner->w1, symbol::make("deep"), str("deep"));
    context::put(obj->w1, symbol::make("inner"), inner);
    context::put(obj->w1, symbol::make("self-ref"), obj);
    Cell* spec = read_block("word old new");
    function::push(spec, read_block("old"), 0, 0, 0, 0);
    context::put(obj->w1, symbol::make("on-change*"), stack::top - 1);
    object::install_handlers(obj);
    ASSERT_NE(obj->w3, 0u);
    round_trip(obj, "object with a change handler");
    Cell* out = decode(encode(obj, true));
    Cell copy = *block::cell_at(out->w2, 0);
    ASSERT_NE(copy.w3, 0u);
    EXPECT_EQ(block::cell_at(copy.w3, object::ON_CHANGE)->w2 >> 16, 3u);
    // A handler field that is no function is refused.
    context::put(obj->w1, symbol::make("on-change*"), int_(3));
    EXPECT_EQ(decode_error(encode(obj, true)).substr(0, 24), "script zb-invalid-record");
}

TEST_F(Zirbin, NativesActionsAndOperators) {
    for (bool c : {false, true}) {
        Bytes b = encode(test::block({native2, native3, action11, native2}), c);
        EXPECT_EQ(decode_error(b), "") << hex(b);
    }
    round_trip(test::block({native2, native3, action11, native2}), "natives");
    Cell* op = stack::push(native2);
    op::make(op, native2, TYPE_OP);
    EXPECT_EQ(decode_error(encode(op, true)), "") << hex(encode(op, true));
    round_trip(op, "op of a native");
    Cell* spec = read_block("x y");
    Cell* body = read_block("x");
    function::push(spec, body, 0, 0, 0, 0);
    Cell* fop = stack::push(stack::top - 1);
    op::make(fop, stack::top - 2, TYPE_OP);
    round_trip(test::block({fop, fop}), "op of a function");
}

TEST_F(Zirbin, NativeSlotsAreChecked) {
    auto image = [](u8 type, u32 slot, const char* spec_words) {
        // type, slot, then the spec block of words read from the table.
        std::vector<std::string> syms;
        std::string s = spec_words;
        for (size_t p = 0; p < s.size();) {
            size_t q = s.find(' ', p);
            if (q == std::string::npos) q = s.size();
            syms.push_back(s.substr(p, q - p));
            p = q + 1;
        }
        Bytes rec = {type, u8(slot), 5, u8(syms.size())};
        Bytes table, strings;
        for (size_t i = 0; i < syms.size(); i++) {
            rec.push_back(15);
            rec.push_back(u8(i));
            u32 off = u32(strings.size());
            for (int k = 0; k < 4; k++) table.push_back(u8(off >> (8 * k)));
            strings.insert(strings.end(), syms[i].begin(), syms[i].end());
            strings.push_back(0);
        }
        Bytes out = {'Z', 'I', 'R', 'B', 'I', 'N', 2, 5, 1, u8(rec.size()), u8(syms.size()), u8(strings.size())};
        out.insert(out.end(), table.begin(), table.end());
        out.insert(out.end(), strings.begin(), strings.end());
        out.insert(out.end(), rec.begin(), rec.end());
        return out;
    };
    EXPECT_EQ(decode_error(image(21, 2, "a b")), "");
    EXPECT_EQ(decode_error(image(22, ACT_ADD, "value1 value2")), "");
    struct Case {
        u8 type;
        u32 slot;
        const char* spec;
        const char* why;
    } cases[] = {
        {21, 0, "a b", "native slot 0"},
        {21, 4, "a b", "a native past the filled entries"},
        {21, 1, "a b", "a native with an entry but no spec of its own"},
        {21, 2, "a", "a native whose spec differs from its own"},
        {21, 2, "a b c", "a native with one argument too many"},
        {22, 0, "value1 value2", "action slot 0"},
        {22, 63, "value1 value2", "action slot 63"},
        {22, 7, "value1 value2", "eval-path"},
        {22, 8, "value1 value2", "the reserved action slot"},
        {22, 9, "value1 value2", "compare"},
        {22, 12, "value1 value2", "an action without an entry"},
    };
    for (const Case& c : cases) {
        Bytes b = image(c.type, c.slot, c.spec);
        size_t lead = b.size() - (4 + 2 * (std::count(c.spec, c.spec + std::strlen(c.spec), ' ') + 1));
        EXPECT_EQ(decode_error(b), "script zb-invalid-record " + std::to_string(lead + 1)) << c.why;
    }
}

TEST_F(Zirbin, WordSlotsAreCheckedAgainstTheirContext) {
    // An object of one word `a` (slot 0), bound words at slots 0, 1 and -1.
    auto image = [](u8 zigzag_slot) {
        Bytes rec = {0x4F, 0, zigzag_slot, 0x20, 0, 0x0E, 0x0A, 1, 0};
        Bytes out = {'Z', 'I', 'R', 'B', 'I', 'N', 2, 5, 1, u8(rec.size()), 1, 2, 0, 0, 0, 0, 'a', 0};
        out.insert(out.end(), rec.begin(), rec.end());
        return out;
    };
    EXPECT_EQ(decode_error(image(0)), "");
    EXPECT_EQ(decode_error(image(1)), "");   // zigzag 1 is -1: looked up when used
    EXPECT_EQ(decode_error(image(2)), "script zb-invalid-record 19");
    EXPECT_EQ(decode_error(image(100)), "script zb-invalid-record 19");
}

TEST_F(Zirbin, DatatypesWithoutARecord) {
    auto cell_of = [](u32 type) {
        Cell* c = stack::push(&unset::value);
        cell::init(c, type);
        return c;
    };
    for (u32 t : {TYPE_HANDLE, TYPE_TRIPLE, TYPE_EVENT}) {
        EXPECT_EQ(error_of([&] { zirbin::encode(cell_of(t)); }), "access no-codec") << t;
        EXPECT_EQ(error_of([&] { zirbin::encode_cp(cell_of(t)); }), "access no-codec") << t;
        EXPECT_EQ(decode_error(compact_image({u8(t)})), "access no-codec") << t;
    }
    // A bare context! has no record either: writing none would give data the
    // decoder rejects.
    Cell* obj = stack::push(&unset::value);
    cell::init(obj, TYPE_UNSET);
    object::make_at(obj, 1);
    Cell* ctx = stack::push(context::cell_of(obj->w1));
    EXPECT_EQ(error_of([&] { zirbin::encode_cp(ctx); }), "access no-codec");
    EXPECT_EQ(error_of([&] { zirbin::encode(ctx); }), "access no-codec");
    // An operator made from a routine.
    Cell* op = stack::push(native2);
    op->header = TYPE_OP | (TYPE_ROUTINE << 16);
    EXPECT_EQ(error_of([&] { zirbin::encode_cp(op); }), "access no-codec");
    // The encoder is left clean for the next value.
    EXPECT_EQ(compact_records(encode(int_(1), true)), "81");
}

// --- Faults of the input -------------------------------------------------------------

TEST_F(Zirbin, CompactFaults) {
    struct Case {
        const char* records;
        const char* error;
    } cases[] = {
        {"C4 0F 00", "script zb-invalid-record 12"},     // SET at run time: the byte after it
        {"0B FF FF FF FF 10", "script zb-invalid-record 17"},  // a fifth varint byte of 0x10: the byte after it
        {"0B FF FF FF FF 0F", ""},
        {"FF 00", "script zb-invalid-record 12"},         // a path of no index
        {"FF 81 80 04 00", "script zb-invalid-record 12"},  // a path of 65,537 indexes
        {"FF 01 00", "script zb-invalid-record 12"},      // a path to nothing yet
        {"05 02 03 C1 05 02 00 00", "script zb-invalid-record 15"},  // a path to a none!
        {"05 02 80 C1 05 02 00 05", "script zb-invalid-record 16"},  // an index past its series
        {"C1 0B 00", "script zb-invalid-record 12"},      // a shared integer
        {"C1 80", "script zb-invalid-record 12"},         // a prefix before a small integer
        {"04", "script zb-invalid-record 11"},            // logic! has no typed record
        {"00", "script zb-invalid-record 11"},            // id 0
        {"0D", "script zb-invalid-record 11"},            // symbol!
        {"3F 40", "script zb-invalid-record 11"},         // an extended id past the table
        {"C5", "script zb-invalid-record 11"},
        {"05 03 80", "script zb-invalid-record 11"},      // a count past the bytes left
        {"07 FE FF FF FF 07", "script zb-invalid-record 17"},  // 0x1FFFFFFF units of 4 bytes
        {"07 03", "script zb-invalid-record 11"},         // unit code 3
        {"27 01 02", "script zb-invalid-record 11"},      // a tuple cut short
        {"67 0D 01", "script zb-invalid-record 11"},      // a tuple of 13 parts
        {"67 02 01 02", "script zb-invalid-record 11"},   // a tuple of 2 parts
        {"21 05 00", "script zb-invalid-record 11"},      // typeset of 5 bytes, none there
        {"0A 80 80 C4 00", "script zb-invalid-record 11"},  // a char past U+10FFFF
        {"01 00", "script zb-invalid-record 11"},         // datatype! 0
        {"28 05 80 80 80 80 80", "script zb-invalid-record 11"},  // a map of an odd count
        {"2F 00 00 00 00", "script zb-invalid-record 11"},  // a date of month 0
        {"2F 80 2F A2 0F", "script zb-invalid-record 11"},  // 31-Feb-2001
        {"2F 80 2E A2 0F", "script zb-invalid-record 11"},  // 29-Feb-2001, not a leap year
        {"2F 80 4F A2 0F", "script zb-invalid-record 11"},  // 31-Apr-2001
        {"2F 80 2E A0 0F", ""},                             // 29-Feb-2000
        {"2F 80 CF A0 0F", ""},                             // 31-Dec-2000
        // A time is kept in UTC: with the zone's offset it must fall within the day.
        {"6F 80 10 A1 0F 00 00 00 00 00 6A F8 40", "script zb-invalid-record 11"},  // 27:46:40
        {"6F 80 10 A1 0F 00 00 00 00 00 18 F5 40", "script zb-invalid-record 11"},  // 24:00
        {"6F 80 10 A1 0F 00 00 00 00 00 00 F0 BF", "script zb-invalid-record 11"},  // -0:00:01
        {"6F 88 10 A1 0F 00 00 00 00 00 6A F8 40", "script zb-invalid-record 11"},  // 25:46:40+2:00
        {"6F 80 10 A1 0F 00 00 00 00 F8 17 F5 40", ""},     // 23:59:59.5
        {"6F 88 10 A1 0F 00 00 00 00 00 20 AC C0", ""},     // 1:00+2:00, -1:00 in UTC
        {"6F C8 10 A1 0F 00 00 00 00 00 F9 F5 40", ""},     // 23:00-2:00, 25:00 in UTC
        {"22 EB 07 80 80 80 80 80 80", "script zb-invalid-record 11"},  // error code 1003
        {"15 81 80 80 80 08 05 00", "script zb-invalid-record 11"},  // native slot 0x80000001
    };
    for (const Case& c : cases) EXPECT_EQ(decode_error(compact_image(unhex(c.records))), c.error) << c.records;
}

TEST_F(Zirbin, CompactHeaderFaults) {
    Bytes good = encode(test::block({test::word("zz-head"), str("x")}), true);
    EXPECT_EQ(decode_error(good), "");
    // The string area must end with a NUL.
    Bytes no_nul = good;
    size_t nul = 0;
    for (size_t i = 12; i < no_nul.size(); i++)
        if (no_nul[i] == 0 && no_nul[i - 1] == 'd') nul = i;
    ASSERT_NE(nul, 0u);
    no_nul[nul] = 'x';
    EXPECT_TRUE(format_error(decode_error(no_nul)));
    // A record area larger than what follows.
    Bytes big = compact_image(unhex("81"));
    big[9] = 5;
    EXPECT_EQ(decode_error(big), "script zb-invalid-record 11");
    // A wrong magic.
    Bytes magic = good;
    magic[0] = 'X';
    EXPECT_EQ(decode_error(magic), "script invalid-data");
    EXPECT_EQ(decode_error(Bytes{'Z', 'I', 'R'}), "script invalid-data");
}

TEST_F(Zirbin, FixedWidthCountsAndOffsetsAreChecked) {
    struct Case {
        std::vector<u32> words;
        std::vector<std::string> symbols;
        const char* why;
    } cases[] = {
        {{5, 0, 0x10000000}, {}, "a block count past the end"},
        {{7 | 0x400, 0, 0x40000001, 0}, {}, "a text count whose size wraps 32 bits"},
        {{35 | 0x800, 0, 0x20000001, 12, 0}, {}, "a vector count whose size wraps 32 bits"},
        {{40, 0x7FFFFFFE}, {}, "map pairs past the end"},
        {{24, 0x10000000, 0x10000000, 14 | (1u << 26) | (1u << 29), 0}, {}, "function capacities past the end"},
        {{14 | (2u << 26), 0x10000000}, {}, "context words past the end"},
        {{15 | (1u << 25), 5, 0}, {"a"}, "a symbol index past the table"},
        {{20, 0}, {}, "a symbol without a table"},
        {{255, 0x20000, 0}, {}, "a path past the end"},
        {{7 | 0x300, 0, 0}, {}, "a text unit of 3 bytes"},
        {{53, 0, 0xFFFFFFFF}, {}, "an image of 65535 x 65535 pixels"},
        {{10, 0x110000}, {}, "a char past U+10FFFF"},
        {{47, 0x0FA22F80, 0, 0}, {}, "31-Feb-2001"},
        {{47, 0x0FA11080, 0x40F86A00, 0}, {}, "1-Jan-2000/27:46:40"},
        {{11}, {}, "an integer cut short"},
        {{200}, {}, "an id past the table"},
    };
    for (const Case& c : cases) EXPECT_TRUE(format_error(decode_error(fixed_image(c.words, c.symbols)))) << c.why;
    // Symbol offsets and sizes in the table itself.
    Bytes image = fixed_image({15 | (1u << 25), 0, 0}, {"abc"});
    EXPECT_EQ(decode_error(image), "");
    Bytes bad_offset = image;
    bad_offset[24] = 200;
    EXPECT_TRUE(format_error(decode_error(bad_offset)));
    Bytes bad_count = image;
    bad_count[16] = 0xFF, bad_count[17] = 0xFF, bad_count[18] = 0xFF;
    EXPECT_TRUE(format_error(decode_error(bad_count)));
    Bytes bad_size = image;
    bad_size[21] = 0x40;
    EXPECT_TRUE(format_error(decode_error(bad_size)));
    Bytes short_body = {'Z', 'I', 'R', 'B', 'I', 'N', 2, 0, 1, 0, 0};
    EXPECT_EQ(decode_error(short_body), "script invalid-data");
}

TEST_F(Zirbin, ImagesKeepTheirPixels) {
    u32 px[2] = {0xFF112233, 0x80445566};
    u32 record = 0;
    ASSERT_EQ(image_backend::from_memory(2, 1, 0, 8, reinterpret_cast<const u8*>(px), &record), 0);
    Cell* img = stack::push(&unset::value);
    image::make_at(img, record);
    EXPECT_EQ(compact_records(encode(img, true)), "35 02 01 33 22 11 FF 66 55 44 80");
    img->w1 = 1;
    round_trip(test::block({img, img}), "image");
    Cell* empty = stack::push(&unset::value);
    image::make_at(empty, 0);
    round_trip(empty, "empty image");
    // An image with one side of 0 has no pixels but keeps both sides, as
    // make image! 2x0 gives it: written with its sides, read back with them.
    for (u32 size : {2u, 5u << 16, 0xFFFFu, 0xFFFFu << 16}) {
        Cell* flat = stack::push(&unset::value);
        image::make_at(flat, 0);
        flat->w3 = size;
        round_trip(flat, "image with a side of 0");
        round_trip(test::block({flat, empty, flat}), "images with a side of 0 beside each other");
    }
    Cell* two_by_zero = block::cell_at(decode(compact_image(unhex("35 02 00")))->w2, 0);
    EXPECT_EQ(TYPE_OF(two_by_zero), u32(TYPE_IMAGE));
    EXPECT_EQ(two_by_zero->w2, 0u) << "no pixels";
    EXPECT_EQ(two_by_zero->w3, 2u) << "width 2, height 0";
    // Sizes past the sides' limit.
    EXPECT_TRUE(format_error(decode_error(compact_image(unhex("35 80 80 04 01")))));
    EXPECT_TRUE(format_error(decode_error(compact_image(unhex("35 80 80 04 00")))));
}

TEST_F(Zirbin, MapAndHashKeysFollowTheirRules) {
    // A map's keys: no blocks; words become set-words.
    EXPECT_EQ(decode_error(compact_image(unhex("28 02 05 00 81"))), "script zb-invalid-record 11");
    Bytes image = {'Z', 'I', 'R', 'B', 'I', 'N', 2, 5, 1, 5, 1, 2, 0, 0, 0, 0, 'k', 0, 0x28, 2, 0x0F, 0, 0x81};
    Cell* out = decode(image);
    Cell* m = block::cell_at(out->w2, 0);
    EXPECT_EQ(TYPE_OF(block::cell_at(m->w2, 0)), TYPE_SET_WORD);
    // Keys are compared while indexing, and which keys meet depends on the
    // hash seed: a key whose comparison could raise (here, by nesting past
    // what the comparison's cycle guard holds) is refused whatever its hash.
    Bytes deep = {0x24, 1};
    for (int i = 0; i < 300; i++) deep.insert(deep.end(), {0x05, 0x01});
    deep.push_back(0x80);
    EXPECT_EQ(decode_error(compact_image(deep)), "script zb-invalid-record 12");   // a two-byte size before it
    EXPECT_EQ(decode_error(compact_image(unhex("24 02 81 82"))), "");
}

TEST_F(Zirbin, NestingDeeperThanTheLimitIsRefused) {
    Bytes deep;
    for (int i = 0; i < zirbin::MAX_DEPTH + 5; i++) deep.insert(deep.end(), {0x05, 0x01});
    deep.push_back(0x80);
    EXPECT_TRUE(format_error(decode_error(compact_image(deep))));
    // Words whose objects hold words of further objects: the deepest chain of
    // frames per level.
    auto chain = [](int levels) {
        Bytes words;
        for (int i = 0; i < levels; i++) words.insert(words.end(), {0x4F, 0, 0, 0x20, 0, 0x0E, 0x1A, 1, 0});
        words.push_back(0x80);
        Bytes image = {'Z', 'I', 'R', 'B', 'I', 'N', 2, 5, 1};
        u32 n = u32(words.size());
        while (n >= 0x80) image.push_back(u8(n | 0x80)), n >>= 7;
        image.push_back(u8(n));
        image.insert(image.end(), {1, 2, 0, 0, 0, 0, 'a', 0});
        image.insert(image.end(), words.begin(), words.end());
        return image;
    };
    EXPECT_EQ(decode_error(chain(3)), "");
    EXPECT_EQ(decode_error(chain(zirbin::MAX_DEPTH / 2 - 1)), "");
    EXPECT_TRUE(format_error(decode_error(chain(zirbin::MAX_DEPTH + 5))));
    // The encoder refuses what it could not read back.
    Cell* b = test::block({});
    Cell* cur = stack::push(b);
    for (int i = 0; i < zirbin::MAX_DEPTH + 5; i++) {
        Cell* next = test::block({});
        *memory::alloc_tail(cur) = *next;
        *cur = *next;
    }
    EXPECT_EQ(error_of([&] { zirbin::encode_cp(b); }), "internal too-deep");
}

TEST_F(Zirbin, PackedImages) {
    Cell* v = test::block({});
    for (int i = 0; i < 200; i++) *memory::alloc_tail(v) = *str("repeated text in a packed body");
    Bytes plain = encode(v, true);
    Bytes packed = bytes_of(zirbin::pack(zirbin::encode_cp(v)));
    EXPECT_EQ(packed[7], 3);
    EXPECT_LT(packed.size(), plain.size() / 4);
    Cell* out = decode(packed);
    Shape shape;
    Cell copy = *block::cell_at(out->w2, 0);
    EXPECT_TRUE(shape.same(v, &copy)) << shape.why;
    // A body that does not unpack, or bytes after the stream.
    Bytes corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0x55;
    std::string e = decode_error(corrupt);
    EXPECT_TRUE(e.empty() || format_error(e)) << e;
    Bytes longer = packed;
    longer.push_back(0);
    EXPECT_EQ(decode_error(longer), "script invalid-data");
    // Too small to pack: the image comes back as it was.
    EXPECT_EQ(bytes_of(zirbin::pack(zirbin::encode_cp(int_(1)))), encode(int_(1), true));
}

TEST_F(Zirbin, EveryTruncationOfAValidImageIsAFormatError) {
    Cell* fn_spec = read_block("a");
    function::push(fn_spec, read_block("a zz-g"), 0, 0, 0, 0);
    Cell* fn = stack::top - 1;
    Cell* v = test::block({int_(1), float_(2.5), str("text"), test::word("zz-w"), object_word("zz-f", str("v")), fn, native2,
                     binary_({1, 2, 3}), map_({int_(1), str("one")}), hash_({int_(4), int_(5)})});
    *memory::alloc_tail(v) = *v;
    for (bool compact : {false, true}) {
        for (bool packed : {false, true}) {
            Cell* image = compact ? zirbin::encode_cp(v) : zirbin::encode(v);
            if (packed) {
                Cell* big = test::block({v, v, v, v, v, v, v, v, v, v});
                image = zirbin::pack(compact ? zirbin::encode_cp(big) : zirbin::encode(big));
            }
            Bytes b = bytes_of(image);
            EXPECT_EQ(decode_error(b), "");
            for (size_t n = 0; n < b.size(); n++) {
                Bytes cut(b.begin(), b.begin() + long(n));
                std::string e = decode_error(cut);
                EXPECT_TRUE(format_error(e)) << (compact ? "compact " : "fixed ") << (packed ? "packed " : "")
                                             << n << " of " << b.size() << ": " << e;
            }
        }
    }
}

// --- Generated values ------------------------------------------------------------

struct Generator {
    std::mt19937 rng;
    Zirbin* t;
    Cell* pool;   // series, objects and functions made so far, for sharing

    Generator(u32 seed, Zirbin* test) : rng(seed), t(test), pool(test::block({})) {}

    u32 below(u32 n) { return u32(rng() % n); }

    Cell* remember(Cell* v) {
        *memory::alloc_tail(pool) = *v;
        return v;
    }

    Cell* text(u32 type) {
        static const char32_t samples[] = {U'a', U'Z', U' ', U'~', U'é', U'Ж', U'中', U'😀', U'\n', U'^'};
        u32 limit = below(3) == 0 ? 4 : below(2) ? 6 : 10;
        std::u32string s;
        for (u32 i = 0, n = below(12); i < n; i++) s += samples[below(limit)];
        u32 unit = 1;
        for (char32_t c : s) unit = c > 0xFFFF ? 4 : c > 0xFF && unit < 2 ? 2 : unit;
        if (below(4) == 0 && unit < 4) unit *= 2;
        Cell* v = text_series(s, unit, type);
        v->w1 = s.empty() ? 0 : below(u32(s.size()) + 1);
        return remember(v);
    }

    Cell* scalar() {
        switch (below(17)) {
            case 0: return none_();
            case 1: return logic_(below(2));
            case 2: return int_(i32(rng()) >> below(31));
            case 3: return char_(below(0x110000));
            case 4: return float_(below(2) ? double(i32(rng()) >> 8) : std::bit_cast<double>(u64(rng()) << 32 | rng()));
            case 5: return percent_(below(2) ? i32(below(2000)) / 100.0 : 1.0 / (1 + below(1000)));
            case 6: return time_(below(86400) + (below(2) ? 0.5 : 0.0));
            case 7: return pair_(i32(rng()), i32(rng()));
            case 8: {
                Cell* c = stack::push(&unset::value);
                cell::init(c, below(2) ? TYPE_POINT2D : TYPE_POINT3D);
                c->w1 = rng(), c->w2 = rng();
                if (TYPE_OF(c) == TYPE_POINT3D) c->w3 = rng();
                return c;
            }
            case 9: return typeset_({below(54) + 1, below(54) + 1});
            case 10: {
                Cell* c = stack::push(&unset::value);
                cell::init(c, TYPE_TUPLE);
                u32 n = below(12) + 1;
                c->header |= n << 19;
                u8 parts[12] = {};
                for (u32 i = 0; i < n; i++) parts[i] = u8(rng());
                std::memcpy(&c->w1, parts, 12);
                return c;
            }
            case 11: {
                u8 digits[11];
                for (u8& d : digits) d = u8(below(10) << 4 | below(10));
                return money::push_raw(below(2), 0, digits);
            }
            case 12: {
                Cell* c = stack::push(&unset::value);
                cell::init(c, TYPE_UNSET);
                date::make_at(c, i32(below(4000)), i32(below(12) + 1), i32(below(28) + 1), below(86400), i32(below(5)),
                              0, below(2));
                return c;
            }
            case 13: {
                collector::RootCell r;
                issue::make_at(r.get(), "zz-issue-" + std::to_string(below(5)));
                return stack::push(r.get());
            }
            case 14: return datatype_(below(54) + 1);
            case 15: return stack::push(word::load("zz-g" + std::to_string(below(6))));
            default: {
                static const u32 kinds[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT};
                Cell* w = stack::push(word::load("zz-k" + std::to_string(below(4))));
                cell::set_type(w, kinds[below(5)]);
                return w;
            }
        }
    }

    Cell* value(int depth) {
        Cell* v;
        u32 pick = depth <= 0 ? 0 : below(17);
        switch (pick) {
            case 1: {
                static const u32 types[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF};
                v = text(types[below(6)]);
                break;
            }
            case 2: {
                std::vector<u8> b(below(20));
                for (u8& x : b) x = u8(rng());
                v = remember(bin(b));
                v->w1 = below(u32(b.size()) + 1);
                break;
            }
            case 3:
            case 4: {
                static const u32 types[] = {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH};
                v = remember(test::block({}, types[below(6)]));
                u32 n = below(6);
                for (u32 i = 0; i < n; i++) {
                    Cell* item = value(depth - 1);
                    *memory::alloc_tail(v) = *item;
                }
                if (below(8) == 0) *memory::alloc_tail(v) = *v;   // a cycle
                v->w1 = below(n + 1);
                break;
            }
            case 5: {
                u32 pool_size = u32(block::cell_count(node_buffer(pool->w2)));
                if (!pool_size) return scalar();
                v = stack::push(block::cell_at(pool->w2, below(pool_size)));   // met again
                if (any_series_q(TYPE_OF(v)) && TYPE_OF(v) != TYPE_HASH)
                    v->w1 = below(u32(series::abs_length(node_buffer(v->w2))) + 1);
                break;
            }
            case 6: {
                Cell* obj = stack::push(&unset::value);
                cell::init(obj, TYPE_UNSET);
                object::make_at(obj, 4);
                for (u32 i = 0, n = below(4); i < n; i++) {
                    Cell* field = value(depth - 1);
                    context::put(obj->w1, symbol::make("zz-o" + std::to_string(i)), field);
                }
                v = remember(obj);
                if (below(3) == 0 && context::word_count(context::cell_of(obj->w1)) > 0) {
                    Cell* w = stack::push(context::word_at(context::cell_of(obj->w1), 0));
                    w->header = TYPE_WORD;
                    w->w1 = obj->w1;
                    w->w3 = 0;
                    v = remember(test::block({w, obj, w}));
                }
                break;
            }
            case 7: {
                Cell* spec = read_block("a b /local c");
                Cell* body = test::block({});
                *memory::alloc_tail(body) = *read_block("c: a");
                *memory::alloc_tail(body) = *value(depth - 1);
                function::push(spec, body, 0, 0, 0, 0);
                v = remember(stack::push(stack::top - 1));
                break;
            }
            case 8: {
                Cell* err = stack::push(&unset::value);
                cell::init(err, TYPE_UNSET);
                cell::init(err, TYPE_UNSET);
                error::make_at(err, ERR_SCRIPT, below(10), nullptr, 0);
                for (i32 f = error::FIELD_ARG1; f <= error::FIELD_WHERE; f++)
                    if (below(2)) {
                        Cell* x = value(depth - 1);
                        *error::field(err, f) = *x;
                    }
                v = err;
                break;
            }
            case 9: {
                Cell* pick_native = below(3) == 0 ? t->native2 : below(2) ? t->native3 : t->action11;
                v = stack::push(pick_native);
                if (pick_native != t->native3 && below(2)) op::make(v, pick_native, TYPE_OP);
                break;
            }
            case 10: {
                Cell* m = map_({});
                for (u32 i = 0, n = below(4); i < n; i++) {
                    *memory::alloc_tail(m) = *int_(i32(i * 7));
                    *memory::alloc_tail(m) = *value(depth - 1);
                }
                hash_table::put_all(m->w3, 0, 2);
                v = remember(m);
                break;
            }
            case 11: {
                Cell* h = hash_({});
                for (u32 i = 0, n = below(5); i < n; i++) {
                    // Keys are compared while indexing: only datatypes that compare.
                    Cell* key = scalar();
                    while (!datatype::table[TYPE_OF(key)][ACT_COMPARE - 1]) key = scalar();
                    *memory::alloc_tail(h) = *key;
                }
                hash_table::put_all(h->w3, 0, 1);
                v = remember(h);
                break;
            }
            case 12: {
                static const u32 elems[][2] = {{TYPE_INTEGER, 1}, {TYPE_INTEGER, 2}, {TYPE_INTEGER, 4}, {TYPE_CHAR, 4},
                                               {TYPE_FLOAT, 8},   {TYPE_FLOAT, 4},   {TYPE_PERCENT, 8}};
                auto& e = elems[below(7)];
                u32 n = below(6);
                Cell* vec = stack::push(&unset::value);
                cell::init(vec, TYPE_UNSET);
                cell::init(vec, TYPE_UNSET);
                u32 node = memory::alloc_series(n ? n : 1, e[1], 0);
                SeriesBuffer* s = node_buffer(node);
                for (u32 i = 0; i < n * e[1]; i++) series::data(s)[i] = u8(e[0] == TYPE_CHAR ? (i % 4 ? 0 : rng() % 128) : rng());
                s->tail = s->offset + n * e[1];
                cell::init(vec, TYPE_VECTOR);
                vec->w2 = node;
                vec->w3 = e[0];
                v = remember(vec);
                break;
            }
            case 13: {
                std::vector<u8> b(below(8) * 4);
                for (u8& x : b) x = u8(rng());
                v = bin(b);
                cell::set_type(v, TYPE_BITSET);
                if (below(2)) memory::set_series_flag(v->w2, SERIES_COMPLEMENT);
                v = remember(v);
                break;
            }
            case 14: {
                i32 w = i32(below(4)), h = w ? i32(below(3) + 1) : 0;
                std::vector<u32> px(size_t(w * h));
                for (u32& x : px) x = rng();
                u32 record = 0;
                if (w) image_backend::from_memory(w, h, 0, i64(px.size()) * 4, reinterpret_cast<const u8*>(px.data()), &record);
                Cell* img = stack::push(&unset::value);
                image::make_at(img, record);
                img->w1 = below(u32(w * h) + 1);
                v = remember(img);
                break;
            }
            default:
                v = scalar();
        }
        if (below(5) == 0) v->header |= FLAG_NEW_LINE;
        return v;
    }
};

TEST_F(Zirbin, GeneratedValuesRoundTrip) {
    for (u32 seed = 1; seed <= 60; seed++) {
        Cell* saved = stack::top;
        Generator g(seed, this);
        Cell* v = g.value(4);
        round_trip(v, ("seed " + std::to_string(seed)).c_str());
        stack::top = saved;
    }
}

}  // namespace
}  // namespace zir
