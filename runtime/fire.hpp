// Raising language errors.
//
// Every language error leaves the runtime through `fire`, with a category, an
// id word and up to three argument values. Errors are rare, so they travel as a
// C++ exception up to the nearest frame that catches them; break, continue,
// return, exit and throw do not use this path (they are frequent and travel as
// a pending-exit state through the evaluation loops).
#pragma once

#include <exception>

#include "runtime/cell.hpp"

namespace zir {

// Error categories, in the order of the error catalogue; an error's code is
// category * 100 + the position of its id in the category.
enum ErrorCategory : u32 {
    ERR_THROW = 0,
    ERR_NOTE = 1,
    ERR_SYNTAX = 2,
    ERR_SCRIPT = 3,
    ERR_MATH = 4,
    ERR_ACCESS = 5,
    ERR_RESERVED1 = 6,
    ERR_RESERVED2 = 7,
    ERR_USER = 8,
    ERR_INTERNAL = 9,
};

const char* category_name(ErrorCategory cat);

// The error in flight: its category, its id word's spelling, its arguments
// and the error! value built from them.
//
// An argument may be the only reference to its value (a series made just for
// the report), and the error travels through code that allocates. So every
// LanguageError object, the thrown one, copies held by handlers included, is a
// collector root for as long as it lives: it links itself into a list the
// collector marks.
//
// `error` is unset when no value could be built: before the error catalogue
// exists, during a collection (nothing may be allocated then), or when
// building it failed in turn (out of memory). Catchers then build it from the
// category, id and arguments, or report those.
struct LanguageError : std::exception {
    ErrorCategory category = ERR_INTERNAL;
    const char* id = "";
    int argc = 0;
    Cell args[3] = {};
    Cell error = {TYPE_UNSET, 0, 0, 0};

    LanguageError() { link(); }
    LanguageError(const LanguageError& other);
    LanguageError& operator=(const LanguageError& other);
    ~LanguageError() override;
    const char* what() const noexcept override { return id; }

private:
    void link();
    LanguageError* prev_ = nullptr;
    LanguageError* next_ = nullptr;
    friend void mark_errors_in_flight();
};

// Marks the arguments and values of every LanguageError alive: a root of the
// collector.
void mark_errors_in_flight();

// Raises the error of a category and an id (a spelling of the catalogue) with
// up to three arguments: the error! value is built (error::make_at) and thrown
// in a LanguageError. An id the catalogue does not hold is built as `internal
// invalid-error` with the id as its argument.
[[noreturn]] void fire(ErrorCategory cat, const char* id, const Cell* arg1 = nullptr,
                       const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// Raises an error! value as it is (`do` of an error): its category and id are
// read from its fields.
[[noreturn]] void fire_value(const Cell* error);

}  // namespace zir
