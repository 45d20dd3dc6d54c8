// The process's surroundings: see environment.hpp.
//
// The command line comes from /proc/self/cmdline, the arguments as the
// system keeps them for the whole process, so it needs nothing from the
// program's entry. Names, values and arguments are system texts: bytes that
// are not UTF-8 are kept as escapes (`file::load_os_text`).
#include "services/environment.hpp"

#include <sys/utsname.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/file.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "services/simple_io.hpp"

extern char** environ;

namespace zir {
namespace platform {

std::string join_command_line(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line.push_back(' ');
        bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
        if (quote) line.push_back('"');
        line += a;
        if (quote) line.push_back('"');
    }
    return line;
}

Cell* get_command_line() {
    std::vector<u8> raw;
    std::vector<std::string> args;
    if (simple_io::read_bytes("/proc/self/cmdline", -1, -1, raw) == simple_io::READ_OK) {
        // Each argument ends with a NUL.
        size_t start = 0;
        for (size_t i = 0; i < raw.size(); i++) {
            if (raw[i] != 0) continue;
            args.emplace_back(reinterpret_cast<const char*>(raw.data()) + start, i - start);
            start = i + 1;
        }
    }
    std::string line = join_command_line(args);
    Cell* out = stack::push_slot();
    return file::load_os_text(out, reinterpret_cast<const u8*>(line.data()), i64(line.size()), TYPE_STRING);
}

Cell* list_env(Cell* out) {
    collector::RootCell pairs;
    block::make_at(pairs.get(), 100);
    collector::RootCell text;
    // A process may be started with one name twice; the variable is the first
    // entry, the one getenv finds and get-env answers.
    std::unordered_set<std::string_view> seen;
    for (char** e = environ; e && *e; e++) {
        const char* entry = *e;
        size_t n = std::strlen(entry);
        // A first "=" belongs to the name (hidden entries begin with one).
        const char* eq = n > 1 ? static_cast<const char*>(std::memchr(entry + 1, '=', n - 1)) : nullptr;
        size_t name = eq ? size_t(eq - entry) : n;
        if (!seen.insert(std::string_view(entry, name)).second) continue;
        file::load_os_text(text.get(), reinterpret_cast<const u8*>(entry), i64(name), TYPE_STRING);
        block::zs_append(pairs.get(), text.get());
        const char* value = eq ? eq + 1 : entry + n;
        file::load_os_text(text.get(), reinterpret_cast<const u8*>(value), i64(entry + n - value), TYPE_STRING);
        block::zs_append(pairs.get(), text.get());
    }
    // Names differ by letter case alone on this system: keys are put with /case.
    map::make_at(out, 0, series::rest_length(pairs.get()) / 2);
    return map::extend(out, pairs.get(), true);
}

const char* arch_word(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "aarch64" || machine == "aarch64_be" || machine == "arm64") return "ARM64";
    if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686" || machine == "x86")
        return "x86-32";
    if (machine.starts_with("arm")) return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

namespace {

// The decimal number at text[i], moving i past it; one beyond 32 bits is
// held at the largest.
i32 number_at(const std::string& text, size_t& i) {
    i64 n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) n = std::min<i64>(n * 10 + (text[i] - '0'), 0x7FFFFFFF);
    return i32(n);
}

bool digit_at(const std::string& text, size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; }

}  // namespace

void parse_release(const std::string& release, i32 version[3]) {
    version[0] = version[1] = version[2] = 0;
    size_t i = 0;
    for (int k = 0; k < 3 && digit_at(release, i); k++) {
        version[k] = number_at(release, i);
        if (i >= release.size() || release[i] != '.') break;
        i++;
    }
}

i32 parse_build(const std::string& version) {
    size_t i = version.find('#');
    if (i == std::string::npos || !digit_at(version, i + 1)) return 0;
    i++;
    return number_at(version, i);
}

OsInfo os_info() {
    OsInfo info{"", "Unknown", {0, 0, 0}, 0};
    struct utsname u;
    if (uname(&u) != 0) return info;
    info.name = u.sysname;
    info.arch = arch_word(u.machine);
    parse_release(u.release, info.version);
    info.build = parse_build(u.version);
    return info;
}

Cell* get_os_info(Cell* out) {
    OsInfo info = os_info();
    stack::KeepTop keep;
    Cell* object = stack::push(&unset::value);
    object::make_at(object, 8);
    auto field = [&](const char* name, const Cell* value) {
        context::add_with(object->w1, symbol::make(name), value);
        stack::pop(1);   // the value, pushed last
    };
    field("name", string::load_push(reinterpret_cast<const u8*>(info.name.data()), i64(info.name.size()),
                                    string::ENCODING_UTF8));
    field("arch", stack::push(word::from_symbol(symbol::make(info.arch.c_str()))));
    i32 version[3];
    for (int k = 0; k < 3; k++) version[k] = std::min(info.version[k], 255);
    field("version", tuple::push_bytes(3, version));
    field("build", integer::push(info.build));
    *out = *object;
    return out;
}

}  // namespace platform
}  // namespace zir
