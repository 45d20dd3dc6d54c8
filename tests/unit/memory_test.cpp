// Memory manager: allocation sizes, frames, expansion, copies, fixed series.
#include <set>
#include <vector>

#include "runtime/fire.hpp"
#include "support.hpp"

namespace zir {
namespace {

bool in_series_frame(const SeriesBuffer* s) {
    for (SeriesFrame* f = memory::record.series_head; f; f = f->next)
        if (reinterpret_cast<const u8*>(s) >= f->data() && reinterpret_cast<const u8*>(s) < f->end) return true;
    return false;
}

TEST(Memory, BufferTouchingTheFrameLimitGetsABigFrame) {
    // Data sizes are multiples of 16: the first whose size + 24 reaches 2 MiB
    // goes to a big frame ...
    u32 big = memory::alloc_bytes(MAX_FRAME_SIZE - 16);
    SeriesBuffer* b = node_buffer(big);
    EXPECT_TRUE(b->flags & SERIES_BIG);
    EXPECT_TRUE(test::in_big_frame(b));
    EXPECT_EQ(b->size, MAX_FRAME_SIZE - 16);
    // ... and 16 bytes less is carved from a series frame.
    u32 small = memory::alloc_bytes(MAX_FRAME_SIZE - 32);
    SeriesBuffer* s = node_buffer(small);
    EXPECT_FALSE(s->flags & SERIES_BIG);
    EXPECT_TRUE(in_series_frame(s));
}

TEST(Memory, AllocationSizes) {
    struct Case {
        u32 node;
        u32 size;
        u32 unit;
    } cases[] = {
        {memory::alloc_bytes(0), 16, 1},          // zero means 16 bytes
        {memory::alloc_bytes(1), 16, 1},
        {memory::alloc_bytes(17), 32, 1},
        {memory::alloc_codepoints(0, 1), 16, 1},  // 16 elements
        {memory::alloc_codepoints(0, 2), 16, 2},  // 8 elements
        {memory::alloc_codepoints(0, 4), 16, 4},  // 4 elements
        {memory::alloc_codepoints(5, 4), 32, 4},
        {memory::alloc_cells(3), 48, 16},
        {memory::alloc_series(0, 16, 0), 0, 16},
    };
    for (const Case& c : cases) {
        SeriesBuffer* s = node_buffer(c.node);
        EXPECT_EQ(s->size, c.size);
        EXPECT_EQ(series::unit_of(s), c.unit);
        EXPECT_EQ(s->node, c.node);
        EXPECT_EQ(s->flags & (SERIES_IN_USE | SERIES_ALLOCATED), SERIES_IN_USE | SERIES_ALLOCATED);
        EXPECT_EQ(series::length_of(s), 0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(series::data(s)) % 8, 0u) << "data must be 8-byte aligned";
    }
}

TEST(Memory, CentredBufferStartsInTheMiddle) {
    u32 node = memory::alloc_series(64, 1, -1);
    SeriesBuffer* s = node_buffer(node);
    EXPECT_EQ(s->size, 64u);
    EXPECT_EQ(s->offset, 32u);
    EXPECT_EQ(s->tail, 32u);
    EXPECT_TRUE(s->flags & SERIES_CENTRED);
}

TEST(Memory, UnsetCellsAndFilledBytes) {
    u32 cells = memory::alloc_unset_cells(5);
    SeriesBuffer* s = node_buffer(cells);
    const Cell* c = reinterpret_cast<const Cell*>(series::data(s));
    for (u32 i = 0; i < s->size / 16; i++) {
        EXPECT_EQ(c[i].header, u32(TYPE_UNSET));
        EXPECT_EQ(c[i].w1 | c[i].w2 | c[i].w3, 0u);
    }
    u32 bytes = memory::alloc_bytes_filled(20, 0xAB);
    SeriesBuffer* b = node_buffer(bytes);
    for (u32 i = 0; i < b->size; i++) ASSERT_EQ(series::data(b)[i], 0xAB);
}

void put_bytes(u32 node, const char* text) {
    SeriesBuffer* s = node_buffer(node);
    size_t n = std::strlen(text);
    std::memcpy(series::tail(s), text, n);
    s->tail += u32(n);
}

std::string bytes_of(u32 node) {
    SeriesBuffer* s = node_buffer(node);
    return std::string(reinterpret_cast<char*>(series::head(s)), series::used_bytes(s));
}

TEST(Memory, ExpansionMovesDataToTheStartAndAbandonsTheOldBuffer) {
    u32 node = memory::alloc_series(64, 1, -1);
    put_bytes(node, "centred text");
    SeriesBuffer* old = node_buffer(node);
    u32 old_flags = old->flags;

    SeriesBuffer* n = memory::expand_series(old, 0);   // 0 doubles the size
    EXPECT_EQ(node_buffer(node), n);
    EXPECT_EQ(n->node, node);
    EXPECT_EQ(n->size, 128u);
    EXPECT_EQ(n->offset, 0u);
    EXPECT_EQ(bytes_of(node), "centred text");
    EXPECT_TRUE(n->flags & SERIES_CENTRED) << "flags are carried over";
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SERIES_IN_USE);
    EXPECT_TRUE(old_flags & SERIES_IN_USE);
}

TEST(Memory, ExpansionSetsTheBigFlagFromWhereTheBufferLives) {
    u32 node = memory::alloc_bytes(16);
    put_bytes(node, "abc");
    SeriesBuffer* big = memory::expand_series(node_buffer(node), MAX_FRAME_SIZE);
    EXPECT_TRUE(big->flags & SERIES_BIG);
    EXPECT_TRUE(test::in_big_frame(big));
    EXPECT_EQ(bytes_of(node), "abc");
    // Back from a big buffer to a small one: the flag must not follow.
    u32 other = memory::alloc_bytes(MAX_FRAME_SIZE);
    put_bytes(other, "xyz");
    SeriesBuffer* small = memory::expand_series(node_buffer(other), 64);
    EXPECT_FALSE(small->flags & SERIES_BIG);
    EXPECT_EQ(bytes_of(other), "xyz");
}

// A big buffer grows where it lies: same node, data kept (brought to offset
// 0), its frame still the one in the list, the frames' bookkeeping moved by
// the growth only; a big buffer allocated afterwards links after it.
TEST(Memory, BigBuffersGrowWithoutAbandoningTheirFrame) {
    auto frames = [] {
        int n = 0;
        for (BigFrame* b = memory::record.big_head; b; b = b->next) n++;
        return n;
    };
    u32 node = memory::alloc_series(MAX_FRAME_SIZE, 1, -1);   // big and centred
    SeriesBuffer* s = node_buffer(node);
    ASSERT_TRUE(s->flags & SERIES_BIG);
    ASSERT_GT(s->offset, 0u);
    std::string text(100000, ' ');
    for (size_t i = 0; i < text.size(); i++) text[i] = char('a' + i % 26);
    std::memcpy(series::head(s), text.data(), text.size());
    s->tail = s->offset + u32(text.size());
    const int before = frames();
    const i64 os_before = memory::record.os_total;
    const u32 old_size = s->size;
    for (int round = 0; round < 3; round++) {
        SeriesBuffer* n = memory::expand_series(node_buffer(node), 0);
        ASSERT_EQ(node_buffer(node), n);
        EXPECT_EQ(n->node, node);
        EXPECT_TRUE(n->flags & SERIES_IN_USE);
        EXPECT_TRUE(n->flags & SERIES_CENTRED) << "flags are carried over";
        EXPECT_EQ(n->offset, 0u);
        EXPECT_EQ(n->size, old_size << (round + 1));
        EXPECT_TRUE(test::in_big_frame(n));
        ASSERT_EQ(bytes_of(node), text) << "round " << round;
        EXPECT_EQ(frames(), before) << "no frame is left behind";
    }
    EXPECT_GT(memory::record.os_total, os_before + 6 * i64(MAX_FRAME_SIZE)) << "the growth is counted";
    u32 other = memory::alloc_bytes(MAX_FRAME_SIZE);
    EXPECT_EQ(frames(), before + 1);
    EXPECT_EQ(memory::record.big_tail->buffer(), node_buffer(other)) << "the list's tail is sound";
    SeriesBuffer* filled = memory::expand_series_filled(node_buffer(other), 2 * i64(MAX_FRAME_SIZE), 0x5A);
    for (u32 i = MAX_FRAME_SIZE; i < 2 * MAX_FRAME_SIZE; i += 4093) ASSERT_EQ(series::data(filled)[i], 0x5A) << i;
    EXPECT_EQ(bytes_of(node), text);
}

// Growing a big buffer in place answers to the host's ceiling and budget as
// a new buffer does: refused, it is left as it was.
TEST(Memory, BigGrowthKeepsTheCeilingAndTheBudget) {
    auto refused = [](auto f) {
        try {
            f();
        } catch (const LanguageError& e) {
            return std::string(e.id) == "no-memory";
        }
        return false;
    };
    struct Reset {
        ~Reset() {
            memory::os_ceiling = 0;
            memory::bytes_left = -1;
        }
    } reset;
    u32 node = memory::alloc_bytes(MAX_FRAME_SIZE);
    put_bytes(node, "kept");
    const u32 size = node_buffer(node)->size;
    memory::os_ceiling = memory::record.os_total + i64(MAX_FRAME_SIZE);
    EXPECT_TRUE(refused([&] { memory::expand_series(node_buffer(node), 4 * i64(MAX_FRAME_SIZE)); }));
    EXPECT_EQ(node_buffer(node)->size, size);
    EXPECT_EQ(bytes_of(node), "kept");
    memory::bytes_left = 8 * i64(MAX_FRAME_SIZE);
    EXPECT_TRUE(refused([&] { memory::expand_series(node_buffer(node), 4 * i64(MAX_FRAME_SIZE)); }));
    EXPECT_GT(memory::bytes_left, 8 * i64(MAX_FRAME_SIZE) - 4096) << "a refused growth counts nothing (the error does)";
    memory::bytes_left = -1;
    memory::os_ceiling = memory::record.os_total + i64(MAX_FRAME_SIZE) + 65536;
    EXPECT_NO_THROW(memory::expand_series(node_buffer(node), 0)) << "a doubling fits under the ceiling";
    memory::os_ceiling = 0;
    memory::bytes_left = 3 * i64(MAX_FRAME_SIZE);
    EXPECT_TRUE(refused([&] { memory::expand_series(node_buffer(node), 4 * i64(MAX_FRAME_SIZE)); }));
    EXPECT_EQ(bytes_of(node), "kept");
    memory::bytes_left = 3 * i64(MAX_FRAME_SIZE);   // (the error took some)
    EXPECT_NO_THROW(memory::expand_series(node_buffer(node), 3 * i64(MAX_FRAME_SIZE)));
    EXPECT_EQ(memory::bytes_left, 0) << "the growth counts the new size";
    EXPECT_EQ(bytes_of(node), "kept");
}

TEST(Memory, ExpansionBelowOneByteIsOutOfMemory) {
    u32 node = memory::alloc_series(0, 16, 0);
    try {
        memory::expand_series(node_buffer(node), 0);   // twice 0 is still 0
        FAIL() << "expected no-memory";
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.category, ERR_INTERNAL);
        EXPECT_STREQ(e.id, "no-memory");
    }
}

