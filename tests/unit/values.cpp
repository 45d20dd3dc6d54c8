// Value builders of the tests: see values.hpp.
#include "values.hpp"

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/series.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/image.hpp"
#include "datatypes/object.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "runtime/ownership.hpp"

namespace zir::test {

Cell* int_(i32 v) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_INTEGER);
    c->w2 = u32(v);
    return c;
}

Cell* none_() {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    return c;
}

Cell* logic_(bool v) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_LOGIC);
    c->w1 = v;
    return c;
}

Cell* word(const char* spelling, u32 type) {
    i32 sym = symbol::make(spelling);
    Cell* c = stack::push_slot();
    cell::init(c, type);
    c->w2 = u32(sym);
    c->w3 = u32(-1);
    return c;
}

Cell* str(const char* utf8, u32 type) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    string::make_at(c, 16, 1);
    string::append_utf8(c, reinterpret_cast<const u8*>(utf8), i64(std::strlen(utf8)));
    cell::set_type(c, type);
    return c;
}

Cell* char_(u32 code_point) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_CHAR);
    c->w2 = code_point;
    return c;
}

std::string utf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) {
        u8 buf[4];
        out.append(reinterpret_cast<char*>(buf), size_t(unicode::cp_to_utf8(u32(c), buf)));
    }
    return out;
}

Cell* block(std::initializer_list<const Cell*> items, u32 type) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    u32 node = memory::alloc_cells(i64(items.size()));
    cell::init(c, type);
    c->w2 = node;
    for (const Cell* item : items) *memory::alloc_tail(c) = *item;
    return c;
}

namespace {
Cell* ints_from(const i32* values, size_t n) {
    Cell* b = block({});
    for (size_t i = 0; i < n; i++) {
        Cell c;
        cell::init(&c, TYPE_INTEGER);
        c.w2 = u32(values[i]);
        *memory::alloc_tail(b) = c;
    }
    return b;
}
}  // namespace

Cell* ints(std::initializer_list<i32> values) { return ints_from(values.begin(), values.size()); }
Cell* ints(const std::vector<i32>& values) { return ints_from(values.data(), values.size()); }

void own(const Cell* series, Cell* owner) {
    *owner = make_object(*series);
    Cell word;
    series::make_word(&word, symbol::make("data"));
    ownership::set_owner(*series, *owner, word);
}

Cell* nl(const Cell* c) {
    Cell* n = stack::push(c);
    n->header |= FLAG_NEW_LINE;
    return n;
}

Cell* datatype_(u32 type) { return datatype::push(type); }

Cell* float_(double v) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_FLOAT);
    cell::set_float(c, v);
    return c;
}

Cell* percent_(double v) {
    Cell* c = float_(v);
    cell::set_type(c, TYPE_PERCENT);
    return c;
}

Cell* time_(double v) {
    Cell* c = float_(v);
    cell::set_type(c, TYPE_TIME);
    return c;
}

Cell* binary_(std::initializer_list<u8> bytes, u32 head) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    u32 node = memory::alloc_bytes(i64(bytes.size()));
    SeriesBuffer* s = node_buffer(node);
    u8* p = series::head(s);
    for (u8 b : bytes) *p++ = b;
    s->tail = s->offset + u32(bytes.size());
    cell::init(c, TYPE_BINARY);
    c->w1 = head;
    c->w2 = node;
    return c;
}

Cell* pair_(i32 x, i32 y) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_PAIR);
    c->w2 = u32(x);
    c->w3 = u32(y);
    return c;
}

Cell* at_(const Cell* series, i32 index) {
    Cell* c = stack::push(series);
    c->w1 = u32(index);
    return c;
}

Cell* bin(const std::vector<u8>& bytes) { return binary::load(bytes.data(), i64(bytes.size())); }

Cell* bin(const char* hex) {
    std::vector<u8> bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) bytes.push_back(u8(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return bin(bytes);
}

std::string hex_of(const Cell* binary) {
    std::vector<u8> bytes = binary::bytes_of(binary);
    std::string text(bytes.size() * 2, '\0');
    binary::encode_16(reinterpret_cast<u8*>(text.data()), bytes.data(), i64(bytes.size()));
    return text;
}

Cell* text_series(const std::u32string& text, u32 unit, u32 type) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_UNSET);
    u32 node = make_text_series(text, unit);
    cell::init(c, type);
    c->w2 = node;
    return c;
}

