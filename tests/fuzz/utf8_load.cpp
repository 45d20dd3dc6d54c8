// Fuzz target: UTF-8 text loaded into a string. Bad input must end in a
// language error, never a crash; text that loads whole must export back to
// the same bytes (less a leading byte-order mark).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

using namespace zir;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setup_runtime();
    // The loader reads from memory outside the series frames.
    std::vector<u8> text(data, data + size);
    try {
        i32 remainder = -1;
        collector::RootNode node(unicode::load_utf8(text.data(), i64(size), 0, &remainder, false));
        Cell str;
        cell::init(&str, TYPE_STRING);
        str.w2 = node;
        collector::RootCell keep(str);
        i32 len = -1;
        const u8* out = unicode::to_utf8(keep.get(), &len);
        size_t skip = size > 2 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
        size_t expected = size - skip - size_t(remainder);
        if (size_t(len) != expected || std::memcmp(out, data + skip, expected) != 0) std::abort();
        // The fast decoder walks the same text to its NUL without reading past it.
        std::vector<u8> z(data + skip, data + skip + expected);
        z.push_back(0);
        for (const u8* p = z.data(); *p;) {
            i32 cp;
            p = unicode::fast_decode_utf8_char(p, &cp);
            if (p > z.data() + z.size()) std::abort();
        }
    } catch (const LanguageError& e) {
        if (std::strcmp(e.id, "invalid-utf8") != 0) std::abort();
    }
    return 0;
}
