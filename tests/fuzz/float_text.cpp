// Fuzz target: decimal text read as a float, and floats written and read back.
// Reading never crashes and never reads past the text; any double written in
// the language's layout reads back to the same double.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"
#include "runtime/dtoa.hpp"

using namespace zir;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text is copied so that a read past its end is caught.
    std::vector<char> text(data, data + size);
    i64 unconsumed = -1;
    dtoa::string_to_float(text.data(), text.data() + size, 0, &unconsumed);
    if (unconsumed < 0 || unconsumed > i64(size)) std::abort();
    if (size >= 8) {
        double d;
        std::memcpy(&d, data, 8);
        if (std::isfinite(d)) {
            const char* s = dtoa::form_float(d, 0, false);
            std::vector<char> back(s, s + std::strlen(s));
            i64 left = -1;
            double r = dtoa::string_to_float(back.data(), back.data() + back.size(), 0, &left);
            if (left != 0 || std::memcmp(&r, &d, 8) != 0) std::abort();
        }
    }
    return 0;
}
