// Test program: prints the code point that the Windows-1251 loader gives each
// byte value, one per line in hexadecimal ("XX YYYY"), for an outside oracle;
// then one line "unit U" with the unit the loader chose for all 256 bytes.
#include <cstdio>

#include "boot/runtime_init.hpp"
#include "runtime/unicode.hpp"

using namespace zir;

int main() {
    runtime::init();
    u8 all[256];
    for (int b = 0; b < 256; b++) all[b] = u8(b);
    u32 node = unicode::load_windows_1251(all, 256, 0, false);
    SeriesBuffer* s = node_buffer(node);
    u32 unit = series::unit_of(s);
    if (series::length_of(s) != 256) {
        std::printf("length %d\n", series::length_of(s));
        return 1;
    }
    for (int b = 0; b < 256; b++) {
        u32 cp = 0;
        std::memcpy(&cp, series::head(s) + b * unit, unit);
        std::printf("%02X %04X\n", b, cp);
    }
    std::printf("unit %u\n", unit);
    return 0;
}