// A host's ceiling refuses the OS block that would pass it, as the system
// would; blocks within it are taken, and none is taken past it.
TEST(Memory, TheCeilingRefusesBlocksPastIt) {
    struct Reset {
        ~Reset() { memory::os_ceiling = 0; }
    } reset;
    memory::os_ceiling = memory::record.os_total + 3 * i64(MAX_FRAME_SIZE);
    const i64 before = memory::record.os_total;
    try {
        memory::alloc_bytes(4 * MAX_FRAME_SIZE);
        FAIL() << "expected no-memory";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "no-memory");
    }
    // Nothing was taken from the system for it: the total moves only by
    // what the error's own values took (a small frame at most) or by frames
    // that earlier tests emptied and the attempt gave back.
    EXPECT_LT(memory::record.os_total, before + MAX_FRAME_SIZE);
    EXPECT_NO_THROW(memory::alloc_bytes(2 * MAX_FRAME_SIZE));
    memory::os_ceiling = 0;
    EXPECT_NO_THROW(memory::alloc_bytes(4 * MAX_FRAME_SIZE));
}

// The allocation budget counts the data of every buffer, expansions
// included, and refuses the first that would pass it.
TEST(Memory, TheBudgetRefusesBuffersPastIt) {
    struct Reset {
        ~Reset() { memory::bytes_left = -1; }
    } reset;
    memory::bytes_left = 1000;
    u32 node = memory::alloc_series(600, 1, 0);
    EXPECT_EQ(memory::bytes_left, 400);
    EXPECT_THROW(memory::expand_series(node_buffer(node), 1200), LanguageError);
    // The error's own buffers came out of what was left.
    EXPECT_GE(memory::bytes_left, 0);
    EXPECT_LE(memory::bytes_left, 400);
    memory::bytes_left = 400;
    EXPECT_NO_THROW(memory::alloc_series(400, 1, 0));
    EXPECT_EQ(memory::bytes_left, 0);
    EXPECT_THROW(memory::alloc_series(1, 1, 0), LanguageError);
    memory::bytes_left = -1;
    EXPECT_NO_THROW(memory::alloc_series(4000, 1, 0));
}

