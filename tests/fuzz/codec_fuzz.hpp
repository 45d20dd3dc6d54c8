// Shared by the decoder fuzz targets (inflate, zlib_decode, gunzip): any input
// ends in a result code or a language error, never a crash, a read past the
// input or a write past the output; what decodes, decodes alike through the
// buffer codec and the series routine, and survives our own encoder.
#pragma once

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "services/compress.hpp"

namespace zir::fuzz {

using Codec = int (*)(u8*, i64*, const u8*, i64);

inline Codec decoder_of(compress::Method m) {
    return m == compress::ZLIB ? compress::zlib_decode : m == compress::GZIP ? compress::gunzip : compress::inflate;
}

inline u32 byte_series(const u8* data, size_t size) {
    u32 node = memory::alloc_bytes(i64(size));
    SeriesBuffer* s = node_buffer(node);
    if (size) std::memcpy(series::head(s), data, size);
    s->tail = s->offset + u32(size);
    return node;
}

inline std::vector<u8> content(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    return std::vector<u8>(series::head(s), series::tail(s));
}

inline void check_decoder(compress::Method method, const uint8_t* data, size_t size) {
    setup_runtime();
    Codec decode = decoder_of(method);
    // Copies of exact size, so that AddressSanitizer sees any read past them.
    std::vector<u8> in(data, data + size);
    for (i64 capacity : {i64(0), i64(7), i64(300), i64(1) << 16}) {
        std::vector<u8> out(static_cast<size_t>(capacity));
        i64 n = capacity;
        int r = decode(out.data(), &n, in.data(), i64(in.size()));
        if (r < 0 || r > 5) std::abort();
        if (r == compress::OK && (n < 0 || n > capacity)) std::abort();
        if (r == compress::OUTPUT_TOO_SMALL && n <= capacity) std::abort();
    }
    std::vector<u8> decoded;
    try {
        collector::RootNode source(byte_series(in.data(), in.size()));
        u32 out = compress::decode(method, source, 0, i64(in.size()), 0);
        decoded = content(out);
    } catch (const LanguageError& e) {
        if (std::strcmp(e.id, "invalid-data") != 0) std::abort();
        return;
    }
    // The buffer codec agrees, given exactly the room it needs.
    std::vector<u8> again(decoded.size());
    i64 n = i64(again.size());
    if (decode(again.data(), &n, in.data(), i64(in.size())) != compress::OK || n != i64(decoded.size()) ||
        again != decoded)
        std::abort();
    // Our encoder's output of it decodes back to it.
    collector::RootNode plain(byte_series(decoded.data(), decoded.size()));
    collector::RootNode packed(compress::encode(method, plain, 0, i64(decoded.size())));
    std::vector<u8> p = content(packed);
    u32 back = compress::decode(method, packed, 0, i64(p.size()), 0);
    if (content(back) != decoded) std::abort();
}

}  // namespace zir::fuzz
