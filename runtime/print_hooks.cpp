// Print hooks: see print_hooks.hpp.
#include "runtime/print_hooks.hpp"

#include <cstdio>
#include <cstdlib>

#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/memory.hpp"
#include "view/terminal/terminal.hpp"

namespace zir {
namespace print_hooks {

namespace {

// A growable list of callbacks; grows by LIST_STEP entries when full.
constexpr int LIST_STEP = 5;

template <typename F>
struct HookList {
    F* items = nullptr;
    int count = 0;
    int capacity = 0;

    void reset() {
        std::free(items);
        items = static_cast<F*>(std::malloc(sizeof(F) * LIST_STEP));
        if (!items) runtime::error_exit(runtime::FAULT_OUT_OF_MEMORY, nullptr);
        count = 0;
        capacity = LIST_STEP;
    }
    void add(F f) {
        if (count == capacity) {
            F* grown = static_cast<F*>(std::malloc(sizeof(F) * size_t(capacity + LIST_STEP)));
            if (!grown) runtime::error_exit(runtime::FAULT_OUT_OF_MEMORY, nullptr);
            std::memcpy(grown, items, sizeof(F) * size_t(count));
            std::free(items);
            items = grown;
            capacity += LIST_STEP;
        }
        items[count++] = f;
    }
    void remove(F f) {
        for (int i = 0; i < count; i++) {
            if (items[i] == f) {
                std::memmove(&items[i], &items[i + 1], sizeof(F) * size_t(count - i - 1));
                count--;
                return;
            }
        }
    }
};

HookList<StringHook> string_hooks;
HookList<ByteHook> byte_hooks;

}  // namespace

void init() {
    string_hooks.reset();
    byte_hooks.reset();
    string_hooks.add(console_printer);
}

void add(StringHook s, ByteHook b) {
    if (s) string_hooks.add(s);
    if (b) byte_hooks.add(b);
}

void remove(StringHook s, ByteHook b) {
    if (s) string_hooks.remove(s);
    if (b) byte_hooks.remove(b);
}

void call_string_hooks(const Cell* string, bool new_line) {
    for (int i = 0; i < string_hooks.count; i++) string_hooks.items[i](string, new_line);
}

void call_byte_hooks(const u8* text, u32 length, bool new_line) {
    for (int i = 0; i < byte_hooks.count; i++) byte_hooks.items[i](text, length, new_line);
}

void console_printer(const Cell* string, bool new_line) {
    terminal::pre_print();
    SeriesBuffer* s = node_buffer(string->w2);
    u32 unit = series::unit_of(s);
    if (unit == 1 || unit == 2 || unit == 4) {
        u64 start = u64(s->offset) + u64(string->w1) * unit;
        u32 size = start < s->tail ? u32(s->tail - start) : 0;
        console::write(series::data(s) + start, size, unit, new_line);
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "Error: unknown string encoding: %u", unit);
        console::write_c_string(text);
    }
    std::fflush(nullptr);
    terminal::post_print();
}

}  // namespace print_hooks
}  // namespace zir
