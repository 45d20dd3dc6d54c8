// tag!, email! and ref!, and what the string family shares across its
// datatypes: comparison between them, and make and to from one to another.
#include "datatypes/datatype.hpp"
#include "datatypes/email.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tag.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct TextTypes : ValueTest {};

Cell* path_(Cell* parent, const Cell* element, const Cell* value = nullptr) {
    Cell* e = stack::push(element);
    Cell* v = value ? stack::push(value) : nullptr;
    return actions::eval_path(parent, e, v, nullptr, nullptr, nullptr, 0, false, false, true, false);
}

// --- Mold and form ------------------------------------------------------------------------

TEST_F(TextTypes, MoldAndForm) {
    struct Case {
        const char* text;
        u32 type;
        const char* mold;
        const char* form;
    } cases[] = {
        {"a href", TYPE_TAG, "<a href>", "<a href>"},
        {"", TYPE_TAG, "<>", "<>"},
        {"p class=\"x\"", TYPE_TAG, "<p class=\"x\">", "<p class=\"x\">"},
        {"\u00E9\u4E2D", TYPE_TAG, "<\u00E9\u4E2D>", "<\u00E9\u4E2D>"},
        {"name@example", TYPE_EMAIL, "name@example", "name@example"},
        {"j\u00F6@x.org", TYPE_EMAIL, "j\u00F6@x.org", "j\u00F6@x.org"},
        {"ref", TYPE_REF, "@ref", "ref"},
        {"a/b:c", TYPE_REF, "@a/b:c", "a/b:c"},
    };
    for (const Case& c : cases) {
        EXPECT_MOLD(str(c.text, c.type), c.mold);
        EXPECT_FORM(str(c.text, c.type), c.form);
    }
    // From the head, and cut by /part.
    EXPECT_MOLD(at_(str("abc", TYPE_TAG), 1), "<bc>");
    EXPECT_MOLD(at_(str("abc", TYPE_REF), 2), "@c");
    EXPECT_EQ(test::mold(str("abcdef", TYPE_TAG), {.part = 3}), "<ab");
    EXPECT_EQ(test::mold(str("abcdef", TYPE_REF), {.part = 3}), "@ab");
    EXPECT_EQ(test::mold(str("abcdef", TYPE_EMAIL), {.part = 3}), "abc");
}

TEST_F(TextTypes, PartLeftCountsTheDelimiters) {
    Cell* buffer = str("");
    EXPECT_EQ(actions::mold(str("abc", TYPE_TAG), buffer, false, false, false, nullptr, 100, 0), 95);
    EXPECT_EQ(actions::form(str("abc", TYPE_TAG), buffer, nullptr, 100), 95);
    EXPECT_EQ(actions::mold(str("abc", TYPE_REF), buffer, false, false, false, nullptr, 100, 0), 96);
    EXPECT_EQ(actions::mold(str("abc", TYPE_EMAIL), buffer, false, false, false, nullptr, 100, 0), 97);
}

TEST_F(TextTypes, MoldIntoTheValuesOwnBuffer) {
    // The delimiter written first must not become part of the text copied.
    for (u32 type : {TYPE_TAG, TYPE_REF, TYPE_FILE, TYPE_URL, TYPE_EMAIL}) {
        Cell* t = str("a b", type);
        Cell* view = stack::push(t);
        actions::mold(view, t, false, false, false, nullptr, PART_UNLIMITED, 0);
        std::string expected = type == TYPE_TAG     ? "a b<a b>"
                               : type == TYPE_REF   ? "a b@a b"
                               : type == TYPE_FILE  ? "a b%\"a b\""
                               : type == TYPE_URL   ? "a ba%20b"
                                                    : "a ba b";
        EXPECT_EQ(string::to_std(t), expected) << type;
    }
}

TEST_F(TextTypes, FindingATagLooksForItsBrackets) {
    Cell* s = str("a<b>c b");
    Cell* found = actions::find(s, str("b", TYPE_TAG), nullptr, false, false, false, false, nullptr, nullptr,
                                false, false, false, false);
    ASSERT_EQ(TYPE_OF(found), TYPE_STRING);
    EXPECT_EQ(found->w1, 1u);
    Cell* missing = actions::find(str("b"), str("b", TYPE_TAG), nullptr, false, false, false, false, nullptr,
                                  nullptr, false, false, false, false);
    EXPECT_EQ(TYPE_OF(missing), TYPE_NONE);
}

// --- email! paths -------------------------------------------------------------------------------

