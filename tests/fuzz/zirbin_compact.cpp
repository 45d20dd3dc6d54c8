// Fuzz target: the ZIRBIN compact decoder (see zirbin_fuzz.hpp).
#include "zirbin_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zir::fuzz::check_zirbin(data, size, true);
    return 0;
}
