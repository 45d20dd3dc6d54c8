// Shared helpers of the unit tests: the runtime is brought up once per test
// program, before the first test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/memory.hpp"

namespace zir::test {

// Captures everything the console writer sends to its sink while alive.
struct CapturedOutput {
    CapturedOutput();
    ~CapturedOutput();
    std::string text() const;
    std::vector<size_t> blocks() const;   // size of every write, in order
};

// Gives every frame back and makes the runtime's tables again.
void reset_memory();

// Runs a test with the collector active; in stress builds it collects at every
// allocation.
struct Collecting : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
};

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    // The whole content of a file in it ("" when there is none).
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& bytes) const;
};

// Whether a buffer is the one of a big frame on the list.
bool in_big_frame(const SeriesBuffer* s);

// A byte series holding `text` at the given unit (one code point per element).
u32 make_text_series(const std::u32string& text, u32 unit);

}  // namespace zir::test
