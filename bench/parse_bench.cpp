// The parse dialect over 10 MB of generated prose (lines of words from a
// vocabulary of 150, the first capitalised, some followed by a comma, each
// line ending with a full stop): split into lines and into words, each
// piece kept in a collected block, and scanned with to/thru for the
// occurrences of a word, counted by a paren. The rules are read from text by
// the lexer, as a script's would be. The comparison with Python's re and
// Lua's patterns is made on whole programs (bench/programs: parse_text,
// parse_lines, parse_count).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/native.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace {

constexpr const char* WORDS =
    "the of and to in is was that for it with as his on be at by had are but from or have an they which "
    "one you were her all she there would their we him been has when who will more no if out so said what "
    "up its about into than them can only other new some could time these two may then do first any my now "
    "such like our over man me even most made after also did many before must through back years where much "
    "your way well down should because each just those people how too little state good very make world still "
    "own see men work long get here between both life being under never day same another know while last might "
    "us great old year off come since against go came right used take three";

constexpr size_t SIZE = 10'000'000;

// The text; the peers' generators follow the same steps.
std::string generate() {
    std::vector<std::string> words;
    std::string w;
    for (const char* p = WORDS;; p++) {
        if (*p == ' ' || *p == 0) {
            if (!w.empty()) words.push_back(w);
            w.clear();
            if (*p == 0) break;
        } else {
            w += *p;
        }
    }
    u32 state = 20240601;
    auto rnd = [&](u32 n) {
        state = (state * 1103515245u + 12345u) & 0x7FFFFFFFu;
        return (state >> 8) % n;
    };
    std::string text;
    text.reserve(SIZE + 200);
    while (text.size() < SIZE) {
        u32 count = 4 + rnd(12);
        for (u32 i = 0; i < count; i++) {
            std::string word = words[rnd(u32(words.size()))];
            if (i == 0) word[0] = char(word[0] - 32);
            if (i + 1 < count && rnd(10) == 0) word += ',';
            if (i > 0) text += ' ';
            text += word;
        }
        text += ".\n";
    }
    return text;
}

// Loads source text into a block (pushed); its words are bound as a
// script's are.
Cell* load(const std::string& source) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    lexer::transcode(b, reinterpret_cast<const u8*>(source.data()), i64(source.size()), {}, nullptr, nullptr,
                     nullptr, nullptr);
    return b;
}

void run_source(const std::string& source) {
    Cell* base = stack::top;
    Cell* code = load(source);
    interpreter::eval_block(code, false);
    stack::top = base;
}

Cell global(const char* spelling) {
    Cell word = *word::load(spelling);
    return *context::get(&word);
}

// The input string (pushed once; the value stack keeps it alive), the words
// the rules use, and `+` when the runtime has not made it.
Cell* setup() {
    static Cell* input = nullptr;
    bench::setup_runtime();
    if (input) return input;
    Cell plus = global("+");
    if (TYPE_OF(&plus) != TYPE_OP) {
        Cell add = global("add"), o;
        op::make(&o, &add, TYPE_OP);
        Cell word = *word::load("+");
        context::set(&word, &o);
    }
    run_source("letter: make bitset! {abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ} "
               "other: complement letter n: 0");
    std::string text = generate();
    input = string::load_push(reinterpret_cast<const u8*>(text.data()), i64(text.size()), string::ENCODING_UTF8);
    return input;
}

i32 count_of(const Cell* result) {
    if (TYPE_OF(result) == TYPE_BLOCK) return i32(block::cell_count(series::buffer_of(result)) - result->w1);
    Cell n = global("n");
    return integer::get(&n);
}

// Runs the rules over the whole text; the counter "found" is the number
// of pieces collected, or the value the parens counted in `n`.
void parse_bench(benchmark::State& state, const char* rules_text, bool strict) {
    // The pieces a split makes are garbage by the next round: collect them,
    // as a program would, and leave the collector as the other benchmarks
    // found it.
    bool was_active = collector::active;
    collector::active = true;
    Cell* input = setup();
    Cell* base = stack::top;
    Cell* rules = load(rules_text);
    Cell* mark = stack::top;
    i32 found = 0;
    for (auto _ : state) {
        run_source("n: 0");
        Cell* result = parse::run(input, rules, strict ? COMP_STRICT_EQUAL : COMP_EQUAL, 0, nullptr);
        found = count_of(result);
        stack::top = mark;
    }
    stack::top = base;
    i64 bytes = series::abs_length(series::buffer_of(input));
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["found"] = found;
    collector::active = was_active;
}

void BM_ParseLines(benchmark::State& s) { parse_bench(s, "collect [any [keep copy l to #\"^/\" skip]]", true); }
void BM_ParseWords(benchmark::State& s) {
    parse_bench(s, "collect [any [keep copy w some letter | some other]]", true);
}
void BM_ParseCountThru(benchmark::State& s) { parse_bench(s, "any [thru \"the\" (n: n + 1)] to end", true); }
void BM_ParseCountThruAnyCase(benchmark::State& s) {
    parse_bench(s, "any [thru \"the\" (n: n + 1)] to end", false);
}
void BM_ParseCountToSkip(benchmark::State& s) {
    parse_bench(s, "any [to \"the\" skip (n: n + 1)] to end", true);
}
void BM_ParseCountLines(benchmark::State& s) { parse_bench(s, "any [thru #\"^/\" (n: n + 1)]", true); }

BENCHMARK(BM_ParseLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseCountThru)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseCountThruAnyCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseCountToSkip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseCountLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zir
