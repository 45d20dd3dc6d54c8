// Compression, checksums and digests against the references: zlib at levels 1
// and 6 on the same text, zlib's crc32 and adler32, libcrypto's digests
// called directly.
//
// The text is 64 MiB of generated prose with numbers, markup and source-like
// lines (ZIR_BENCH_TEXT_MIB sets another size). "ratio" is input over output.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "services/checksum.hpp"
#include "services/compress.hpp"

namespace zir {
namespace {

using Bytes = std::vector<u8>;

const Bytes& mixed_text() {
    static Bytes text = [] {
        const char* env = std::getenv("ZIR_BENCH_TEXT_MIB");
        size_t size = size_t(env ? std::atoi(env) : 64) << 20;
        static const char* words[] = {
            "the", "of", "and", "a", "to", "in", "is", "value", "block", "series", "word", "that", "for", "it",
            "as", "with", "function", "context", "string", "binary", "compress", "evaluate", "interpreter",
            "collector", "symbol", "returns", "argument", "refinement", "datatype", "console", "where", "which",
            "because", "between", "through", "language", "homoiconic", "parse", "dialect", "lexer", "view"};
        const int n_words = int(sizeof words / sizeof *words);
        std::mt19937 rng(20240601);
        std::vector<double> weights;
        for (int i = 0; i < n_words; i++) weights.push_back(1.0 / (i + 1));   // Zipf-like
        std::discrete_distribution<int> pick(weights.begin(), weights.end());
        std::string s;
        s.reserve(size + 256);
        while (s.size() < size) {
            switch (rng() % 10) {
                case 0:   // a line of source
                    s += "    append result [name: \"" + std::string(words[pick(rng)]) + "\" " +
                         std::to_string(rng() % 100000) + " " + std::to_string(rng() % 1000) + ".5]\n";
                    break;
                case 1:   // markup
                    s += "<p class=\"" + std::string(words[pick(rng)]) + "\">" + words[pick(rng)] + "</p>\n";
                    break;
                default: {   // a sentence of prose
                    int len = 5 + int(rng() % 15);
                    for (int i = 0; i < len; i++) {
                        s += words[pick(rng)];
                        s += i + 1 < len ? " " : ". ";
                    }
                    if (rng() % 4 == 0) s += "\n";
                }
            }
        }
        s.resize(size);
        return Bytes(s.begin(), s.end());
    }();
    return text;
}

Bytes zlib_compress(const Bytes& in, int level) {
    uLongf n = compressBound(uLong(in.size()));
    Bytes out(n);
    compress2(out.data(), &n, in.data(), uLong(in.size()), level);
    out.resize(n);
    return out;
}

Bytes ours_compress(const Bytes& in) {
    i64 n = compress::max_encoded_size(compress::ZLIB, i64(in.size()));
    Bytes out(static_cast<size_t>(n));
    compress::zlib_encode(out.data(), &n, in.data(), i64(in.size()));
    out.resize(size_t(n));
    return out;
}

// --- Compression ---------------------------------------------------------------------

void BM_CompressOurs(benchmark::State& state) {
    const Bytes& in = mixed_text();
    Bytes out(size_t(compress::max_encoded_size(compress::ZLIB, i64(in.size()))));
    i64 n = 0;
    for (auto _ : state) {
        n = i64(out.size());
        compress::zlib_encode(out.data(), &n, in.data(), i64(in.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * i64(in.size()));
    state.counters["ratio"] = double(in.size()) / double(n);
}
BENCHMARK(BM_CompressOurs)->Unit(benchmark::kMillisecond);

void BM_CompressZlib(benchmark::State& state) {
    const Bytes& in = mixed_text();
    int level = int(state.range(0));
    Bytes out(compressBound(uLong(in.size())));
    uLongf n = 0;
    for (auto _ : state) {
        n = uLongf(out.size());
        compress2(out.data(), &n, in.data(), uLong(in.size()), level);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * i64(in.size()));
    state.counters["ratio"] = double(in.size()) / double(n);
}
BENCHMARK(BM_CompressZlib)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

// --- Decompression: throughput of the output produced ---------------------------------
// Arg: whose stream is decoded, 0 ours, 1 and 6 zlib's at that level.

const Bytes& stream_for(int who) {
    static Bytes ours = ours_compress(mixed_text());
    static Bytes level1 = zlib_compress(mixed_text(), 1);
    static Bytes level6 = zlib_compress(mixed_text(), 6);
    return who == 0 ? ours : who == 1 ? level1 : level6;
}

void BM_DecompressOurs(benchmark::State& state) {
    const Bytes& z = stream_for(int(state.range(0)));
    Bytes out(mixed_text().size());
    for (auto _ : state) {
        i64 n = i64(out.size());
        if (compress::zlib_decode(out.data(), &n, z.data(), i64(z.size())) != 0) state.SkipWithError("decode");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * i64(out.size()));
}
BENCHMARK(BM_DecompressOurs)->Arg(0)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_DecompressZlib(benchmark::State& state) {
    const Bytes& z = stream_for(int(state.range(0)));
    Bytes out(mixed_text().size());
    for (auto _ : state) {
        uLongf n = uLongf(out.size());
        if (uncompress(out.data(), &n, z.data(), uLong(z.size())) != Z_OK) state.SkipWithError("decode");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * i64(out.size()));
}
BENCHMARK(BM_DecompressZlib)->Arg(0)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

// The series routine: the output starts at four times the input and doubles
// as the data decodes; then it is a byte series of the language.
void BM_DecompressSeries(benchmark::State& state) {
    bench::setup_runtime();
    const Bytes& z = stream_for(6);
    for (auto _ : state) {
        state.PauseTiming();
        memory::free_all_frames();
        runtime::init_tables();
        u32 src = memory::alloc_bytes(i64(z.size()));
        SeriesBuffer* s = node_buffer(src);
        std::memcpy(series::head(s), z.data(), z.size());
        s->tail = s->offset + u32(z.size());
        collector::RootNode keep(src);
        state.ResumeTiming();
        benchmark::DoNotOptimize(compress::decode(compress::ZLIB, src, 0, i64(z.size()), 0));
    }
    state.SetBytesProcessed(state.iterations() * i64(mixed_text().size()));
}
BENCHMARK(BM_DecompressSeries)->Unit(benchmark::kMillisecond);

// --- Checksums, 1 MiB ----------------------------------------------------------------

const Bytes& megabyte() {
    static Bytes b = [] {
        Bytes v(1 << 20);
        std::mt19937 rng(5);
        for (auto& x : v) x = u8(rng());
        return v;
    }();
    return b;
}

void BM_Crc32Ours(benchmark::State& state) {
    const Bytes& b = megabyte();
    for (auto _ : state) benchmark::DoNotOptimize(checksum::crc32(b.data(), i64(b.size())));
    state.SetBytesProcessed(state.iterations() * i64(b.size()));
}
BENCHMARK(BM_Crc32Ours);

void BM_Crc32Zlib(benchmark::State& state) {
    const Bytes& b = megabyte();
    for (auto _ : state) benchmark::DoNotOptimize(crc32(0, b.data(), uInt(b.size())));
    state.SetBytesProcessed(state.iterations() * i64(b.size()));
}
BENCHMARK(BM_Crc32Zlib);

void BM_Adler32Ours(benchmark::State& state) {
    const Bytes& b = megabyte();
    for (auto _ : state) benchmark::DoNotOptimize(checksum::adler32(b.data(), i64(b.size())));
    state.SetBytesProcessed(state.iterations() * i64(b.size()));
}
BENCHMARK(BM_Adler32Ours);

void BM_Adler32Zlib(benchmark::State& state) {
    const Bytes& b = megabyte();
    for (auto _ : state) benchmark::DoNotOptimize(adler32(1, b.data(), uInt(b.size())));
    state.SetBytesProcessed(state.iterations() * i64(b.size()));
}
BENCHMARK(BM_Adler32Zlib);

void BM_InternetChecksum(benchmark::State& state) {
    const Bytes& b = megabyte();
    for (auto _ : state) benchmark::DoNotOptimize(checksum::tcp(b.data(), i64(b.size())));
    state.SetBytesProcessed(state.iterations() * i64(b.size()));
}
BENCHMARK(BM_InternetChecksum);

// --- Digests: Arg is the method code (2 MD5 .. 6 SHA-512); Arg 2 the size ----------------

const char* const DIGEST_NAMES[] = {"", "", "MD5", "SHA1", "SHA256", "SHA384", "SHA512"};

void BM_DigestOurs(benchmark::State& state) {
    bench::setup_runtime();
    i32 code = i32(state.range(0));
    size_t size = size_t(state.range(1));
    const Bytes& b = megabyte();
    u8 out[checksum::MAX_DIGEST];
    for (auto _ : state) benchmark::DoNotOptimize(crypto::hash(b.data(), i64(size), code, out));
    state.SetBytesProcessed(state.iterations() * i64(size));
    state.SetLabel(DIGEST_NAMES[code]);
}

void BM_DigestLibcrypto(benchmark::State& state) {
    i32 code = i32(state.range(0));
    size_t size = size_t(state.range(1));
    const Bytes& b = megabyte();
    u8 out[EVP_MAX_MD_SIZE];
    unsigned int n;
    const EVP_MD* md = EVP_get_digestbyname(DIGEST_NAMES[code]);
    for (auto _ : state) benchmark::DoNotOptimize(EVP_Digest(b.data(), size, out, &n, md, nullptr));
    state.SetBytesProcessed(state.iterations() * i64(size));
    state.SetLabel(DIGEST_NAMES[code]);
}

void digest_args(benchmark::internal::Benchmark* b) {
    for (int code = 2; code <= 6; code++) b->Args({code, 1 << 20});
    b->Args({4, 64});
}
BENCHMARK(BM_DigestOurs)->Apply(digest_args);
BENCHMARK(BM_DigestLibcrypto)->Apply(digest_args);

void BM_HmacSha256(benchmark::State& state) {
    bench::setup_runtime();
    const Bytes& b = megabyte();
    size_t size = size_t(state.range(0));
    u8 out[checksum::MAX_DIGEST];
    for (auto _ : state)
        benchmark::DoNotOptimize(checksum::hmac(b.data(), i64(size), b.data() + 1000, 32, checksum::CODE_SHA256, out));
    state.SetBytesProcessed(state.iterations() * i64(size));
}
BENCHMARK(BM_HmacSha256)->Arg(64)->Arg(1 << 20);

}  // namespace
}  // namespace zir
