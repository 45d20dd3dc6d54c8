// error!: see error.hpp.
#include "datatypes/error.hpp"

#include "boot/catalog.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace error {

i32 (*stack_trace_depth)() = nullptr;

namespace {

inline u32 ctx_of(const Cell* error) { return error->w1; }

// A native call frame around the writing of template arguments, so that an
// error raised meanwhile is not named after the caller of the report. Closed
// on every way out, leaving the stacks as they were.
struct BodyFrame {
    Cell* top = stack::top;
    Cell* arguments = stack::arguments;
    stack::Frame* call = stack::call_top;
    BodyFrame() { stack::mark_native(u32(symbol::make("<body>"))); }
    ~BodyFrame() {
        stack::call_top = call;
        stack::arguments = arguments;
        stack::top = top;
    }
    BodyFrame(const BodyFrame&) = delete;
    BodyFrame& operator=(const BodyFrame&) = delete;
};

// An unbound word! of a spelling, for error arguments.
Cell named(const char* spelling) {
    Cell w;
    series::make_word(&w, symbol::make(spelling));
    return w;
}

// A catalogue word as a field value: a plain word!, without list flags.
Cell catalogue_word(const Cell* word) {
    Cell w = *word;
    w.header = TYPE_WORD;
    return w;
}

// A fresh error in `out` (a cell that does not move): a copy of the standard
// prototype.
void prototype_at(Cell* out) {
    if (!catalog::ready_q()) fire(ERR_INTERNAL, "not-done");
    object::duplicate(catalog::standard_error(), out, false, nullptr, false);
    cell::set_type(out, TYPE_ERROR);
    out->w2 = CLASS_ID;
    out->w3 = 0;
    *context::owner_of(ctx_of(out)) = *out;
}

// Writes the code, category and id of an error.
void set_identity(Cell* error, i32 category, i32 id) {
    Cell* code = field(error, FIELD_CODE);
    cell::init(code, TYPE_INTEGER);
    code->w2 = u32(category * 100 + id);
    *field(error, FIELD_TYPE) = catalogue_word(catalog::category_word(category));
    *field(error, FIELD_ID) = catalogue_word(catalog::id_word(category, id));
}

// The category of a word, or `script invalid-spec-field` naming `type`.
i32 category_of(const Cell* word) {
    i32 c = catalog::find_category(word);
    if (c < 0) {
        Cell type = named("type");
        fire(ERR_SCRIPT, "invalid-spec-field", &type);
    }
    return c;
}

// The id of a value in a category: a value that is none (or absent) raises
// `script invalid-spec-field` naming `id`, one that is not a word `script
// invalid-arg`.
i32 id_of(i32 category, const Cell* value) {
    Cell id = named("id");
    if (!value || TYPE_OF(value) == TYPE_NONE || TYPE_OF(value) == TYPE_UNSET)
        fire(ERR_SCRIPT, "invalid-spec-field", &id);
    if (TYPE_OF(value) != TYPE_WORD && TYPE_OF(value) != TYPE_LIT_WORD) {
        const Cell bad = *value;
        fire(ERR_SCRIPT, "invalid-arg", &bad);
    }
    i32 i = catalog::find_id_word(category, value);
    if (i < 0) fire(ERR_SCRIPT, "invalid-spec-field", &id);
    return i;
}

// The field of the error named by a word, or -1.
i32 field_named(const Cell* error, const Cell* word) {
    return context::find_word(ctx_of(error), i32(word->w2), true);
}

inline i32 write(Cell* buffer, const char* text, i32 part) {
    string::append_literal(buffer, text);
    return part - i32(std::strlen(text));
}

inline i32 text_length(const Cell* buffer) { return string::zs_abs_length(buffer); }

// Writes a value molded (or formed) in at most `limit` code points.
i32 write_limited(const Cell* value_in, Cell* buffer, bool mold, bool only, bool flat, i32 limit, i32 part) {
    const Cell value = *value_in;
    i32 start = text_length(buffer);
    i32 budget = limit < part ? limit : part;
    if (budget <= 0) return part;
    Cell arg;
    cell::init(&arg, TYPE_INTEGER);
    arg.w2 = u32(budget);
    if (mold) actions::mold(&value, buffer, only, false, flat, &arg, budget, 0);
    else actions::form(&value, buffer, &arg, budget);
    if (text_length(buffer) - start > budget) string::truncate_from(buffer, i64(start) + budget);
    return part - (text_length(buffer) - start);
}

// Makes an error report itself as `internal invalid-error` about a value of
// its own that the catalogue does not know.
void report_invalid(Cell* error, i32 bad_field) {
    *field(error, FIELD_ARG1) = *field(error, bad_field);
    i32 internal = ERR_INTERNAL;
    i32 invalid = catalog::find_id(ERR_INTERNAL, "invalid-error");
    set_identity(error, internal, invalid);
}

}  // namespace

Cell* field(const Cell* error, i32 i) { return context::value_at(context::cell_of(ctx_of(error)), i); }

