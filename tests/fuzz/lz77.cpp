// Fuzz target: the LZ77 decompressor. Any input is refused or unpacked
// without reading past it; what unpacks packs again (when it is worth
// packing) and unpacks to the same bytes.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "loader/lz77.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zir;
    std::vector<u8> in(data, data + size);   // exact size: ASan sees any read past it
    lz77::Unpacked u;
    if (!lz77::decompress(in.data(), i64(in.size()), &u)) {
        if (u.data) std::abort();
        return 0;
    }
    if (u.size > lz77::max_unpacked(i64(size))) std::abort();
    std::vector<u8> packed(size_t(u.size > 0 ? u.size : 1));
    i64 n = lz77::compress(u.data.get(), u.size, packed.data());
    if (n < 0) return 0;
    packed.resize(size_t(n));
    lz77::Unpacked again;
    if (!lz77::decompress(packed.data(), n, &again) || again.size != u.size ||
        std::memcmp(again.data.get(), u.data.get(), size_t(u.size)) != 0)
        std::abort();
    return 0;
}
