// Test program: prints what the environment services answer, for an outside
// oracle (tests/oracle/environment.py), one item a line:
//   os NAME, arch WORD, version A.B.C, build N
//   cmdline HEX       the command line's bytes
//   env HEX HEX       one line per variable: name and value bytes
// System texts are given in hexadecimal so that any byte survives.
#include <cstdio>
#include <string>

#include "boot/runtime_init.hpp"
#include "datatypes/file.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"
#include "services/environment.hpp"

using namespace zir;

namespace {

std::string hex(const Cell* text) {
    std::string bytes;
    if (!file::to_os_text(text, bytes)) return "?";
    std::string out;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        out += pair;
    }
    return out.empty() ? "-" : out;
}

}  // namespace

int main() {
    runtime::init();
    platform::OsInfo info = platform::os_info();
    std::printf("os %s\narch %s\nversion %d.%d.%d\nbuild %d\n", info.name.c_str(), info.arch.c_str(),
                info.version[0], info.version[1], info.version[2], info.build);
    std::printf("cmdline %s\n", hex(platform::get_command_line()).c_str());
    Cell* pairs = stack::push_slot();
    platform::list_env(pairs);   // a map!: its cells hold key, value, key, value ...
    SeriesBuffer* s = node_buffer(pairs->w2);
    Cell* cells = series::head_cells(s);
    for (i32 i = 0; i + 1 < series::length_of(s); i += 2)
        std::printf("env %s %s\n", hex(&cells[i]).c_str(), hex(&cells[i + 1]).c_str());
    return 0;
}
