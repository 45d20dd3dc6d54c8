// ZIRBIN: the binary serialisation of values.
//
// One container carries either of two record encodings: the fixed-width form,
// in which every field is a 32-bit word (zirbin_fixed.cpp), and the compact
// form of single bytes and LEB128 varints (zirbin_compact.cpp). The container
// (zirbin.cpp) is a 6-byte magic "ZIRBIN", a version byte, a flags byte (bit 0
// compact, bit 1 LZ77-packed body, bit 2 symbol table), then the body: root
// count, record-area size, the optional table of symbol spellings, and one
// record per root value.
//
// Series, objects and functions met twice are written once; later meetings
// are references: the path of record positions, one per nesting level, that
// leads from the first root value to the first meeting. Words, objects and
// functions of the global context are never referred to that way.
//
// Decoding reads untrusted data: every count, index and offset is checked
// against the bytes left before it is used or decides an allocation, a
// reference must lead to a value of a fitting kind, and any fault raises
// `script zb-invalid-record` with the 1-based byte offset of the fault in the
// image. Values of datatypes that have no record raise `access no-codec`.
//
// Boot mode (`codec_q` 0) reads the boot image at start-up: SET pairs (a
// global word given the value that follows; neither stays in the target)
// and words bound by root index (a context of an earlier root value; slot
// -1 is looked up by the word's symbol). Object records keep their class ids.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace zirbin {

constexpr u8 FLAG_COMPACT = 1;
constexpr u8 FLAG_COMPRESSED = 2;
constexpr u8 FLAG_SYMBOLS = 4;
constexpr u8 VERSION = 2;
constexpr i64 HEADER_SIZE = 8;

// 0 while the boot image is decoded, 1 once any run-time encode or decode has
// started; the record decoders choose their handling of words, SET pairs and
// native specs by it.
extern u32 codec_q;

// The deepest nesting of records either direction accepts. Encoding deeper
// raises `internal too-deep`; decoding deeper is an invalid record. (The
// walk recurses on the C++ stack.)
constexpr i32 MAX_DEPTH = 1024;

// The longest reference path.
constexpr u32 MAX_PATH = 65536;

// --- Encoding -----------------------------------------------------------------

// The fixed-width and compact images of one value, as a binary! pushed on the
// value stack. Values of datatypes without a record (routine!, triple!,
// handle!, port!, event!, a bare context!, an op! made from a routine!)
// raise `access no-codec` with the value.
Cell* encode(const Cell* value);
Cell* encode_cp(const Cell* value);

// A boot image in the compact form: the SET pairs of `sets` (a block of
// set-word and value pairs, the words global), then every value of `roots`
// as a root value. The values of the pairs must not be referred to by the
// roots. Pushed as a binary!.
Cell* encode_boot(const Cell* sets, const Cell* roots);

// The image with its body packed by LZ77 (flag bit 1), pushed; when the body
// does not pack smaller (or is under 128 bytes) a copy of the image as it is.
// For images written to files or sent; the boot image stays unpacked.
Cell* pack(const Cell* image);

// --- Decoding -----------------------------------------------------------------

// Decodes the image of `length` bytes at `image` and appends its root values
// to `target`, a block cell that does not move (a stack cell or a root). The
// image must not lie in a collector buffer (which any allocation may move).
// `length` -1 reads without a known end, bounded only by the record area's
// own size: for the boot image only. The caller has set `codec_q`. Answers
// the cell index (from the block's first cell) of the first root value.
// `subject` is the argument of `script invalid-data` (a wrong magic, a body
// that does not unpack); null gives none.
i32 decode(const u8* image, Cell* target, i64 length, const Cell* subject = nullptr);

// The codec's decode: sets `codec_q` to 1 and decodes the bytes of a binary!
// from its head. The binary's buffer moves at any allocation, so the bytes
// are read from a private copy.
i32 decode_binary(const Cell* binary, Cell* target);

// --- What native! and action! records are checked against ----------------------

// The spec block that the native (TYPE_NATIVE) or action (TYPE_ACTION)
// numbered `slot` was defined with. Start-up records it as it defines each
// native and action; a decoded native! or action! must have a spec equal to
// its own, so that its arguments are what the entry expects. 0: none.
void set_own_spec(u32 type, i32 slot, u32 spec);
// Forgets the encoder's table and the recorded specs: for a fresh memory,
// whose nodes they no longer name.
void init_state();
u32 own_spec(u32 type, i32 slot);
// Start-up from the program's own image: a native! or action! of a slot that
// has no recorded spec takes the one the image gives (boot mode only), so
// the image is the source of those words and no spec text is read.
extern bool adopt_specs;

}  // namespace zirbin
}  // namespace zir
