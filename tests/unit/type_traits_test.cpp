// The datatype table: one row per id, in id order. A row out of place gives a
// type another's name, marking or groups, which nothing else would notice
// until a collection or a lookup went wrong.
#include "datatypes/datatype.hpp"
#include "runtime/cell.hpp"
#include "support.hpp"

namespace zir {
namespace {

TEST(TypeTraits, RowsFollowTheIds) {
    struct Row {
        u32 type;
        const char* name;
    } rows[] = {{TYPE_DATATYPE, "datatype!"}, {TYPE_BLOCK, "block!"},  {TYPE_STRING, "string!"},
                {TYPE_SYMBOL, "symbol!"},     {TYPE_ISSUE, "issue!"},  {TYPE_ROUTINE, "routine!"},
                {TYPE_OBJECT, "object!"},     {TYPE_HASH, "hash!"},    {TYPE_SERIES, "series!"},
                {TYPE_REF, "ref!"},           {TYPE_IMAGE, "image!"},  {TYPE_EVENT, "event!"}};
    for (const Row& r : rows) EXPECT_STREQ(type_table[r.type].name, r.name) << r.type;
    EXPECT_EQ(type_table[0].name, nullptr);
    EXPECT_EQ(type_table[TYPE_EVENT + 1].name, nullptr);
}

TEST(TypeTraits, RegisteredNamesAgreeWithTheTable) {
    for (u32 t = 1; t < TYPE_TOTAL; t++) {
        if (!type_table[t].name) continue;
        EXPECT_STREQ(datatype::name_of(t), type_table[t].name) << t;
    }
}

TEST(TypeTraits, Groups) {
    auto members = [](bool (*q)(u32)) {
        std::vector<u32> out;
        for (u32 t = 0; t < 256; t++)
            if (q(t)) out.push_back(t);
        return out;
    };
    using V = std::vector<u32>;
    EXPECT_EQ(members(any_block_q), (V{TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH,
                                        TYPE_GET_PATH, TYPE_HASH}));
    EXPECT_EQ(members(any_text_q), (V{TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}));
    EXPECT_EQ(members(any_series_q),
              (V{TYPE_BLOCK, TYPE_PAREN, TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_PATH, TYPE_LIT_PATH,
                 TYPE_SET_PATH, TYPE_GET_PATH, TYPE_VECTOR, TYPE_HASH, TYPE_BINARY, TYPE_TAG, TYPE_EMAIL,
                 TYPE_REF, TYPE_IMAGE}));
    EXPECT_EQ(members(any_word_q), (V{TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}));
}

TEST(TypeTraits, EverySeriesTypeIsMarked) {
    // A series type whose row says "no node" would have its buffer collected.
    for (u32 t = 0; t < TYPE_TOTAL; t++) {
        if (!any_series_q(t)) continue;
        EXPECT_NE(type_table[t].mark, type_traits::MARK_NOTHING) << type_table[t].name;
    }
}

}  // namespace
}  // namespace zir
