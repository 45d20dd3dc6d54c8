// Test program: our image decoders and encoders for an outside oracle.
//
// Reads one request per line of standard input and prints one answer line:
//   "decode PATH"              the file read as an image! (image::load_file):
//                              "WxH HEX", HEX the pixels' R, G, B and opacity
//                              bytes in row order;
//   "encode FORMAT SRC DEST"   SRC read as above, encoded in FORMAT (bmp, png,
//                              gif, jpeg or tiff, through image::encode) and
//                              written to DEST: "ok".
// A language error answers "error CATEGORY ID".
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "boot/runtime_init.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/image.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

Cell* file_value(const std::string& path) {
    Cell* f = string::load_push(reinterpret_cast<const u8*>(path.data()), i64(path.size()), string::ENCODING_UTF8);
    cell::set_type(f, TYPE_FILE);
    return f;
}

std::string pixels_of(const Cell* img) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = std::to_string(image::width_of(img)) + "x" + std::to_string(image::height_of(img)) + " ";
    image_backend::Lock lock;
    const u32* px = image::lock_pixels(img, &lock);
    for (i64 i = 0, n = image::count_of(img); i < n; i++) {
        u32 p = px[i];
        u8 bytes[4] = {u8(p >> 16), u8(p >> 8), u8(p), u8(p >> 24)};
        for (u8 b : bytes) {
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    image::unlock_pixels(img, &lock, false);
    return out;
}

i32 format_id(const std::string& name) {
    if (name == "bmp") return image_backend::FORMAT_BMP;
    if (name == "png") return image_backend::FORMAT_PNG;
    if (name == "gif") return image_backend::FORMAT_GIF;
    if (name == "jpeg") return image_backend::FORMAT_JPEG;
    if (name == "tiff") return image_backend::FORMAT_TIFF;
    return -1;
}

std::string answer(const std::string& request) {
    std::istringstream in(request);
    std::string verb;
    in >> verb;
    stack::KeepTop keep;
    try {
        if (verb == "decode") {
            std::string path;
            in >> path;
            Cell* file = file_value(path);
            Cell* img = image::load_file(stack::push_slot(), file);
            return pixels_of(img);
        }
        if (verb == "encode") {
            std::string format, source, target;
            in >> format >> source >> target;
            Cell* file = file_value(source);
            Cell* img = image::load_file(stack::push_slot(), file);
            Cell* bin = image::encode(img, nullptr, format_id(format));
            if (TYPE_OF(bin) != TYPE_BINARY) return "no encoder";
            std::vector<u8> bytes = binary::bytes_of(bin);
            std::ofstream out(target, std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            return out ? "ok" : "cannot write";
        }
        return "unknown request";
    } catch (const LanguageError& e) {
        return std::string("error ") + category_name(e.category) + " " + e.id;
    }
}

}  // namespace

int main() {
    runtime::init();
    collector::active = true;
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) std::cout << answer(line) << "\n";
    return 0;
}
