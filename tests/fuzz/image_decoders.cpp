// Fuzz target: image files decoded from memory (image/load-binary), whatever
// their format. Any bytes must end in an image, in none (no known format) or
// in `access bad-media`, never a crash, a hang or a leak. A decoded image
// small enough is encoded again in the format the last byte picks, which must
// succeed and decode to an image of the same size (every pixel again, for
// the formats that keep them).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/image.hpp"
#include "datatypes/image_backend.hpp"
#include "evaluator/stack.hpp"
#include "fuzz_support.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

// A file of a few bytes may ask for an image of any size the language
// allows; the decoders would then fill gigabytes. A million pixels keeps
// every input within the fuzzer's memory.
constexpr i64 PIXEL_LIMIT = 1 << 20;
// Encoding again is worth it for small images only.
constexpr i64 ENCODE_LIMIT = 1 << 14;

std::vector<u32> pixels_of(const Cell* img) {
    image_backend::Lock lock;
    const u32* p = image::lock_pixels(img, &lock);
    std::vector<u32> out(p, p + image::count_of(img));
    image::unlock_pixels(img, &lock, false);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setup_runtime();
    image_backend::decode_pixel_limit = PIXEL_LIMIT;
    stack::KeepTop keep;
    try {
        Cell* bin = binary::load(data, i64(size));
        Cell* img = image::load_binary(bin);
        if (TYPE_OF(img) == TYPE_NONE) {
            if (image::known_format_q(bin)) std::abort();
            return 0;
        }
        if (TYPE_OF(img) != TYPE_IMAGE || image::count_of(img) < 1) std::abort();
        if (image::count_of(img) <= ENCODE_LIMIT && size > 0) {
            i32 format = data[size - 1] % 5;
            Cell* encoded = image::encode(img, nullptr, format);
            Cell* back = image::load_binary(encoded);
            if (TYPE_OF(back) != TYPE_IMAGE || back->w3 != img->w3) std::abort();
            bool exact = format == image_backend::FORMAT_BMP || format == image_backend::FORMAT_PNG ||
                         format == image_backend::FORMAT_TIFF;
            if (exact && pixels_of(back) != pixels_of(img)) std::abort();
            image::release(back);
        }
        // Freed now rather than at the next collection, which the fuzzer's
        // small heap may not reach for a long time.
        image::release(img);
    } catch (const LanguageError& e) {
        if (std::strcmp(e.id, "bad-media") != 0) std::abort();
    }
    return 0;
}
