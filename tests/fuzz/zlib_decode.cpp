// Fuzz target: the zlib decoder on arbitrary input (see codec_fuzz.hpp).
#include "codec_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zir::fuzz::check_decoder(zir::compress::ZLIB, data, size);
    return 0;
}
