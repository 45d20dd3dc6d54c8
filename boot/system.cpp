// The system object's link with the runtime: see system.hpp.
#include "boot/system.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "boot/catalog.hpp"
#include "build_info.hpp"
#include "boot/startup.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/file.hpp"
#include "datatypes/function.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/image.hpp"
#include "datatypes/image_backend.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/port.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/float.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/platform.hpp"

namespace zir {
namespace boot {

static_assert(BOOT_SLOT == natives::NATIVES_USED + 1 && BOOT_SLOT <= natives::NATIVES_SIZE);

namespace {

using interpreter::RoutineValue;

// --- The boot routines ------------------------------------------------------------
// Each takes its arguments as cells and answers a new stack cell (the
// interpreter's frame for the call is dropped after it).

RoutineValue answer(Cell* c) {
    RoutineValue v;
    v.cell = c;
    return v;
}

RoutineValue gc_active(const RoutineValue*, i32) { return answer(logic::push(collector::active)); }
RoutineValue gc_series_cycles(const RoutineValue*, i32) { return answer(integer::push(i32(collector::stats.cycles))); }
RoutineValue gc_nodes_cycles(const RoutineValue*, i32) {
    return answer(integer::push(i32(collector::stats.nodes_cycles)));
}

bool truthy(const Cell* c) {
    u32 t = TYPE_OF(c);
    return !(t == TYPE_NONE || t == TYPE_UNSET || (t == TYPE_LOGIC && !logic::get(c)));
}

// float-flags pretty? full?: the runtime's switches of float text.
RoutineValue float_flags(const RoutineValue* args, i32) {
    float_::pretty_print_q = truthy(args[0].cell);
    float_::full_support_q = truthy(args[1].cell);
    return answer(stack::push(&unset::value));
}

// A routine's argument of the wrong datatype: `script expect-arg` naming the
// routine, the datatype and the argument.
void require(const Cell* value, u32 type, const char* routine, const char* arg) {
    if (TYPE_OF(value) == type) return;
    Cell name = *word::load(routine), kind, which = *word::load(arg);
    datatype::make_at(&kind, TYPE_OF(value));
    fire(ERR_SCRIPT, "expect-arg", &name, &kind, &which);
}

// The codecs' routines.

template <i32 FORMAT>
RoutineValue image_encode(const RoutineValue* args, i32) {
    require(args[0].cell, TYPE_IMAGE, "encode", "img");
    return answer(image::encode(args[0].cell, nullptr, FORMAT));
}

RoutineValue image_decode(const RoutineValue* args, i32) { return answer(image::decode(args[0].cell)); }

RoutineValue zirbin_encode(const RoutineValue* args, i32) {
    require(args[1].cell, TYPE_LOGIC, "encode*", "compact?");
    return answer(logic::get(args[1].cell) ? zirbin::encode_cp(args[0].cell) : zirbin::encode(args[0].cell));
}

// decode payload: a file! or url! is read as binary first (by `read/binary`,
// so both go where the language's read takes them); a single decoded value
// is answered itself, several as their block.
RoutineValue zirbin_decode(const RoutineValue* args, i32) {
    Cell* payload = stack::push(args[0].cell);
    u32 t = TYPE_OF(payload);
    if (t == TYPE_FILE || t == TYPE_URL) {
        static const char text[] = "read/binary";
        Cell* code = stack::push_slot();
        cell::init(code, TYPE_UNSET);
        lexer::transcode(code, reinterpret_cast<const u8*>(text), i64(sizeof text - 1), lexer::Options{}, nullptr,
                         nullptr, nullptr, nullptr);
        block::zs_append(code, payload);
        Cell* result = stack::top;
        interpreter::eval_block(code, false);
        stack::raise_pending();
        *payload = *result;
        stack::top = payload + 1;
    }
    if (TYPE_OF(payload) != TYPE_BINARY || series::rest_length(payload) <= 10)
        fire(ERR_SCRIPT, "invalid-data", payload);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    block::make_at(out, 1);
    zirbin::decode_binary(payload, out);
    if (block::zs_length_q(out) == 1) *out = *block::cell_at(out->w2, out->w1);
    return answer(out);
}

// A boot routine takes its arguments as cells and answers its result cell,
// unless it names its result type (`returns`): then its arguments arrive
// checked and converted, and its result is converted.
struct BootRoutine {
    const char* name;
    const char* spec;
    interpreter::Routine entry;
    i32 returns = routine::RETURNS_NONE;
};

const BootRoutine boot_routines[] = {
    {"gc-active?", R"("Whether the collector runs" return: [logic!])", gc_active},
    {"gc-series-cycles", R"("The collections done" return: [integer!])", gc_series_cycles},
    {"gc-nodes-cycles", R"("The collections that gave node frames back" return: [integer!])", gc_nodes_cycles},
    {"float-flags", R"(pretty? [logic!] full? [logic!])", float_flags},
    {"encode-png", R"(img [image!] where [any-type!])", image_encode<image_backend::FORMAT_PNG>},
    {"encode-jpeg", R"(img [image!] where [any-type!])", image_encode<image_backend::FORMAT_JPEG>},
    {"encode-bmp", R"(img [image!] where [any-type!])", image_encode<image_backend::FORMAT_BMP>},
    {"encode-gif", R"(img [image!] where [any-type!])", image_encode<image_backend::FORMAT_GIF>},
    {"encode-tiff", R"(img [image!] where [any-type!])", image_encode<image_backend::FORMAT_TIFF>},
    {"decode-image", R"(data [any-type!])", image_decode},
    {"zirbin-encode", R"(data [any-type!] compact? [logic!])", zirbin_encode},
    {"zirbin-decode", R"(payload [any-type!])", zirbin_decode},
};

// The routine table's index of each boot routine, added once per process.
i32 routine_index[std::size(boot_routines)] = {};

Cell* push_routine(size_t k) {
    const BootRoutine& r = boot_routines[k];
    if (!routine_index[k]) routine_index[k] = interpreter::add_routine(r.entry);
    Cell* spec = stack::push_slot();
    cell::init(spec, TYPE_UNSET);
    block::make_at(spec, 4);
    const char* p = r.spec;
    actions::read_spec(spec, p, false);
    bool cells = r.returns == routine::RETURNS_NONE;
    return routine::push(spec, nullptr, routine_index[k], r.returns, cells);
}

// --- Values -----------------------------------------------------------------------

Cell* push_text(std::string_view text, u32 type = TYPE_STRING) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    file::load_os_text(out, reinterpret_cast<const u8*>(text.data()), i64(text.size()), type);
    return out;
}

// The first value of a text read by the lexer.
Cell* push_loaded(std::string_view text) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    lexer::transcode(out, reinterpret_cast<const u8*>(text.data()), i64(text.size()), lexer::Options{}, nullptr,
                     nullptr, nullptr, nullptr);
    if (block::zs_length_q(out) < 1) cell::init(out, TYPE_NONE);
    else *out = *block::cell_at(out->w2, out->w1);
    stack::top = out + 1;
    return out;
}

// The moment of the build as date text: "10-Dec-2026/02:53:00".
std::string build_date_text() {
    const char* d = __DATE__;   // "Dec 10 2026"
    std::string day(d + 4, 2);
    if (day[0] == ' ') day.erase(0, 1);
    return day + "-" + std::string(d, 3) + "-" + std::string(d + 7, 4) + "/" + __TIME__;
}

// A commit time (Unix seconds) as date text in UTC, or "" when unknown.
std::string commit_date_text() {
    std::string_view seconds = ZIR_GIT_TIME;
    if (seconds.empty()) return "";
    time_t t = time_t(std::strtoll(std::string(seconds).c_str(), nullptr, 10));
    struct tm parts;
    if (!gmtime_r(&t, &parts)) return "";
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[48];
    std::snprintf(text, sizeof text, "%d-%s-%d/%d:%02d:%02d", parts.tm_mday, months[parts.tm_mon],
                  parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

// A text of the build's description as a value: none when empty.
Cell* push_described(std::string_view text, bool load) {
    if (text.empty()) return stack::push(&none::value);
    return load ? push_loaded(text) : push_text(text);
}

std::string executable_path() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n > 0) return std::string(buffer, size_t(n));
    return process.args.empty() ? std::string() : process.args[0];
}

// boot-value name: see system.hpp.
i32 boot_value(i32, const i32*) {
    const Cell name = *stack::arguments;
    if (!any_word_q(TYPE_OF(&name))) fire(ERR_SCRIPT, "invalid-arg", &name);
    const std::string n(symbol::spelling(i32(name.w2)));
    Cell* out = nullptr;
    if (n == "errors") out = stack::push(catalog::errors());
    else if (n == "standard-error") out = stack::push(catalog::standard_error());
    else if (n == "command-line") out = push_text(command_line_text());
    else if (n == "current-dir") {
        out = file::get_current_dir();
        cell::set_type(out, TYPE_FILE);
    } else if (n == "executable") out = push_text(executable_path(), TYPE_FILE);
    else if (n == "build-date") out = push_loaded(build_date_text());
    else if (n == "git-branch") out = push_described(ZIR_GIT_BRANCH, false);
    else if (n == "git-commit") out = push_described(*ZIR_GIT_COMMIT ? "#" ZIR_GIT_COMMIT : "", true);
    else if (n == "git-date") out = push_described(commit_date_text(), true);
    else if (n == "git-message") out = push_described(ZIR_GIT_SUBJECT, false);
    else if (n == "git-commits") out = push_described(ZIR_GIT_COUNT, true);
    else if (n == "arguments") {
        // The arguments as the system handed them over, the program's name
        // left out.
        out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        block::make_at(out, i64(process.args.size()));
        for (size_t i = 1; i < process.args.size(); i++) {
            stack::KeepTop keep;
            block::zs_append(out, push_text(process.args[i]));
        }
    } else if (n == "null-handle") out = handle::push_null();
    else if (n == "words") out = object::push(context::global, u32(-1));
    else {
        for (size_t k = 0; k < std::size(boot_routines); k++)
            if (n == boot_routines[k].name) out = push_routine(k);
    }
    if (!out) fire(ERR_SCRIPT, "invalid-arg", &name);
    stack::set_last(out);
    stack::keep();
    return 0;
}

// --- Hooks ------------------------------------------------------------------------

const Cell* field_in(const Cell* holder, i32 symbol) {
    u32 t = TYPE_OF(holder);
    if (t != TYPE_OBJECT && t != TYPE_PORT && t != TYPE_ERROR) return nullptr;
    i32 i = context::find_word(holder->w1, symbol, true);
    return i < 0 ? nullptr : context::value_at(context::cell_of(holder->w1), i);
}

// The field words the hooks walk, made when the hooks are connected (at
// every initialisation) so that a read never makes a symbol: the hooks run
// inside mold and the like, where no allocation may happen.
enum Field : i32 {
    F_SYSTEM, F_LOCALE, F_MONTHS, F_CURRENCIES, F_LIST, F_OPTIONS, F_MONEY_DIGITS, F_STANDARD, F_PORT,
    F_URL_PARTS, F_SCHEMES, F_STATE, F_CALLBACKS, F_BITS, F_STACK_TRACE, F_COUNT
};
const char* const field_names[F_COUNT] = {"system",   "locale", "months",   "currencies", "list",
                                          "options",  "money-digits", "standard", "port", "url-parts",
                                          "schemes",  "state",  "callbacks", "bits", "stack-trace"};
i32 field_symbols[F_COUNT] = {};

const Cell* walk(std::initializer_list<Field> path) {
    if (!field_symbols[F_SYSTEM]) return nullptr;
    i32 slot = context::find_word(context::global, field_symbols[F_SYSTEM], false);
    if (slot < 0) return nullptr;
    const Cell* at = context::value_at(context::cell_of(context::global), slot);
    for (Field f : path)
        if (!(at = field_in(at, field_symbols[f]))) break;
    return at;
}

const Cell* months() { return walk({F_LOCALE, F_MONTHS}); }
const Cell* currencies() { return walk({F_LOCALE, F_CURRENCIES, F_LIST}); }
const Cell* money_digits() { return walk({F_OPTIONS, F_MONEY_DIGITS}); }

const Cell* port_value(port::SystemValue which) {
    switch (which) {
        case port::STANDARD_PORT: return walk({F_STANDARD, F_PORT});
        case port::URL_PARTS: return walk({F_STANDARD, F_URL_PARTS});
        case port::SCHEMES: return walk({F_SCHEMES});
    }
    return nullptr;
}

i32 callback_bits() {
    const Cell* bits = walk({F_STATE, F_CALLBACKS, F_BITS});
    return bits && TYPE_OF(bits) == TYPE_INTEGER ? integer::get(bits) : 0;
}

i32 stack_trace_depth() {
    const Cell* depth = walk({F_STATE, F_STACK_TRACE});
    return depth && TYPE_OF(depth) == TYPE_INTEGER && integer::get(depth) > 0 ? integer::get(depth) : 0;
}

}  // namespace

