// Writes the seed inputs of the ZIRBIN and LZ77 fuzz targets:
//   zir-tool-zirbin_seeds DIR
// fills DIR/zirbin_fixed, DIR/zirbin_compact and DIR/lz77 with images of
// values of every kind the decoders read (plain and packed) and LZ77 streams.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "loader/lz77.hpp"
#include "loader/zirbin.hpp"
#include "runtime/hash_table.hpp"

using namespace zir;

namespace {

Cell* push_block() {
    Cell* b = stack::push(&unset::value);
    cell::init(b, TYPE_BLOCK);
    b->w2 = memory::alloc_cells(4);
    return b;
}

void append(Cell* b, const Cell* v) { *memory::alloc_tail(b) = *v; }

Cell* scalar(u32 type, u32 w1, u32 w2, u32 w3) {
    Cell* c = stack::push(&unset::value);
    cell::init(c, type);
    c->w1 = w1, c->w2 = w2, c->w3 = w3;
    return c;
}

Cell* text(const char* s, u32 type = TYPE_STRING) {
    Cell* c = stack::push(&unset::value);
    cell::init(c, TYPE_UNSET);
    string::make_at(c, 16, 1);
    string::append_utf8(c, reinterpret_cast<const u8*>(s), i64(std::strlen(s)));
    cell::set_type(c, type);
    return c;
}

void write(const std::filesystem::path& dir, const std::string& name, const std::vector<u8>& bytes) {
    std::filesystem::create_directories(dir);
    FILE* f = std::fopen((dir / name).c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zir-tool-zirbin_seeds DIR\n");
        return 2;
    }
    std::filesystem::path dir = argv[1];
    runtime::init();
    std::vector<std::pair<std::string, Cell*>> values;

    values.push_back({"none", scalar(TYPE_NONE, 0, 0, 0)});
    Cell* scalars = push_block();
    append(scalars, scalar(TYPE_INTEGER, 0, 64, 0));
    append(scalars, scalar(TYPE_INTEGER, 0, u32(-5), 0));
    Cell* f = scalar(TYPE_FLOAT, 0, 0, 0);
    cell::set_float(f, 2.5);
    append(scalars, f);
    cell::set_float(f, 2.0);
    append(scalars, f);
    Cell* pct = scalar(TYPE_PERCENT, 0, 0, 0);
    cell::set_float(pct, 0.5);
    append(scalars, pct);
    append(scalars, scalar(TYPE_CHAR, 0, 0x1F600, 0));
    append(scalars, scalar(TYPE_PAIR, 0, 3, u32(-4)));
    append(scalars, scalar(TYPE_TUPLE | (4u << 19), 0x04030201, 0, 0));
    append(scalars, scalar(TYPE_TYPESET, 0x40, 0x1, 0));
    append(scalars, scalar(TYPE_DATE, (2024u << 17) | (3u << 12) | (5u << 7), 0, 0));
    append(scalars, scalar(TYPE_MONEY, 0x12340000, 0x5, 0));
    append(scalars, scalar(TYPE_LOGIC, 1, 0, 0));
    append(scalars, scalar(TYPE_DATATYPE, TYPE_BLOCK, 0, 0));
    append(scalars, scalar(TYPE_POINT3D, 1, 2, 3));
    values.push_back({"scalars", scalars});

    Cell* texts = push_block();
    append(texts, text("abc"));
    append(texts, text("wide \xE4\xB8\xAD text", TYPE_FILE));
    append(texts, text("emoji \xF0\x9F\x98\x80", TYPE_TAG));
    append(texts, binary::load(reinterpret_cast<const u8*>("\x01\x02\xFF"), 3));
    append(texts, word::load("zz-seed-word"));
    Cell* issue = word::load("zz-issue");
    cell::set_type(issue, TYPE_ISSUE);
    append(texts, issue);
    values.push_back({"texts", texts});

    // The shared inner block of two cells.
    Cell* inner = push_block();
    append(inner, scalar(TYPE_INTEGER, 0, 1, 0));
    Cell* outer = push_block();
    append(outer, inner);
    append(outer, inner);
    append(outer, outer);
    values.push_back({"shared", outer});

    // An object, a word bound to it, a function and an error.
    Cell* obj = stack::push(&unset::value);
    cell::init(obj, TYPE_UNSET);
    object::make_at(obj, 2);
    context::put(obj->w1, symbol::make("field"), text("value"));
    context::put(obj->w1, symbol::make("self-ref"), obj);
    Cell* w = stack::push(&unset::value);
    cell::init(w, TYPE_UNSET);
    cell::init(w, TYPE_WORD);
    w->w1 = obj->w1, w->w2 = u32(symbol::make("field")), w->w3 = 0;
    Cell* spec = push_block();
    append(spec, word::load("a"));
    append(spec, word::load("b"));
    Cell* body = push_block();
    append(body, word::load("a"));
    append(body, word::load("zz-global"));
    function::push(spec, body, 0, 0, 0, 0);
    Cell* fn = stack::top - 1;
    Cell* err = stack::push(&unset::value);
    cell::init(err, TYPE_UNSET);
    cell::init(err, TYPE_UNSET);
    error::make_at(err, ERR_SCRIPT, 3, nullptr, 0);
    Cell* mixed = push_block();
    for (Cell* v : {w, obj, w, fn, fn, err}) append(mixed, v);
    Cell* m = push_block();
    append(m, scalar(TYPE_INTEGER, 0, 1, 0));
    append(m, text("one"));
    m->w3 = hash_table::init(1, m->w2, hash_table::MAP, 0);
    cell::set_type(m, TYPE_MAP);
    append(mixed, m);
    values.push_back({"contexts", mixed});

    std::vector<u8> corpus;
    for (auto& [name, v] : values) {
        for (bool compact : {false, true}) {
            Cell* image = compact ? zirbin::encode_cp(v) : zirbin::encode(v);
            std::filesystem::path sub = dir / (compact ? "zirbin_compact" : "zirbin_fixed");
            write(sub, name, binary::bytes_of(image));
            Cell* big = push_block();
            for (int i = 0; i < 8; i++) append(big, v);
            std::vector<u8> packed = binary::bytes_of(zirbin::pack(compact ? zirbin::encode_cp(big) : zirbin::encode(big)));
            write(sub, name + "-packed", packed);
            std::vector<u8> plain = binary::bytes_of(compact ? zirbin::encode_cp(big) : zirbin::encode(big));
            corpus.insert(corpus.end(), plain.begin() + 8, plain.end());
        }
    }
    // An outer block holding one inner block twice, the second time as a reference.
    write(dir / "zirbin_compact", "example", {'Z', 'I', 'R', 'B', 'I', 'N', 2, 1, 1, 10, 5, 2, 5, 1, 0x81, 0xC1, 5, 2, 0, 0});

    std::vector<u8> out(corpus.size());
    i64 n = lz77::compress(corpus.data(), i64(corpus.size()), out.data());
    if (n > 0) write(dir / "lz77", "records", std::vector<u8>(out.begin(), out.begin() + n));
    std::vector<u8> run(5000, 'a');
    out.assign(run.size(), 0);
    n = lz77::compress(run.data(), i64(run.size()), out.data());
    if (n > 0) write(dir / "lz77", "run", std::vector<u8>(out.begin(), out.begin() + n));
    return 0;
}
