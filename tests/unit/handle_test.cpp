// handle!: form, mold and comparison, values held in the cell and in the
// handle table, and handles refused once their slot was released.
#include "datatypes/handle.hpp"
#include "runtime/collector.hpp"
#include "runtime/handle_table.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct Handle : ValueTest {};

TEST_F(Handle, FormAndMold) {
    struct Case {
        uintptr_t value;
        u32 class_;
        const char* form;
        const char* mold_all;
    } cases[] = {
        {0, handle::CLASS_NULL, "00000000h", "#[handle! 00000000h]"},
        {0x1C, handle::CLASS_WINDOW, "0000001Ch", "#[handle! 0000001Ch window]"},
        {3, handle::CLASS_FD, "00000003h", "#[handle! 00000003h fd]"},
        {0xABCDEF12, handle::CLASS_RICH_TEXT, "ABCDEF12h", "#[handle! ABCDEF12h rich-text]"},
        {uintptr_t(-1), handle::CLASS_FONT, "FFFFFFFFh", "#[handle! FFFFFFFFh font]"},
        {0x7F0012345678, handle::CLASS_MONITOR, "12345678h", "#[handle! 12345678h monitor]"},
    };
    for (const Case& c : cases) {
        Cell* h = handle::push(c.value, c.class_);
        EXPECT_FORM(h, c.form);
        EXPECT_MOLD(h, "handle!");
        EXPECT_EQ(mold(h, {false, true, false, -1}), c.mold_all);
        EXPECT_EQ(handle::value_of(h), c.value) << c.form;
        EXPECT_EQ(handle::class_of(h), c.class_);
    }
    EXPECT_FORM(handle::push_null(), "00000000h");
}

TEST_F(Handle, Comparison) {
    Cell* a = handle::push(7, handle::CLASS_FD);
    Cell* b = handle::push(7, handle::CLASS_WINDOW);
    Cell* c = handle::push(9, handle::CLASS_FD);
    Cell* wide = handle::push(0x7F0000000007, handle::CLASS_FD);
    EXPECT_TRUE(actions::compare(a, b, COMP_EQUAL)) << "the class takes no part";
    EXPECT_TRUE(actions::compare(a, c, COMP_LESSER));
    EXPECT_FALSE(actions::compare(a, wide, COMP_EQUAL)) << "wide values differ beyond their low 32 bits";
    EXPECT_FALSE(actions::compare(a, int_(7), COMP_EQUAL));
    EXPECT_EQ(error_of([&] { actions::compare(a, int_(7), COMP_LESSER); }), "") << "never invalid-compare";
    EXPECT_TRUE(actions::compare(a, int_(7), COMP_NOT_EQUAL));
    EXPECT_TRUE(actions::compare(handle::push(uintptr_t(-1), 0), a, COMP_LESSER)) << "signed";
    for (u32 slot : {ACT_MAKE, ACT_TO, ACT_ADD, ACT_NEGATE, ACT_RANDOM, ACT_EVEN_Q})
        EXPECT_EQ(actions::lookup(TYPE_HANDLE, slot), nullptr) << "slot " << slot;
}

std::vector<uintptr_t> released_objects;
void note_release(uintptr_t object) { released_objects.push_back(object); }

TEST_F(Handle, ReleasedSlotsRefuseTheirHandles) {
    int type = handle_table::register_type(0, note_release);
    // (Objects left unreachable by an earlier test are released first.)
    collector::do_cycle();
    released_objects.clear();
    Cell* h = stack::push_slot();
    cell::init(h, TYPE_UNSET);
    handle::make_owned_at(h, 0x7F00AA, handle::CLASS_WINDOW, u32(type));
    Cell* copy = stack::push(h);
    EXPECT_EQ(handle::value_of(copy), 0x7F00AAu);
    Cell* other = stack::push_slot();
    cell::init(other, TYPE_UNSET);
    handle::release(h);
    EXPECT_EQ(released_objects, (std::vector<uintptr_t>{0x7F00AA}));
    EXPECT_FALSE(handle::live_q(copy));
    // The slot is reused at once (nothing allocates in between, so no
    // collection frees another slot first): the old handle still does not
    // reach the new object.
    handle::make_owned_at(other, 0x7F00BB, handle::CLASS_FONT, u32(type));
    EXPECT_EQ(other->w3, copy->w3) << "the freed slot is taken again";
    EXPECT_EQ(error_of([&] { handle::value_of(copy); }), "script invalid-arg");
    EXPECT_EQ(handle::value_of(other), 0x7F00BBu);
    // The stale copy does not keep the new object alive either.
    cell::init(other, TYPE_NONE);
    collector::do_cycle();
    EXPECT_EQ(released_objects.back(), 0x7F00BBu);
    handle::release(copy);   // nothing left to release
    EXPECT_EQ(released_objects.size(), 2u);
}

TEST_F(Handle, LiveValuesKeepTheirSlots) {
    int type = handle_table::register_type(0, note_release);
    // (Objects left unreachable by an earlier test are released first.)
    collector::do_cycle();
    released_objects.clear();
    Cell* kept = stack::push_slot();
    cell::init(kept, TYPE_UNSET);
    handle::make_owned_at(kept, 0x7F0011, handle::CLASS_FD, u32(type));
    {
        Cell lost;
        cell::init(&lost, TYPE_UNSET);
        handle::make_owned_at(&lost, 0x7F0022, handle::CLASS_FD, u32(type));
    }
    collector::do_cycle();
    EXPECT_EQ(released_objects, (std::vector<uintptr_t>{0x7F0022}));
    EXPECT_EQ(handle::value_of(kept), 0x7F0011u);
    // A value that fits in the cell needs no slot.
    EXPECT_EQ(handle::push(42, handle::CLASS_FD)->w3, handle::NO_SLOT);
}

}  // namespace
}  // namespace zir
