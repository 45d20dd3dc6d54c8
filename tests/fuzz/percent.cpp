// Fuzz target: percent coding and the file! mold. Any text must decode
// without a fault; decoding must undo encoding in both modes; a file and a
// url must mold without a fault.
#include <cstdlib>
#include <vector>

#include "datatypes/string.hpp"
#include "datatypes/url.hpp"
#include "evaluator/actions.hpp"
#include "fuzz_support.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

void fresh(collector::RootCell& c) { string::make_at(c.get(), 16, 1); }

bool same_text(const Cell* a, const Cell* b) {
    return actions::compare_typed(a, b, COMP_STRICT_EQUAL) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setup_runtime();
    std::vector<u8> bytes(data, data + size);
    collector::RootCell text, coded, back, out;
    fresh(text);
    try {
        string::append_utf8(text.get(), bytes.data(), i64(bytes.size()));
    } catch (const LanguageError&) {
        return 0;   // no text: malformed UTF-8
    }
    fresh(out);
    url::decode(text.get(), out.get());
    for (i32 mode : {url::ENCODE_STRICT, url::ENCODE_WIDE}) {
        fresh(coded);
        fresh(back);
        url::encode(text.get(), coded.get(), mode);
        url::decode(coded.get(), back.get());
        if (!same_text(text.get(), back.get())) std::abort();
    }
    for (u32 type : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_REF}) {
        cell::set_type(text.get(), type);
        fresh(out);
        actions::mold(text.get(), out.get(), false, false, false, nullptr, PART_UNLIMITED, 0);
    }
    return 0;
}