void make_at(Cell* out, u32 category, i32 id, const Cell* args, i32 argc) {
    prototype_at(out);
    set_identity(out, i32(category), id);
    for (i32 i = 0; i < argc && i < 3; i++) *field(out, FIELD_ARG1 + i) = args[i];
}

Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* out = stack::push(&unset::value);
    const Cell* given[3] = {arg1, arg2, arg3};
    Cell* args[3] = {};
    for (int i = 0; i < 3; i++)
        if (given[i]) args[i] = stack::push(given[i]);
    Cell* cat_word = stack::push(category);
    Cell* id_word = stack::push(id);
    i32 c = category_of(cat_word);
    i32 i = id_of(c, id_word);
    make_at(out, u32(c), i, nullptr, 0);
    for (int k = 0; k < 3; k++)
        if (args[k]) *field(out, FIELD_ARG1 + k) = *args[k];
    stack::top = out + 1;
    return out;
}

i32 form_message(const Cell* template_in, Cell* buffer, const Cell* error_in, i32 part) {
    stack::KeepTop keep;
    Cell* tmpl = stack::push(template_in);
    Cell* error = stack::push(error_in);
    bool syntax = get_type(error) && symbol::resolve(get_type(error)) == symbol::resolve(symbol::make("syntax"));
    BodyFrame frame;
    Cell* item = stack::push(&none::value);
    for (i32 i = i32(tmpl->w1); i < block::cell_count(node_buffer(tmpl->w2)); i++) {
        *item = *block::cell_at(tmpl->w2, i);
        u32 t = TYPE_OF(item);
        if (t == TYPE_STRING) {
            part = actions::form(item, buffer, nullptr, part);
        } else if (t == TYPE_WORD || t == TYPE_GET_WORD) {
            i32 f = field_named(error, item);
            if (f >= 0) {
                *item = *field(error, f);
                // A datatype keeps its "!" in a syntax error's text ("invalid
                // integer! at 12a"), which forms every other argument.
                part = write_limited(item, buffer, !syntax || TYPE_OF(item) == TYPE_DATATYPE, false, false,
                                     ARGUMENT_LIMIT, part);
            }
        }
        if (i + 1 < block::cell_count(node_buffer(tmpl->w2))) part = write(buffer, " ", part);
    }
    return part;
}

void set_where(Cell* error, const Cell* value) {
    Cell* where = field(error, FIELD_WHERE);
    if (TYPE_OF(where) == TYPE_NONE) *where = *value;
}

i32 get_type(const Cell* error) {
    const Cell* t = field(error, FIELD_TYPE);
    return any_word_q(TYPE_OF(t)) ? i32(t->w2) : 0;
}

i32 get_id(const Cell* error) {
    const Cell* t = field(error, FIELD_ID);
    return any_word_q(TYPE_OF(t)) ? i32(t->w2) : 0;
}

void call_argument_of(const Cell* caller, i32 n, Cell* out) {
    cell::init(out, TYPE_NONE);
    // The caller's value, read without raising: a word that has none names
    // no argument.
    u32 ctx = caller->w1;
    i32 slot = i32(caller->w3);
    if (!any_word_q(TYPE_OF(caller)) || !ctx || slot < 0) return;
    const Cell* c = context::cell_of(ctx);
    const Cell* value;
    if (c->header & context::ON_STACK) {
        const Cell* first = context::stack_values(c);
        if (!first) return;
        value = first + slot;
    } else {
        SeriesBuffer* values = node_buffer(c->w2);
        if (slot >= series::length_of(values)) return;
        value = series::head_cells(values) + slot;
    }
    u32 t = TYPE_OF(value);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_OP && t != TYPE_FUNCTION && t != TYPE_ROUTINE) return;
    u32 spec = value->w2;
    for (i32 i = 0; i < block::cell_count(node_buffer(spec)); i++) {
        const Cell* item = block::cell_at(spec, i);
        u32 it = TYPE_OF(item);
        if (it != TYPE_WORD && it != TYPE_LIT_WORD && it != TYPE_GET_WORD && it != TYPE_REFINEMENT) continue;
        if (n-- == 0) {
            *out = *item;
            out->header &= ~FLAG_NEW_LINE;
            return;
        }
    }
}

void get_call_argument(i32 n, Cell* out) {
    Cell caller;
    stack::caller_name(&caller);
    call_argument_of(&caller, n, out);
}

void fire_bad_make_arg(const Cell* value, const Cell* spec) { fire(ERR_SCRIPT, "bad-make-arg", value, spec); }

// --- Actions ------------------------------------------------------------------

