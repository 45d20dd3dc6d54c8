// Display width of code points: see char_width.hpp.
#include "runtime/char_width.hpp"

namespace zir {
namespace unicode {

bool in_intervals_q(u32 cp, const u32* table, u32 count) {
    // Most text lies below every table (ASCII, Latin), and the planes above the
    // last pair are mostly unassigned: both answer without a search.
    if (count < 2 || cp < table[0] || cp > table[count - 1]) return false;
    // Binary search for the last pair that starts at or below cp; the first
    // pair does, so `low` always names such a pair.
    u32 low = 0;
    u32 high = count / 2;
    while (high - low > 1) {
        u32 mid = low + (high - low) / 2;
        if (table[2 * mid] <= cp) {
            low = mid;
        } else {
            high = mid;
        }
    }
    return cp <= table[2 * low + 1];
}

int char_width(u32 cp) {
    if (cp == 0) return 0;
    // Control characters are shown as one cell by the editor (as ^X or a blank).
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_intervals_q(cp, zero_width_table, zero_width_count)) return 0;
    if (in_intervals_q(cp, wide_table, wide_count)) return 2;
    return 1;
}

int char_width_cjk(u32 cp) {
    if (in_intervals_q(cp, ambiguous_table, ambiguous_count)) return 2;
    return char_width(cp);
}

}  // namespace unicode
}  // namespace zir
