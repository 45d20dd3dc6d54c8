// Fuzz target: whole programs, run by the interpreter with the library booted
// from the program's own image and the collector active.
//
// Each input byte picks a token of a fixed table (words of natives, actions
// and library functions, operators, literals, a few local names) or opens or
// closes a block or paren; the tokens make program text that the lexer
// loads and the interpreter evaluates at the top level, line by line, as
// the console would: a language error is caught and the stacks cut back.
// After every line the value stack, the frames and the parse stacks must be
// where they were and no exit may be left pending; anything else aborts.
//
// Safety. The table holds no word that reads or writes files, the network,
// the terminal or the environment, runs processes, waits, or ends the
// process. A program can still make words from text (`to word!`, `make`,
// `reduce` twice), so after booting, the globals of every such word are
// also taken away: a made word finds no value.
//
// Bounds. Counts come from small literals, but arithmetic and recursion can
// make any shape (a loop around two recursive calls is exponential), and a
// loop over a large series whose body walks the series again is quadratic.
// Two bounds cover every shape: the interpreter's step budget (each
// expression and block counts one; at zero `internal limit-hit` is raised),
// given in slices while the program has run less than 0.3 s, and a
// ceiling on the memory the runtime takes from the system and on the bytes
// of all the buffers it allocates (past them, `internal no-memory`), which
// bound the work of single steps (a chain of molds runs as one). A parse's
// rounds spend steps too.
//
// Development: ZIR_EVAL_FUZZ_ENCODE=1 turns the program lines of standard
// input into inputs (file i of the folder named by the variable's value when
// it is not "1", else one hex line each on standard output);
// ZIR_EVAL_FUZZ_PRINT=1 writes each program's text to standard error, and
// ZIR_EVAL_FUZZ_TIMES=1 the seconds each took; ZIR_EVAL_FUZZ_REPLAY=1 runs
// the programs of standard input (separated by lines of "--") one after the
// other in one process, as a long fuzzing run does.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "boot/boot_image.hpp"
#include "boot/startup.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

using namespace zir;

