// Case folding of single code points: mappings at the edges of the tables and
// lists, letters whose mappings are not symmetric, and the fixed-point rule.
#include "runtime/case_folding.hpp"
#include "support.hpp"

namespace zir {
namespace {

struct CaseCase {
    u32 cp;
    u32 upper;
    u32 lower;
    const char* what;
};

TEST(CaseFolding, SimpleMappingsBothDirections) {
    const CaseCase cases[] = {
        {0x0000, 0x0000, 0x0000, "NUL: a zero table entry is no mapping"},
        {'a', 'A', 'a', "first lower-case letter"},
        {'z', 'Z', 'z', ""},
        {'A', 'A', 'a', "first upper-case letter"},
        {'0', '0', '0', "digits have no case"},
        {'@', '@', '@', "just below A"},
        {'[', '[', '[', "just past Z"},
        {0x00B5, 0x039C, 0x00B5, "micro sign upper-cases to Greek capital mu"},
        {0x00DF, 0x00DF, 0x00DF, "sharp s has no simple upper case"},
        {0x00D7, 0x00D7, 0x00D7, "multiplication sign inside the Latin-1 letters"},
        {0x00FF, 0x0178, 0x00FF, "y diaeresis leaves the one-byte range"},
        {0x0178, 0x0178, 0x00FF, "and comes back"},
        {0x0130, 0x0130, 0x0069, "dotted capital I lower-cases to ASCII i"},
        {0x0131, 0x0049, 0x0131, "dotless i upper-cases to ASCII I"},
        {0x017F, 0x0053, 0x017F, "long s"},
        {0x01C4, 0x01C4, 0x01C6, "DZ caron"},
        {0x01C5, 0x01C4, 0x01C6, "title-case Dz caron maps both ways"},
        {0x01C6, 0x01C4, 0x01C6, "dz caron"},
        {0x0345, 0x0399, 0x0345, "combining ypogegrammeni upper-cases to iota"},
        {0x03C2, 0x03A3, 0x03C2, "final sigma"},
        {0x03A3, 0x03A3, 0x03C3, "capital sigma lower-cases to medial sigma"},
        {0x1E9E, 0x1E9E, 0x00DF, "capital sharp s"},
        {0x212A, 0x212A, 0x006B, "Kelvin sign lower-cases to k"},
        {'k', 'K', 'k', "k upper-cases to K, not to the Kelvin sign"},
        {0x4E00, 0x4E00, 0x4E00, "CJK has no case"},
        {0xFF21, 0xFF21, 0xFF41, "fullwidth A"},
        {0xFF5A, 0xFF3A, 0xFF5A, "last lower-case letter of the BMP"},
        {0xFFFF, 0xFFFF, 0xFFFF, "last BMP code point"},
        {0x10000, 0x10000, 0x10000, "first code point above the BMP, below every list"},
        {0x103FF, 0x103FF, 0x103FF, "just below Deseret"},
        {0x10400, 0x10400, 0x10428, "first Deseret capital"},
        {0x10427, 0x10427, 0x1044F, "last Deseret capital, below the upper list's first entry"},
        {0x10428, 0x10400, 0x10428, "first Deseret small letter"},
        {0x1044F, 0x10427, 0x1044F, "last Deseret small letter"},
        {0x10570, 0x10570, 0x10597, "Vithkuqi capital"},
        {0x1E900, 0x1E900, 0x1E922, "first Adlam capital"},
        {0x1E921, 0x1E921, 0x1E943, "last Adlam capital, the lower list's last entry"},
        {0x1E922, 0x1E900, 0x1E922, "first Adlam small letter"},
        {0x1E943, 0x1E921, 0x1E943, "last Adlam small letter, the upper list's last entry"},
        {0x1E944, 0x1E944, 0x1E944, "past both lists"},
        {0x10FFFF, 0x10FFFF, 0x10FFFF, "last code point"},
        {0x110000, 0x110000, 0x110000, "beyond Unicode"},
    };
    for (const CaseCase& c : cases) {
        EXPECT_EQ(case_folding::change_char(c.cp, 1), c.upper) << std::hex << "U+" << c.cp << " " << c.what;
        EXPECT_EQ(case_folding::to_upper_char(c.cp), c.upper) << std::hex << "U+" << c.cp << " " << c.what;
        EXPECT_EQ(case_folding::change_char(c.cp, 0), c.lower) << std::hex << "U+" << c.cp << " " << c.what;
    }
}

TEST(CaseFolding, SwapCasePrefersTheUpperCaseMapping) {
    struct Case {
        u32 cp;
        u32 swapped;
    } cases[] = {
        {'a', 'A'},         {'A', 'a'},         {'5', '5'},         {0x00DF, 0x00DF},
        {0x01C5, 0x01C4},   // title case has both mappings: upper wins
        {0x01C4, 0x01C6},   {0x0130, 0x0069},   {0x1E921, 0x1E943}, {0x1E943, 0x1E921},
        {0x4E00, 0x4E00},
    };
    for (const Case& c : cases) EXPECT_EQ(case_folding::swap_case_char(c.cp), c.swapped) << std::hex << c.cp;
}

// A folded code point is a fixed point of its own fold in every case of the
// simple mappings: comparing words once folded must not depend on folding
// again. Checked for every code point.
TEST(CaseFolding, FoldingTwiceChangesNothingMore) {
    u32 upper_faults = 0;
    u32 lower_faults = 0;
    u32 mapped_up = 0;
    u32 mapped_down = 0;
    for (u32 cp = 0; cp <= 0x10FFFF; cp++) {
        u32 up = case_folding::change_char(cp, 1);
        u32 down = case_folding::change_char(cp, 0);
        mapped_up += up != cp;
        mapped_down += down != cp;
        if (case_folding::change_char(up, 1) != up && upper_faults++ < 5) ADD_FAILURE() << std::hex << cp;
        if (case_folding::change_char(down, 0) != down && lower_faults++ < 5) ADD_FAILURE() << std::hex << cp;
    }
    EXPECT_EQ(upper_faults, 0u);
    EXPECT_EQ(lower_faults, 0u);
    // The fixed points would hold trivially if nothing were mapped.
    EXPECT_GT(mapped_up, 1000u);
    EXPECT_GT(mapped_down, 1000u);
}

// ASCII and Latin-1 are mapped without the tables until they are built: the
// answers must be the generated data's, before and after.
TEST(CaseFolding, AsciiAndLatin1MapAsTheDataSays) {
    auto expected = [](const case_folding::CaseRun* runs, u32 count, u32 cp) {
        for (u32 i = 0; i < count; i++)
            for (u32 k = 0; k < runs[i].count; k++)
                if (runs[i].first + k * runs[i].stride == cp) return cp + u32(runs[i].delta);
        return cp;
    };
    for (int round = 0; round < 2; round++) {
        case_folding::init();
        if (round == 1) case_folding::change_char(0x0101, 1);   // the tables are built now
        for (u32 cp = 0; cp < 0x100; cp++) {
            EXPECT_EQ(case_folding::change_char(cp, 1),
                      expected(case_folding::to_upper_runs, case_folding::to_upper_run_count, cp))
                << cp;
            EXPECT_EQ(case_folding::change_char(cp, 0),
                      expected(case_folding::to_lower_runs, case_folding::to_lower_run_count, cp))
                << cp;
        }
    }
}

TEST(CaseFolding, InitAgainRebuildsTheSameTables) {
    case_folding::init();
    EXPECT_EQ(case_folding::to_upper_char(0x00FF), 0x0178u);
    EXPECT_EQ(case_folding::to_upper_char(0x10428), 0x10400u);
    EXPECT_EQ(case_folding::change_char(0x1E921, 0), 0x1E943u);
    EXPECT_EQ(case_folding::change_char(0x1E944, 0), 0x1E944u);
}

}  // namespace
}  // namespace zir
