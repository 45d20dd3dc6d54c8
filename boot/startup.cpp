// Start-up: see startup.hpp.
#include "boot/startup.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "boot/boot_image.hpp"
#include "boot/roots.hpp"
#include "boot/routines.hpp"
#include "boot/runtime_init.hpp"
#include "boot/system.hpp"

#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace boot {

Process process;

namespace {

bool read_whole(const std::string& path, std::vector<u8>* out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    u8 chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        out->insert(out->end(), chunk, chunk + n);
    }
    close(fd);
    return true;
}

// Whether the block begins with the header word `Zir` and its block.
bool has_header(const Cell* code) {
    if (series::rest_length(code) < 2) return false;
    const Cell* first = block::cell_at(code->w2, code->w1);
    const Cell* second = block::cell_at(code->w2, i64(code->w1) + 1);
    if (TYPE_OF(first) != TYPE_WORD || TYPE_OF(second) != TYPE_BLOCK) return false;
    return symbol::resolve(i32(first->w2)) == symbol::resolve(symbol::make("Zir"));
}

}  // namespace

void start(const u8* image, i64 length) {
    // Development switch: ZIR_BODY_PLANS=0 walks every loop round, for
    // comparing the two ways.
    if (const char* plans = getenv("ZIR_BODY_PLANS"); plans && plans[0] == '0' && !plans[1])
        interpreter::body_plans = false;
    const char* folder = getenv("ZIR_LIBRARY");
    bool from_image = !(folder && *folder);
    runtime::init(from_image);
    recording = true;
    if (from_image) load_image(image, length);
    else load_sources(library_files(folder));
    zirbin::adopt_specs = false;
    recording = false;
    collector::active = true;
    define_routines();
    function::library_bodies = true;
    run_statements();
    if (stack::pending != 0) {
        function::library_bodies = false;
        return;
    }
    finish_boot();
    function::library_bodies = false;
    if constexpr (collector::STRESS) {
        const char* given = getenv("ZIR_STRESS_SEED");
        u32 seed = given && *given ? u32(strtoul(given, nullptr, 10)) : u32(time(nullptr));
        // A period from 1 to 64 allocations: short enough that every script
        // collects in the middle of its natives, long enough to finish.
        u32 mixed = seed * 2654435761u;
        collector::stress_period = 1 + (mixed >> 26);
        fprintf(stderr, "stress seed %u (ZIR_STRESS_SEED), period %u\n", seed, collector::stress_period);
    }
}

const std::string* script_path() {
    for (size_t i = 1; i < process.args.size(); i++) {
        const std::string& a = process.args[i];
        if (a.size() > 1 && a[0] == '-') continue;
        return &a;
    }
    return nullptr;
}

void launch_console() {
    static const char text[] = "cli-console-ctx/launch";
    stack::KeepTop restore;
    eval_source(reinterpret_cast<const u8*>(text), i64(sizeof text - 1), true);
}

Cell* eval_source(const u8* text, i64 size, bool library) {
    Cell* code = stack::push_slot();
    cell::init(code, TYPE_UNSET);
    lexer::transcode(code, text, size, lexer::Options{}, nullptr, nullptr, nullptr, nullptr);
    if (library) block::mark_library(code->w2);
    if (has_header(code)) code->w1 += 2;
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    if (stack::pending == 0) {
        *code = *result;
        stack::top = code + 1;
    }
    return code;
}

Cell* do_file(const std::string& path) {
    std::vector<u8> text;
    if (!read_whole(path, &text)) {
        Cell* name = string::load_push(reinterpret_cast<const u8*>(path.data()), i64(path.size()),
                                       string::ENCODING_UTF8);
        cell::set_type(name, TYPE_FILE);
        fire(ERR_ACCESS, "cannot-open", name);
    }
    return eval_source(text.data(), i64(text.size()));
}

}  // namespace boot
}  // namespace zir
