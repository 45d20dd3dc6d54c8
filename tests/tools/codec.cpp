// Runs the compression codecs, checksums and digests on requests read from
// standard input, for the oracle scripts that compare them with Python's
// zlib, gzip, hashlib and hmac.
//
// Each request is one line, "OP [ARG...]", then a line with a byte count and
// that many bytes of data. Each answer is "ok N" and N bytes, or "error ID"
// for a language error. Operations:
//   encode zlib|deflate|gzip          the series routine
//   decode zlib|deflate|gzip [HINT]   the series routine, HINT the size hint
//   unpack zlib|deflate|gzip SIZE     the buffer-to-buffer decoder with a
//                                      capacity of SIZE: "ok" answers the
//                                      result code and size, then the bytes
//   hash CODE                         crypto::hash, CODE 2..6
//   hmac CODE KEYHEX                  checksum::hmac
//   crc32 | adler32 | tcp             the checksum as 8 hex digits
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "services/checksum.hpp"
#include "services/compress.hpp"

using namespace zir;

namespace {

void answer(const u8* data, size_t n) {
    std::printf("ok %zu\n", n);
    std::fwrite(data, 1, n, stdout);
}

void answer_text(const std::string& s) { answer(reinterpret_cast<const u8*>(s.data()), s.size()); }

std::string hex(const u8* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::vector<u8> unhex(const std::string& s) {
    std::vector<u8> v;
    for (size_t i = 0; i + 1 < s.size(); i += 2) v.push_back(u8(std::strtoul(s.substr(i, 2).c_str(), nullptr, 16)));
    return v;
}

compress::Method method(const char* name) {
    if (!std::strcmp(name, "zlib")) return compress::ZLIB;
    if (!std::strcmp(name, "gzip")) return compress::GZIP;
    return compress::DEFLATE;
}

void run(const std::vector<std::string>& words, const std::vector<u8>& data) {
    const std::string& op = words[0];
    if (op == "encode" || op == "decode") {
        collector::RootNode input(memory::alloc_bytes(i64(data.size())));
        SeriesBuffer* s = node_buffer(input);
        if (!data.empty()) std::memcpy(series::head(s), data.data(), data.size());
        s->tail = s->offset + u32(data.size());
        i64 hint = words.size() > 2 ? std::atoll(words[2].c_str()) : 0;
        u32 out = op == "encode" ? compress::encode(method(words[1].c_str()), input, 0, i64(data.size()))
                                 : compress::decode(method(words[1].c_str()), input, 0, i64(data.size()), hint);
        SeriesBuffer* o = node_buffer(out);
        answer(series::head(o), series::used_bytes(o));
    } else if (op == "unpack") {
        i64 size = std::atoll(words[2].c_str());
        std::vector<u8> out(size_t(size) + 1);
        compress::Method m = method(words[1].c_str());
        int r = m == compress::ZLIB   ? compress::zlib_decode(out.data(), &size, data.data(), i64(data.size()))
                : m == compress::GZIP ? compress::gunzip(out.data(), &size, data.data(), i64(data.size()))
                                      : compress::inflate(out.data(), &size, data.data(), i64(data.size()));
        std::string head = std::to_string(r) + " " + std::to_string(size) + "\n";
        size_t stored = r == 0 ? size_t(size) : 0;
        head.append(reinterpret_cast<const char*>(out.data()), stored);
        answer_text(head);
    } else if (op == "hash" || op == "hmac") {
        u8 digest[checksum::MAX_DIGEST];
        i32 code = std::atoi(words[1].c_str());
        i32 n;
        if (op == "hash") {
            n = crypto::hash(data.data(), i64(data.size()), code, digest);
        } else {
            std::vector<u8> key = unhex(words.size() > 2 ? words[2] : "");
            n = checksum::hmac(data.data(), i64(data.size()), key.data(), i64(key.size()), code, digest);
        }
        answer_text(hex(digest, size_t(n)));
    } else {
        u32 v = op == "crc32"     ? checksum::crc32(data.data(), i64(data.size()))
                : op == "adler32" ? checksum::adler32(data.data(), i64(data.size()))
                                  : checksum::tcp(data.data(), i64(data.size()));
        char text[16];
        std::snprintf(text, sizeof text, "%08x", v);
        answer_text(text);
    }
}

}  // namespace

int main() {
    runtime::init();
    collector::active = true;
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        std::vector<std::string> words;
        for (char* w = std::strtok(line, " \n"); w; w = std::strtok(nullptr, " \n")) words.push_back(w);
        if (words.empty()) continue;
        char count_line[64];
        if (!std::fgets(count_line, sizeof count_line, stdin)) return 2;
        std::vector<u8> data(std::strtoull(count_line, nullptr, 10));
        if (!data.empty() && std::fread(data.data(), 1, data.size(), stdin) != data.size()) return 2;
        try {
            run(words, data);
        } catch (const LanguageError& e) {
            std::printf("error %s\n", e.id);
        }
        std::fflush(stdout);
    }
    return 0;
}
