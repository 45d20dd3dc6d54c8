// Float text conversion against the standard library: shortest digits and
// reading, on random doubles (17 digits mostly) and on short decimals such as
// scripts hold (3.25, 0.1, 1500.75).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "runtime/dtoa.hpp"

namespace zir {
namespace {

constexpr size_t SET_SIZE = 4096;

const std::vector<double>& random_doubles() {
    static const std::vector<double> set = [] {
        std::mt19937_64 rng(1);
        std::vector<double> v;
        while (v.size() < SET_SIZE) {
            u64 b = rng() & ~(u64(1) << 63);
            if ((b >> 52) != 0x7FF && b != 0) v.push_back(std::bit_cast<double>(b));
        }
        return v;
    }();
    return set;
}

const std::vector<double>& short_doubles() {
    static const std::vector<double> set = [] {
        std::mt19937_64 rng(2);
        std::vector<double> v;
        while (v.size() < SET_SIZE) {
            double units = double(rng() % 100000);
            double scale = double(u64(1) << (rng() % 4)) * (rng() % 2 ? 100.0 : 1000.0);
            v.push_back(units / scale);
        }
        return v;
    }();
    return set;
}

std::vector<std::string> shortest_texts(const std::vector<double>& values) {
    std::vector<std::string> texts;
    for (double v : values) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        texts.emplace_back(buf, r.ptr);
    }
    return texts;
}

const std::vector<double>& set_of(const benchmark::State& state) {
    return state.range(0) ? short_doubles() : random_doubles();
}

void label(benchmark::State& state) {
    state.SetLabel(state.range(0) ? "short decimals" : "random doubles");
    state.SetItemsProcessed(state.iterations());
}

// --- Shortest digits

void BM_ShortestDigits_Zir(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    int k, n;
    bool sign;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dtoa::digits(values[i++ % SET_SIZE], 0, &k, &sign, &n, true));
        benchmark::DoNotOptimize(k);
    }
    label(state);
}
BENCHMARK(BM_ShortestDigits_Zir)->Arg(0)->Arg(1);

void BM_ShortestDigits_ToChars(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    char buf[64];
    for (auto _ : state) {
        auto r = std::to_chars(buf, buf + sizeof buf, values[i++ % SET_SIZE], std::chars_format::scientific);
        benchmark::DoNotOptimize(r.ptr);
        benchmark::ClobberMemory();
    }
    label(state);
}
BENCHMARK(BM_ShortestDigits_ToChars)->Arg(0)->Arg(1);

// The whole text: the language's layout against to_chars' shortest text.
void BM_FormFloat_Zir(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(dtoa::form_float(values[i++ % SET_SIZE], 0, true));
    label(state);
}
BENCHMARK(BM_FormFloat_Zir)->Arg(0)->Arg(1);

void BM_FormFloat_ToChars(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    char buf[64];
    for (auto _ : state) {
        auto r = std::to_chars(buf, buf + sizeof buf, values[i++ % SET_SIZE]);
        benchmark::DoNotOptimize(r.ptr);
        benchmark::ClobberMemory();
    }
    label(state);
}
BENCHMARK(BM_FormFloat_ToChars)->Arg(0)->Arg(1);

// --- Sixteen significant digits (the float formatter's "%.16g")

void BM_Precision16_Zir(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(dtoa::form_general(values[i++ % SET_SIZE], 16));
    label(state);
}
BENCHMARK(BM_Precision16_Zir)->Arg(0)->Arg(1);

void BM_Precision16_ToChars(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    char buf[64];
    for (auto _ : state) {
        auto r = std::to_chars(buf, buf + sizeof buf, values[i++ % SET_SIZE], std::chars_format::general, 16);
        benchmark::DoNotOptimize(r.ptr);
        benchmark::ClobberMemory();
    }
    label(state);
}
BENCHMARK(BM_Precision16_ToChars)->Arg(0)->Arg(1);

void BM_Precision16_Printf(benchmark::State& state) {
    const std::vector<double>& values = set_of(state);
    size_t i = 0;
    char buf[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%.16g", values[i++ % SET_SIZE]));
        benchmark::ClobberMemory();
    }
    label(state);
}
BENCHMARK(BM_Precision16_Printf)->Arg(0)->Arg(1);

// --- Reading the shortest texts

void BM_Read_Zir(benchmark::State& state) {
    const std::vector<std::string> texts = shortest_texts(set_of(state));
    size_t i = 0;
    i64 rest;
    for (auto _ : state) {
        const std::string& t = texts[i++ % SET_SIZE];
        benchmark::DoNotOptimize(dtoa::string_to_float(t.data(), t.data() + t.size(), 0, &rest));
    }
    label(state);
}
BENCHMARK(BM_Read_Zir)->Arg(0)->Arg(1);

void BM_Read_FromChars(benchmark::State& state) {
    const std::vector<std::string> texts = shortest_texts(set_of(state));
    size_t i = 0;
    double v;
    for (auto _ : state) {
        const std::string& t = texts[i++ % SET_SIZE];
        auto r = std::from_chars(t.data(), t.data() + t.size(), v);
        benchmark::DoNotOptimize(r.ptr);
        benchmark::DoNotOptimize(v);
    }
    label(state);
}
BENCHMARK(BM_Read_FromChars)->Arg(0)->Arg(1);

}  // namespace
}  // namespace zir
