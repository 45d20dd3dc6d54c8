// Raising language errors: see fire.hpp.
#include "runtime/fire.hpp"

#include <initializer_list>

#include "boot/catalog.hpp"
#include "datatypes/error.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
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
    : std::exception(other), category(other.category), id(other.id), argc(other.argc), error(other.error) {
    for (int i = 0; i < 3; i++) args[i] = other.args[i];
    link();
}

LanguageError& LanguageError::operator=(const LanguageError& other) {
    category = other.category;
    id = other.id;
    argc = other.argc;
    for (int i = 0; i < 3; i++) args[i] = other.args[i];
    error = other.error;
    return *this;
}

LanguageError::~LanguageError() {
    if (prev_) prev_->next_ = next_;
    else live_errors = next_;
    if (next_) next_->prev_ = prev_;
}

void mark_errors_in_flight() {
    for (LanguageError* e = live_errors; e; e = e->next_) {
        collector::mark_values(e->args, e->args + e->argc);
        collector::mark_values(&e->error, &e->error + 1);
    }
}

const char* category_name(ErrorCategory cat) {
    static const char* const names[] = {"throw",     "note",      "syntax", "script", "math",
                                        "access",    "reserved1", "reserved2", "user", "internal"};
    return u32(cat) < 10 ? names[cat] : "internal";
}

namespace {

// Set while an error value is being built: an error raised meanwhile (out of
// memory, say) travels without one.
bool building = false;

// Builds the error! value of a LanguageError whose arguments are in place.
void build(LanguageError& e) {
    if (building || collector::busy_q() || !catalog::ready_q()) return;
    struct Flag {
        Flag() { building = true; }
        ~Flag() { building = false; }
    } flag;
    try {
        collector::RootCell out;
        i32 id = catalog::find_id(e.category, e.id);
        if (id >= 0) {
            error::make_at(out.get(), e.category, id, e.args, e.argc);
        } else {
            // A spelling the catalogue lacks is reported, not lost.
            Cell word;
            series::make_word(&word, symbol::make(e.id));
            error::make_at(out.get(), ERR_INTERNAL, catalog::find_id(ERR_INTERNAL, "invalid-error"), &word, 1);
        }
        e.error = out.value;
    } catch (const LanguageError&) {
        cell::init(&e.error, TYPE_UNSET);
    }
}

}  // namespace

void fire(ErrorCategory cat, const char* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    LanguageError e;
    e.category = cat;
    e.id = id;
    e.argc = 0;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        e.args[e.argc++] = *a;
    }
    build(e);
    throw e;
}

void fire_value(const Cell* error_value) {
    LanguageError e;
    e.error = *error_value;
    e.category = ERR_INTERNAL;
    e.id = "invalid-error";
    // The catalogue's own spellings outlive the error.
    i32 c = catalog::find_category(error::field(&e.error, error::FIELD_TYPE));
    i32 i = c < 0 ? -1 : catalog::find_id_word(c, error::field(&e.error, error::FIELD_ID));
    if (i >= 0) {
        e.category = ErrorCategory(c);
        e.id = catalog::categories[c].ids[i].name;
    }
    for (i32 k = 0; k < 3; k++) e.args[k] = *error::field(&e.error, error::FIELD_ARG1 + k);
    e.argc = 3;
    throw e;
}

}  // namespace zir
