// Fuzz target: the base-2, base-16, base-58 and base-64 decoders. The first
// byte picks the base and the width of a code point; the rest is the text,
// its bytes taken as code points of that width. Any text must end in a binary
// or in none, never a crash; the bytes of a binary must encode to a text that
// decodes to them again.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.hpp"
#include "fuzz_support.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

using Decoder = u32 (*)(const u8*, i64, u32);
using Encoder = u8* (*)(u8*, const u8*, i64);

std::vector<u8> bytes_of_node(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    return std::vector<u8>(series::head(s), series::tail(s));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setup_runtime();
    if (size < 1) return 0;
    static const i32 bases[] = {2, 16, 58, 64};
    static const Decoder decoders[] = {binary::decode_2, binary::decode_16, binary::decode_58, binary::decode_64};
    static const Encoder encoders[] = {binary::encode_2, binary::encode_16, binary::encode_58, binary::encode_64};
    static const u32 units[] = {1, 2, 4};
    u32 which = data[0] & 3;
    u32 unit = units[(data[0] >> 2) % 3];
    // The text lies outside the series frames, as the decoders may be given.
    std::vector<u8> text(data + 1, data + 1 + (size - 1) / unit * unit);
    // Base 58 is quadratic in the length of its text.
    if (which == 2 && text.size() > 4096) text.resize(4096 / unit * unit);
    i64 count = i64(text.size() / unit);
    try {
        collector::RootNode node(decoders[which](text.data(), count, unit));
        if (!node.node) return 0;
        std::vector<u8> bytes = bytes_of_node(node.node);
        std::string encoded(size_t(binary::encoded_room(bases[which], i64(bytes.size()))), '\0');
        u8* start = reinterpret_cast<u8*>(encoded.data());
        u8* end = encoders[which](start, bytes.data(), i64(bytes.size()));
        if (end - start > i64(encoded.size())) std::abort();
        collector::RootNode again(decoders[which](start, end - start, 1));
        if (!again.node || bytes_of_node(again.node) != bytes) std::abort();
    } catch (const LanguageError&) {
        std::abort();   // a decoder raises nothing: bad text is none
    }
    return 0;
}