TEST_F(TextTypes, EmailUserAndHost) {
    struct Case {
        const char* address;
        const char* user;
        const char* host;
    } cases[] = {
        {"name@example", "name", "example"},
        {"name", "name", ""},
        {"@example", "", "example"},
        {"name@", "name", ""},
        {"a@b@c", "a", "b@c"},
        {"\u00E9l\u00E8ve@\u4E2D.cn", "\u00E9l\u00E8ve", "\u4E2D.cn"},
    };
    for (const Case& c : cases) {
        Cell* e = str(c.address, TYPE_EMAIL);
        Cell* user = path_(e, word("user"));
        EXPECT_EQ(TYPE_OF(user), TYPE_STRING);
        EXPECT_EQ(string::to_std(user), c.user) << c.address;
        Cell* host = path_(e, word("host"));
        EXPECT_EQ(TYPE_OF(host), TYPE_STRING);
        EXPECT_EQ(string::to_std(host), c.host) << c.address;
        EXPECT_EQ(string::to_std(e), c.address);
    }
    // The words compare without case; the split is found from the head.
    EXPECT_EQ(string::to_std(path_(str("joe@x", TYPE_EMAIL), word("HOST"))), "x");
    EXPECT_EQ(string::to_std(path_(at_(str("a@b@c", TYPE_EMAIL), 2), word("user"))), "b");
    // An integer picks a character, as in a string.
    Cell* c = path_(str("joe@x", TYPE_EMAIL), int_(2));
    EXPECT_EQ(TYPE_OF(c), TYPE_CHAR);
    EXPECT_EQ(c->w2, u32('o'));
}

TEST_F(TextTypes, EmailPathErrors) {
    for (Cell* element : {word("name"), word("user", TYPE_SET_WORD), str("user"), none_()})
        EXPECT_EQ(error_of([&] { path_(str("a@b", TYPE_EMAIL), element); }), "script invalid-path");
    try {
        path_(str("a@b", TYPE_EMAIL), word("domain"));
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_EQ(TYPE_OF(&e.args[0]), TYPE_WORD);
    }
}

// Setting goes through string!'s change (and append), which its own module
// provides.
bool string_changes_q() {
    return actions::lookup(TYPE_EMAIL, ACT_CHANGE) && actions::lookup(TYPE_EMAIL, ACT_APPEND);
}

TEST_F(TextTypes, EmailSetUserAndHost) {
    if (!string_changes_q()) GTEST_SKIP() << "string! has no change action in this build";
    struct Case {
        const char* address;
        const char* word;
        const char* value;
        const char* expected;
    } cases[] = {
        {"name@example", "user", "joe", "joe@example"},
        {"name@example", "host", "x.org", "name@x.org"},
        {"name", "user", "joe", "joe"},
        {"name", "host", "x", "name@x"},   // the "@" first: the host is not joined to the user
        {"@", "user", "a", "a@"},
        {"a@b@c", "host", "d", "a@d"},
        {"a@b", "user", "", "@b"},
        {"a@b", "host", "\u4E2D", "a@\u4E2D"},
    };
    for (const Case& c : cases) {
        Cell* e = str(c.address, TYPE_EMAIL);
        Cell* value = str(c.value);
        Cell* answer = path_(e, word(c.word), value);
        EXPECT_EQ(TYPE_OF(answer), TYPE_STRING);
        EXPECT_EQ(TYPE_OF(e), TYPE_EMAIL);
        EXPECT_EQ(string::to_std(e), c.expected) << c.address << "/" << c.word;
    }
    // A value of another type is formed into place.
    Cell* e = str("a@b", TYPE_EMAIL);
    path_(e, word("host"), int_(42));
    EXPECT_EQ(string::to_std(e), "a@42");
}

// What the owner's handler does at the first report.
enum class Hostile { CLEARS, APPENDS };
Hostile hostile = Hostile::CLEARS;
i32 reports = 0;

void hostile_report(const Cell*, const Cell*, const Cell* value, i32, const Cell*, i32, i32) {
    static bool inside = false;
    if (inside) return;
    inside = true;
    Cell* mark = stack::top;
    Cell* target = stack::push(value);
    target->w1 = 0;
    if (reports++ == 0) {
        if (hostile == Hostile::CLEARS) actions::get<action::Unary>(target, ACT_CLEAR)(target);
        else string::append_literal(target, "@@zz");
    }
    memory::alloc_cells(16);
    collector::do_cycle();
    stack::top = mark;
    inside = false;
}

struct EmailOwned : TextTypes {
    collector::RootCell owner;
    void SetUp() override {
        TextTypes::SetUp();
        ownership::on_deep_change = hostile_report;
        reports = 0;
    }
    void TearDown() override {
        ownership::on_deep_change = nullptr;
        TextTypes::TearDown();
    }
};

