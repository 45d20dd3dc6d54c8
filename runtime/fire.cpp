// Raising language errors: see fire.hpp.
#include "runtime/fire.hpp"

#include <initializer_list>

namespace zir {

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
