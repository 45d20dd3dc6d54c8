// Test program: money! arithmetic for an outside oracle.
//
// Reads one operation per line of standard input and prints one answer line:
//   OP A B             OP is add, subtract, multiply, divide or remainder
//   round MODE A S     MODE is none, even, down, half-down, floor, ceiling or
//                      half-ceiling; S is the /to scale
//   int A              to integer!
//   float A            to float!
// An operand is an amount in decimal text ("-12.5"), "i:N" for an integer!
// or "f:X" for a float! (read with strtod). Money answers are molded with all
// five fractional digits ("-$12.50000"), floats print as "float X" with 17
// significant digits, integers as "int N", language errors as "error
// CATEGORY ID", and an amount the maker refuses as "refused".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "boot/runtime_init.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/fire.hpp"

using namespace zir;

namespace {

// Pushes the operand; false when the maker refuses the text.
bool push_operand(const std::string& text) {
    Cell* c = stack::push_slot();
    cell::init(c, TYPE_NONE);
    if (text.rfind("i:", 0) == 0) {
        integer::make_at(c, i32(std::strtol(text.c_str() + 2, nullptr, 10)));
        return true;
    }
    if (text.rfind("f:", 0) == 0) {
        float_::make_at(c, std::strtod(text.c_str() + 2, nullptr));
        return true;
    }
    bool negative = text[0] == '-';
    const u8* begin = reinterpret_cast<const u8*>(text.data()) + (negative ? 1 : 0);
    const u8* end = reinterpret_cast<const u8*>(text.data()) + text.size();
    const u8* point = nullptr;
    for (const u8* p = begin; p < end; p++)
        if (*p == '.') point = p;
    return money::make_at(c, negative, nullptr, begin, point, end) != nullptr;
}

std::string answer(const Cell* c) {
    char text[64];
    switch (TYPE_OF(c)) {
        case TYPE_MONEY: {
            Cell* buffer = stack::push_slot();
            string::make_at(buffer, 64, 1);
            actions::mold(c, buffer, false, true, false, nullptr, PART_UNLIMITED, 0);
            return string::to_std(buffer);
        }
        case TYPE_FLOAT: std::snprintf(text, sizeof text, "float %.17g", float_::get(c)); return text;
        case TYPE_INTEGER: std::snprintf(text, sizeof text, "int %d", integer::get(c)); return text;
        default: return "unexpected " + std::string(datatype::name_of(TYPE_OF(c)));
    }
}

u32 slot_of(const std::string& op) {
    if (op == "add") return ACT_ADD;
    if (op == "subtract") return ACT_SUBTRACT;
    if (op == "multiply") return ACT_MULTIPLY;
    if (op == "divide") return ACT_DIVIDE;
    if (op == "remainder") return ACT_REMAINDER;
    return 0;
}

std::string run(std::istringstream& in) {
    std::string op;
    in >> op;
    Cell* base = stack::top;
    Cell* saved_arguments = stack::arguments;
    struct Restore {
        Cell* base;
        Cell* arguments;
        ~Restore() {
            stack::top = base;
            stack::arguments = arguments;
        }
    } restore{base, saved_arguments};
    try {
        if (u32 slot = slot_of(op)) {
            std::string a, b;
            in >> a >> b;
            if (!push_operand(a) || !push_operand(b)) return "refused";
            stack::arguments = base;
            actions::get<action::Direct>(base, slot)();
            return answer(base);
        }
        if (op == "round") {
            std::string mode, a, s;
            in >> mode >> a >> s;
            if (!push_operand(a) || !push_operand(s)) return "refused";
            auto f = actions::get<action::Round>(base, ACT_ROUND);
            return answer(f(base, base + 1, mode == "even", mode == "down", mode == "half-down", mode == "floor",
                            mode == "ceiling", mode == "half-ceiling"));
        }
        if (op == "int" || op == "float") {
            std::string a;
            in >> a;
            if (!push_operand(a)) return "refused";
            u32 type = op == "int" ? TYPE_INTEGER : TYPE_FLOAT;
            auto to = reinterpret_cast<action::Make>(actions::lookup(type, ACT_TO));
            return answer(to(nullptr, base, type));
        }
        return "bad line";
    } catch (const LanguageError& e) {
        return std::string("error ") + category_name(e.category) + " " + e.id;
    }
}

}  // namespace

int main() {
    runtime::init();
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::printf("%s\n", run(in).c_str());
    }
    return 0;
}
