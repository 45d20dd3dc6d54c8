// map!: keys normalised and found by every word type, dead pairs and their
// revival, /case keeping keys apart, make and to, mold and form, comparison,
// copy, reflect, extend and the foreach step, checked against a dictionary
// model.
#include <functional>
#include <map>
#include <random>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/hash_table.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Map : ValueTest {};

Cell* make_map(std::initializer_list<const Cell*> items) { return map::make(nullptr, test::block(items), TYPE_MAP); }

// The value read through a path, copied out of the map's buffer.
Cell* get_(Cell* m, Cell* key, bool case_ = false) {
    return stack::push(map::eval_path(m, key, nullptr, nullptr, nullptr, nullptr, 0, case_, true, false, false));
}
void set_(Cell* m, Cell* key, Cell* value, bool case_ = false) {
    map::eval_path(m, key, value, nullptr, nullptr, nullptr, 0, case_, false, false, false);
}
Cell* select_(const Cell* m, Cell* key, bool case_ = false, bool same = false) {
    return map::select(stack::push(m), key, nullptr, false, case_, same, false, nullptr, nullptr, false, false);
}
Cell* find_(const Cell* m, Cell* key, bool case_ = false) {
    return map::find(stack::push(m), key, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
                     false);
}
void remove_key(Cell* m, Cell* key) { map::remove(stack::push(m), nullptr, key); }
Cell* reflect_(const Cell* m, const char* field) { return map::reflect(stack::push(m), symbol::make(field)); }

// --- Keys and lookups ----------------------------------------------------------------------

TEST_F(Map, WordKeysOfEveryKindFindOneEntry) {
    Cell* m = make_map({word("a", TYPE_SET_WORD), int_(1)});
    for (u32 t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) {
        EXPECT_MOLD(get_(m, word("a", t)), "1") << datatype::name_of(t);
        EXPECT_MOLD(get_(m, word("A", t)), "1") << "a word differing in case, " << datatype::name_of(t);
        Cell* found = find_(m, word("a", t));
        EXPECT_EQ(TYPE_OF(found), u32(TYPE_WORD)) << "find answers the key as a word!";
    }
    set_(m, word("a", TYPE_LIT_WORD), int_(2));
    set_(m, word("b", TYPE_GET_WORD), int_(3));
    EXPECT_EQ(map::key_count(m), 2);
    EXPECT_MOLD(m, "#[\n    a: 2\n    b: 3\n]");
    // A refinement or issue of the same spelling is another key.
    EXPECT_EQ(TYPE_OF(get_(m, word("a", TYPE_REFINEMENT))), u32(TYPE_NONE));
}

TEST_F(Map, AbsentKeysReadAsNoneAndSettingAddsAtTheEnd) {
    Cell* m = make_map({word("x"), int_(1)});
    EXPECT_EQ(TYPE_OF(get_(m, word("y"))), u32(TYPE_NONE));
    EXPECT_EQ(TYPE_OF(select_(m, str("y"))), u32(TYPE_NONE));
    set_(m, word("y"), int_(2));
    EXPECT_MOLD(reflect_(m, "words"), "[x y]");
    set_(m, word("x"), none_());
    EXPECT_EQ(map::key_count(m), 2) << "setting none keeps the key";
    EXPECT_MOLD(reflect_(m, "values"), "[none 2]");
}

TEST_F(Map, RemovedKeysLeaveDeadPairsThatComeBack) {
    Cell* m = make_map({word("a"), int_(1), word("b"), int_(2), word("c"), int_(3)});
    remove_key(m, word("b"));
    EXPECT_EQ(map::length_q(m), 2);
    EXPECT_EQ(TYPE_OF(get_(m, word("b"))), u32(TYPE_NONE));
    EXPECT_EQ(TYPE_OF(find_(m, word("b"))), u32(TYPE_NONE));
    EXPECT_MOLD(m, "#[\n    a: 1\n    c: 3\n]");
    EXPECT_MOLD(reflect_(m, "body"), "[\n    a: 1\n    c: 3\n]");
    remove_key(m, word("b"));   // twice: nothing more to remove
    EXPECT_EQ(map::length_q(m), 2);
    set_(m, word("b"), int_(20));
    EXPECT_EQ(map::length_q(m), 3) << "the dead pair is counted again";
    EXPECT_MOLD(reflect_(m, "words"), "[a b c]") << "revived in its old place";
    EXPECT_MOLD(get_(m, word("b")), "20");
    // remove/key matches case-sensitively.
    set_(m, str("Key"), int_(1));
    remove_key(m, str("key"));
    EXPECT_EQ(map::length_q(m), 4);
    remove_key(m, str("Key"));
    EXPECT_EQ(map::length_q(m), 3);
}

