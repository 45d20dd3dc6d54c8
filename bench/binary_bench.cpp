// binary!: base-64 encoding and decoding of 1 MiB, base-16 and base-58 for
// comparison, mold of a long binary and appending bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "datatypes/binary.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace {

void setup() {
    bench::setup_runtime();
    collector::active = false;
}

constexpr i64 DATA_BYTES = 1 << 20;

std::vector<u8> random_bytes(i64 n) {
    std::mt19937 random(1);
    std::vector<u8> bytes(size_t(n), 0);
    for (u8& b : bytes) b = u8(random());
    return bytes;
}

void BM_Base64Encode(benchmark::State& state) {
    setup();
    std::vector<u8> bytes = random_bytes(DATA_BYTES);
    std::vector<u8> text(size_t(binary::encoded_room(64, DATA_BYTES)));
    for (auto _ : state) {
        u8* end = binary::encode_64(text.data(), bytes.data(), DATA_BYTES);
        benchmark::DoNotOptimize(end);
    }
    state.SetBytesProcessed(state.iterations() * DATA_BYTES);
}
BENCHMARK(BM_Base64Encode);

// Decoding counts the bytes it answers, as encoding counts those it reads.
void decode_bench(benchmark::State& state, i32 base, u32 (*decode)(const u8*, i64, u32), i64 n, bool lines) {
    setup();
    std::vector<u8> bytes = random_bytes(n);
    std::vector<u8> text(size_t(binary::encoded_room(base, n)));
    u8* end = base == 64 ? binary::encode_64(text.data(), bytes.data(), n)
              : base == 16 ? binary::encode_16(text.data(), bytes.data(), n)
                           : binary::encode_58(text.data(), bytes.data(), n);
    text.resize(size_t(end - text.data()));
    if (lines) {
        // Lines of 76 characters, as MIME writes them.
        std::vector<u8> broken;
        for (size_t i = 0; i < text.size(); i += 76) {
            broken.insert(broken.end(), text.begin() + i64(i), text.begin() + i64(std::min(text.size(), i + 76)));
            broken.push_back('\n');
        }
        text = broken;
    }
    i64 live = 0;
    for (auto _ : state) {
        u32 node = decode(text.data(), i64(text.size()), 1);
        benchmark::DoNotOptimize(node);
        // The binaries answered are garbage: give the frames back now and then.
        if ((live += n) > (64 << 20)) {
            state.PauseTiming();
            memory::free_all_frames();
            runtime::init_tables();
            live = 0;
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(state.iterations() * n);
}

void BM_Base64Decode(benchmark::State& state) { decode_bench(state, 64, binary::decode_64, DATA_BYTES, false); }
void BM_Base64DecodeLines(benchmark::State& state) { decode_bench(state, 64, binary::decode_64, DATA_BYTES, true); }
void BM_Base16Decode(benchmark::State& state) { decode_bench(state, 16, binary::decode_16, DATA_BYTES, false); }
void BM_Base58Decode1KiB(benchmark::State& state) { decode_bench(state, 58, binary::decode_58, 1024, false); }
BENCHMARK(BM_Base64Decode);
BENCHMARK(BM_Base64DecodeLines);
BENCHMARK(BM_Base16Decode);
BENCHMARK(BM_Base58Decode1KiB);

void BM_Base58Encode1KiB(benchmark::State& state) {
    setup();
    std::vector<u8> bytes = random_bytes(1024);
    std::vector<u8> text(size_t(binary::encoded_room(58, 1024)));
    for (auto _ : state) benchmark::DoNotOptimize(binary::encode_58(text.data(), bytes.data(), 1024));
    state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_Base58Encode1KiB);

// mold of 64 KiB of bytes (lines of 32 bytes).
void BM_MoldBinary(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    std::vector<u8> bytes = random_bytes(1 << 16);
    Cell* b = binary::load(bytes.data(), i64(bytes.size()));
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, 16, 1);
    for (auto _ : state) {
        string::zs_reset(out);
        binary::mold(b, out, false, false, false, nullptr, PART_UNLIMITED, 0);
        benchmark::DoNotOptimize(node_buffer(out->w2)->tail);
    }
    state.SetBytesProcessed(state.iterations() * i64(bytes.size()));
    stack::top = saved;
}
BENCHMARK(BM_MoldBinary);

// append of an integer! and of a 16-byte binary! to a binary emptied every
// 100,000 appends.
void append_bench(benchmark::State& state, Cell* value) {
    Cell* b = binary::make_at(stack::push_slot(), 16);
    Cell* position = stack::push(b);
    i64 n = 0;
    for (auto _ : state) {
        *position = *b;
        binary::insert(position, value, nullptr, false, nullptr, true);
        if (++n == 100000) {
            node_buffer(b->w2)->tail = node_buffer(b->w2)->offset;
            n = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_AppendByte(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    Cell* v = stack::push_slot();
    cell::init(v, TYPE_INTEGER);
    v->w2 = 200;
    append_bench(state, v);
    stack::top = saved;
}
BENCHMARK(BM_AppendByte);

void BM_AppendBinary16(benchmark::State& state) {
    setup();
    Cell* saved = stack::top;
    std::vector<u8> bytes = random_bytes(16);
    append_bench(state, binary::load(bytes.data(), 16));
    stack::top = saved;
}
BENCHMARK(BM_AppendBinary16);

}  // namespace
}  // namespace zir
