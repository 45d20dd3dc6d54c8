// The system object's link with the runtime.
//
// The library builds the `system` object in the language (its statements
// are in environment/); what it takes from the runtime it asks of one native,
// `boot-value name`, which only the library's statements can use: start-up
// unsets its word once they have run. It answers:
//   - `errors` and `standard-error`: the error catalogue and the standard
//     error prototype that boot/catalog.cpp builds, the very objects `fire`
//     raises errors from, so `system/catalog/errors` and
//     `system/standard/error` are those values and not copies;
//   - `command-line`, `arguments`, `current-dir`, `executable`,
//     `build-date`, `words` (the global context as an object), `null-handle`:
//     values the library records;
//   - the name of a boot routine (below): a new routine! over it.
//
// The native has no slot among the natives of the language's table: it
// takes the slot after them (BOOT_SLOT), filled here at every
// initialisation, so that the boot image records it like any native and a
// script image cannot name it (the slot's spec is recorded but the word is
// gone).
//
// The other way round, the datatypes and services that need a field of the
// system object read it through their hooks, which `connect_hooks` points
// at the fields: each read looks the path up from the global word `system`
// (null when a step is missing or not an object), so a script that changes
// `system/locale/months` changes what `mold` of a date shows.
#pragma once

#include <initializer_list>
#include <string>

#include "runtime/cell.hpp"

namespace zir {
namespace boot {

constexpr i32 BOOT_SLOT = 108;

// Fills the boot native's slot and defines its word (every initialisation,
// before the specs are recorded); sets the hooks.
void define_boot_native();
// Points the hooks of the datatypes and services at the system object.
void connect_hooks();
// Start-up's end: the boot native's word loses its value, and the lexer's
// exit states are taken from `system/lexer/exit-states`.
void finish_boot();

// The value at a path of field words under `system` (spellings), or null.
// It may make symbols, so allocate: the hooks use words made beforehand.
const Cell* system_field(std::initializer_list<const char*> path);

// `system/script/args` before it is cut: the program's arguments joined by
// single blanks, each holding a blank, a tab or nothing written in double
// quotes.
std::string command_line_text();

}  // namespace boot
}  // namespace zir