TEST_F(Map, CaseKeepsKeysApart) {
    Cell* m = map::make(nullptr, int_(0), TYPE_MAP);
    map::put(m, str("Name"), int_(1), true);
    map::put(m, str("name"), int_(2), true);
    map::put(m, str("NAME"), int_(3), true);
    EXPECT_EQ(map::key_count(m), 3);
    EXPECT_MOLD(select_(m, str("name"), true), "2");
    EXPECT_MOLD(select_(m, str("NAME"), true), "3");
    EXPECT_EQ(TYPE_OF(select_(m, str("nAme"), true)), u32(TYPE_NONE));
    EXPECT_MOLD(select_(m, str("nAme")), "1") << "without /case the first stored spelling answers";
    // Without /case a put finds the key whatever its case.
    map::put(m, str("nAmE"), int_(9), false);
    EXPECT_EQ(map::key_count(m), 3);
    map::extend(m, test::block({str("Other"), int_(4), str("other"), int_(5)}), true);
    EXPECT_EQ(map::key_count(m), 5);
    map::extend(m, test::block({str("OTHER"), int_(6)}), false);
    EXPECT_EQ(map::key_count(m), 5);
    // Word keys too.
    Cell* w = map::make(nullptr, int_(0), TYPE_MAP);
    map::put(w, word("ab"), int_(1), true);
    map::put(w, word("AB"), int_(2), true);
    EXPECT_EQ(map::key_count(w), 2);
    EXPECT_MOLD(w, "#[\n    ab: 1\n    AB: 2\n]");
}

// Keys put one by one are placed by the hash their search took, and placed
// again by it each time the map doubles: every spelling must still be found,
// without case and with it.
TEST_F(Map, TextKeysFoundWithAndWithoutCaseAfterGrowing) {
    Cell* m = map::make(nullptr, int_(0), TYPE_MAP);
    const i32 n = 400;
    auto spelled = [](const char* prefix, i32 i) { return std::string(prefix) + std::to_string(i); };
    for (i32 i = 0; i < n; i++) {
        Cell* mark = stack::top;
        map::put(m, str(spelled("Key-\u00E9", i).c_str()), int_(i), false);
        stack::top = mark;
    }
    EXPECT_GE(hash_table::record(m->w3)->buckets, 512u);
    for (i32 i = 0; i < n; i++) {
        Cell* mark = stack::top;
        ASSERT_EQ(mold(select_(m, str(spelled("KEY-\u00C9", i).c_str()))), std::to_string(i));
        ASSERT_EQ(TYPE_OF(select_(m, str(spelled("KEY-\u00C9", i).c_str()), true)), u32(TYPE_NONE));
        ASSERT_EQ(mold(select_(m, str(spelled("Key-\u00E9", i).c_str()), true)), std::to_string(i));
        map::put(m, str(spelled("kEy-\u00E9", i).c_str()), int_(-i), false);
        stack::top = mark;
    }
    EXPECT_EQ(map::key_count(m), n) << "a put without case replaces the value";
    EXPECT_MOLD(select_(m, str("key-\u00E9399")), "-399");
}

TEST_F(Map, KeysOfDifferentDatatypesStayApart) {
    Cell* m = make_map({int_(1), str("int"), float_(1.0), str("float"), char_('a'), str("char"), str("a"), str("str")});
    EXPECT_EQ(map::key_count(m), 4);
    EXPECT_MOLD(get_(m, float_(1.0)), "\"float\"");
    EXPECT_MOLD(get_(m, int_(1)), "\"int\"");
    EXPECT_MOLD(get_(m, char_('a')), "\"char\"");
    EXPECT_MOLD(get_(m, str("A")), "\"str\"");
    EXPECT_EQ(TYPE_OF(get_(m, int_(97))), u32(TYPE_NONE));
}

