// Evaluating code read by the real lexer: see lexed_eval.hpp.
#include "lexed_eval.hpp"

#include "datatypes/error.hpp"
#include "lexer_support.hpp"

namespace zir::test {

std::string lexed_mold(const char* text) {
    Cell* code = load(text);
    StackState before = StackState::now();
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    EXPECT_EQ(stack::pending, 0u) << text;
    EXPECT_EQ(stack::top, result + 1) << "one cell is left: " << text;
    EXPECT_EQ(stack::arguments, before.arguments) << text;
    EXPECT_EQ(stack::call_top, before.call_top) << text;
    return mold(result);
}

std::string lexed_error(const char* text) {
    Cell* code = load(text);
    stack::Checkpoint checkpoint;
    std::string r;
    try {
        interpreter::eval_block(code, false);
    } catch (const LanguageError& e) {
        checkpoint.restore();
        r = std::string(category_name(e.category)) + " " + e.id;
    }
    if (r.empty()) stack::top = checkpoint.top;
    EXPECT_EQ(stack::pending, 0u) << text;
    EXPECT_EQ(StackState::now(), (StackState{checkpoint.arguments, checkpoint.top, checkpoint.call_top})) << text;
    return r;
}

}  // namespace zir::test
