// The error catalogue: see catalog.hpp.
#include "boot/catalog.hpp"

#include <algorithm>
#include <string_view>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"

namespace zir {
namespace catalog {

namespace {

constexpr Id throw_ids[] = {
    {"break", "no loop to break"},
    {"return", "return or exit not in function"},
    {"throw", "[no catch for throw:|:arg1]"},
    {"continue", "no loop to continue"},
    {"while-cond", "BREAK/CONTINUE cannot be used in WHILE condition block"},
};

constexpr Id note_ids[] = {
    {"no-load", "[cannot load: |:arg1]"},
};

constexpr Id syntax_ids[] = {
    {"invalid", "[:arg1|invalid|:arg2|at|:arg3]"},
    {"missing", "[:arg1|missing|:arg2|at|:arg3]"},
    {"no-header", "[script is missing a Zir header:|:arg1]"},
    {"no-zs-header", "[script is missing a Zir/System header:|:arg1]"},
    {"bad-header", "[script header is not valid:|:arg1]"},
    {"malconstruct", "[:arg1|invalid construction spec at|:arg2]"},
    {"bad-char", "[:arg1|invalid character at|:arg2]"},
};

constexpr Id script_ids[] = {
    {"no-value", "[:arg1|has no value]"},
    {"need-value", "[:arg1|needs a value]"},
    {"not-defined", "[:arg1|word is not bound to a context]"},
    {"not-in-context", "[context for|:arg1|is not available]"},
    {"no-arg", "[:arg1|is missing its|:arg2|argument]"},
    {"expect-arg", "[:arg1|does not allow|:arg2|for its|:arg3|argument]"},
    {"expect-val", "[expected|:arg1|not|:arg2]"},
    {"expect-type", "[:arg1|:arg2|field must be of type|:arg3]"},
    {"cannot-use", "[cannot use|:arg1|on|:arg2|value]"},
    {"invalid-arg", "[invalid argument:|:arg1]"},
    {"invalid-type", "[:arg1|type is not allowed here]"},
    {"invalid-type-spec", "[invalid type specifier:|:arg1]"},
    {"invalid-key-type", "[invalid key type:|:arg1]"},
    {"invalid-op", "[invalid operator:|:arg1]"},
    {"no-op-arg", "[:arg1|operator is missing an argument]"},
    {"bad-op-spec",
     "making an op! requires a function with only 2 arguments and no lit/get-word on left argument"},
    {"invalid-data", "[data not in correct format:|:arg1]"},
    {"invalid-part", "[invalid /part count:|:arg1]"},
    {"not-same-type", "values must be of the same type"},
    {"not-same-class", "[cannot coerce|:arg1|to|:arg2]"},
    {"not-related", "[incompatible argument for|:arg1|of|:arg2]"},
    {"bad-func-def", "[invalid function definition:|:arg1]"},
    {"bad-func-arg", "[function argument|:arg1|is not valid]"},
    {"bad-func-extern", "[invalid /extern value:|:arg1]"},
    {"no-refine", "[:arg1|has no refinement called|:arg2]"},
    {"bad-refines", "incompatible or invalid refinements"},
    {"bad-refine", "[invalid refinement value:|:arg1]"},
    {"dup-refine", "[duplicate refinement usage in:|:arg1]"},
    {"word-first", "[path must start with a word:|:arg1]"},
    {"empty-path", "cannot evaluate an empty path value"},
    {"unset-path", "[:arg2|is unset in path|:arg1]"},
    {"invalid-path", "[cannot access|:arg2|in path|:arg1]"},
    {"invalid-path-set", "[unsupported type in|:arg1|set-path]"},
    {"invalid-path-get", "[unsupported type in|:arg1|get-path]"},
    {"bad-path-type", "[:arg3|returned a|:arg2|value, so|:arg1|could not be accessed]"},
    {"bad-path-type2", "[path element >|:arg1|< does not apply to|:arg2|type]"},
    {"bad-path-set", "[cannot set|:arg2|in path|:arg1]"},
    {"bad-field-set", "[cannot set|:arg1|field to|:arg2|datatype]"},
    {"dup-vars", "[duplicate variable specified:|:arg1]"},
    {"past-end", "out of range or past end"},
    {"missing-arg", "missing a required argument or refinement"},
    {"out-of-range", "[value out of range:|:arg1]"},
    {"invalid-chars", "contains invalid characters"},
    {"invalid-compare", "[cannot compare|:arg1|with|:arg2]"},
    {"wrong-type", "[datatype assertion failed for:|:arg1]"},
    {"invalid-refine-arg", "[invalid|:arg1|argument:|:arg2]"},
    {"type-limit", "[:arg1|overflow/underflow]"},
    {"size-limit", "[maximum limit reached:|:arg1]"},
    {"no-return", "block did not return a value"},
    {"throw-usage", "invalid use of a thrown error value"},
    {"locked-word", "[protected word - cannot modify:|:arg1]"},
    {"protected", "protected value or series - cannot modify"},
    {"bad-bad", "[:arg1|error:|:arg2]"},
    {"bad-make-arg", "[cannot MAKE|:arg1|from:|:arg2]"},
    {"bad-to-arg", "[cannot MAKE/TO|:arg1|from:|:arg2]"},
    {"invalid-months", "invalid system/locale/month list"},
    {"invalid-spec-field", "[invalid|:arg1|field in spec block]"},
    {"missing-spec-field", "[:arg1|not found in spec block]"},
    {"move-bad", "[Cannot MOVE elements from|:arg1|to|:arg2]"},
    {"too-long", "Content too long"},
    {"invalid-char", "[Invalid char! value:|:arg1]"},
    {"bad-loop-series", "[Loop series changed to invalid value:|:arg1]"},
    {"wrong-denom", "[:arg1|not same denomination as|:arg2]"},
    {"bad-denom", "[invalid denomination:|:arg1]"},
    {"invalid-obj-evt", "[invalid object event handler:|:arg1]"},
    {"parse-rule", "[PARSE - invalid rule or usage of rule:|:arg1]"},
    {"parse-end", "[PARSE - unexpected end of rule after:|:arg1]"},
    {"parse-invalid-ref", "[PARSE - get-word refers to a different series!|:arg1]"},
    {"parse-block", "[PARSE - input must be of any-block! type:|:arg1]"},
    {"parse-unsupported", "PARSE - matching by datatype not supported for any-string! input"},
    {"parse-infinite", "[PARSE - infinite recursion at rule: [|:arg1|]]"},
    {"parse-stack", "PARSE - stack limit reached"},
    {"parse-keep", "PARSE - KEEP is used without a wrapping COLLECT"},
    {"parse-into-bad", "PARSE - COLLECT INTO/AFTER invalid series! argument"},
    {"parse-into-type", "PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype"},
    {"draw-invalid", "[DRAW - invalid input at:|:arg1]"},
    {"draw-infinite", "[DRAW - infinite recursion at:|:arg1]"},
    {"invalid-data-facet", "[invalid DATA facet content|:arg1]"},
    {"face-type", "[VIEW - invalid face type:|:arg1]"},
    {"not-window", "VIEW - expected a window root face"},
    {"bad-window", "VIEW - a window face cannot be nested in another window"},
    {"not-linked", "VIEW - face not linked to a window"},
    {"not-event-type", "[VIEW - not a valid event type|:arg1]"},
    {"invalid-facet-type", "[VIEW - invalid rate value:|:arg1]"},
    {"vid-invalid-syntax", "[VID - invalid syntax at:|:arg1]"},
    {"rtd-invalid-syntax", "[RTD - invalid syntax at:|:arg1]"},
    {"rtd-no-match", "[RTD - opening/closing tag not matching for:|:arg1]"},
    {"react-bad-func", "REACT - /LINK option requires a function! as argument"},
    {"react-not-enough", "REACT - reactive functions must accept at least 2 arguments"},
    {"react-no-match", "REACT - objects block length must match reaction function arg count"},
    {"react-bad-obj", "REACT - target can only contain object values"},
    {"react-gctx", "[REACT - word|:arg1|is not a reactor's field]"},
    {"lib-invalid-arg", "[LIBZIR - invalid argument for|:arg1]"},
    {"zb-invalid-record", "[ZIRBIN - invalid record at index|:arg1]"},
};

constexpr Id math_ids[] = {
    {"zero-divide", "attempt to divide by zero"},
    {"overflow", "math or number overflow"},
    {"positive", "positive number required"},
};

constexpr Id access_ids[] = {
    {"cannot-open", "[cannot open:|:arg1]"},
    {"cannot-close", "[cannot close:|:arg1]"},
    {"invalid-utf8", "[invalid UTF-8 encoding:|:arg1]"},
    {"not-open", "[port is not open:|:arg1]"},
    {"no-connect", "[cannot connect:|:arg1|reason:|:arg2]"},
    {"no-scheme", "[missing port scheme:|:arg1]"},
    {"unknown-scheme", "[scheme is unknown:|:arg1]"},
    {"invalid-spec", "[invalid spec or options:|:arg1]"},
    {"invalid-port", "[invalid port object (invalid field values)]"},
    {"invalid-actor", "[invalid port actor (must be handle or object)]"},
    {"no-port-action", "port action not supported"},
    {"no-create", "[cannot create:|:arg1]"},
    {"no-codec", "[cannot decode or encode (no codec):|:arg1]"},
    {"bad-media", "[bad media data (corrupt image, sound, video)]"},
    {"invalid-cmd", "[invalid port command:|:arg1]"},
};

constexpr Id user_ids[] = {
    {"message", "@arg1"},
};

constexpr Id internal_ids[] = {
    {"bad-path", "[bad path:|@arg1]"},
    {"not-here", "[@arg1|not supported on your system]"},
    {"no-memory", "not enough memory"},
    {"wrong-mem", "failed to release memory"},
    {"stack-overflow", "stack overflow"},
    {"limit-hit", "[internal limit reached:|:arg1]"},
    {"too-deep", "block or paren series is too deep to process"},
    {"no-cycle", "circular reference not allowed"},
    {"feature-na", "feature not available"},
    {"not-done", "reserved for future use (or not yet implemented)"},
    {"invalid-error", "[invalid error object field value:|:arg1]"},
    {"routines", "routines require compilation, from OS shell: `zir -r <script.zir>`"},
    {"zir-system", "contains Zir/System code which requires compilation"},
    {"deprecated", "[@arg1|is DEPRECATED, please use|@arg2|instead]"},
};

template <size_t N>
constexpr Category category(const char* name, const char* title, const Id (&ids)[N]) {
    return {name, title, ids, i32(N)};
}

}  // namespace

const Category categories[CATEGORIES] = {
    category("throw", "Throw Error", throw_ids),
    category("note", "note", note_ids),
    category("syntax", "Syntax Error", syntax_ids),
    category("script", "Script Error", script_ids),
    category("math", "Math Error", math_ids),
    category("access", "Access Error", access_ids),
    {"reserved1", "Reserved1 Error", nullptr, 0},
    {"reserved2", "Reserved2 Error", nullptr, 0},
    category("user", "User Error", user_ids),
    category("internal", "Internal Error", internal_ids),
};

namespace {

// The fields of a category object before its ids.
constexpr i32 HEAD_FIELDS = 2;

const char* const error_fields[] = {"code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files"};

Cell errors_object = {TYPE_NONE, 0, 0, 0};
Cell standard_object = {TYPE_NONE, 0, 0, 0};
// The category objects as start-up built them. The catalogue's fields can be
// set by any script (`system/catalog/errors/script: none`); errors are still
// made and reported, from these, when a field no longer holds an object with
// room for every id of its category.
Cell built_categories[CATEGORIES];

void mark_objects() {
    collector::mark_values(&errors_object, &errors_object + 1);
    collector::mark_values(&standard_object, &standard_object + 1);
    collector::mark_values(built_categories, built_categories + CATEGORIES);
}

inline u32 ctx_of(const Cell* object) { return object->w1; }

// A string! of a text, into a cell that does not move.
void text_at(Cell* out, std::string_view text) {
    cell::init(out, TYPE_UNSET);
    string::make_at(out, i64(text.size()), 1);
    const u8* bytes = reinterpret_cast<const u8*>(text.data());
    // ASCII (all of the catalogue's texts) is copied as it is; the UTF-8
    // decoder would only find the same characters, at many times the cost.
    bool ascii = std::all_of(bytes, bytes + text.size(), [](u8 b) { return b < 0x80; });
    if (ascii) string::append_bytes(out, bytes, i64(text.size()));
    else string::append_utf8(out, bytes, i64(text.size()));
}

// One item of a template: a get-word!, a word! or a string!.
void item_at(Cell* out, std::string_view text) {
    if (!text.empty() && (text[0] == ':' || text[0] == '@')) {
        series::make_word(out, symbol::make(text.substr(1)), text[0] == ':' ? TYPE_GET_WORD : TYPE_WORD);
        return;
    }
    text_at(out, text);
}

// A template value from its compact form (see `Id`).
void template_at(Cell* out, std::string_view text) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return item_at(out, text);
    text = text.substr(1, text.size() - 2);
    block::make_at(out, 4);
    Cell* item = stack::push(&none::value);
    for (;;) {
        size_t bar = text.find('|');
        item_at(item, text.substr(0, bar));
        block::zs_append(out, item);
        if (bar == std::string_view::npos) break;
        text = text.substr(bar + 1);
    }
    stack::pop(1);
}

// Adds a field with a value to an object; `value` must not lie in a series.
void add_field(const Cell* object, const char* name, const Cell* value) {
    context::put(ctx_of(object), symbol::make(name), value);
}

}  // namespace

const Cell* errors() { return &errors_object; }
const Cell* standard_error() { return &standard_object; }
bool ready_q() { return TYPE_OF(&errors_object) == TYPE_OBJECT && TYPE_OF(&standard_object) == TYPE_OBJECT; }

i32 find_id(u32 cat, const char* id) {
    if (cat >= u32(CATEGORIES)) return -1;
    const Category& c = categories[cat];
    for (i32 i = 0; i < c.count; i++)
        if (std::strcmp(c.ids[i].name, id) == 0) return i;
    return -1;
}

i32 find_category(const Cell* word) {
    if (!any_word_q(TYPE_OF(word)) || !ready_q()) return -1;
    i32 c = context::find_word(ctx_of(&errors_object), i32(word->w2), true);
    return c < CATEGORIES ? c : -1;
}

i32 find_id_word(i32 cat, const Cell* word) {
    if (cat < 0 || cat >= CATEGORIES || !any_word_q(TYPE_OF(word))) return -1;
    i32 i = context::find_word(ctx_of(category_object(cat)), i32(word->w2), true);
    return i < HEAD_FIELDS || i - HEAD_FIELDS >= categories[cat].count ? -1 : i - HEAD_FIELDS;
}

Cell* category_word(i32 cat) { return context::word_at(context::cell_of(ctx_of(&errors_object)), cat); }

Cell* id_word(i32 cat, i32 id) {
    return context::word_at(context::cell_of(ctx_of(category_object(cat))), id + HEAD_FIELDS);
}

const Cell* category_object(i32 cat) {
    const Cell* c = context::value_at(context::cell_of(ctx_of(&errors_object)), cat);
    if (TYPE_OF(c) == TYPE_OBJECT && object::get_size(c) >= HEAD_FIELDS + categories[cat].count) return c;
    return &built_categories[cat];
}

const Cell* message(i32 cat, i32 id) {
    return context::value_at(context::cell_of(ctx_of(category_object(cat))), id + HEAD_FIELDS);
}

void init() {
    static bool registered = false;
    if (!registered) {
        collector::register_(mark_objects);
        registered = true;
    }
    cell::init(&errors_object, TYPE_NONE);
    cell::init(&standard_object, TYPE_NONE);
    for (Cell& c : built_categories) cell::init(&c, TYPE_NONE);
    Cell* saved = stack::top;
    Cell* errors = stack::push(&none::value);
    object::make_at(errors, CATEGORIES);
    errors->w2 = object::new_class_id();
    Cell* cat = stack::push(&none::value);
    Cell* value = stack::push(&none::value);
    for (i32 k = 0; k < CATEGORIES; k++) {
        const Category& c = categories[k];
        object::make_at(cat, HEAD_FIELDS + c.count);
        cat->w2 = object::new_class_id();
        cell::init(value, TYPE_INTEGER);
        value->w2 = u32(k * 100);
        add_field(cat, "code", value);
        text_at(value, c.title);
        add_field(cat, "type", value);
        for (i32 i = 0; i < c.count; i++) {
            template_at(value, c.ids[i].message);
            add_field(cat, c.ids[i].name, value);
        }
        add_field(errors, c.name, cat);
        built_categories[k] = *cat;
    }
    Cell* standard = stack::push(&none::value);
    object::make_at(standard, i32(std::size(error_fields)));
    standard->w2 = object::new_class_id();
    for (const char* field : error_fields) add_field(standard, field, &none::value);
    errors_object = *errors;
    standard_object = *standard;
    stack::top = saved;
}

}  // namespace catalog
}  // namespace zir
