// Evaluating code in the interpreter's tests.
//
// The natives are the real ones; the fixture adds a test native (t-refs)
// at its own slot of the natives table. It also makes
// the infix operators of the actions (+ - * / % ** and or xor) and of the
// comparisons (= <> == < > <= >=) as start-up will, and the words none, true
// and false. Everything is put back after each test.
#pragma once

#include <string>
#include <vector>

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "values.hpp"

namespace zir::test {

// The stacks as they are, to compare after an evaluation.
struct StackState {
    Cell* arguments;
    Cell* top;
    stack::Frame* call_top;
    static StackState now() { return {stack::arguments, stack::top, stack::call_top}; }
    bool operator==(const StackState&) const = default;
};

struct EvalTest : ValueTest {
    void SetUp() override;
    void TearDown() override;
};

// Evaluates source text (read by the lexer) as a block; answers the result
// cell, which is the
// only cell the evaluation leaves (checked, with the frames and arguments
// given back and no exit pending).
Cell* eval(const char* text);
// The mold of the result.
std::string eval_mold(const char* text);
// "category id" of the error the evaluation raises ("" when none); the
// stacks are cut back as a try would, and checked.
std::string eval_error(const char* text);
// The error's report (its form), "" when none is raised.
std::string eval_report(const char* text);
// The error value raised (unset! when none).
Cell eval_error_value(const char* text);

// Sets a global word to a value.
void set_global(const char* word, const Cell* value);
// The value of a global word (a copy), and its mold.
Cell global(const char* word);
std::string global_mold(const char* word);
// Makes a function! from the spec and body texts (each written in its
// brackets: "[a b]", "[a + b]") and sets the global word.
Cell* def(const char* word, const char* spec, const char* body);

// The refinement integers the last call of `t-refs` received.
extern std::vector<i32> last_refs;

// Runs `f` on a thread with a large stack (the interpreter's own), with the
// machine stack limit of that thread.
void on_big_stack(void (*f)(void*), void* arg);

}  // namespace zir::test