namespace {

constexpr i64 STEPS = 50000;
constexpr i64 STEP_SLICE = 100;
constexpr double SECONDS = 0.3;
constexpr i64 MEMORY_CEILING = i64(32) << 20;
constexpr i64 ALLOCATION_BUDGET = i64(16) << 20;
constexpr size_t MAX_TOKENS = 400;
constexpr int MAX_DEPTH = 10;

// Globals taken away after booting: what touches the world outside, waits,
// ends the process or prints, and the system object (its ports and options;
// the library functions in the token table do not use it).
const char* const withdrawn[] = {
    "read", "write", "delete", "rename", "open", "close", "create", "modify", "update", "query", "open?",
    "call", "browse", "wait", "quit", "halt", "q", "ask", "input", "save", "load", "do-file", "set-env",
    "change-dir", "make-dir", "what-dir", "list-env", "get-env", "print", "prin", "probe", "transcode",
    "now", "launch", "echo", "secure", "cli-console-ctx", "zir-complete-ctx", "expand-directives", "system",
};

// Bytes 0-3 open a block (0-2) or a paren (3); 4-6 close the innermost one;
// 7 closes them all and starts a line (a statement of its own: an error
// ends its line only);
// 8-11 are an integer literal from the next byte; 12-14 a local name as a
// word, set-word, get-word or lit-word (next byte); 15 one of the tokens
// past the first 240 (next byte); the rest pick one of the first 240.
const char* const tokens[] = {
    // literals
    "none", "true", "false", "0", "1", "2", "3", "-1", "1.5", "0.0", "-2.5", "1e300", "\"\"", "\"a\"",
    "\"abc\"", "\"a-b c\"", "\"1 2\"", "\"-\"", "\"x\"", "#\"a\"", "#\"^@\"", "#\" \"", "#{}", "#{00}", "#{0102FF}", "1x2",
    "1.2.3", "10:00", "$1.50", "50%", "<t>", "#iss", "%f.txt", "a@b.c", "'w", "/r", "x/y", "'x/y", "o/a", "o/a:", "b/1", "b/1:",
    // control
    "if", "either", "unless", "any", "all", "repeat", "foreach", "forall", "remove-each", "switch",
    "switch/default", "case", "case/all", "try", "try/all", "attempt", "catch", "catch/name", "throw",
    "throw/name", "break", "break/return", "continue", "return", "exit", "func", "function", "does", "has",
    "reduce", "reduce/into", "compose", "compose/deep", "compose/only", "collect", "keep", "not", "also",
    "apply", "quote", "comment",
    // series
    "append", "append/only", "append/dup", "insert", "insert/only", "insert/dup", "insert/part", "change",
    "change/part", "change/only", "clear", "copy", "copy/deep", "copy/part", "find", "find/part",
    "find/skip", "find/last", "find/reverse", "find/only", "find/any", "select", "select/skip", "head",
    "head?", "index?", "length?", "next", "back", "skip", "at", "tail", "tail?", "pick", "poke", "put",
    "remove", "remove/part", "reverse", "reverse/part", "sort", "sort/compare", "sort/skip", "sort/reverse",
    "sort/part", "swap", "take", "take/part", "take/last", "trim", "trim/all", "first", "second", "last",
    "replace", "replace/all", "extract", "split", "rejoin", "repend", "alter", "pad", "array", "empty?",
    "union", "intersect", "unique", "difference", "exclude", "new-line", "move", "random/only", "random/seed",
    // values
    "make", "to", "type?", "form", "mold", "mold/all", "mold/only", "mold/flat", "form/part", "context",
    "object", "construct", "extend", "charset", "values-of", "words-of", "body-of", "spec-of", "value?",
    "unset", "same?", "integer!", "string!", "block!", "paren!", "binary!", "char!", "map!", "object!",
    "word!", "float!", "bitset!", "error!", "function!", "issue!", "tag!", "pair!", "hash!",
    "parse", "parse/case", "uppercase", "lowercase", "enbase", "debase", "dehex", "enhex", "checksum",
    "compress", "decompress", "to-hex", "cause-error",
    // math
    "+", "-", "*", "/", "//", "%", "=", "<>", "==", "<", ">", "<=", ">=", "**", "and", "or", "xor",
    "negate", "absolute", "min", "max", "round", "even?", "odd?", "zero?", "complement", "random",
    "shift", "mod",
    // parse keywords, for rules
    "some", "opt", "end", "skip", "to", "thru", "copy", "set", "into", "|", "insert", "remove", "change",
    "ahead", "not", "fail",
    // type tests
    "block?", "string?", "integer?", "none?", "series?", "object?", "map?", "binary?", "char?", "word?",
    // on-change handlers
    "on-change*:", "on-change*",
};
constexpr size_t TOKEN_COUNT = sizeof tokens / sizeof tokens[0];
static_assert(TOKEN_COUNT > 240 && TOKEN_COUNT <= 240 + 256, "a byte picks the tokens past 240 after byte 15");

const char* const names[] = {"a", "b", "c", "x", "y", "f", "s", "o"};

// --- Bytes to program text ---------------------------------------------------------------

std::string program_of(const u8* data, size_t size) {
    std::string out;
    std::vector<char> open;
    size_t i = 0, count = 0;
    auto next = [&]() -> u8 { return i < size ? data[i++] : 0; };
    while (i < size && count < MAX_TOKENS) {
        u8 b = next();
        count++;
        if (b < 4) {
            if (open.size() >= MAX_DEPTH) continue;
            open.push_back(b < 3 ? ']' : ')');
            out += b < 3 ? "[" : "(";
            continue;
        }
        if (b == 7) {
            while (!open.empty()) {
                out += open.back();
                open.pop_back();
            }
            out += '\n';
            continue;
        }
        if (b < 8) {
            if (open.empty()) continue;
            out += open.back();
            out += ' ';
            open.pop_back();
            continue;
        }
        if (b < 12) {
            out += std::to_string(i32(next() % 24) - 4);
        } else if (b < 15) {
            u8 n = next();
            static const char* const forms[] = {"", "", ":", "'"};
            const char* form = forms[(n >> 4) & 3];
            if (form[0] == ':' && (n & 0x40)) out += ':';   // get-word
            else if (form[0] == '\'') out += '\'';
            out += names[n & 7];
            if (form[0] == ':' && !(n & 0x40)) out += ':';   // set-word
        } else if (b == 15) {
            out += tokens[240 + next() % (TOKEN_COUNT - 240)];
        } else {
            out += tokens[(b - 16) % TOKEN_COUNT];
        }
        out += ' ';
    }
    while (!open.empty()) {
        out += open.back();
        open.pop_back();
    }
    return out;
}

// Program text back to bytes, for the seeds: every blank-separated token
// must be one the table makes (names: a b c x y f s o); `;;` starts a line.
bool encode(const std::string& text, std::string* out) {
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            i++;
            continue;
        }
        size_t j = i;
        if (text[i] == '"') {
            j = text.find('"', i + 1);
            if (j == std::string::npos) return false;
            j++;
        } else {
            while (j < text.size() && text[j] != ' ' && text[j] != '\t') j++;
        }
        std::string t = text.substr(i, j - i);
        i = j;
        if (t == "[") out->push_back(0);
        else if (t == "(") out->push_back(3);
        else if (t == "]" || t == ")") out->push_back(4);
        else if (t == ";;") out->push_back(7);
        else {
            bool done = false;
            for (size_t k = 0; k < TOKEN_COUNT && !done; k++)
                if (t == tokens[k]) {
                    if (k >= 240) out->push_back(15);
                    out->push_back(char(k >= 240 ? k - 240 : 16 + k));
                    done = true;
                }
            for (u8 n = 0; n < 8 && !done; n++) {
                std::string name = names[n];
                if (t == name) out->push_back(12), out->push_back(char(n)), done = true;
                else if (t == name + ":") out->push_back(12), out->push_back(char(0x20 | n)), done = true;
                else if (t == ":" + name) out->push_back(12), out->push_back(char(0x60 | n)), done = true;
                else if (t == "'" + name) out->push_back(12), out->push_back(char(0x30 | n)), done = true;
            }
            if (!done) {
                char* end = nullptr;
                long v = std::strtol(t.c_str(), &end, 10);
                if (*end || v < -4 || v > 19) {
                    std::cerr << "no token: " << t << "\n";
                    return false;
                }
                out->push_back(8);
                out->push_back(char(v + 4));
            }
        }
    }
    return true;
}

