// Test program: rounds integers with the integer! round action, for the
// oracle that checks it against Python's decimal module.
//
// Reads lines "VALUE SCALE MODE" (MODE one of default, even, down, half-down,
// floor, ceiling, half-ceiling) and prints one line each: the rounded integer,
// or "overflow" when the action raised math overflow.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "boot/runtime_init.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

using namespace zir;

int main() {
    runtime::init();
    auto round = reinterpret_cast<action::Round>(actions::lookup(TYPE_INTEGER, ACT_ROUND));
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        long long value, scale;
        std::string mode;
        if (!(in >> value >> scale >> mode)) continue;
        Cell v, s;
        cell::init(&v, TYPE_INTEGER);
        v.w2 = u32(i32(value));
        cell::init(&s, TYPE_INTEGER);
        s.w2 = u32(i32(scale));
        try {
            round(&v, &s, mode == "even", mode == "down", mode == "half-down", mode == "floor", mode == "ceiling",
                  mode == "half-ceiling");
            std::printf("%d\n", i32(v.w2));
        } catch (const LanguageError& e) {
            std::printf("%s\n", std::strcmp(e.id, "overflow") == 0 ? "overflow" : e.id);
        }
    }
    return 0;
}
