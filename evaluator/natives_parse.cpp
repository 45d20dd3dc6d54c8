// The parse native: matches a series against the rules of the parse dialect
// (the engine is evaluator/parse.cpp).
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/series.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/stack.hpp"

namespace zir {
namespace natives {

namespace {

// parse input rules /case /part length /trace callback
i32 parse_star(i32 check, const i32* r) {
    if (check) check_args(40, r);
    Cell* input = stack::arguments;
    Cell* rules = stack::arguments + 1;
    i32 op = r[0] >= 0 ? COMP_STRICT_EQUAL : COMP_EQUAL;
    i32 limit = 0;
    series::clamp_head(input);
    if (r[1] >= 0) {
        Cell* part = stack::arguments + r[1];
        i64 at;
        if (TYPE_OF(part) == TYPE_INTEGER) {
            at = i64(series::head_index(input)) + integer::get(part);
        } else if (TYPE_OF(part) == TYPE_FLOAT) {
            double d = cell::get_float(part);
            i64 n = d > 2147483647.0 ? 2147483647 : d < -2147483648.0 ? -2147483648LL : i64(d);
            at = i64(series::head_index(input)) + n;
        } else {
            if (!series::same_series_q(part, input)) series::fire_refine_arg(series::words.part, part);
            at = series::head_index(part);
        }
        if (at <= 0) {
            logic::make_at(stack::arguments, series::rest_length(input) == 0);
            stack::keep();
            return 0;
        }
        limit = at > 2147483647 ? 2147483647 : i32(at);
    }
    const Cell* callback = r[2] >= 0 ? stack::arguments + r[2] : nullptr;
    Cell* result = parse::run(input, rules, op, limit, callback);
    stack::set_last_top(result);
    return 0;
}

}  // namespace

void fill_parse(action::Generic* slots) { slots[40 - 1] = reinterpret_cast<action::Generic>(&parse_star); }

}  // namespace natives
}  // namespace zir
