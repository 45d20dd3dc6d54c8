// Shared helpers of the unit tests: see support.hpp.
#include "support.hpp"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "boot/runtime_init.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"

namespace zir::test {

namespace {

std::string captured;
std::vector<size_t> captured_blocks;

void capture_sink(const u8* bytes, size_t n) {
    captured.append(reinterpret_cast<const char*>(bytes), n);
    captured_blocks.push_back(n);
}

// The runtime for the whole run; its memory is given back at the end, so
// that a run of any subset of the tests (a shard) leaves nothing behind.
struct RuntimeEnvironment : ::testing::Environment {
    void SetUp() override { runtime::init(); }
    void TearDown() override { reset_memory(); }
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

}  // namespace

CapturedOutput::CapturedOutput() {
    captured.clear();
    captured_blocks.clear();
    console::set_sink(capture_sink);
}

CapturedOutput::~CapturedOutput() { console::set_sink(nullptr); }

std::string CapturedOutput::text() const { return captured; }
std::vector<size_t> CapturedOutput::blocks() const { return captured_blocks; }

void reset_memory() {
    bool was = collector::active;
    collector::active = false;
    memory::free_all_frames();
    runtime::init_tables();
    collector::active = was;
}

void Collecting::SetUp() {
    collector::active = true;
    collector::stress_period = collector::STRESS ? 1 : 0;
}

void Collecting::TearDown() {
    collector::active = false;
    collector::stress_period = 0;
}

bool in_big_frame(const SeriesBuffer* s) {
    for (BigFrame* b = memory::record.big_head; b; b = b->next)
        if (b->buffer() == s) return true;
    return false;
}

u32 make_text_series(const std::u32string& text, u32 unit) {
    u32 node = memory::alloc_series(i64(text.size()), unit, 0);
    SeriesBuffer* s = node_buffer(node);
    u8* p = series::data(s);
    for (char32_t c : text) {
        u32 v = u32(c);
        std::memcpy(p, &v, unit);
        p += unit;
    }
    s->tail = s->offset + u32(text.size()) * unit;
    return node;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zir-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempFolder::read(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void TempFolder::write(const std::string& name, const std::string& bytes) const {
    std::ofstream(*this / name, std::ios::binary) << bytes;
}

}  // namespace zir::test
