// Faults found in review of the runtime core (collector, stacks, ownership,
// console): each test shows one and stays as its regression test.
#include <pthread.h>
#include <unistd.h>

#include "datatypes/context.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "datatypes/symbol.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "runtime/ownership.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;

struct ReviewRuntime : ValueTest {};

// A function frame keeps the values block its context had when the frame was
// opened; unwinding puts it back. While the call runs, the context may hold
// another values block (a recursive call's own), so the frame itself must keep
// the saved one alive.
TEST_F(ReviewRuntime, FunctionFrameKeepsTheSavedValuesOfItsContext) {
    collector::RootCell obj(make_object(*str("caller's value")));
    u32 ctx = obj->w1;
    u32 saved = context::cell_of(ctx)->w2;
    stack::mark_func(u32(symbol::make("f")), 0, ctx);
    context::cell_of(ctx)->w2 = memory::alloc_unset_cells(1);   // the running call's values
    collector::do_cycle();
    collector::do_cycle();
    stack::unwind();
    ASSERT_EQ(context::cell_of(ctx)->w2, saved);
    uintptr_t slot = memory::node_slots[saved];
    ASSERT_TRUE(slot != 0 && !memory::slot_is_free(slot)) << "the saved values block was reclaimed";
    Cell v = *context::value_at(context::cell_of(ctx), 0);
    EXPECT_EQ(string::to_std(&v), "caller's value");
}

// `modify series 'owned [owner word]` names the owner by a value of the
// language; anything but an object there is an argument error, not a crash.
TEST_F(ReviewRuntime, OwnerThatIsNoObjectIsAnInvalidArgument) {
    i32 owned = symbol::make("owned");
    for (Cell* owner : {int_(1), none_(), str("text")}) {
        Cell* s = str("abc");
        Cell* spec = block({owner, word("field")});
        EXPECT_EQ(error_of([&] { series::modify(s, owned, spec, false); }), "script invalid-arg");
        EXPECT_FALSE(node_buffer(s->w2)->flags & SERIES_OWNED) << "nothing is bound";
    }
}

// An owner's change handler is user code: it may detach the series (dropping
// the table entry that kept the owner alive) and collect before it reads the
// owner it was handed.
std::string owner_field_seen;
void detaching_report(const Cell* owner, const Cell*, const Cell* value, i32, const Cell*, i32, i32) {
    ownership::unbind(*value);
    memory::alloc_cells(8);
    collector::do_cycle();
    Cell field = *context::value_at(context::cell_of(owner->w1), 0);
    owner_field_seen = string::to_std(&field);
}

TEST_F(ReviewRuntime, OwnerHandedToTheChangeHandlerLivesThroughIt) {
    ownership::on_deep_change = detaching_report;
    owner_field_seen.clear();
    Cell* s = str("owned");
    {
        collector::RootCell obj(make_object(*str("owner's field")));
        ownership::set_owner(*s, obj.value, *context::word_at(context::cell_of(obj->w1), 0));
    }
    EXPECT_TRUE(ownership::check(s, symbol::make("appended"), s, 0, 1));
    EXPECT_EQ(owner_field_seen, "owner's field");
    test::restore_hooks();
}

// --- Fatal signals ------------------------------------------------------------

volatile bool stop_recursion = false;

int recurse(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    if (stop_recursion) return pad[0];
    return recurse(depth + 1) + pad[0];
}

// Runs `body` on a thread with a small stack and the fault handlers installed;
// the report goes to standard output, which the death test cannot see, so
// standard output is sent to standard error first.
void run_faulting_thread(void* (*body)(void*)) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attr, body, nullptr) == 0) pthread_join(thread, nullptr);
}

void* overflowing(void*) {
    runtime::install_fault_handlers();
    dup2(2, 1);
    recurse(0);
    return nullptr;
}

void* dereferencing_null(void*) {
    runtime::install_fault_handlers();
    dup2(2, 1);
    *static_cast<volatile int*>(nullptr) = 1;
    return nullptr;
}

TEST(ReviewFault, MachineStackOverflowIsReportedAsAStackOverflow) {
#ifdef ZIR_ASAN
    GTEST_SKIP() << "sanitizer builds leave SIGSEGV to the sanitizer";
#endif
    EXPECT_EXIT(run_faulting_thread(overflowing), ::testing::ExitedWithCode(19),
                "\\*\\*\\* Runtime Error 19: stack error or overflow");
    EXPECT_EXIT(run_faulting_thread(dereferencing_null), ::testing::ExitedWithCode(1),
                "\\*\\*\\* Runtime Error 1: access violation");
}

}  // namespace
}  // namespace zir
