// The library's routines: see routines.hpp.
#include "boot/routines.hpp"

#include <unistd.h>

#include <cstdio>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/console.hpp"
#include "console/console_io.hpp"

namespace zir {
namespace boot {

namespace {

// quit-return status: ends the process with the status, the output written
// out first.
interpreter::RoutineValue quit_return(const interpreter::RoutineValue* args, i32) {
    console::flush();
    std::fflush(nullptr);
    _exit(args[0].i);
}

struct RoutineDef {
    const char* word;
    const char* spec;
    interpreter::Routine entry;
    i32 returns;
};

const RoutineDef routine_defs[] = {
    {"quit-return", R"("Stops evaluation and exits the program with a given status" status [integer!])", quit_return,
     routine::RETURNS_NONE},
};

}  // namespace

void define_routine(const char* name, const char* spec_text, interpreter::Routine entry, i32 returns,
                    bool pointer_args) {
    stack::KeepTop restore;
    Cell* spec = stack::push_slot();
    cell::init(spec, TYPE_UNSET);
    block::make_at(spec, 4);
    const char* p = spec_text;
    actions::read_spec(spec, p, false);
    i32 index = interpreter::add_routine(entry);
    Cell* value = routine::push(spec, nullptr, index, returns, pointer_args);
    Cell word = *word::load(name);
    context::set(&word, value);
}

void define_routines() {
    for (const RoutineDef& d : routine_defs) define_routine(d.word, d.spec, d.entry, d.returns, false);
    console_io::define_routines();
}

}  // namespace boot
}  // namespace zir
