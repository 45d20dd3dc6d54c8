// Display width of code points: the rules around the tables, the tables'
// shape, and the interval search.
#include "runtime/char_width.hpp"
#include "support.hpp"

namespace zir {
namespace {

struct WidthCase {
    u32 cp;
    int width;
    int cjk;
    const char* what;
};

TEST(CharWidth, ControlsMarksWideAndAmbiguous) {
    const WidthCase cases[] = {
        {0x0000, 0, 0, "NUL takes no cell"},
        {0x0009, 1, 1, "TAB"},
        {0x001B, 1, 1, "ESC"},
        {0x001F, 1, 1, "last C0 control"},
        {0x0041, 1, 1, "A"},
        {0x007F, 1, 1, "DEL"},
        {0x0080, 1, 1, "first C1 control"},
        {0x009F, 1, 1, "last C1 control"},
        {0x00A0, 1, 1, "no-break space is neutral"},
        {0x00A1, 1, 2, "first ambiguous character"},
        {0x00AD, 1, 2, "soft hyphen is shown, and ambiguous"},
        {0x0300, 0, 0, "first combining mark"},
        {0x0301, 0, 0, "combining acute: a mark stays zero-width on CJK terminals too"},
        {0x036F, 0, 0, "last of the combining diacritics block"},
        {0x0370, 1, 1, "just past the combining diacritics"},
        {0x0488, 0, 0, "enclosing mark"},
        {0x0600, 0, 0, "Arabic number sign, a prepended format character"},
        {0x070F, 0, 0, "Syriac abbreviation mark, a prepended format character"},
        {0x110BD, 0, 0, "Kaithi number sign, a prepended format character above the BMP"},
        {0x0903, 1, 1, "spacing combining mark keeps its cell"},
        {0x1100, 2, 2, "Hangul leading consonant is wide"},
        {0x115F, 2, 2, "last Hangul leading consonant"},
        {0x1160, 0, 0, "Hangul medial vowels join the syllable"},
        {0x11FF, 0, 0, "last Hangul final consonant"},
        {0x1200, 1, 1, "Ethiopic, past the Hangul jamo"},
        {0x200B, 1, 1, "zero width space keeps a cell"},
        {0x200D, 1, 1, "zero width joiner is a format character, not a mark"},
        {0x3000, 2, 2, "ideographic space is fullwidth"},
        {0x302A, 0, 0, "wide block but a nonspacing mark: the mark wins"},
        {0x3400, 2, 2, "CJK extension A"},
        {0x4E00, 2, 2, "CJK ideograph"},
        {0x9FFF, 2, 2, "unassigned in the CJK block still defaults to wide"},
        {0xAC00, 2, 2, "Hangul syllable"},
        {0xD800, 1, 1, "surrogate code point"},
        {0xE000, 1, 2, "private use is ambiguous"},
        {0xFE0F, 0, 0, "variation selector"},
        {0xFEFF, 1, 1, "byte order mark keeps a cell"},
        {0xFF01, 2, 2, "fullwidth exclamation mark"},
        {0xFF61, 1, 1, "halfwidth ideographic full stop"},
        {0xFFFD, 1, 2, "replacement character"},
        {0x1F600, 2, 2, "emoji presentation"},
        {0x1FAF0, 2, 2, "first of the hand emoji added late"},
        {0x1FAF6, 2, 2, "last of the hand emoji added late"},
        {0x20000, 2, 2, "plane 2"},
        {0x2FFFD, 2, 2, "last of plane 2's wide range"},
        {0x2FFFE, 1, 1, "noncharacter at the end of plane 2"},
        {0x30000, 2, 2, "plane 3"},
        {0x3FFFD, 2, 2, "last wide code point"},
        {0x3FFFE, 1, 1, "past the wide table"},
        {0xE0001, 1, 1, "language tag is a format character"},
        {0xE0100, 0, 0, "first variation selector supplement"},
        {0xE01EF, 0, 0, "last zero-width code point"},
        {0xE01F0, 1, 1, "past the zero-width table"},
        {0xF0000, 1, 2, "plane 15 private use"},
        {0x10FFFD, 1, 2, "last ambiguous code point"},
        {0x10FFFE, 1, 1, "past the ambiguous table"},
        {0x10FFFF, 1, 1, "last code point"},
        {0x110000, 1, 1, "beyond Unicode"},
        {0xFFFFFFFF, 1, 1, "largest 32-bit value"},
    };
    for (const WidthCase& c : cases) {
        EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << "U+" << c.cp << " " << c.what;
        EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk) << std::hex << "U+" << c.cp << " " << c.what;
    }
}

TEST(CharWidth, IntervalSearchFindsEveryEdge) {
    const u32 table[] = {0x10, 0x10, 0x20, 0x2F, 0x40, 0x40, 0x50, 0x5F, 0x70, 0x80};
    const u32 count = sizeof(table) / sizeof(u32);
    struct Case {
        u32 cp;
        bool in;
    } cases[] = {
        {0x00, false}, {0x0F, false}, {0x10, true},  {0x11, false}, {0x1F, false}, {0x20, true},
        {0x25, true},  {0x2F, true},  {0x30, false}, {0x3F, false}, {0x40, true},  {0x41, false},
        {0x50, true},  {0x5F, true},  {0x60, false}, {0x6F, false}, {0x70, true},  {0x80, true},
        {0x81, false}, {0xFFFFFFFF, false},
    };
    for (const Case& c : cases) EXPECT_EQ(unicode::in_intervals_q(c.cp, table, count), c.in) << std::hex << c.cp;
    // Every prefix of the table is a table too: a search must not read past `count`.
    for (u32 n = 2; n <= count; n += 2) {
        EXPECT_TRUE(unicode::in_intervals_q(table[n - 1], table, n)) << n;
        EXPECT_FALSE(unicode::in_intervals_q(table[n - 1] + 1, table, n)) << n;
    }
    EXPECT_FALSE(unicode::in_intervals_q(0x10, table, 0));
}

TEST(CharWidth, TablesAreSortedDisjointPairs) {
    struct Table {
        const char* name;
        const u32* values;
        u32 count;
    } tables[] = {
        {"zero-width", unicode::zero_width_table, unicode::zero_width_count},
        {"wide", unicode::wide_table, unicode::wide_count},
        {"ambiguous", unicode::ambiguous_table, unicode::ambiguous_count},
    };
    for (const Table& t : tables) {
        ASSERT_GT(t.count, 0u) << t.name;
        ASSERT_EQ(t.count % 2, 0u) << t.name;
        EXPECT_LE(t.values[t.count - 1], 0x10FFFFu) << t.name;
        for (u32 i = 0; i < t.count; i += 2) {
            EXPECT_LE(t.values[i], t.values[i + 1]) << t.name << " pair " << i / 2;
            // Adjacent pairs would have been merged: a gap of at least one.
            if (i > 0) {
                EXPECT_GT(t.values[i], t.values[i - 1] + 1) << t.name << " pair " << i / 2;
            }
        }
    }
    EXPECT_EQ(unicode::zero_width_table[0], 0x0300u);
    EXPECT_EQ(unicode::wide_table[0], 0x1100u);
    EXPECT_EQ(unicode::ambiguous_table[0], 0x00A1u);
}

}  // namespace
}  // namespace zir
