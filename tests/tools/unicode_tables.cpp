// Dumps the runtime's Unicode tables as seen through their lookups, for the
// oracle test that compares them with the Unicode data files:
//   M cp upper lower          every code point that has a case mapping
//   W first last width cjk    runs of code points of equal widths
// Numbers are hexadecimal, widths decimal.
#include <cstdio>

#include "boot/runtime_init.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/char_width.hpp"

using namespace zir;

int main() {
    runtime::init();
    constexpr u32 LAST = 0x10FFFF;
    for (u32 cp = 0; cp <= LAST; cp++) {
        u32 up = case_folding::change_char(cp, 1);
        u32 down = case_folding::change_char(cp, 0);
        if (up != cp || down != cp) std::printf("M %X %X %X\n", cp, up, down);
    }
    u32 first = 0;
    int width = unicode::char_width(0);
    int cjk = unicode::char_width_cjk(0);
    for (u32 cp = 1; cp <= LAST + 1; cp++) {
        int w = cp <= LAST ? unicode::char_width(cp) : -1;
        int c = cp <= LAST ? unicode::char_width_cjk(cp) : -1;
        if (w != width || c != cjk) {
            std::printf("W %X %X %d %d\n", first, cp - 1, width, cjk);
            first = cp;
            width = w;
            cjk = c;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