Cell make_object(const Cell& field) {
    collector::RootCell value(field);
    collector::RootCell obj;
    object::make_at(obj.get(), 1);
    context::put(obj->w1, symbol::make("data"), value.get());
    obj->w3 = object::make_handlers(0, 0, object::NO_HANDLER, 0, object::NO_HANDLER, 0);
    *context::owner_of(obj->w1) = obj.value;
    return obj.value;
}

void restore_hooks() { object::init_state(); }

namespace {

const char* read_into(Cell* out, const char* p, char close);

// Where a bare token ends.
inline bool token_end(char c) { return !c || c == ' ' || c == '\n' || c == ']' || c == ')' || c == '/'; }

// One scalar token (a number or a word in one of its forms) into `v`.
void read_token(Cell* v, std::string token, bool in_path) {
    bool number = token.find_first_not_of("-.0123456789") == std::string::npos &&
                  token.find_first_of("0123456789") != std::string::npos;
    if (number && token.find('.') != std::string::npos) {
        cell::init(v, TYPE_FLOAT);
        cell::set_float(v, std::stod(token));
        return;
    }
    if (number) {
        cell::init(v, TYPE_INTEGER);
        v->w2 = u32(std::stoi(token));
        return;
    }
    u32 type = TYPE_WORD;
    if (token[0] == '\'') type = TYPE_LIT_WORD, token.erase(0, 1);
    else if (token[0] == ':') type = TYPE_GET_WORD, token.erase(0, 1);
    else if (token[0] == '/' && !in_path && token.find_first_not_of('/') != std::string::npos)
        type = TYPE_REFINEMENT, token.erase(0, 1);
    else if (token[0] == '#') type = TYPE_ISSUE, token.erase(0, 1);
    else if (token.size() > 1 && token.back() == ':') type = TYPE_SET_WORD, token.pop_back();
    i32 sym = symbol::make(token);
    if (type == TYPE_REFINEMENT || type == TYPE_ISSUE) {
        series::make_word(v, sym, type);
    } else {
        word::make_at(sym, v);
        cell::set_type(v, type);
    }
}

// A path from its first element on: elements joined by "/" (words, numbers,
// get-words, parens); a leading ":" or "'" and a trailing ":" give its form.
const char* read_path(Cell* v, const char* p) {
    u32 type = TYPE_PATH;
    if (*p == ':') type = TYPE_GET_PATH, p++;
    else if (*p == '\'') type = TYPE_LIT_PATH, p++;
    block::make_at(v, 4);
    for (bool first = true;; first = false) {
        if (!first) p++;   // the "/"
        Cell* e = stack::push_slot();
        cell::init(e, TYPE_UNSET);
        if (*p == '(') {
            block::make_at(e, 4);
            cell::set_type(e, TYPE_PAREN);
            p = read_into(e, p + 1, ')');
        } else {
            const char* q = p;
            while (!token_end(*q) && *q != '(') q++;
            std::string token(p, q);
            p = q;
            if (token.back() == ':' && token_end(*p)) {
                token.pop_back();
                type = TYPE_SET_PATH;
            }
            read_token(e, token, true);
        }
        block::zs_append(v, e);
        stack::pop(1);
        if (*p != '/') break;
    }
    cell::set_type(v, type);
    if (type == TYPE_SET_PATH && *p == ':') p++;
    return p;
}

// Whether the token at p is a path: a "/" follows its first element.
bool path_ahead(const char* p) {
    if (*p == '/') return false;   // a refinement
    if (*p == ':' || *p == '\'') p++;
    while (!token_end(*p) && *p != '(') p++;
    return *p == '/';
}

// Reads values up to the closing bracket (or the end) into `out`, a block cell
// on the stack.
const char* read_into(Cell* out, const char* p, char close) {
    bool line = false;
    for (;;) {
        while (*p == ' ' || *p == '\n') line |= *p++ == '\n';
        if (!*p || *p == close) return *p ? p + 1 : p;
        Cell* v = stack::push_slot();
        cell::init(v, TYPE_UNSET);
        if (*p == '[' || *p == '(') {
            char end = *p == '[' ? ']' : ')';
            block::make_at(v, 4);
            if (end == ')') cell::set_type(v, TYPE_PAREN);
            p = read_into(v, p + 1, end);
        } else if (*p == '"') {
            const char* q = std::strchr(p + 1, '"');
            string::make_at(v, 16, 1);
            string::append_utf8(v, reinterpret_cast<const u8*>(p + 1), q - p - 1);
            p = q + 1;
        } else if (path_ahead(p)) {
            p = read_path(v, p);
        } else {
            const char* q = p + 1;
            while (*q && *q != ' ' && *q != '\n' && *q != ']' && *q != ')') q++;
            std::string token(p, q);
            p = q;
            read_token(v, token, false);
        }
        if (line) v->header |= FLAG_NEW_LINE;
        line = false;
        block::zs_append(out, v);
        stack::pop(1);
    }
}

}  // namespace

