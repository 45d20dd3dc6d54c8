// The natives that reach the system: to-local-file, wait, checksum, the
// environment variables, now, call, size?, browse, compress, decompress,
// recycle and transcode.
//
// Each checks and converts its arguments, calls the service (services/, the
// platform layer, the lexer) and leaves the result in the first argument
// cell. Data handed to a service is copied out of its series first, or read
// through the series' node by a service that allocates nothing meanwhile.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/time.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform.hpp"
#include "services/checksum.hpp"
#include "services/compress.hpp"
#include "services/environment.hpp"
#include "services/process.hpp"
#include "services/simple_io.hpp"

namespace zir {
namespace natives {

namespace {

// --- Helpers -------------------------------------------------------------------

void answer(const Cell* value) {
    stack::set_last(value);
    stack::keep();
}

void answer_none() {
    cell::init(stack::arguments, TYPE_NONE);
    stack::keep();
}

void answer_int(i32 n) {
    integer::make_at(stack::arguments, n);
    stack::keep();
}

// The bytes a value stands for: a binary!'s from its head, a text's UTF-8.
std::string bytes_of(const Cell* value) {
    if (TYPE_OF(value) == TYPE_BINARY) {
        i32 n = series::rest_length(value);
        const u8* p = series::element_at(series::buffer_of(value), series::head_index(value));
        return std::string(reinterpret_cast<const char*>(p), size_t(n));
    }
    return string::to_std(value);
}

// A new binary! of the bytes, pushed.
Cell* push_binary(const std::string& bytes) {
    Cell* b = stack::push_slot();
    cell::init(b, TYPE_UNSET);
    binary::make_at(b, i64(bytes.size()) + 1);
    binary::zs_append(b, reinterpret_cast<const u8*>(bytes.data()), i64(bytes.size()));
    return b;
}

// The system text of a name or value: a string's text, a word's spelling.
// A NUL would cut the text short where the system reads it.
std::string system_text(const Cell* value) {
    std::string text;
    if (any_word_q(TYPE_OF(value))) {
        text = std::string(symbol::spelling(i32(value->w2)));
    } else if (!file::to_os_text(value, text)) {
        fire(ERR_SCRIPT, "invalid-arg", value);
    }
    return text;
}

// A file!'s local form as a pushed string!; a string! as it is.
Cell* local_text(const Cell* value, bool full) {
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    string::make_at(out, i64(series::rest_length(value)) + 1, 1);
    if (TYPE_OF(value) == TYPE_FILE) {
        file::to_local_path(value, out, full);
    } else {
        std::string text = string::to_std(value);
        string::append_utf8(out, reinterpret_cast<const u8*>(text.data()), i64(text.size()));
    }
    return out;
}

Cell word_named(const char* spelling) { return *word::load(spelling); }

// --- Files and processes ---------------------------------------------------------

i32 to_local_file(i32 check, const i32* r) {
    if (check) check_args(85, r);
    answer(local_text(stack::arguments, r[0] >= 0));
    return 0;
}

i32 size_q(i32 check, const i32* r) {
    if (check) check_args(101, r);
    const Cell* path = stack::arguments;
    if (simple_io::dir_q(path)) return answer_none(), 0;
    i64 size = simple_io::size_q(file::to_os_path(path));
    if (size < 0) return answer_none(), 0;
    if (size > 0x7FFFFFFF) {
        Cell t;
        datatype::make_at(&t, TYPE_INTEGER);
        fire(ERR_SCRIPT, "type-limit", &t);
    }
    answer_int(i32(size));
    return 0;
}

i32 call_(i32 check, const i32* r) {
    if (check) check_args(99, r);
    Cell* cmd = stack::arguments;
    if (series::rest_length(cmd) == 0) return answer_int(0), 0;
    call::Options o;
    o.program = TYPE_OF(cmd) == TYPE_FILE;
    if (o.program) *cmd = *local_text(cmd, false);
    o.wait = r[0] >= 0;
    o.show = r[1] >= 0;
    o.console = r[2] >= 0;
    o.shell = r[3] >= 0;
    const Cell* in = r[4] >= 0 ? stack::arguments + r[4] : nullptr;
    const Cell* out = r[5] >= 0 ? stack::arguments + r[5] : nullptr;
    const Cell* err = r[6] >= 0 ? stack::arguments + r[6] : nullptr;
    call::call(stack::arguments, cmd, o, in, out, err);
    stack::keep();
    return 0;
}

i32 browse(i32 check, const i32* r) {
    if (check) check_args(102, r);
    Cell* text = local_text(stack::arguments, false);
    std::string target;
    if (!file::to_os_text(text, target)) fire(ERR_SCRIPT, "invalid-arg", stack::arguments);
    // Failures are not reported, as a desktop's "open" reports none.
    call::start_detached({"xdg-open", target});
    unset::box();
    stack::keep();
    return 0;
}

// --- Time ----------------------------------------------------------------------

i32 wait(i32 check, const i32* r) {
    if (check) check_args(86, r);
    const Cell* v = stack::arguments;
    double seconds;
    switch (TYPE_OF(v)) {
        case TYPE_INTEGER: seconds = integer::get(v); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: seconds = cell::get_float(v); break;
        default: fire(ERR_SCRIPT, "invalid-arg", v);
    }
    platform::wait(seconds);
    // The terminal view backend would handle its pending events here; there
    // is none yet.
    answer_none();
    return 0;
}

i32 now(i32 check, const i32* r) {
    if (check) check_args(96, r);
    enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
    bool precise = r[PRECISE] >= 0, utc = r[UTC] >= 0;
    if (!(precise && utc)) {
        i32 n = 0;
        for (i32 i = YEAR; i <= PRECISE; i++) n += r[i] >= 0;
        if (n > 1) fire(ERR_SCRIPT, "bad-refines");
    }
    platform::ClockReading clock = platform::read_clock(precise);
    u32 local = utc ? clock.utc_date : clock.local_date;
    u32 zone = utc ? 0 : date::zone_of(local);
    u32 word;
    double seconds = 0;
    if (r[DATE] >= 0) {
        word = date::pack(date::year_of(local), date::month_of(local), date::day_of(local), 0, false);
    } else {
        // The day and time of the instant in UTC, then carried into the
        // zone's day: the local date may be a day before or after UTC's.
        i64 day = date::to_day_number(clock.utc_date);
        seconds = clock.seconds;
        if (!date::normalize_time(&day, &seconds, zone)) fire(ERR_SCRIPT, "invalid-arg", &none::value);
        word = date::from_day_number(day, zone, true);
    }
    Cell* d = date::push(word, seconds);
    static const i32 fields[] = {date::FIELD_YEAR, date::FIELD_MONTH, date::FIELD_DAY, date::FIELD_TIME,
                                 date::FIELD_ZONE};
    for (i32 i = YEAR; i <= ZONE; i++)
        if (r[i] >= 0) return answer(date::get_field(d, fields[i])), 0;
    if (r[WEEKDAY] >= 0) return answer(date::get_field(d, date::FIELD_WEEKDAY)), 0;
    if (r[YEARDAY] >= 0) return answer_int(date::get_yearday(word)), 0;
    answer(d);
    return 0;
}

// --- Environment -----------------------------------------------------------------

i32 set_env(i32 check, const i32* r) {
    if (check) check_args(93, r);
    const Cell* var = stack::arguments;
    const Cell* value = stack::arguments + 1;
    std::string name = system_text(var);
    int rc;
    if (TYPE_OF(value) == TYPE_NONE) {
        rc = name.empty() ? -1 : unsetenv(name.c_str());
    } else {
        std::string text = system_text(value);
        rc = platform::set_env(name, text) ? 0 : -1;
    }
    // An empty name or one holding "=" is no variable the system keeps.
    if (rc != 0) fire(ERR_SCRIPT, "invalid-arg", var);
    answer(value);
    return 0;
}

i32 get_env(i32 check, const i32* r) {
    if (check) check_args(94, r);
    auto v = platform::get_env(system_text(stack::arguments));
    if (!v) return answer_none(), 0;
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    file::load_os_text(out, reinterpret_cast<const u8*>(v->data()), i64(v->size()), TYPE_STRING);
    answer(out);
    return 0;
}

i32 list_env(i32 check, const i32* r) {
    if (check) check_args(95, r);
    Cell* out = stack::push_slot();
    cell::init(out, TYPE_UNSET);
    platform::list_env(out);
    answer(out);
    return 0;
}

// --- Checksums and compression ------------------------------------------------------

i32 checksum_(i32 check, const i32* r) {
    if (check) check_args(87, r);
    const Cell* data = stack::arguments;
    const Cell* method = stack::arguments + 1;
    const Cell* spec = r[0] >= 0 ? stack::arguments + r[0] : nullptr;
    std::string bytes;
    switch (TYPE_OF(data)) {
        case TYPE_FILE: {
            // A folder's path reads as its listing, a block: not data.
            if (simple_io::dir_q(data)) fire(ERR_SCRIPT, "invalid-arg", data);
            std::vector<u8> content;
            simple_io::ReadStatus status = simple_io::read_bytes(file::to_os_path(data), -1, -1, content);
            if (status == simple_io::READ_TOO_LARGE) fire(ERR_SCRIPT, "size-limit", data);
            if (status != simple_io::READ_OK) fire(ERR_ACCESS, "cannot-open", data);
            bytes.assign(content.begin(), content.end());
            break;
        }
        case TYPE_STRING:
        case TYPE_BINARY: bytes = bytes_of(data); break;
        default: fire(ERR_SCRIPT, "invalid-arg", data);
    }
    i32 symbol = any_word_q(TYPE_OF(method)) ? symbol::resolve(i32(method->w2)) : 0;
    if (!symbol || !checksum::method_q(symbol)) fire(ERR_SCRIPT, "invalid-arg", method);
    const u8* p = reinterpret_cast<const u8*>(bytes.data());
    i64 n = i64(bytes.size());
    i32 code = checksum::method_code(symbol);
    bool hash = symbol == checksum::sym_hash;
    auto refuse = [&](const Cell* arg) {
        Cell with = word_named("with");
        fire(ERR_SCRIPT, "invalid-refine-arg", &with, arg);
    };
    if (code == checksum::CODE_CRC32 || code == checksum::CODE_TCP || symbol == checksum::sym_adler32) {
        if (spec) refuse(spec);
        u32 sum = code == checksum::CODE_CRC32 ? checksum::crc32(p, n)
                  : code == checksum::CODE_TCP ? checksum::tcp(p, n)
                                               : checksum::adler32(p, n);
        return answer_int(i32(sum)), 0;
    }
    u8 digest[checksum::MAX_DIGEST];
    i32 size;
    if (!spec) {
        if (hash) refuse(method);
        size = crypto::hash(p, n, code, digest);
    } else if (TYPE_OF(spec) == TYPE_INTEGER) {
        return answer_int(checksum::hash_stub(p, n, integer::get(spec))), 0;
    } else if (TYPE_OF(spec) == TYPE_STRING || TYPE_OF(spec) == TYPE_BINARY) {
        if (hash) refuse(spec);
        std::string key = bytes_of(spec);
        size = checksum::hmac(p, n, reinterpret_cast<const u8*>(key.data()), i64(key.size()), code, digest);
    } else {
        fire(ERR_SCRIPT, "invalid-arg", spec);
    }
    answer(push_binary(std::string(reinterpret_cast<const char*>(digest), size_t(size))));
    return 0;
}

// The method of compress and decompress: `script invalid-arg` for a word
// that names none.
compress::Method method_of(const Cell* word) {
    compress::Method m = any_word_q(TYPE_OF(word)) ? compress::method_of(i32(word->w2)) : compress::NO_METHOD;
    if (m == compress::NO_METHOD) fire(ERR_SCRIPT, "invalid-arg", word);
    return m;
}

// A byte series node as a binary! at its head into the cell.
void binary_at(Cell* c, u32 node) {
    cell::init(c, TYPE_BINARY);
    c->w1 = 0;
    c->w2 = node;
}

i32 compress_(i32 check, const i32* r) {
    if (check) check_args(103, r);
    compress::Method m = method_of(stack::arguments + 1);
    Cell* data = stack::arguments;
    // Text is compressed as its UTF-8 bytes.
    if (TYPE_OF(data) != TYPE_BINARY) data = push_binary(bytes_of(data));
    u32 node = compress::encode(m, data->w2, series::head_index(data), series::rest_length(data));
    binary_at(stack::arguments, node);
    stack::keep();
    return 0;
}

i32 decompress_(i32 check, const i32* r) {
    if (check) check_args(104, r);
    compress::Method m = method_of(stack::arguments + 1);
    Cell* data = stack::arguments;
    if (TYPE_OF(data) != TYPE_BINARY) fire(ERR_SCRIPT, "invalid-arg", data);
    i64 hint = 0;
    if (r[0] >= 0) {
        const Cell* sz = stack::arguments + r[0];
        if (TYPE_OF(sz) != TYPE_INTEGER) fire(ERR_SCRIPT, "invalid-arg", sz);
        if (integer::get(sz) > 0) hint = integer::get(sz);
    }
    u32 node = compress::decode(m, data->w2, series::head_index(data), series::rest_length(data), hint);
    binary_at(stack::arguments, node);
    stack::keep();
    return 0;
}

// --- The collector -----------------------------------------------------------------

i32 recycle(i32 check, const i32* r) {
    if (check) check_args(105, r);
    if (r[0] >= 0 || r[1] >= 0) {
        collector::active = r[0] >= 0;
        unset::box();
        stack::keep();
        return 0;
    }
    collector::do_cycle();
    i64 used = memory::frame_total();
    if (used > 0x7FFFFFFF) float_::make_at(stack::arguments, double(used));
    else integer::make_at(stack::arguments, i32(used));
    stack::keep();
    return 0;
}

// --- The lexer --------------------------------------------------------------------

i32 transcode(i32 check, const i32* r) {
    if (check) check_args(106, r);
    enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };
    Cell* src = stack::arguments;
    i32 abs = series::abs_length(series::buffer_of(src));
    series::clamp_head(src, abs);
    if (TYPE_OF(src) == TYPE_BINARY && abs - series::head_index(src) >= 3) {
        const u8* p = series::element_at(series::buffer_of(src), series::head_index(src));
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) src->w1 += 3;
    }
    i32 length = -1;
    if (r[PART] >= 0) {
        const Cell* part = stack::arguments + r[PART];
        if (TYPE_OF(part) == TYPE_INTEGER) {
            length = integer::get(part);
        } else {
            if (TYPE_OF(part) != TYPE_OF(src)) fire(ERR_SCRIPT, "not-same-type");
            length = series::head_index(part) - series::head_index(src);
        }
        if (length < 0) length = 0;
    }
    lexer::Options o;
    bool scan_only = r[SCAN] >= 0 || r[PRESCAN] >= 0;
    o.one = r[NEXT] >= 0 || r[ONE] >= 0 || scan_only;
    o.scan = r[PRESCAN] < 0;
    o.load = r[SCAN] < 0;
    Cell* into = r[INTO] >= 0 ? stack::arguments + r[INTO] : nullptr;
    const Cell* callback = r[TRACE] >= 0 ? stack::arguments + r[TRACE] : nullptr;
    if (scan_only && series::rest_length(src) == 0) return answer_none(), 0;
    // The source as it was given (the head past a byte-order mark): the rest
    // after /next is a position in it.
    Cell* input = stack::push(src);
    Cell* dst = stack::push_slot();
    cell::init(dst, TYPE_NONE);
    i32 consumed = 0;
    i32 type = lexer::string_to_block(dst, input, length, o, &consumed, callback, into);
    if (scan_only) {
        // The guessed type stands in for the loaded value: with /next it is
        // answered together with the rest of the input.
        if (type == 0) {
            cell::init(dst, TYPE_NONE);
        } else {
            datatype::make_at(dst, u32(type));
        }
        if (r[NEXT] < 0) return answer(dst), 0;
    } else if (into) {
        *dst = *into;
    }
    if (r[NEXT] >= 0) {
        Cell* pair = stack::push_slot();
        cell::init(pair, TYPE_UNSET);
        block::make_at(pair, 2);
        block::zs_append(pair, dst);
        Cell rest = *input;
        rest.w1 += u32(consumed);
        block::zs_append(pair, &rest);
        return answer(pair), 0;
    }
    answer(dst);
    return 0;
}

}  // namespace

void fill_system(action::Generic* slots) {
    auto put = [&](i32 slot, Entry e) { slots[slot - 1] = reinterpret_cast<action::Generic>(e); };
    put(85, to_local_file);
    put(86, wait);
    put(87, checksum_);
    put(93, set_env);
    put(94, get_env);
    put(95, list_env);
    put(96, now);
    put(99, call_);
    put(101, size_q);
    put(102, browse);
    put(103, compress_);
    put(104, decompress_);
    put(105, recycle);
    put(106, transcode);
}

}  // namespace natives
}  // namespace zir
