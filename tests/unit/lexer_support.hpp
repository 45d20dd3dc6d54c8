// Helpers of the lexer tests: loading source text, the exact text of a
// syntax error, and the automaton run on its own.
#pragma once

#include <string>

#include "loader/lexer.hpp"
#include "runtime/fire.hpp"
#include "values.hpp"

namespace zir::test {

// A copy of a text that ends where readable memory does: a read past its end
// faults.
struct GuardedText {
    u8* bytes;
    u8* map;
    size_t length;
    explicit GuardedText(const std::string& text);
    ~GuardedText();
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;
};

// Loads UTF-8 source into a block (pushed; the text is copied first, into a
// GuardedText, so it may be a temporary).
Cell* load(const std::string& source, lexer::Options o = {}, i32* consumed = nullptr);
// The values a source loads to, molded and separated by single spaces.
std::string loaded(const std::string& source);
// The message of the error loading a source raises, formed as the error
// catalogue writes it ("(line 1) invalid integer! at 12a"), or "" when it
// loads, or "category id" for an error that is not a syntax error.
std::string load_error(const std::string& source);
// The same text for an error caught.
std::string error_text(const LanguageError& e);
// The answer of a check-only transcode.
i32 check(const std::string& source);

}  // namespace zir::test