void evaluate_sets(const Cell* block_in, Cell* result) {
    Cell* saved = stack::top;
    Cell* b = stack::push(block_in);
    Cell* value = stack::push_slot();
    cell::init(value, TYPE_UNSET);
    Cell* first = stack::top;   // the set-words waiting for a value
    for (i32 i = i32(b->w1); i < block::cell_count(node_buffer(b->w2)); i++) {
        *value = *block::cell_at(b->w2, i);
        if (TYPE_OF(value) == TYPE_SET_WORD) {
            stack::push(value);
            continue;
        }
        if (TYPE_OF(value) == TYPE_WORD) *value = *context::get(value);
        else if (TYPE_OF(value) == TYPE_LIT_WORD) cell::set_type(value, TYPE_WORD);
        for (Cell* w = first; w < stack::top; w++) context::set(w, value);
        stack::top = first;
        *result = *value;
    }
    stack::top = saved;
}

Cell* read_block(const char* text) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    block::make_at(b, 4);
    read_into(b, text, 0);
    return b;
}

Cell* direct(u32 slot, const Cell* first, const Cell* second) {
    struct Restore {
        Cell* saved = stack::arguments;
        ~Restore() { stack::arguments = saved; }
    } restore;
    Cell* args = stack::push(first);
    if (second) stack::push(second);
    stack::arguments = args;
    reinterpret_cast<action::Direct>(actions::get_action_of(args, slot))();
    stack::top = args + 1;
    return args;
}

Cell* typeset_(std::initializer_list<u32> types) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_TYPESET);
    for (u32 t : types) typeset::set_type_bit(c, t);
    return c;
}

namespace {

Cell* indexed_block(std::initializer_list<const Cell*> items, u32 type, hash_table::Kind kind) {
    Cell* c = block(items);
    u32 table = hash_table::init(i32(items.size()), c->w2, kind, 0);
    c->w3 = table;
    cell::set_type(c, type);
    return c;
}

}  // namespace

Cell* hash_(std::initializer_list<const Cell*> items) { return indexed_block(items, TYPE_HASH, hash_table::HASH); }
Cell* map_(std::initializer_list<const Cell*> items) { return indexed_block(items, TYPE_MAP, hash_table::MAP); }

Cell* bound_word(const char* spelling, const Cell* value) {
    using collector::RootNode;
    i32 sym = symbol::make(spelling);
    Cell v = *value;
    RootNode words(memory::alloc_cells(1));
    RootNode table(hash_table::init(1, words, hash_table::WORDS, 0));
    RootNode values(memory::alloc_cells(1));
    RootNode ctx(memory::alloc_cells(2));
    SeriesBuffer* s = node_buffer(ctx);
    Cell* cells = series::head_cells(s);
    cell::init(&cells[0], TYPE_CONTEXT);
    cells[0].header |= context::KIND_OBJECT << context::KIND_SHIFT;
    cells[0].w1 = table;
    cells[0].w2 = values;
    cell::init(&cells[1], TYPE_UNSET);
    s->tail = s->offset + 32;
    i32 index = -1;
    hash_table::find_symbol(table, sym, true, ctx, &index);
    SeriesBuffer* vb = node_buffer(values);
    *memory::alloc_tail_buffer(vb) = v;
    Cell* w = stack::push_slot();
    cell::init(w, TYPE_WORD);
    w->w1 = ctx;
    w->w2 = u32(sym);
    w->w3 = u32(index);
    return w;
}