TEST_F(Map, TextKeysAreCopies) {
    Cell* key = str("abc");
    Cell* m = map::make(nullptr, int_(1), TYPE_MAP);
    map::put(m, key, int_(1), false);
    string::append_literal(key, "def");
    EXPECT_MOLD(m, "#[\n    \"abc\" 1\n]");
    EXPECT_MOLD(get_(m, str("abc")), "1");
    // A key past its text's head is stored from the head given.
    map::put(m, at_(str("xyz"), 1), int_(2), false);
    EXPECT_MOLD(get_(m, str("yz")), "2");
}

TEST_F(Map, LaterDuplicatesInASpecWin) {
    Cell* m = make_map({word("a"), int_(1), word("b"), int_(2), str("k"), int_(3), word("a"), int_(4), str("k"),
                        int_(5)});
    EXPECT_EQ(map::key_count(m), 3);
    EXPECT_MOLD(m, "#[\n    a: 4\n    b: 2\n    \"k\" 5\n]");
    // A spec's keys are told apart strictly: spellings differing in case stay two keys.
    Cell* cased = make_map({word("a"), int_(1), word("A"), int_(2)});
    EXPECT_EQ(map::key_count(cased), 2);
    EXPECT_MOLD(get_(cased, word("A")), "1") << "without /case the first one answers";
    EXPECT_MOLD(get_(cased, word("A"), true), "2");
}

// A dictionary model: string, integer and word keys (words of any kind and
// case name one entry); puts, removals, revivals and lookups at random.
TEST_F(Map, AgainstADictionaryModel) {
    std::mt19937 rng(20240611);
    Cell* m = map::make(nullptr, int_(4), TYPE_MAP);
    std::map<std::string, i32> model;
    const u32 word_types[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD};
    auto key_of = [&](int k, int variant) -> std::pair<Cell*, std::string> {
        switch (k % 3) {
            case 0: {
                std::string s = "w" + std::to_string(k);
                std::string spelled = variant % 2 ? s : "W" + s.substr(1);
                return {word(spelled.c_str(), word_types[variant % 4]), "w:" + s};
            }
            case 1: return {str(("s" + std::to_string(k)).c_str()), "s:s" + std::to_string(k)};
            default: return {int_(k), "i:" + std::to_string(k)};
        }
    };
    for (int step = 0; step < 3000; step++) {
        Cell* mark = stack::top;
        int k = int(rng() % 60), variant = int(rng() % 8);
        auto [key, name] = key_of(k, variant);
        switch (rng() % 4) {
            case 0:
            case 1: {
                i32 v = i32(rng() % 1000);
                if (rng() % 2) set_(m, key, int_(v));
                else map::put(m, key, int_(v), false);
                model[name] = v;
                break;
            }
            case 2: {
                // remove/key is case-sensitive: words are removed as spelled when stored.
                if (k % 3 == 0) break;
                remove_key(m, key);
                model.erase(name);
                break;
            }
            default: {
                Cell* got = select_(m, key);
                auto it = model.find(name);
                if (it == model.end()) ASSERT_EQ(TYPE_OF(got), u32(TYPE_NONE)) << name << " at step " << step;
                else ASSERT_EQ(mold(got), std::to_string(it->second)) << name << " at step " << step;
            }
        }
        ASSERT_EQ(map::length_q(m), i32(model.size())) << "step " << step;
        stack::top = mark;
    }
    for (int k = 0; k < 60; k++) {
        auto [key, name] = key_of(k, 1);
        auto it = model.find(name);
        Cell* got = get_(m, key);
        if (it == model.end()) EXPECT_EQ(TYPE_OF(got), u32(TYPE_NONE)) << name;
        else EXPECT_EQ(mold(got), std::to_string(it->second)) << name;
    }
    EXPECT_EQ(series::rest_length(reflect_(m, "values")), i32(model.size()));
}

// --- make and to ------------------------------------------------------------------------------