Cell* make(Cell*, Cell* spec_in, u32) {
    Cell* out = stack::push(&unset::value);
    Cell* spec = stack::push(spec_in);
    switch (TYPE_OF(spec)) {
        case TYPE_INTEGER: {
            i32 code = i32(spec->w2);
            i32 c = code / 100, i = code % 100;
            if (code < 0 || c >= catalog::CATEGORIES || i >= catalog::categories[c].count)
                fire(ERR_SCRIPT, "out-of-range", spec);
            make_at(out, u32(c), i, nullptr, 0);
            break;
        }
        case TYPE_STRING:
            make_at(out, ERR_USER, 0, spec, 1);
            break;
        case TYPE_BLOCK: {
            i32 n = block::zs_length_q(spec);
            u32 first = n > 0 ? TYPE_OF(block::zs_head(spec)) : TYPE_VALUE;
            if (first == TYPE_WORD) {
                i32 c = category_of(block::zs_head(spec));
                i32 i = id_of(c, n > 1 ? block::zs_head(spec) + 1 : nullptr);
                make_at(out, u32(c), i, nullptr, 0);
            } else if (first == TYPE_SET_WORD) {
                prototype_at(out);
                context::bind(spec, ctx_of(out), true);
                if (!object::eval_block) fire(ERR_INTERNAL, "not-done");
                Cell* last = stack::push(&unset::value);
                object::eval_block(spec, last);
                i32 c = category_of(field(out, FIELD_TYPE));
                Cell* id = stack::push(field(out, FIELD_ID));
                set_identity(out, c, id_of(c, id));
            } else {
                fire(ERR_INTERNAL, "invalid-error", spec);
            }
            break;
        }
        default: {
            Cell type;
            datatype::make_at(&type, TYPE_ERROR);
            fire_bad_make_arg(&type, spec);
        }
    }
    stack::top = out + 1;
    return out;
}

i32 form(const Cell* value, Cell* buffer, const Cell*, i32 part) {
    stack::KeepTop keep;
    Cell* error = stack::push(value);
    part = write(buffer, "*** ", part);
    if (!catalog::ready_q()) return part;
    i32 c = catalog::find_category(field(error, FIELD_TYPE));
    if (c < 0) {
        report_invalid(error, FIELD_TYPE);
        c = ERR_INTERNAL;
    }
    i32 id = catalog::find_id_word(c, field(error, FIELD_ID));
    if (id < 0) {
        report_invalid(error, FIELD_ID);
        c = ERR_INTERNAL;
        id = catalog::find_id(ERR_INTERNAL, "invalid-error");
    }
    Cell* message = stack::push(catalog::message(c, id));
    if (TYPE_OF(message) == TYPE_WORD) {
        i32 f = field_named(error, message);
        *message = f >= 0 ? *field(error, f) : none::value;
    }
    Cell* title = stack::push(context::value_at(context::cell_of(catalog::category_object(c)->w1), 1));
    part = actions::form(title, buffer, nullptr, part);
    part = write(buffer, ": ", part);
    if (TYPE_OF(message) == TYPE_BLOCK) part = form_message(message, buffer, error, part);
    else part = actions::form(message, buffer, nullptr, part);
    part = write(buffer, "\n*** Where: ", part);
    Cell* where = stack::push(field(error, FIELD_WHERE));
    if (TYPE_OF(where) == TYPE_WORD || TYPE_OF(where) == TYPE_STRING) part = actions::form(where, buffer, nullptr, part);
    else part = write(buffer, "???", part);
    part = write(buffer, "\n*** Near : ", part);
    part = write_limited(field(error, FIELD_NEAR), buffer, true, true, true, NEAR_LIMIT, part);
    // The call trace: the frames still there from the position recorded when
    // it was raised, or the names kept since (try/keep, the console).
    i32 depth = stack_trace_depth ? stack_trace_depth() : 0;
    if (depth > 0) {
        Cell* trace = stack::push(field(error, FIELD_STACK));
        if (TYPE_OF(trace) == TYPE_INTEGER) {
            part = write(buffer, "\n*** Stack: ", part);
            i64 at = i64(i32(trace->w2));
            const stack::Frame* end = at < 0 ? stack::call_bottom : nullptr;
            if (at >= 0 && at < stack::call_top - stack::call_bottom) end = stack::call_bottom + at;
            part = stack::form_calls(depth, end ? end : stack::call_top, buffer, part);
        } else if (TYPE_OF(trace) == TYPE_BLOCK) {
            part = write(buffer, "\n*** Stack: ", part);
            part = actions::form(trace, buffer, nullptr, part);
        }
    }
    Cell* files = stack::push(field(error, FIELD_FILES));
    if (TYPE_OF(files) == TYPE_BLOCK) {
        part = write(buffer, "\n*** Files: ", part);
        part = write_limited(files, buffer, true, true, true, NEAR_LIMIT, part);
    }
    return part;
}

i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent) {
    return object::mold_as("make error! [", value, buffer, only, all, flat, arg, part, indent);
}

i32 compare(const Cell* value, const Cell* other, i32 op) {
    if (TYPE_OF(other) != TYPE_ERROR) return NOT_COMPARABLE;
    return object::compare_fields(value, other, op);
}

void init() {
    datatype::Registration r(TYPE_ERROR, TYPE_OBJECT, "error!");
    r.on<ACT_MAKE>(make).on<ACT_FORM>(form).on<ACT_MOLD>(mold).on<ACT_EVAL_PATH>(object::eval_path);
    r.on<ACT_COMPARE>(compare).unsupported(ACT_PUT).unsupported(ACT_MODIFY);
    datatype::register_(r);
}

}  // namespace error
}  // namespace zir
