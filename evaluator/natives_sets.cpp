// The set-operation natives (union, intersect, unique, difference, exclude)
// and the text-encoding natives (dehex, enhex, debase, enbase).
//
// Each checks its arguments and hands the work to the datatype that owns it:
// the set operations of block!/hash! (block_sort.cpp), string!, bitset!,
// typeset! and date!, the percent coding of url_percent.cpp and the base
// codecs of binary_codecs.cpp. Results go to the first argument cell.
#include <string>

#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block_sort.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/time.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/url.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"

namespace zir {
namespace natives {

namespace {

// --- Set operations ----------------------------------------------------------------

bool block_like_q(u32 t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// The shared core: the sets are the first two argument cells (one for
// unique); `r` holds the positions of /case and /skip.
void set_op(const i32* r, i32 op) {
    Cell* set1 = stack::arguments;
    Cell* set2 = set1 + 1;
    u32 t1 = TYPE_OF(set1);
    if (op != block::SET_UNIQUE) {
        u32 t2 = TYPE_OF(set2);
        bool agree = block_like_q(t1) ? block_like_q(t2) : t1 == t2;
        if (!agree) {
            Cell a, b;
            datatype::make_at(&a, t1);
            datatype::make_at(&b, t2);
            fire(ERR_SCRIPT, "expect-val", &a, &b);
        }
    }
    bool case_ = r[0] != -1;
    const Cell* skip = r[1] >= 0 ? stack::arguments + r[1] : nullptr;
    switch (t1) {
        case TYPE_BLOCK:
        case TYPE_HASH: block::do_set_op(case_, skip, op); break;
        case TYPE_STRING: string::do_set_op(case_, skip, op); break;
        case TYPE_BITSET: bitset::do_bitwise(op); break;
        case TYPE_TYPESET:
            // unique of a typeset is the typeset itself.
            if (op != block::SET_UNIQUE) typeset::do_bitwise(op);
            break;
        case TYPE_DATE:
            if (op == block::SET_DIFFERENCE) {
                double seconds = date::difference(set1, set2);
                time::make_at(set1, seconds);
                break;
            }
            [[fallthrough]];
        default: {
            // Only a caller that skipped the type check gets here.
            Cell a;
            datatype::make_at(&a, t1);
            fire(ERR_SCRIPT, "invalid-arg", &a);
        }
    }
    stack::keep();
}

template <i32 Slot, i32 Op>
i32 set_native(i32 check, const i32* r) {
    if (check) check_args(Slot, r);
    set_op(r, Op);
    return 0;
}

// --- Percent coding ----------------------------------------------------------------

i32 dehex(i32 check, const i32* r) {
    if (check) check_args(47, r);
    Cell* value = stack::arguments;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, i64(series::rest_length(value)) + 1, 1);
    url::decode(value, out);
    stack::set_last(out);
    stack::keep();
    return 0;
}

i32 enhex(i32 check, const i32* r) {
    if (check) check_args(48, r);
    Cell* value = stack::arguments;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, i64(series::rest_length(value)) + 1, 1);
    url::encode(value, out, TYPE_OF(value) == TYPE_STRING ? url::ENCODE_STRICT : url::ENCODE_WIDE);
    stack::set_last(out);
    stack::keep();
    return 0;
}

// --- Base codecs -------------------------------------------------------------------

// The base of debase and enbase: the /base argument, else 64.
i32 base_of(const i32* r) {
    if (r[0] <= 0) return 64;
    const Cell* b = stack::arguments + r[0];
    if (TYPE_OF(b) != TYPE_INTEGER) fire(ERR_SCRIPT, "invalid-arg", b);
    return integer::get(b);
}

i32 debase(i32 check, const i32* r) {
    if (check) check_args(84, r);
    i32 base = base_of(r);
    Cell* value = stack::arguments;
    if (!any_text_q(TYPE_OF(value))) fire(ERR_SCRIPT, "invalid-arg", value);
    SeriesBuffer* s = series::buffer_of(value);
    u32 unit = series::unit_of(s);
    i64 count = series::rest_length(value);
    const u8* text = series::element_at(s, count > 0 ? series::head_index(value) : 0);
    u32 node;
    // The decoders read the text before they allocate.
    switch (base) {
        case 16: node = binary::decode_16(text, count, unit); break;
        case 2: node = binary::decode_2(text, count, unit); break;
        case 58: node = binary::decode_58(text, count, unit); break;
        case 64: node = binary::decode_64(text, count, unit); break;
        default: fire(ERR_SCRIPT, "invalid-arg", stack::arguments + r[0]);
    }
    Cell* out = stack::arguments;
    if (node) {
        cell::init(out, TYPE_BINARY);
        out->w1 = 0;
        out->w2 = node;
    } else {
        cell::init(out, TYPE_NONE);
    }
    stack::keep();
    return 0;
}

i32 enbase(i32 check, const i32* r) {
    if (check) check_args(91, r);
    i32 base = base_of(r);
    if (base != 2 && base != 16 && base != 58 && base != 64) fire(ERR_SCRIPT, "invalid-arg", stack::arguments + r[0]);
    Cell* value = stack::arguments;
    std::string bytes;
    if (TYPE_OF(value) == TYPE_BINARY) {
        i32 n = series::rest_length(value);
        const u8* p = series::element_at(series::buffer_of(value), series::head_index(value));
        bytes.assign(reinterpret_cast<const char*>(p), size_t(n));
    } else if (any_text_q(TYPE_OF(value))) {
        bytes = string::to_std(value);
    } else {
        fire(ERR_SCRIPT, "invalid-arg", value);
    }
    i64 room = binary::encoded_room(base, i64(bytes.size()));
    if (room > MAX_LENGTH - 15) fire(ERR_SCRIPT, "too-long");
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, room + 1, 1);
    SeriesBuffer* s = series::buffer_of(out);
    u8* start = series::head(s);
    const u8* in = reinterpret_cast<const u8*>(bytes.data());
    i64 n = i64(bytes.size());
    u8* end = base == 64   ? binary::encode_64(start, in, n)
              : base == 58 ? binary::encode_58(start, in, n)
              : base == 16 ? binary::encode_16(start, in, n)
                           : binary::encode_2(start, in, n);
    s->tail = s->offset + u32(end - start);
    stack::set_last(out);
    stack::keep();
    return 0;
}

}  // namespace

void fill_sets(action::Generic* slots) {
    auto put = [&](i32 slot, Entry e) { slots[slot - 1] = reinterpret_cast<action::Generic>(e); };
    put(41, set_native<41, block::SET_UNION>);
    put(42, set_native<42, block::SET_INTERSECT>);
    put(43, set_native<43, block::SET_UNIQUE>);
    put(44, set_native<44, block::SET_DIFFERENCE>);
    put(45, set_native<45, block::SET_EXCLUDE>);
    put(47, dehex);
    put(48, enhex);
    put(84, debase);
    put(91, enbase);
}

}  // namespace natives
}  // namespace zir