TEST(Memory, ImpossibleSizesAreOutOfMemory) {
    for (i64 count : {i64(-1), i64(0x80000000LL), i64(0x7FFFFFFF)}) {
        EXPECT_THROW(memory::alloc_series(count, 16, 0), LanguageError) << count;
    }
}

TEST(Memory, FilledExpansionFillsTheNewRoom) {
    u32 node = memory::alloc_bytes(16);
    put_bytes(node, "0123456789abcdef");
    SeriesBuffer* n = memory::expand_series_filled(node_buffer(node), 48, 0x5A);
    EXPECT_EQ(bytes_of(node), "0123456789abcdef");
    for (u32 i = 16; i < 48; i++) ASSERT_EQ(series::data(n)[i], 0x5A);
}

TEST(Memory, FixedSeriesNeverMove) {
    u32 fixed = memory::alloc_fixed_series(100, 16, 0);
    SeriesBuffer* s = node_buffer(fixed);
    EXPECT_TRUE(s->flags & SERIES_FIXED);
    EXPECT_FALSE(in_series_frame(s));
    for (int i = 0; i < 20000; i++) memory::alloc_bytes(100);
    EXPECT_EQ(node_buffer(fixed), s);
}

TEST(Memory, CopiesAreIndependent) {
    u32 node = memory::alloc_series(32, 1, 4);
    put_bytes(node, "hello world");
    memory::set_series_flag(node, SERIES_OWNED);

    u32 copy = memory::copy_series(node_buffer(node));
    EXPECT_NE(copy, node);
    EXPECT_EQ(bytes_of(copy), "hello world");
    EXPECT_TRUE(node_buffer(copy)->flags & SERIES_OWNED) << "a whole copy keeps the flags";
    series::head(node_buffer(copy))[0] = 'J';
    EXPECT_EQ(bytes_of(node), "hello world");

    u32 part = memory::copy_series_part(node_buffer(node), 6, 5);
    EXPECT_EQ(bytes_of(part), "world");
    EXPECT_FALSE(node_buffer(part)->flags & SERIES_OWNED) << "a part copy is not owned";
}

