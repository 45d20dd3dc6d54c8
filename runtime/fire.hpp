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

// The error in flight: its category, its id word's spelling and its arguments.
//
// An argument may be the only reference to its value (a series made just for
// the report), and the error travels through code that allocates before it is
// built into an error! value or dropped. So every LanguageError object, the
// thrown one, copies held by handlers included, is a collector root for as long
// as it lives: it links itself into a list the collector marks.
struct LanguageError : std::exception {
    ErrorCategory category = ERR_INTERNAL;
    const char* id = "";
    int argc = 0;
    Cell args[3] = {};

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

// Marks the arguments of every LanguageError alive: a root of the collector.
void mark_errors_in_flight();

[[noreturn]] void fire(ErrorCategory cat, const char* id, const Cell* arg1 = nullptr,
                       const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

}  // namespace zir