// --- Running ----------------------------------------------------------------------------

void withdraw_globals() {
    for (const char* name : withdrawn) {
        Cell w = *word::load(name);
        context::set(&w, &unset::value);
    }
}

// The global values as booting left them (withdrawn ones unset), a root of
// the collector: each program starts from them, so that an input found
// failing fails alone. (A program may set any global: `foreach skip ...`
// leaves `skip` holding a block that the next programs would grow.) Words
// made after booting find no value again.
std::vector<Cell>* booted_globals = nullptr;

void keep_globals() {
    for (const char* name : names) word::load(name);
    SeriesBuffer* v = node_buffer(context::global_values);
    const Cell* cells = series::head_cells(v);
    booted_globals = new std::vector<Cell>(cells, cells + block::cell_count(v));
    collector::push_root_range(booted_globals->data(), booted_globals->size());
}

void restore_globals() {
    SeriesBuffer* v = node_buffer(context::global_values);
    Cell* cells = series::head_cells(v);
    const size_t count = size_t(block::cell_count(v));
    for (size_t i = 0; i < count; i++) {
        if (i < booted_globals->size()) cells[i] = (*booted_globals)[i];
        else cells[i] = unset::value;
    }
}

// The step budget's slices.
i64 steps_given = 0;
timespec started{};

double seconds_since(const timespec& t) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec - t.tv_sec) + double(now.tv_nsec - t.tv_nsec) * 1e-9;
}

bool more_steps() {
    if (steps_given >= STEPS || seconds_since(started) > SECONDS) return false;
    steps_given += STEP_SLICE;
    interpreter::steps_left = STEP_SLICE;
    return true;
}

[[noreturn]] void broken(const char* what, const std::string& text) {
    std::fprintf(stderr, "eval fuzz: %s after:\n%s\n", what, text.c_str());
    std::abort();
}

struct Job {
    const std::string* text;
};