TEST(Memory, CopyOfWideSeriesKeepsItsUnit) {
    u32 node = test::make_text_series(U"a\u20ACb", 2);
    u32 part = memory::copy_series_part(node_buffer(node), 1, 2);
    SeriesBuffer* p = node_buffer(part);
    EXPECT_EQ(series::unit_of(p), 2u);
    EXPECT_EQ(series::length_of(p), 2);
    u16 first;
    std::memcpy(&first, series::head(p), 2);
    EXPECT_EQ(first, 0x20AC);
}

TEST(Memory, PartCopiesOfEveryShortLengthAreExact) {
    // Short parts are copied by overlapping words: each length, from each
    // start, must give exactly its characters, in one-byte and four-byte text.
    const char* text = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ";
    const i64 total = i64(std::strlen(text));
    u32 narrow = memory::alloc_series(total, 1, 0);
    put_bytes(narrow, text);
    u32 wide = test::make_text_series(std::u32string(text, text + total), 4);
    for (i64 start : {0, 1, 3, 7}) {
        for (i64 n = 0; n + start <= total && n <= 40; n++) {
            u32 part = memory::copy_series_part(node_buffer(narrow), start, n);
            EXPECT_EQ(bytes_of(part), std::string(text + start, size_t(n))) << start << " " << n;
            u32 wpart = memory::copy_series_part(node_buffer(wide), start, n);
            SeriesBuffer* w = node_buffer(wpart);
            ASSERT_EQ(series::length_of(w), n);
            std::u32string got(size_t(n), U'\0');
            std::memcpy(got.data(), series::head(w), size_t(n) * 4);
            EXPECT_EQ(got, std::u32string(text + start, text + start + n)) << start << " " << n;
        }
    }
}

