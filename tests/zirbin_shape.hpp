// Comparing a decoded value with its original: equal values with the same
// sharing. Every node of the original must correspond to exactly one node of
// the copy, so series shared (or cyclic) in one are shared alike in the
// other. Used by the ZIRBIN unit tests and fuzz targets.
#pragma once

#include <string>
#include <unordered_map>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/function.hpp"
#include "datatypes/image.hpp"
#include "datatypes/image_backend.hpp"
#include "runtime/memory.hpp"

namespace zir::test {

struct Shape {
    std::unordered_map<u32, u32> ab, ba;
    std::string why;

    bool fail(const std::string& w) {
        if (why.empty()) why = w;
        return false;
    }
    // -1: a node pairing contradicts an earlier one; 1: first seen; 0: seen.
    int pair(u32 a, u32 b) {
        auto i = ab.find(a);
        if (i != ab.end()) return i->second == b ? 0 : -1;
        if (ba.count(b)) return -1;
        ab[a] = b;
        ba[b] = a;
        return 1;
    }
    bool series_bytes(const Cell* a, const Cell* b) {
        SeriesBuffer* x = node_buffer(a->w2);
        SeriesBuffer* y = node_buffer(b->w2);
        if (series::unit_of(x) != series::unit_of(y) || series::used_bytes(x) != series::used_bytes(y) ||
            std::memcmp(series::head(x), series::head(y), series::used_bytes(x)) != 0)
            return fail("bytes differ");
        if ((x->flags ^ y->flags) & SERIES_COMPLEMENT) return fail("complement flag");
        return true;
    }
    bool cells(u32 a, u32 b) {
        i32 n = series::length_of(node_buffer(a));
        if (n != series::length_of(node_buffer(b))) return fail("cell counts");
        for (i32 i = 0; i < n; i++) {
            Cell x = *block::cell_at(a, i), y = *block::cell_at(b, i);
            if (!same(&x, &y)) return false;
        }
        return true;
    }
    bool context(u32 a, u32 b) {
        int p = pair(a, b);
        if (p < 0) return fail("context pairing");
        if (p == 0) return true;
        return context_fields(a, b);
    }
    bool context_fields(u32 a, u32 b) {
        const Cell* x = context::cell_of(a);
        const Cell* y = context::cell_of(b);
        u32 bits = context::KIND_MASK | context::ON_STACK | context::HAS_SELF;
        if ((x->header & bits) != (y->header & bits)) return fail("context flags");
        i32 n = context::word_count(x);
        if (n != context::word_count(y)) return fail("context word count");
        for (i32 i = 0; i < n; i++)
            if (context::word_at(context::cell_of(a), i)->w2 != context::word_at(context::cell_of(b), i)->w2)
                return fail("context words");
        if (x->header & context::ON_STACK) return true;
        // A context whose values are all unset is written without them: they
        // come back unset, without the new-line flags they may have had.
        bool all_unset = true;
        for (i32 i = 0; i < n && all_unset; i++) all_unset = TYPE_OF(context::value_at(context::cell_of(a), i)) == TYPE_UNSET;
        if (all_unset) {
            for (i32 i = 0; i < n; i++)
                if (TYPE_OF(context::value_at(context::cell_of(b), i)) != TYPE_UNSET) return fail("unset values");
            return true;
        }
        return cells(context::cell_of(a)->w2, context::cell_of(b)->w2);
    }
    bool same(const Cell* a, const Cell* b) {
        u32 t = TYPE_OF(a);
        if (t != TYPE_OF(b)) return fail(std::string("types ") + datatype::name_of(t) + " " + datatype::name_of(TYPE_OF(b)));
        if ((a->header ^ b->header) & FLAG_NEW_LINE) return fail("new-line flag");
        if (any_word_q(t) || t == TYPE_REFINEMENT) {
            if (a->w2 != b->w2) return fail("word symbols");
            u32 ca = zirbin_context(a), cb = zirbin_context(b);
            if ((ca == context::global) != (cb == context::global)) return fail("word binding");
            if (ca == context::global) return true;
            if (a->w3 != b->w3) return fail("word slots");
            return context(ca, cb);
        }
        if (t == TYPE_ISSUE) return a->w2 == b->w2 || fail("issue");
        if (any_block_q(t) || t == TYPE_MAP) {
            if (a->w1 != b->w1) return fail("heads");
            int p = pair(a->w2, b->w2);
            if (p < 0) return fail("series pairing");
            return p == 0 || cells(a->w2, b->w2);
        }
        if (any_text_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_BITSET) {
            if (a->w1 != b->w1 || a->w3 != b->w3) return fail("heads");
            int p = pair(a->w2, b->w2);
            if (p < 0) return fail("series pairing");
            return p == 0 || series_bytes(a, b);
        }
        if (t == TYPE_IMAGE) {
            if (a->w1 != b->w1 || a->w3 != b->w3) return fail("image head or size");
            int p = pair(a->w2, b->w2);
            if (p < 0) return fail("image pairing");
            if (p == 0 || !a->w2) return true;
            for (i64 i = 0, n = image::count_of(a); i < n; i++)
                if (image_backend::get_pixel(a->w2, i) != image_backend::get_pixel(b->w2, i)) return fail("pixels");
            return true;
        }
        if (t == TYPE_OBJECT || t == TYPE_ERROR) {
            if ((a->w3 != 0) != (b->w3 != 0)) return fail("handlers");
            // An error is written as its code and fields, never as a
            // reference: each occurrence decodes to a context of its own, so
            // one error met twice comes back as two equal ones.
            if (t == TYPE_ERROR) return context_fields(a->w1, b->w1);
            return context(a->w1, b->w1);
        }
        if (t == TYPE_FUNCTION || (t == TYPE_OP && ((a->header >> 16) & 0xFF) == TYPE_FUNCTION)) {
            if (a->header != b->header) return fail("function header");
            if (!context(a->w1, b->w1)) return false;
            int p = pair(a->w2, b->w2);
            if (p < 0) return fail("spec pairing");
            if (p > 0 && !cells(a->w2, b->w2)) return false;
            Cell x = *function::record_cell(a, function::RECORD_BODY), y = *function::record_cell(b, function::RECORD_BODY);
            return same(&x, &y);
        }
        if (t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP) {
            if (a->header != b->header || a->w1 != b->w1) return fail("native");
            int p = pair(a->w2, b->w2);
            if (p < 0) return fail("spec pairing");
            return p == 0 || cells(a->w2, b->w2);
        }
        if (a->header != b->header || a->w1 != b->w1 || a->w2 != b->w2 || a->w3 != b->w3)
            return fail(std::string("payload of ") + datatype::name_of(t));
        return true;
    }
    static u32 zirbin_context(const Cell* w) {
        u32 ctx = w->w1;
        if (!ctx) return context::global;
        u32 owner = TYPE_OF(context::owner_of(ctx));
        return owner == TYPE_OBJECT || owner == TYPE_FUNCTION ? ctx : context::global;
    }
};

}  // namespace zir::test
