// The natives table and its manifest: slot order, the specs' words and type
// names, the native! values start-up makes, and the type check natives make
// for callers that ask for it.
#include <set>
#include <string>

#include "boot/system.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/none.hpp"
#include "datatypes/word.hpp"
#include "eval_support.hpp"
#include "evaluator/natives.hpp"

namespace zir {
namespace {

using namespace test;

// The table as start-up made it (the evaluator tests' fixture puts natives
// of its own in some slots).
struct NativesTable : ValueTest {};

TEST_F(NativesTable, SlotsAreInOrderAndTheRestOfTheTableIsEmpty) {
    // The language's natives, then start-up's own in the slot after them.
    EXPECT_EQ(natives::count, boot::BOOT_SLOT);
    EXPECT_NE(natives::table[boot::BOOT_SLOT - 1], nullptr);
    std::set<std::string> words;
    for (i32 i = 0; i < natives::NATIVES_USED; i++) {
        EXPECT_EQ(natives::manifest[i].slot, i + 1);
        EXPECT_TRUE(words.insert(natives::manifest[i].word).second) << natives::manifest[i].word;
    }
    for (i32 i = boot::BOOT_SLOT; i < natives::NATIVES_SIZE; i++) EXPECT_EQ(natives::table[i], nullptr) << i;
    EXPECT_EQ(std::string(natives::manifest[0].word), "if");
    EXPECT_EQ(std::string(natives::manifest[106].word), "apply");
}

TEST_F(NativesTable, EntriesAreAppendedAfterTheFilledOnes) {
    i32 saved_count = natives::count;
    auto a = reinterpret_cast<action::Generic>(&natives::table_append);
    auto b = reinterpret_cast<action::Generic>(&natives::check_args);
    const action::Generic entries[2] = {a, b};
    natives::table_append(2, entries);
    EXPECT_EQ(natives::count, saved_count + 2);
    EXPECT_EQ(natives::table[saved_count], a);
    EXPECT_EQ(natives::table[saved_count + 1], b);
    natives::table[saved_count] = natives::table[saved_count + 1] = nullptr;
    natives::count = saved_count;
}

// A type name the runtime does not know would be dropped from the spec
// silently, and the argument would refuse values it should take.
TEST_F(NativesTable, EveryTypeNameOfTheSpecsIsADatatypeOrTypeset) {
    for (const natives::Manifest& m : natives::manifest) {
        std::string spec = m.spec;
        i32 depth = 0;
        bool quoted = false;
        std::string token;
        auto check = [&] {
            if (depth > 0 && !token.empty()) {
                Cell v = global(token.c_str());
                EXPECT_TRUE(TYPE_OF(&v) == TYPE_DATATYPE || TYPE_OF(&v) == TYPE_TYPESET)
                    << m.word << ": " << token;
            }
            token.clear();
        };
        for (char ch : spec) {
            if (ch == '"') quoted = !quoted;
            if (quoted || ch == '"') continue;
            if (ch == '[') {
                check();
                depth++;
            } else if (ch == ']') {
                check();
                depth--;
            } else if (ch == ' ') {
                check();
            } else {
                token += ch;
            }
        }
        EXPECT_EQ(depth, 0) << m.word;
        EXPECT_FALSE(quoted) << m.word;
    }
}

// Each filled slot's word holds a native! of that slot, whose spec has the
// manifest's refinements in order.
TEST_F(NativesTable, FilledSlotsHaveTheirWordsAndSpecs) {
    for (const natives::Manifest& m : natives::manifest) {
        const Cell* v = natives::value_of(m.slot);
        if (!natives::table[m.slot - 1]) {
            EXPECT_EQ(TYPE_OF(v), TYPE_NONE) << m.word;
            continue;
        }
        ASSERT_EQ(TYPE_OF(v), TYPE_NATIVE) << m.word;
        EXPECT_EQ(i32(v->w1), m.slot);
        Cell spec = *v;
        std::string refinements;
        for (const char* p = m.spec; *p; p++)
            if (*p == '/' && p[-1] == ' ') {
                const char* e = p;
                while (*e && *e != ' ') e++;
                refinements.append(p, e);
            }
        std::string molded = mold(&spec);
        for (size_t at = 0; (at = refinements.find('/', at)) != std::string::npos; at++) {
            size_t end = refinements.find('/', at + 1);
            EXPECT_NE(molded.find(refinements.substr(at, end - at)), std::string::npos) << m.word;
        }
    }
}

}  // namespace
}  // namespace zir

namespace zir {
namespace {

using namespace test;

struct LoopWords : EvalTest {};

TEST_F(LoopWords, SetFromABlockOrAWholeValue) {
    Cell* words = read_block("lw-a lw-b lw-c");
    Cell* values = read_block("1 2");
    natives::set_loop_words(words, values, 3, false, false, false);
    EXPECT_EQ(global_mold("lw-a") + " " + global_mold("lw-b") + " " + global_mold("lw-c"), "1 2 none");
    natives::set_loop_words(words, values, 2, false, true, false);
    EXPECT_EQ(global_mold("lw-a") + " " + global_mold("lw-b"), "[1 2] [1 2]") << "only: every word gets the block";
    set_global("lw-b", int_(5));
    Cell none_value = none::value;
    Cell* with_none = test::block({int_(7), &none_value});
    natives::set_loop_words(words, with_none, 2, false, false, true);
    EXPECT_EQ(global_mold("lw-a") + " " + global_mold("lw-b"), "7 5") << "some: a none leaves its word";
}

TEST_F(LoopWords, NothingIsSetWhenTheCheckFails) {
    set_global("lw-a", int_(0));
    Cell* bad_words = read_block("lw-a 3");
    Cell* values = read_block("1 2");
    EXPECT_EQ(error_of([&] { natives::set_loop_words(bad_words, values, 2, false, false, false); }),
              "script invalid-arg");
    EXPECT_EQ(global_mold("lw-a"), "0");
    Cell* words = read_block("lw-a lw-b");
    Cell unset;
    cell::init(&unset, TYPE_UNSET);
    Cell* with_unset = test::block({int_(1), &unset});
    EXPECT_EQ(error_of([&] { natives::set_loop_words(words, with_unset, 2, false, false, false); }),
              "script need-value");
    EXPECT_EQ(global_mold("lw-a"), "0");
    natives::set_loop_words(words, with_unset, 2, true, false, false);
    EXPECT_EQ(global_mold("lw-a"), "1") << "any: unset values are set";
}

}  // namespace
}  // namespace zir