TEST(Memory, AppendingAtTheTail) {
    u32 node = memory::alloc_bytes(16);
    SeriesBuffer* s = node_buffer(node);
    u8* p = memory::alloc_tail_bytes(s, 100);   // size below the request: twice the request
    EXPECT_EQ(s->size, 208u);                    // 200 rounded up to a multiple of 16
    EXPECT_EQ(p, series::head(s));
    EXPECT_EQ(series::used_bytes(s), 100u);
    EXPECT_EQ(node_buffer(node), s);

    u32 cells = memory::alloc_cells(2);
    Cell block;
    cell::init(&block, TYPE_BLOCK);
    block.w2 = cells;
    for (u32 i = 0; i < 5; i++) {
        Cell* c = memory::alloc_tail(&block);
        EXPECT_EQ(c->header, u32(TYPE_UNSET));
        c->w2 = i;
    }
    SeriesBuffer* b = node_buffer(cells);
    EXPECT_EQ(series::length_of(b), 5);
    EXPECT_EQ(b->size, 128u);   // 32 -> 64 -> 128
    for (u32 i = 0; i < 5; i++) EXPECT_EQ(series::head_cells(b)[i].w2, i);
}

TEST(Memory, FillRepeatDoublesTheSample) {
    for (i64 count : {1, 2, 3, 7, 8, 33}) {
        u8 buf[4 * 40] = {};
        std::memcpy(buf, "abc", 3);
        u8* end = memory::fill_repeat(buf, 3, count);
        EXPECT_EQ(end, buf + 3 * count);
        std::string got(reinterpret_cast<char*>(buf), size_t(3 * count));
        std::string want;
        for (i64 i = 0; i < count; i++) want += "abc";
        EXPECT_EQ(got, want) << count;
        EXPECT_EQ(buf[3 * count], 0) << "nothing past the filled area";
    }
    u8 buf[8] = {};
    EXPECT_EQ(memory::fill_repeat(buf, 0, 3), buf) << "an empty sample repeats to nothing, at once";
}

TEST(Memory, NodesAreReusedAndFramesGrow) {
    std::set<u32> ids;
    for (u32 i = 0; i < NODE_FRAME_SLOTS + 10; i++) ids.insert(memory::alloc_node());
    EXPECT_EQ(ids.size(), NODE_FRAME_SLOTS + 10) << "every id is distinct";
    EXPECT_EQ(ids.count(0), 0u) << "0 is never handed out";
    u32 some = *ids.begin();
    memory::free_node(some);
    EXPECT_TRUE(memory::slot_is_free(memory::node_slots[some]));
    // The freed slot is found again once the active frame has no other.
    std::set<u32> again;
    for (u32 i = 0; i < 2 * NODE_FRAME_SLOTS; i++) {
        u32 id = memory::alloc_node();
        if (id == some) break;
        again.insert(id);
    }
    EXPECT_LT(again.size(), 2 * NODE_FRAME_SLOTS);
}