TEST_F(EmailOwned, SettingFollowsTheOwnersHandler) {
    if (!string_changes_q()) GTEST_SKIP() << "string! has no change action in this build";
    // The handler's change stays. The side is found again after the "@" is
    // appended; within the change, the change action fits the side it was
    // given to the text as the handler left it.
    struct Case {
        Hostile handler;
        const char* address;
        const char* word;
        const char* expected;
    } cases[] = {
        {Hostile::CLEARS, "name@example", "user", "new"},
        {Hostile::CLEARS, "name@example", "host", "new"},
        {Hostile::CLEARS, "name", "host", "@new"},
        {Hostile::APPENDS, "name@example", "host", "name@new@@zz"},
        {Hostile::APPENDS, "name", "host", "name@new"},
        {Hostile::APPENDS, "name", "user", "new@@zz"},
    };
    for (const Case& c : cases) {
        hostile = c.handler;
        reports = 0;
        Cell* e = str(c.address, TYPE_EMAIL);
        own(e, owner.get());
        path_(e, word(c.word), str("new"));
        EXPECT_EQ(string::to_std(e), c.expected) << c.address << "/" << c.word;
        EXPECT_GE(reports, 2);
    }
}

// --- ref! and tag! rows ---------------------------------------------------------------------------

TEST_F(TextTypes, RefCannotBeAppendedToNorPathed) {
    Cell* r = str("x", TYPE_REF);
    EXPECT_EQ(error_of([&] { actions::get_action_of(r, ACT_APPEND); }), "script expect-arg");
    EXPECT_EQ(error_of([&] { path_(r, int_(1)); }), "script expect-arg");
    for (u32 type : {TYPE_TAG, TYPE_EMAIL, TYPE_REF})
        for (u32 slot : {ACT_RANDOM, ACT_SORT, ACT_TRIM}) EXPECT_EQ(actions::lookup(type, slot), nullptr);
}

// --- Across the string family ----------------------------------------------------------------------

TEST_F(TextTypes, ComparisonBetweenTextTypes) {
    // Two text values of different datatypes are equal or not by their text
    // (folding case); every other operation finds them not comparable.
    const u32 types[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF};
    for (u32 a : types) {
        for (u32 b : types) {
            Cell* x = str("Abc", a);
            Cell* y = str("aBC", b);
            EXPECT_EQ(actions::compare_typed(x, y, COMP_EQUAL), 0) << a << " " << b;
            EXPECT_TRUE(actions::compare(x, y, COMP_EQUAL));
            EXPECT_FALSE(actions::compare(x, str("abd", b), COMP_EQUAL));
            EXPECT_TRUE(actions::compare(x, str("abd", b), COMP_NOT_EQUAL));
            if (a == b) {
                EXPECT_NE(actions::compare_typed(x, y, COMP_STRICT_EQUAL), 0);
                EXPECT_TRUE(actions::compare(x, str("abd", b), COMP_LESSER));
            } else {
                EXPECT_EQ(actions::compare_typed(x, y, COMP_STRICT_EQUAL), NOT_COMPARABLE) << a << " " << b;
                EXPECT_EQ(actions::compare_typed(x, y, COMP_SORT), NOT_COMPARABLE);
                EXPECT_EQ(error_of([&] { actions::compare(x, y, COMP_LESSER); }), "script invalid-compare");
            }
        }
    }
    EXPECT_EQ(actions::compare_typed(str("a", TYPE_TAG), int_(1), COMP_EQUAL), NOT_COMPARABLE);
}

TEST_F(TextTypes, MakeAndToBetweenTextTypes) {
    const u32 types[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF};
    for (u32 from : types) {
        for (u32 to : types) {
            Cell* source = at_(str("xa b\u00E9", from), 1);
            Cell* r = convert(to, source);
            EXPECT_EQ(TYPE_OF(r), to);
            EXPECT_EQ(r->w1, 0u);
            EXPECT_EQ(string::to_std(r), "a b\u00E9") << from << " -> " << to;
            EXPECT_NE(r->w2, source->w2);   // a copy
            Cell* m = convert(to, source, ACT_MAKE);
            EXPECT_EQ(TYPE_OF(m), to);
            EXPECT_EQ(string::to_std(m), "a b\u00E9");
        }
    }
    // Other values are formed; a number given to make is a capacity.
    EXPECT_EQ(string::to_std(convert(TYPE_TAG, int_(12))), "12");
    Cell* e = convert(TYPE_EMAIL, block({str("a"), str("@"), str("b")}));
    EXPECT_EQ(TYPE_OF(e), TYPE_EMAIL);
    EXPECT_EQ(string::to_std(e), "a@b");
    Cell* empty = convert(TYPE_REF, int_(8), ACT_MAKE);
    EXPECT_EQ(TYPE_OF(empty), TYPE_REF);
    EXPECT_EQ(string::zs_length(empty), 0);
    for (u32 type : {TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_FILE})
        EXPECT_EQ(error_of([&] { convert(type, none_()); }), "script bad-to-arg");
    // The molds of the results tell the types apart.
    EXPECT_MOLD(convert(TYPE_TAG, str("http://x", TYPE_URL)), "<http://x>");
    EXPECT_MOLD(convert(TYPE_FILE, str("a b", TYPE_TAG)), "%\"a b\"");
    EXPECT_MOLD(convert(TYPE_URL, str("a b", TYPE_FILE)), "a%20b");
}

}  // namespace
}  // namespace zir
