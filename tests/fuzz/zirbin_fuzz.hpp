// Shared by the ZIRBIN decoder fuzz targets: any input ends in values or in
// the format error (or `access no-codec` for a record of a datatype without
// one), never a crash, a hang, a leak or a read past the input; whatever
// decodes encodes again, in the same form, and decodes to an equal value with
// the same sharing.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../zirbin_shape.hpp"
#include "datatypes/binary.hpp"
#include "evaluator/stack.hpp"
#include "fuzz_support.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir::fuzz {

inline bool expected_error(const LanguageError& e) {
    return std::strcmp(e.id, "zb-invalid-record") == 0 || std::strcmp(e.id, "invalid-data") == 0 ||
           std::strcmp(e.id, "no-codec") == 0;
}

// Decodes `data` as an image of the given form (the magic and the form bit
// are set so that the mutations reach the records).
inline void check_zirbin(const uint8_t* data, size_t size, bool compact) {
    setup_runtime();
    std::vector<u8> image(data, data + size);
    if (image.size() >= 8) {
        std::memcpy(image.data(), "ZIRBIN", 6);
        image[7] = u8(compact ? image[7] | 1 : image[7] & ~1);
    }
    stack::KeepTop keep;
    Cell* target = stack::push_slot();
    cell::init(target, TYPE_BLOCK);
    target->w2 = memory::alloc_cells(4);
    zirbin::codec_q = 1;
    try {
        zirbin::decode(image.data(), target, i64(image.size()));
    } catch (const LanguageError& e) {
        if (!expected_error(e)) {
            std::fprintf(stderr, "unexpected error: %s %s\n", category_name(e.category), e.id);
            std::abort();
        }
        return;
    }
    // An error is written by value: one that holds itself (made by a
    // reference path) nests without end when written again, which the
    // encoder stops with `internal too-deep`.
    Cell* again;
    try {
        again = compact ? zirbin::encode_cp(target) : zirbin::encode(target);
    } catch (const LanguageError& e) {
        if (std::strcmp(e.id, "too-deep") != 0) {
            std::fprintf(stderr, "encoding again: %s %s\n", category_name(e.category), e.id);
            std::abort();
        }
        return;
    }
    std::vector<u8> bytes = binary::bytes_of(again);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_BLOCK);
    out->w2 = memory::alloc_cells(1);
    try {
        zirbin::decode(bytes.data(), out, i64(bytes.size()));
    } catch (const LanguageError& e) {
        std::fprintf(stderr, "encoded again, the value does not decode: %s %s %d\n", category_name(e.category), e.id,
                     TYPE_OF(&e.args[0]) == TYPE_INTEGER ? i32(e.args[0].w2) : -1);
        if (FILE* f = std::fopen("zirbin-reencoded.bin", "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        std::abort();
    }
    if (block::cell_count(node_buffer(out->w2)) != 1) std::abort();
    Cell copy = *block::cell_at(out->w2, 0);
    test::Shape shape;
    if (!shape.same(target, &copy)) {
        std::fprintf(stderr, "decoded again, the value differs: %s\n", shape.why.c_str());
        std::abort();
    }
}

}  // namespace zir::fuzz