TEST(Memory, AnIdFreedInAnEarlierFrameIsTakenBeforeANewFrameIsMade) {
    test::reset_memory();
    std::vector<u32> ids;
    while (memory::node_frame_count < 3) ids.push_back(memory::alloc_node());
    for (u32 i = 0; i < NODE_FRAME_SLOTS - 6; i++) ids.push_back(memory::alloc_node());
    const u32 frames = memory::node_frame_count;
    ASSERT_EQ(frames, 3u);
    // An id of a full earlier frame comes back once the third frame is full
    // (five ids left), ahead of a fourth frame: the search does not only look
    // past where it last found one.
    u32 early = ids.front();
    memory::free_node(early);
    u32 got = 0;
    for (int i = 0; i < 6 && got != early; i++) got = memory::alloc_node();
    EXPECT_EQ(got, early);
    EXPECT_EQ(memory::node_frame_count, frames) << "no frame was added while one had a free id";
    EXPECT_NE(memory::alloc_node(), 0u);
    EXPECT_EQ(memory::node_frame_count, frames + 1) << "all three full: a fourth frame";
    test::reset_memory();
}

TEST(Memory, SeriesFramesAreOneThenTwoMebibytes) {
    test::reset_memory();
    memory::alloc_bytes(100);
    SeriesFrame* first = memory::record.series_head;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->end - first->data(), i64(FIRST_FRAME_SIZE));
    // Fill until a second frame is needed; every later frame has 2 MiB.
    while (memory::record.series_head->next == nullptr) memory::alloc_bytes(60000);
    while (memory::record.series_head->next->next == nullptr) memory::alloc_bytes(60000);
    for (SeriesFrame* f = memory::record.series_head; f; f = f->next)
        if (f != first) {
            EXPECT_EQ(f->end - f->data(), i64(MAX_FRAME_SIZE));
        }
    // Frames stay in address order.
    for (SeriesFrame* f = memory::record.series_head; f && f->next; f = f->next) EXPECT_LT(f, f->next);
    // The OS total counts each block as its request plus the prefix, page-rounded.
    i64 expected = 0;
    for (SeriesFrame* f = memory::record.series_head; f; f = f->next)
        expected += i64((f->total + OS_BLOCK_PREFIX + OS_GRANULE - 1) / OS_GRANULE * OS_GRANULE);
    for (i32 k = memory::record.node_head; k >= 0; k = memory::node_frames[k].next)
        expected += i64((NODE_FRAME_SLOTS * 8 + OS_BLOCK_PREFIX + OS_GRANULE - 1) / OS_GRANULE * OS_GRANULE);
    EXPECT_EQ(memory::record.os_total, expected);
    memory::free_all_frames();
    EXPECT_EQ(memory::record.os_total, 0);
    test::reset_memory();
}

TEST(Memory, FrameStatisticsAddUp) {
    memory::free_all_frames();
    for (int i = 0; i < 10; i++) memory::alloc_bytes(1000);
    struct Totals {
        i64 nodes = 0, series_used = 0, series_total = 0;
    } t;
    memory::frame_stats(
        [](int kind, const memory::FrameStat& s, void* p) {
            auto* t = static_cast<Totals*>(p);
            EXPECT_EQ(s.free + s.used, kind == 2 ? 0 : s.total);
            if (kind == 0) t->nodes += s.used;
            if (kind == 1) {
                t->series_used += s.used;
                t->series_total += s.total;
            }
        },
        &t);
    EXPECT_EQ(t.nodes, 10);
    EXPECT_EQ(t.series_used, 10 * (1008 + 24));
    EXPECT_EQ(t.series_total, i64(FIRST_FRAME_SIZE));
    EXPECT_EQ(memory::frame_total(), 10 * 8 + 10 * (1008 + 24));
    test::reset_memory();
}

}  // namespace
}  // namespace zir
