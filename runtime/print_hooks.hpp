// Print hooks: every string the language prints is handed to the string hooks
// (the first of which writes it to the console); encoded text written below
// the language goes to the byte hooks. Other modules add hooks to observe or
// capture output.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace print_hooks {

using StringHook = void (*)(const Cell* string, bool new_line);
using ByteHook = void (*)(const u8* text, u32 length, bool new_line);

void init();
void add(StringHook s, ByteHook b);
void remove(StringHook s, ByteHook b);
void call_string_hooks(const Cell* string, bool new_line);
void call_byte_hooks(const u8* text, u32 length, bool new_line);

// The default string hook: writes the string from its head to the console.
void console_printer(const Cell* string, bool new_line);

}  // namespace print_hooks
}  // namespace zir