TEST_F(Map, MakeAndToSpecs) {
    EXPECT_MOLD(map::make(nullptr, int_(0), TYPE_MAP), "#[]");
    EXPECT_MOLD(map::make(nullptr, float_(3.9), TYPE_MAP), "#[]");
    EXPECT_MOLD(map::make(nullptr, test::block({}), TYPE_MAP), "#[]");
    EXPECT_MOLD(map::make(nullptr, test::block({word("a"), int_(1)}, TYPE_PAREN), TYPE_MAP), "#[\n    a: 1\n]");
    EXPECT_MOLD(map::to(nullptr, at_(test::block({int_(0), word("b"), int_(2)}), 1), TYPE_MAP), "#[\n    b: 2\n]");
    Cell* from_hash = hash_({word("k"), str("v")});
    EXPECT_MOLD(map::make(nullptr, from_hash, TYPE_MAP), "#[\n    k: \"v\"\n]");
    Cell* original = make_map({word("a"), int_(1)});
    Cell* copied = map::make(nullptr, original, TYPE_MAP);
    set_(copied, word("b"), int_(2));
    EXPECT_EQ(map::key_count(original), 1);
    // New-line markers of the spec do not survive.
    Cell* lined = make_map({nl(word("a")), nl(int_(1))});
    EXPECT_MOLD(reflect_(lined, "words"), "[a]");
    EXPECT_MOLD(reflect_(lined, "values"), "[1]");
}

TEST_F(Map, MakeAndToErrors) {
    struct Case {
        std::function<void()> run;
        const char* error;
    } cases[] = {
        {[] { map::make(nullptr, test::block({word("a")}), TYPE_MAP); }, "script invalid-arg"},
        {[] { map::make(nullptr, int_(-1), TYPE_MAP); }, "script out-of-range"},
        {[] { map::make(nullptr, float_(1e12), TYPE_MAP); }, "script out-of-range"},
        {[] { map::to(nullptr, int_(10), TYPE_MAP); }, "script bad-to-arg"},
        {[] { map::make(nullptr, str("a 1"), TYPE_MAP); }, "script bad-to-arg"},
        {[] { map::make(nullptr, test::block({test::block({}), int_(1)}), TYPE_MAP); }, "script invalid-path"},
        {[] { map::make(nullptr, test::block({none_(), int_(1)}), TYPE_MAP); }, "script invalid-path"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.run), c.error);
}

TEST_F(Map, ActionErrors) {
    Cell* m = make_map({word("a"), int_(1)});
    EXPECT_EQ(error_of([&] { set_(m, test::block({}), int_(1)); }), "script invalid-path");
    EXPECT_EQ(error_of([&] { map::put(m, logic_(true), int_(1), false); }), "script invalid-path");
    EXPECT_EQ(map::key_count(m), 1) << "a refused key adds nothing";
    EXPECT_EQ(TYPE_OF(get_(m, test::block({}))), u32(TYPE_NONE)) << "reading any key is no error";
    EXPECT_EQ(error_of([&] { map::remove(m, nullptr, nullptr); }), "script missing-arg");
    EXPECT_EQ(error_of([&] { reflect_(m, "spec"); }), "internal not-done");
    EXPECT_EQ(error_of([&] { map::extend(m, test::block({word("b")}), false); }), "script invalid-arg");
    for (u32 slot : {ACT_APPEND, ACT_INSERT, ACT_PICK, ACT_POKE, ACT_SORT, ACT_TAKE, ACT_AT, ACT_NEXT, ACT_RANDOM})
        EXPECT_EQ(actions::lookup(TYPE_MAP, slot), nullptr) << "slot " << slot;
}

// --- mold and form --------------------------------------------------------------------------------

TEST_F(Map, MoldAndFormText) {
    Cell* words = make_map({word("a"), int_(1), word("b"), str("x")});
    Cell* texts = make_map({str("k"), int_(1), str("two words"), test::block({int_(2)})});
    Cell* nested = make_map({word("m"), make_map({word("x"), int_(1)}), word("n"), int_(2)});
    Cell* empty = map::make(nullptr, int_(0), TYPE_MAP);
    struct Case {
        Cell* value;
        MoldOptions options;
        const char* text;
    } cases[] = {
        {words, {}, "#[\n    a: 1\n    b: \"x\"\n]"},
        {texts, {}, "#[\n    \"k\" 1\n    \"two words\" [2]\n]"},
        {nested, {}, "#[\n    m: #[\n        x: 1\n    ]\n    n: 2\n]"},
        {empty, {}, "#[]"},
        {words, {false, false, true, -1}, "#[a: 1 b: \"x\"]"},
        {nested, {false, false, true, -1}, "#[m: #[x: 1] n: 2]"},
        {words, {true, false, false, -1}, "a: 1\nb: \"x\""},
        {empty, {true, false, false, -1}, ""},
        {words, {false, false, false, 8}, "#[\n    a"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.value, c.options), c.text);
    EXPECT_FORM(words, "a: 1\nb: \"x\"");
    EXPECT_FORM(texts, "\"k\" 1\n\"two words\" [2]");
    EXPECT_FORM(empty, "");
}

