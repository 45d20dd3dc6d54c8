// Fuzz target: the ZIRBIN fixed-width decoder (see zirbin_fuzz.hpp).
#include "zirbin_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zir::fuzz::check_zirbin(data, size, false);
    return 0;
}