// One line: loaded and evaluated at the top level, an error caught there.
void run_line(const std::string& line, const std::string& text) {
    stack::Checkpoint checkpoint;
    Cell* code = stack::push_slot();
    cell::init(code, TYPE_UNSET);
    try {
        lexer::transcode(code, reinterpret_cast<const u8*>(line.data()), i64(line.size()), lexer::Options{},
                         nullptr, nullptr, nullptr, nullptr);
    } catch (const LanguageError&) {
        checkpoint.restore();
        return;   // text the lexer refuses (a token next to a bracket can join it)
    }
    Cell* result = stack::top;
    try {
        interpreter::eval_block(code, false);
    } catch (const LanguageError&) {
        checkpoint.restore();
        result = nullptr;
    } catch (const stack::PendingExit&) {
        broken("an exit escaped as an exception", text);
    }
    if (stack::pending != 0) broken("an exit left pending", text);
    if (stack::top != (result ? result + 1 : checkpoint.top)) broken("the value stack moved", text);
    if (stack::arguments != checkpoint.arguments) broken("the arguments moved", text);
    if (stack::call_top != checkpoint.call_top) broken("frames left open", text);
    if (parse::rule_head != 0 || parse::input_head != 0) broken("the parse stacks not empty", text);
    stack::top = checkpoint.top;
}

void run(const std::string& text) {
    static bool printing = std::getenv("ZIR_EVAL_FUZZ_PRINT") != nullptr;
    if (printing) std::fprintf(stderr, "%s\n", text.c_str());
    restore_globals();
    parse::round_budget = 20000;
    clock_gettime(CLOCK_MONOTONIC, &started);
    steps_given = STEP_SLICE;
    interpreter::set_step_budget(STEP_SLICE);
    interpreter::more_steps = more_steps;
    memory::os_ceiling = memory::record.os_total + MEMORY_CEILING;
    memory::bytes_left = ALLOCATION_BUDGET;
    for (size_t from = 0; from < text.size();) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        run_line(text.substr(from, end - from), text);
        from = end + 1;
    }
    interpreter::set_step_budget(-1);
    static bool timing = std::getenv("ZIR_EVAL_FUZZ_TIMES") != nullptr;
    if (timing) std::fprintf(stderr, "%.3f s\n", seconds_since(started));
    interpreter::more_steps = nullptr;
    memory::os_ceiling = 0;
    memory::bytes_left = -1;
}

void* on_thread(void* p) {
    static bool booted = false;
    interpreter::set_machine_stack();
    if (!booted) {
        boot::start(boot::EMBEDDED_IMAGE, boot::EMBEDDED_IMAGE_SIZE);
        if (stack::pending != 0) std::abort();
        Cell* base = stack::top;
        withdraw_globals();
        keep_globals();
        stack::top = base;
        booted = true;
    }
    run(*static_cast<Job*>(p)->text);
    return nullptr;
}

// Programs run on a thread with a large stack, as in the program: deep
// recursion ends in the interpreter's stack-overflow error.
void run_on_big_stack(const std::string& text) {
    Job job{&text};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(256) << 20);
    pthread_t thread;
    if (pthread_create(&thread, &attr, on_thread, &job) != 0) std::abort();
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

void encode_lines(const char* folder) {
    std::string line;
    int n = 0;
    while (std::getline(std::cin, line)) {
        if (line.empty() || line[0] == ';') continue;
        std::string bytes;
        if (!encode(line, &bytes)) std::exit(1);
        if (std::strcmp(folder, "1") == 0) {
            for (unsigned char c : bytes) std::printf("%02x", c);
            std::printf("\n");
            continue;
        }
        std::string path = std::string(folder) + "/seed-" + std::to_string(n++);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) std::exit(1);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        std::string back = program_of(reinterpret_cast<const u8*>(bytes.data()), bytes.size());
        std::fprintf(stderr, "%s\n", back.c_str());
    }
    std::exit(0);
}

}  // namespace

// Programs read from standard input, separated by lines of "--", run one
// after the other in one process, as a fuzzing run would run them.
void replay() {
    std::string text, line;
    std::vector<std::string> programs;
    while (std::getline(std::cin, line)) {
        if (line == "--") {
            programs.push_back(text);
            text.clear();
        } else {
            text += line;
            text += '\n';
        }
    }
    if (!text.empty()) programs.push_back(text);
    for (const std::string& p : programs) run_on_big_stack(p);
    std::exit(0);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* folder = std::getenv("ZIR_EVAL_FUZZ_ENCODE")) encode_lines(folder);
    if (std::getenv("ZIR_EVAL_FUZZ_REPLAY")) replay();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run_on_big_stack(program_of(data, size));
    return 0;
}