TEST_F(Map, MoldOfAMapHoldingItself) {
    Cell* m = make_map({word("a"), int_(1)});
    set_(m, word("self"), m);
    EXPECT_MOLD(m, "#[\n    a: 1\n    self: #[...]\n]");
    EXPECT_FORM(m, "a: 1\nself: #[...]");
    EXPECT_EQ(cycles::depth(), 0);
}

// --- Comparison -----------------------------------------------------------------------------------

TEST_F(Map, Equality) {
    Cell* a = make_map({word("x"), int_(1), str("k"), str("v")});
    Cell* b = make_map({str("K"), str("V"), word("X"), int_(1)});
    Cell* c = make_map({word("x"), int_(1), str("k"), str("w")});
    EXPECT_TRUE(actions::compare(a, b, COMP_EQUAL)) << "order and case do not matter to =";
    EXPECT_FALSE(actions::compare(a, b, COMP_STRICT_EQUAL));
    EXPECT_FALSE(actions::compare(a, c, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(a, c, COMP_NOT_EQUAL));
    EXPECT_TRUE(actions::compare(a, a, COMP_SAME));
    EXPECT_FALSE(actions::compare(a, b, COMP_SAME));
    Cell* e1 = map::make(nullptr, int_(0), TYPE_MAP);
    Cell* e2 = map::make(nullptr, int_(5), TYPE_MAP);
    EXPECT_TRUE(actions::compare(e1, e2, COMP_EQUAL)) << "two empty maps are equal";
    // Keys equal without case: some entry must hold an equal value.
    Cell* twins = map::make(nullptr, int_(0), TYPE_MAP);
    map::put(twins, str("k"), int_(1), true);
    map::put(twins, str("K"), int_(2), true);
    Cell* other = map::make(nullptr, int_(0), TYPE_MAP);
    map::put(other, str("k"), int_(2), true);
    map::put(other, str("q"), int_(1), true);
    EXPECT_FALSE(actions::compare(twins, other, COMP_EQUAL));
    Cell* same_values = map::make(nullptr, int_(0), TYPE_MAP);
    map::put(same_values, str("K"), int_(2), true);
    map::put(same_values, str("k"), int_(1), true);
    EXPECT_TRUE(actions::compare(twins, same_values, COMP_EQUAL));
    EXPECT_EQ(map::compare(a, int_(1), COMP_EQUAL), NOT_COMPARABLE);
    // A dead pair does not take part.
    remove_key(c, str("k"));
    remove_key(a, str("k"));
    EXPECT_TRUE(actions::compare(a, c, COMP_EQUAL));
}

TEST_F(Map, SortingMapsOrdersByIdentity) {
    Cell* a = make_map({word("x"), int_(1)});
    Cell* b = make_map({word("x"), int_(1)});
    i32 ab = map::compare(a, b, COMP_SORT), ba = map::compare(b, a, COMP_SORT);
    EXPECT_NE(ab, 0);
    EXPECT_EQ(ab, -ba);
    EXPECT_EQ(map::compare(a, a, COMP_SORT), 0);
    EXPECT_EQ(map::compare(a, b, COMP_LESSER), NOT_COMPARABLE);
}

// --- copy, clear, reflect -------------------------------------------------------------------------

TEST_F(Map, CopyNeverChangesTheOriginal) {
    Cell* inner = ints({1, 2});
    Cell* m = make_map({word("a"), inner, str("s"), str("text")});
    remove_key(m, str("s"));
    Cell* c = map::copy(stack::push(m), stack::push(m), nullptr, false, nullptr);
    set_(c, word("b"), int_(3));
    set_(c, str("s"), int_(4));
    remove_key(c, word("a"));
    block::zs_append(inner, int_(9));
    EXPECT_MOLD(m, "#[\n    a: [1 2 9]\n]");
    EXPECT_MOLD(c, "#[\n    \"s\" 4\n    b: 3\n]") << "the dead pair comes back in its place";
    EXPECT_EQ(map::key_count(m), 1);
    // Block values come along as copies of their own.
    Cell* d = map::copy(stack::push(m), stack::push(m), nullptr, false, nullptr);
    block::zs_append(inner, int_(10));
    EXPECT_MOLD(d, "#[\n    a: [1 2 9]\n]");
}

TEST_F(Map, CopyTypesCopiesSelectedValues) {
    Cell* text = str("t");
    Cell* m = make_map({word("a"), text, word("b"), ints({1})});
    Cell* c = map::copy(stack::push(m), stack::push(m), nullptr, false, datatype_(TYPE_STRING));
    string::append_literal(text, "u");
    EXPECT_MOLD(c, "#[\n    a: \"t\"\n    b: [1]\n]");
    // /deep/types of a map holding itself stops at the cycle.
    set_(m, word("me"), m);
    EXPECT_EQ(error_of([&] { map::copy(stack::push(m), stack::push(m), nullptr, true, datatype_(TYPE_MAP)); }),
              "internal no-cycle");
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Map, ClearEmptiesTheMap) {
    Cell* m = make_map({word("a"), int_(1), word("b"), int_(2)});
    map::clear(m);
    EXPECT_EQ(map::key_count(m), 0);
    EXPECT_MOLD(m, "#[]");
    set_(m, word("c"), int_(3));
    EXPECT_MOLD(m, "#[\n    c: 3\n]");
}

TEST_F(Map, ReflectAndToBlock) {
    Cell* m = make_map({word("a"), int_(1), str("k"), str("v")});
    EXPECT_MOLD(reflect_(m, "words"), "[a \"k\"]");
    EXPECT_MOLD(reflect_(m, "values"), "[1 \"v\"]");
    EXPECT_MOLD(reflect_(m, "body"), "[\n    a: 1\n    \"k\" \"v\"\n]");
    EXPECT_MOLD(block::to(nullptr, m, TYPE_BLOCK), "[\n    a: 1\n    \"k\" \"v\"\n]");
}

// --- extend and foreach ---------------------------------------------------------------------------

TEST_F(Map, ExtendAddsAndReplaces) {
    Cell* m = make_map({word("a"), int_(1), word("b"), int_(2)});
    remove_key(m, word("b"));
    map::extend(m, at_(test::block({int_(0), word("A", TYPE_LIT_WORD), int_(10), word("b"), int_(20), str("c"),
                                   int_(30)}),
                       1),
                false);
    EXPECT_EQ(map::key_count(m), 3);
    EXPECT_MOLD(m, "#[\n    a: 10\n    b: 20\n    \"c\" 30\n]");
    EXPECT_EQ(error_of([&] { map::extend(m, test::block({str("x"), int_(1), ints({})}), false); }),
              "script invalid-arg");
}

TEST_F(Map, LoopWordsWalkTheLivePairs) {
    Cell* m = make_map({word("a"), int_(1), word("b"), int_(2), word("c"), int_(3)});
    remove_key(m, word("a"));
    Cell* k = bound_word("k", none_());
    Cell* v = bound_word("v", none_());
    Cell* words = test::block({k, v});
    Cell* position = stack::push(m);
    std::vector<std::string> seen;
    while (map::set_loop_words(words, position, 2))
        seen.push_back(mold(stack::push(context::get(k))) + "=" + mold(stack::push(context::get(v))));
    EXPECT_EQ(seen, (std::vector<std::string>{"b=2", "c=3"}));
    EXPECT_EQ(TYPE_OF(context::get(k)), u32(TYPE_NONE));
    // Three words take a pair and the next key; the last runs out.
    Cell* w = bound_word("w", none_());
    Cell* three = test::block({k, v, w});
    Cell* again = stack::push(m);
    again->w1 = 0;
    ASSERT_TRUE(map::set_loop_words(three, again, 3));
    EXPECT_EQ(mold(stack::push(context::get(w))), "c");
    ASSERT_TRUE(map::set_loop_words(three, again, 3));
    EXPECT_EQ(mold(stack::push(context::get(k))), "3");
    EXPECT_EQ(TYPE_OF(context::get(v)), u32(TYPE_NONE));
    EXPECT_EQ(error_of([&] { map::set_loop_words(test::block({k, int_(1)}), again, 2); }), "script invalid-arg");
}

}  // namespace
}  // namespace zir
