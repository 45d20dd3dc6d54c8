// Evaluating code read by the real lexer, for tests whose code holds
// literals the tests' little reader does not know (money, time, pairs,
// percents, tuples, chars). The stacks are checked as eval() checks them.
#pragma once

#include <string>

#include "eval_support.hpp"

namespace zir::test {

// The mold of the result.
std::string lexed_mold(const char* text);
// "category id" of the error raised ("" when none); the stacks are cut back
// as a try would.
std::string lexed_error(const char* text);

}  // namespace zir::test
