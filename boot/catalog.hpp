// The error catalogue and the standard error prototype.
//
// Every language error names a category and an id (`script no-value`); the
// catalogue gives its numeric code and the template of its message. It is an
// object with one field per category, in code order (throw, note, syntax,
// script, math, access, reserved1, reserved2, user, internal); each holds a
// category object whose fields are `code` (100 times the category's
// position), `type` (the title of its reports, "Script Error") and then one
// field per id, whose value is its template: a string!, or a block! of
// strings and the words of error fields (`:arg1`, or `arg1` in the internal
// category), or, for `user message`, the word `arg1` alone. An error's code is
// its category's code plus the id's position among the ids.
//
// The standard error prototype is the object every error! copies: the fields
// code, type, id, arg1, arg2, arg3, near, where, stack and files, all none.
//
// Both are built at start-up from the table below, the one definition of the
// catalogue. They will be the fields `errors` of `system/catalog` and `error`
// of `system/standard` once the system object is built; this module then
// stays their maker.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace catalog {

// One id: its spelling and its template, written compactly: a text is a
// string!; "[a|b|...]" is a block! of the items a, b ...; an item (or the
// whole template) ":name" is a get-word!, "@name" a word!, anything else a
// string!.
struct Id {
    const char* name;
    const char* message;
};

struct Category {
    const char* name;
    const char* title;
    const Id* ids;
    i32 count;
};

constexpr i32 CATEGORIES = 10;
extern const Category categories[CATEGORIES];

// The catalogue object and the standard error prototype (none! before
// start-up builds them).
const Cell* errors();
const Cell* standard_error();
bool ready_q();

// The position (0-based) of an id among its category's ids, or -1.
i32 find_id(u32 category, const char* id);
// The category's position in the catalogue by its word (letter-case twins
// match), or -1; the id's position in a category, or -1.
i32 find_category(const Cell* word);
i32 find_id_word(i32 category, const Cell* word);
// The word of a category in the catalogue object, and of an id in its
// category object: bound to those objects. Valid until the next allocation.
Cell* category_word(i32 category);
Cell* id_word(i32 category, i32 id);
// The category object, and the template of an id in it (valid until the next
// allocation).
const Cell* category_object(i32 category);
const Cell* message(i32 category, i32 id);

// Builds both objects (start-up and memory resets).
void init();

}  // namespace catalog
}  // namespace zir
