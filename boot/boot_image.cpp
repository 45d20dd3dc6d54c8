// The boot image: see boot_image.hpp.
#include "boot/boot_image.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "boot/roots.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace boot {

i32 statement_roots = 0;

namespace {

bool read_file(const std::string& path, std::vector<u8>* out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    u8 chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) out->insert(out->end(), chunk, chunk + n);
    close(fd);
    return n == 0;
}

// A library file's values as a block pushed on the stack.
Cell* load_file(const std::string& path) {
    std::vector<u8> text;
    if (!read_file(path, &text)) {
        Cell* name = string::load_push(reinterpret_cast<const u8*>(path.data()), i64(path.size()),
                                       string::ENCODING_UTF8);
        cell::set_type(name, TYPE_FILE);
        fire(ERR_ACCESS, "cannot-open", name);
    }
    Cell* code = stack::push_slot();
    cell::init(code, TYPE_UNSET);
    lexer::transcode(code, text.data(), i64(text.size()), lexer::Options{}, nullptr, nullptr, nullptr, nullptr);
    return code;
}


// The words the runtime defines from its own tables, with their values: the
// datatypes, actions and natives, in that order.
void push_definitions(Cell* sets) {
    u32 global = context::global;
    const Cell* ctx = context::cell_of(global);
    i32 n = context::word_count(ctx);
    for (i32 i = 0; i < n; i++) {
        ctx = context::cell_of(global);
        Cell value = *context::value_at(ctx, i);
        u32 t = TYPE_OF(&value);
        if (t != TYPE_DATATYPE && t != TYPE_ACTION && t != TYPE_NATIVE) continue;
        Cell word = *context::word_at(ctx, i);
        cell::set_type(&word, TYPE_SET_WORD);
        block::zs_append(sets, &word);
        block::zs_append(sets, &value);
    }
}

[[noreturn]] void refuse(const char* why) {
    console::write_c_string(why);
    console::write_c_string("\n");
    ZIR_FAULT(runtime::FAULT_BAD_BOOT_IMAGE);
}

}  // namespace

void record_own_specs() {
    zirbin::init_state();
    const Cell* ctx = context::cell_of(context::global);
    i32 n = context::word_count(ctx);
    for (i32 i = 0; i < n; i++) {
        const Cell* v = context::value_at(ctx, i);
        u32 t = TYPE_OF(v);
        if (t == TYPE_ACTION || t == TYPE_NATIVE) zirbin::set_own_spec(t, i32(v->w1), v->w2);
    }
}

std::vector<std::string> library_files(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zir") == 0) files.push_back(folder + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

Cell* make_image(const std::vector<std::string>& files) {
    Cell* sets = stack::push_slot();
    cell::init(sets, TYPE_UNSET);
    block::make_at(sets, 512);
    push_definitions(sets);
    Cell* roots = stack::push_slot();
    cell::init(roots, TYPE_UNSET);
    block::make_at(roots, i64(files.size()));
    for (const std::string& f : files) {
        stack::KeepTop keep;
        Cell* code = load_file(f);
        block::zs_append(roots, code);
    }
    // Left unpacked: the program maps it from its read-only data as it is
    // read, where unpacking cost a tenth of a start-up (the image is a few
    // hundred kilobytes of a binary of megabytes).
    Cell image = *zirbin::encode_boot(sets, roots);
    *sets = image;
    stack::top = sets + 1;
    return sets;
}

void load_image(const u8* image, i64 length) {
    if (length < zirbin::HEADER_SIZE || std::memcmp(image, "ZIRBIN", 6) != 0) refuse("Error: Not a Zirbin file!");
    zirbin::codec_q = 0;
    Cell target;
    cell::init(&target, TYPE_BLOCK);
    target.w2 = root_block;
    i32 before = block::cell_count(node_buffer(root_block));
    try {
        root_base = zirbin::decode(image, &target, length);
    } catch (const LanguageError& e) {
        // A packed body that does not unpack is refused before any record.
        if ((image[7] & zirbin::FLAG_COMPRESSED) && std::strcmp(e.id, "invalid-data") == 0)
            refuse("Error: Zirbin compressed data corrupted!");
        interpreter::report_uncaught(e);
        refuse("Error: the boot image does not decode");
    }
    statement_roots = block::cell_count(node_buffer(root_block)) - before;
    for (i32 k = 0; k < statement_roots; k++) {
        const Cell* c = get_root(k);
        if (TYPE_OF(c) != TYPE_BLOCK) refuse("Error: the boot image holds a value that is not a statement block");
        block::mark_library(c->w2);
    }
}

void load_sources(const std::vector<std::string>& files) {
    root_base = block::cell_count(node_buffer(root_block));
    statement_roots = 0;
    for (const std::string& f : files) {
        stack::KeepTop keep;
        Cell* code = load_file(f);
        block::mark_library(code->w2);
        append_root(code);
        statement_roots++;
    }
}

void run_statements() {
    for (i32 k = 0; k < statement_roots; k++) {
        stack::KeepTop keep;
        Cell code = *get_root(k);
        interpreter::eval_block(&code, false);
        if (stack::pending != 0) return;
    }
}

}  // namespace boot
}  // namespace zir
