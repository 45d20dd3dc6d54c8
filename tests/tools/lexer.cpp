// Test program: loads literals with our lexer for an outside oracle.
//
// Reads one source text per line of standard input, written as the
// hexadecimal digits of its UTF-8 bytes, and prints one line per text: the first value it loads to, as
//   integer N          an integer!
//   float HEX          a float!: the 16 hexadecimal digits of its bits
//   date Y M D         a date! (its year, month and day)
//   binary HEX         a binary!: its bytes in hexadecimal (empty: "binary")
//   invalid            a syntax error
//   other              anything else
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "boot/runtime_init.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/series.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "runtime/fire.hpp"

using namespace zir;

int main() {
    runtime::init();
    std::string line;
    while (std::getline(std::cin, line)) {
        Cell* saved = stack::top;
        Cell* out = stack::push_slot();
        cell::init(out, TYPE_UNSET);
        std::vector<u8> bytes;
        for (size_t i = 0; i + 1 < line.size(); i += 2) bytes.push_back(u8(std::stoi(line.substr(i, 2), nullptr, 16)));
        try {
            lexer::transcode(out, bytes.data(), i64(bytes.size()), {}, nullptr, nullptr, nullptr, nullptr);
        } catch (const LanguageError& e) {
            if (std::getenv("ZIR_ORACLE_DEBUG")) std::fprintf(stderr, "%s\n", e.id);
            std::printf("invalid\n");
            stack::top = saved;
            continue;
        }
        if (block::zs_length_q(out) < 1) {
            std::printf("other\n");
            stack::top = saved;
            continue;
        }
        const Cell* v = block::zs_head(out);
        switch (TYPE_OF(v)) {
            case TYPE_INTEGER: std::printf("integer %d\n", i32(v->w2)); break;
            case TYPE_FLOAT: std::printf("float %016" PRIx64 "\n", std::bit_cast<u64>(cell::get_float(v))); break;
            case TYPE_DATE:
                std::printf("date %d %d %d\n", date::year_of(v->w1), date::month_of(v->w1), date::day_of(v->w1));
                break;
            case TYPE_BINARY: {
                SeriesBuffer* s = series::buffer_of(v);
                std::printf("binary");
                if (series::used_bytes(s)) std::printf(" ");
                for (u32 i = 0; i < series::used_bytes(s); i++) std::printf("%02x", series::head(s)[i]);
                std::printf("\n");
                break;
            }
            default: std::printf("other\n"); break;
        }
        stack::top = saved;
    }
    return 0;
}
