// Fuzz target: the deflate decoder on arbitrary input (see codec_fuzz.hpp).
#include "codec_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zir::fuzz::check_decoder(zir::compress::DEFLATE, data, size);
    return 0;
}