Cell* convert(u32 type, const Cell* spec, u32 slot) {
    Cell* proto = datatype_(type);
    Cell* arg = stack::push(spec);
    return reinterpret_cast<action::Make>(actions::lookup(type, slot))(proto, arg, type);
}

std::vector<u32> pixels_of(const Cell* img) {
    image_backend::Lock lock;
    const u32* p = image::lock_pixels(img, &lock);
    std::vector<u32> out(p, p + image::count_of(img));
    image::unlock_pixels(img, &lock, false);
    return out;
}

std::u32string code_points(const Cell* text) {
    std::u32string out;
    for (i32 i = i32(text->w1); i < string::zs_abs_length(text); i++) out += char32_t(string::get_char_at(text, i));
    return out;
}

std::string mold(const Cell* value, MoldOptions o) {
    Cell* saved = stack::top;
    value = stack::push(value);   // it may lie in a buffer the output's allocation moves
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    Cell part;
    cell::init(&part, TYPE_INTEGER);
    part.w2 = u32(o.part);
    i32 budget = o.part >= 0 ? o.part : PART_UNLIMITED;
    actions::mold(value, buffer, o.only, o.all, o.flat, o.part >= 0 ? &part : nullptr, budget, 0);
    if (o.part >= 0) string::truncate_from(buffer, o.part);
    std::string text = string::to_std(buffer);
    stack::top = saved;
    return text;
}

std::string form(const Cell* value, i32 part) {
    Cell* saved = stack::top;
    value = stack::push(value);   // it may lie in a buffer the output's allocation moves
    Cell* buffer = stack::push_slot();
    cell::init(buffer, TYPE_UNSET);
    string::make_at(buffer, 16, 1);
    Cell p;
    cell::init(&p, TYPE_INTEGER);
    p.w2 = u32(part);
    actions::form(value, buffer, part >= 0 ? &p : nullptr, part >= 0 ? part : PART_UNLIMITED);
    if (part >= 0) string::truncate_from(buffer, part);
    std::string text = string::to_std(buffer);
    stack::top = saved;
    return text;
}

namespace {

HolderReports* reporting = nullptr;
bool in_report = false;

void report_deep(const Cell*, const Cell*, const Cell* target, i32 word, const Cell* value, i32 index, i32 part) {
    if (in_report) return;   // the handler's own changes report too
    in_report = true;
    // Collecting first: what the handler was given must still be there.
    memory::alloc_cells(16);
    collector::do_cycle();
    reporting->told.push_back(std::string(symbol::spelling(word)) + " " + mold(target) + " " + mold(value) + " " +
                              std::to_string(index) + " " + std::to_string(part));
    Cell* mark = stack::top;
    if (reporting->clear_holder) series::clear(stack::push(target));
    stack::top = mark;
    in_report = false;
}

void report_set(const Cell*, const Cell* word, const Cell* old_value, const Cell* new_value) {
    reporting->told.push_back(std::string(symbol::spelling(i32(word->w2))) + " " + mold(old_value) + " -> " +
                              mold(new_value));
}

}  // namespace

HolderReports::HolderReports() : saved_on_set(context::on_set), saved_on_deep_change(ownership::on_deep_change) {
    reporting = this;
    ownership::on_deep_change = report_deep;
    context::on_set = report_set;
}

HolderReports::~HolderReports() {
    reporting = nullptr;
    ownership::on_deep_change = saved_on_deep_change;
    context::on_set = saved_on_set;
}

void ValueTest::SetUp() {
    Collecting::SetUp();
    saved_top = stack::top;
    saved_arguments = stack::arguments;
    saved_stacks = stack::Checkpoint{};
    saved_deep_change = ownership::on_deep_change;
    saved_on_set = context::on_set;
}

void ValueTest::TearDown() {
    // Tests stand in for the object hooks that start-up sets; the next test
    // gets the real ones back.
    ownership::on_deep_change = saved_deep_change;
    context::on_set = saved_on_set;
    saved_stacks.restore();
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    Collecting::TearDown();
}

}  // namespace zir::test
