// Unicode conversions between UTF-8, UTF-16 and the three string widths.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace unicode {

// Bytes of the UTF-8 encoding of a code point (1..4); above 0x10FFFF raises
// `script invalid-char`.
int cp_utf8_size(u32 cp);

// Writes the UTF-8 encoding of a code point and answers its length. Surrogate
// code points are encoded like any other; above 0x10FFFF raises `script invalid-char`.
int cp_to_utf8(u32 cp, u8* out);

}  // namespace unicode
}  // namespace zir
