// Raising language errors: see fire.hpp.
#include "runtime/fire.hpp"

#include <initializer_list>

#include "runtime/collector.hpp"

namespace zir {

namespace {
// Every LanguageError alive, newest first. They die in any order (a handler's
// copy may outlive the thrown object), hence a doubly linked list.
LanguageError* live_errors = nullptr;
}  // namespace

void LanguageError::link() {
    prev_ = nullptr;
    next_ = live_errors;
    if (live_errors) live_errors->prev_ = this;
    live_errors = this;
}

LanguageError::LanguageError(const LanguageError& other)
    : std::exception(other), category(other.category), id(other.id), argc(other.argc) {
    for (int i = 0; i < 3; i++) args[i] = other.args[i];
    link();
}

LanguageError& LanguageError::operator=(const LanguageError& other) {
    category = other.category;
    id = other.id;
    argc = other.argc;
    for (int i = 0; i < 3; i++) args[i] = other.args[i];
    return *this;
}

LanguageError::~LanguageError() {
    if (prev_) prev_->next_ = next_;
    else live_errors = next_;
    if (next_) next_->prev_ = prev_;
}

void mark_errors_in_flight() {
    for (LanguageError* e = live_errors; e; e = e->next_) collector::mark_values(e->args, e->args + e->argc);
}

const char* category_name(ErrorCategory cat) {
    static const char* const names[] = {"throw",     "note",      "syntax", "script", "math",
                                        "access",    "reserved1", "reserved2", "user", "internal"};
    return u32(cat) < 10 ? names[cat] : "internal";
}

void fire(ErrorCategory cat, const char* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    LanguageError e;
    e.category = cat;
    e.id = id;
    e.argc = 0;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        e.args[e.argc++] = *a;
    }
    throw e;
}

}  // namespace zir
