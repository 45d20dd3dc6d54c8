// ZIRBIN: what the container (zirbin.cpp) shares with the two record forms
// (zirbin_compact.cpp, zirbin_fixed.cpp). Not for other modules.
#pragma once

#include <string_view>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "evaluator/stack.hpp"
#include "loader/zirbin.hpp"
#include "runtime/memory.hpp"

namespace zir {
namespace zirbin {

// --- Encoder state --------------------------------------------------------------
//
// The record area, the symbol table being built, and what the sharing step
// needs: the index of the next record within its nesting level, the counters
// of the enclosing levels, and the reference path of every series, object and
// function already written (a node-keyed table whose entries point into the
// path store). The record area and the tables are plain buffers: nothing of
// the encoder lives in the collector's frames but the node table, so walking
// the value allocates only when that table grows.

struct Encoder {
    std::vector<u8> out;
    u32 index = 0;
    std::vector<u32> levels;
    std::vector<u32> paths;          // per entry: count, then the indexes
    std::vector<i32> symbols;        // symbol ids, in table order
    std::vector<u8> strings;         // the string area
    std::vector<u32> offsets;        // fixed form: each spelling's offset
    bool fixed = false;
    i32 depth = 0;
};

// Raises `access no-codec` with the value, after the encoder's state is reset.
[[noreturn]] void fire_no_codec(const Cell* value);

// The table index of a symbol, added to the table on first use.
u32 symbol_index(Encoder& e, i32 symbol);

// The sharing step. `key` is the series node, or the context node of a word,
// object or function. Answers true when the key was written before (the
// record is then a reference, whose path `shared_path` gives); otherwise a
// level is opened and the current path recorded for the key (`opened`).
struct Share {
    bool shared = false;
    bool opened = false;
    u32 path = 0;   // offset of the path entry in the path store
};
Share share(Encoder& e, u32 key);
// After the record: a recorded key's level is closed.
void close_share(Encoder& e, const Share& s);
// Opens a level and records the path of a key whatever it is (error!).
Share open_level(Encoder& e, u32 key);

// Depth guard of the recursive walks.
struct EncodeDepth {
    Encoder& e;
    explicit EncodeDepth(Encoder& enc);
    ~EncodeDepth() { e.depth--; }
};

// The context a word is written against: its own, or the global context
// when unbound or when its context has no object or function owner.
u32 word_context(const Cell* word);

// The record writers of each form.
void encode_value_cp(Encoder& e, const Cell* value);
void encode_value_fixed(Encoder& e, const Cell* value);
// A boot image's SET pair: the word is given the value as the image is read.
void encode_set_pair_cp(Encoder& e, const Cell* word, const Cell* value);

// --- Decoder state ----------------------------------------------------------------

struct Decoder {
    const u8* start = nullptr;      // where offsets are counted from
    i64 start_offset = 0;           // added to them (a packed body counts from its image)
    const u8* end = nullptr;        // end of the record area
    const u8* records = nullptr;    // its start: the fixed form pads data to words from there
    Cell* target = nullptr;         // the block receiving root values
    i32 root_base = 0;              // its cell count before decoding: path index 0
    bool boot = false;              // boot mode
    bool fixed = false;
    // The symbol table: N offsets (32-bit) and S bytes of NUL-ended spellings.
    const u8* table = nullptr;
    u32 table_count = 0;
    const u8* strings = nullptr;
    u32 strings_size = 0;
    std::vector<i32> symbols;       // interned ids by table index, 0 until used
    std::vector<i32> global_slots;  // slot of the entry's global word, -1 until used
    // Bytes that records announced but not yet begun need at least: every
    // count that decides an allocation is checked against the bytes left
    // less these, so the cells allocated never outnumber the input's bytes.
    i64 pending = 0;
    i32 min_record = 1;             // bytes of the smallest record
    i32 depth = 0;
    std::vector<u32> path;
};

[[noreturn]] void fire_invalid(const Decoder& d, const u8* at);
// The bytes at and after `at` that no announced record needs.
inline i64 room(const Decoder& d, const u8* at) { return (d.end - at) - d.pending; }

struct DecodeDepth {
    Decoder& d;
    DecodeDepth(Decoder& dec, const u8* at) : d(dec) {
        if (d.depth >= MAX_DEPTH) fire_invalid(d, at);
        d.depth++;
    }
    ~DecodeDepth() { d.depth--; }
};

// The symbol of table entry `index`, interned on first use.
i32 symbol_at(Decoder& d, u32 index, const u8* at);

// Follows the path in `d.path` from the first root value; the target is
// copied into `out`.
void resolve_path(Decoder& d, Cell* out, const u8* at);

// Storage kinds: a shared series record may take the buffer of a value of
// the same kind only.
bool shareable_q(u32 record_type, const Cell* target);
// The cell a shared series record appends: the target's buffer with the
// record's head and, for block-likes, text and binary!, the record's type.
void shared_series(Cell* out, u32 record_type, const Cell* target, u32 head);

// Value builders shared by both forms. Each writes into `out`, a cell that
// does not move; the caller appends it.
// A series of `type` with room for `n` cells (block-likes, hash!, map!).
void make_cells(Cell* out, u32 type, i64 n);
// Indexes a hash! or map! block once its cells are decoded.
void index_cells(Decoder& d, Cell* value, const u8* at);
// A text series of `count` units at `unit` bytes, copied from `bytes`.
void make_text(Decoder& d, Cell* out, u32 type, const u8* bytes, i64 count, u32 unit, const u8* at);
void make_vector(Decoder& d, Cell* out, u32 elem_type, u32 size, const u8* bytes, i64 count, const u8* at);
constexpr i64 MAX_BITSET_BYTES = 2147483640 / 8;
void make_bitset(Decoder& d, Cell* out, const u8* bytes, i64 n, bool complement, const u8* at);
// image!: the pixels as four bytes each (the pixel words' memory, B G R A),
// pushed as a binary!, and an image of a size made from such bytes.
Cell* image_pixels(const Cell* image, i32* width, i32* height);
void make_image(Decoder& d, Cell* out, i64 width, i64 height, const u8* pixels, const u8* at);
void make_date(Decoder& d, Cell* out, u32 date, u32 time_high, u32 time_low, const u8* at);
void make_money(Decoder& d, Cell* out, const u8* bytes12, bool negative, const u8* at);
void make_datatype(Decoder& d, Cell* out, u32 id, const u8* at);
void make_char(Decoder& d, Cell* out, u32 cp, const u8* at);
// The error of a code, in `out`; the caller decodes its six fields.
void make_error(Decoder& d, Cell* out, u32 code, const u8* at);

// Contexts: a new context of `n` words with the header bits of a context
// body, checked against the owner kind it is made for (TYPE_OBJECT,
// TYPE_FUNCTION, or TYPE_CONTEXT for a bare one).
u32 new_context(Decoder& d, u32 owner_type, u32 kind, bool on_stack, bool self, u32 n, const u8* at);
// Adds a word; after the last one the word count must be the stated count
// (a word given twice would leave values without their word).
void add_context_word(u32 ctx, i32 symbol);
void check_word_count(Decoder& d, u32 ctx, u32 n, const u8* at);

// A word cell bound to the global context.
void make_global_word(Cell* out, u32 type, i32 symbol);
// The same for the word of symbol table entry `index`. Global words are
// never removed, so the slot the first meeting finds (or adds) is kept for
// the entry's later meetings: an image names the same words again and again.
// The first meeting (checked, interned, looked up) is out of line.
void first_global_word_at(Decoder& d, Cell* out, u32 type, u32 index, const u8* at);
inline void global_word_at(Decoder& d, Cell* out, u32 type, u32 index, const u8* at) {
    // A slot is kept only for an entry already checked and interned.
    if (index < d.table_count && d.global_slots[index] >= 0) {
        cell::init(out, type);
        out->w1 = context::global;
        out->w2 = u32(d.symbols[index]);
        out->w3 = u32(d.global_slots[index]);
        return;
    }
    first_global_word_at(d, out, type, index, at);
}
// Binds a word cell to a context at a slot, checking the slot (-1: looked up
// when used) against the context's words.
void bind_word(Decoder& d, Cell* word, u32 ctx, i32 slot, const u8* at);
// The context a shared word takes from its reference's target.
u32 context_of_target(Decoder& d, const Cell* target, const u8* at);
// The object! or function! (type) a shared reference stands for: the owner of
// its target's context, or the function an operator was made from.
Cell shared_owner(Decoder& d, const Cell* target, u32 type, const u8* at);

// native! and action!: the value of a slot and its decoded spec, checked.
void make_native(Decoder& d, Cell* out, u32 type, u32 slot, const Cell* spec, const u8* at);
// A slot that has an entry, an own spec and the usual calling convention.
void check_native_slot(Decoder& d, u32 type, u32 slot, const u8* at);
// op!: the wrapped value decoded in `cell` becomes an operator.
void make_op(Decoder& d, Cell* cell, const u8* at);

// function!: the value over a new function context, an empty spec and a record
// whose body is empty; `finish_function` checks the spec against the context
// once both blocks are decoded.
void make_function(Cell* out, u32 ctx);
void finish_function(Decoder& d, Cell* fn, u32 place_node, i32 place_index, const u8* at);
// object!: the value over its context, with a fresh class id at run time.
void make_object(Decoder& d, Cell* out, u32 ctx, i32 class_id);
// Installs the change handlers an object's fields define.
void install_handlers(Decoder& d, Cell* object, const u8* at);

// Makes room for `n` more cells in a block before they are decoded into it.
void reserve_cells(u32 node, i64 n);
// The number of cells of a block series from its first cell.
inline i32 cell_total(u32 node) { return series::length_of(node_buffer(node)); }

// Where a decoded value sits, to be updated once more of it is known.
struct Place {
    u32 node = 0;   // the block it was appended to (0: not appended)
    i32 index = 0;
    Cell* at() const { return block::cell_at(node, index); }
};

inline Place append(Cell* target, const Cell* v, bool new_line) {
    Place place{target->w2, cell_total(target->w2)};
    Cell* c = memory::alloc_tail(target);
    *c = *v;
    if (new_line) c->header |= FLAG_NEW_LINE;
    else c->header &= ~FLAG_NEW_LINE;
    return place;
}

// A new stack cell, unset at once: the collector may look at it before it is
// written.
inline Cell* push_unset() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    return c;
}

// A block cell over a node, pushed: a target records are decoded into.
inline Cell* block_target(u32 node) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_BLOCK);
    b->w2 = node;
    return b;
}

// The record decoders of each form: one record at `p`, its value appended
// to `target` (a block cell that does not move); answer the position after it.
const u8* decode_value_cp(Decoder& d, const u8* p, Cell* target);
const u8* decode_value_fixed(Decoder& d, const u8* p, Cell* target);

}  // namespace zirbin
}  // namespace zir
