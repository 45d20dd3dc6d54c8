// The process's surroundings: its command line, its environment variables and
// a description of the operating system it runs on.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zir {
namespace platform {

// Arguments joined into one command text, as a command line is written:
// separated by one blank, an argument that holds a blank or a tab (or is
// empty) between double quotes, so that cutting the text at blanks outside
// double quotes gives the arguments back.
std::string join_command_line(const std::vector<std::string>& args);
// Pushes a string! of the process's whole command line (its arguments as the
// system keeps them, joined as above); empty when the system does not tell.
Cell* get_command_line();

// The environment's variables in the cell, which must not move: a map! from
// names to values, both string!, whose keys keep their letter case apart (as
// the system does). A name ends at the first "=" that is not its first
// character; an entry without such an "=" is all name, with an empty value.
Cell* list_env(Cell* out);

// The operating system as uname describes it.
struct OsInfo {
    std::string name;      // the system's name: "Linux"
    std::string arch;      // the architecture's word: x86-64, ARM64, x86-32, ARM, IA-64 or Unknown
    i32 version[3];        // the first three numbers of the release: 6.1.0 of "6.1.0-18-amd64"
    i32 build;             // the kernel's build count: 1 of "#1 SMP ..."; 0 when not told
};
OsInfo os_info();
// The same as an object! in `out` with the fields `name` (string!), `arch`
// (word!), `version` (a 3-part tuple!; a number above 255, which a tuple
// byte cannot hold, shows as 255) and `build` (integer!).
Cell* get_os_info(Cell* out);

// The parts of `os_info`, for any text uname gives.
const char* arch_word(const std::string& machine);
void parse_release(const std::string& release, i32 version[3]);
i32 parse_build(const std::string& version);

}  // namespace platform
}  // namespace zir