const Cell* system_field(std::initializer_list<const char*> path) {
    // Symbols first: making one may allocate, and no cell address is held yet.
    i32 symbols[8];
    i32 n = 0;
    i32 system_symbol = symbol::make("system");
    for (const char* step : path)
        if (n < 8) symbols[n++] = symbol::make(step);
    i32 slot = context::find_word(context::global, system_symbol, false);
    if (slot < 0) return nullptr;
    const Cell* at = context::value_at(context::cell_of(context::global), slot);
    for (i32 i = 0; i < n && at; i++) at = field_in(at, symbols[i]);
    return at;
}

std::string command_line_text() {
    std::string line;
    for (size_t i = 0; i < process.args.size(); i++) {
        const std::string& a = process.args[i];
        if (i) line += ' ';
        bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
        if (quote) line += '"';
        line += a;
        if (quote) line += '"';
    }
    return line;
}

void define_boot_native() {
    natives::table[BOOT_SLOT - 1] = reinterpret_cast<action::Generic>(&boot_value);
    if (natives::count < BOOT_SLOT) natives::count = BOOT_SLOT;
    stack::KeepTop restore;
    Cell* made = stack::push_slot();
    cell::init(made, TYPE_UNSET);
    block::make_at(made, 2);
    Cell* spec = stack::push_slot();
    cell::init(spec, TYPE_UNSET);
    block::make_at(spec, 4);
    const char* p = R"("Answers what start-up takes from the runtime at start-up" name [word!])";
    actions::read_spec(spec, p, false);
    block::zs_append(made, spec);
    Cell slot;
    integer::make_at(&slot, BOOT_SLOT);
    block::zs_append(made, &slot);
    Cell* value = native::make(nullptr, made, TYPE_NATIVE);
    Cell word = *word::load("boot-value");
    context::set(&word, value);
    connect_hooks();
}

void connect_hooks() {
    for (i32 f = 0; f < F_COUNT; f++) field_symbols[f] = symbol::make(field_names[f]);
    date::locale_months = months;
    money::locale_currencies = currencies;
    money::option_money_digits = money_digits;
    port::system_value = port_value;
    interpreter::callback_bits = callback_bits;
    error::stack_trace_depth = stack_trace_depth;
}

void finish_boot() {
    Cell word = *word::load("boot-value");
    context::set(&word, &unset::value);
    if (const Cell* states = system_field({"lexer", "exit-states"}))
        if (TYPE_OF(states) == TYPE_BLOCK) lexer::exit_states = *states;
}

}  // namespace boot
}  // namespace zir
