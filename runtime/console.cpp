// Console writer: see console.hpp.
#include "runtime/console.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "runtime/fault.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zir {
namespace console {

bool is_terminal = false;
bool emulate = false;

namespace {

u8 out_buffer[OUTPUT_BUFFER_SIZE];
int out_pos = 0;

void write_stdout(const u8* bytes, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(1, bytes, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;  // output failures are not reported
        }
        bytes += w;
        n -= size_t(w);
    }
}

Sink sink = write_stdout;

// --- The dumb terminal as a screen device: it can show text and nothing more,
// so the effects of the sequences are dropped; the report tells its size.

void dumb_info(ScreenInfo* info) {
    winsize ws{};
    int w = 80, h = 24;
    if (ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        w = ws.ws_col;
        h = ws.ws_row;
    }
    *info = ScreenInfo{w, h, 0, 0, 0x07, 0, 0, w - 1, h - 1, w, h};
}
void dumb_cursor(int, int) {}
void dumb_fill(int, int, int, u32, u16) {}
void dumb_attribute(u16) {}

const ScreenDevice dumb_device = {dumb_info, dumb_cursor, dumb_fill, dumb_attribute};
const ScreenDevice* screen = &dumb_device;

u16 start_attribute = 0x07;
int saved_x = 0, saved_y = 0;

inline u32 read_unit(const u8* p, u32 unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return u32(p[0]) | (u32(p[1]) << 8);
        case 4: return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
        default: ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    }
}

inline void put_code_point(u32 cp) {
    out_pos += unicode::cp_to_utf8(cp, out_buffer + out_pos);
    if (out_pos > OUTPUT_FLUSH_AT) flush();
}

// --- Escape interpretation -------------------------------------------------

u16 apply_sgr(u16 a, u32 code) {
    static const u8 fore[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    static const u8 back[8] = {0x00, 0x40, 0x20, 0x60, 0x10, 0x50, 0x30, 0x70};
    if (code == 0) return start_attribute;
    if (code == 1) return u16(a | 0x88);
    if (code == 4) return u16(a | 0x8000);
    if (code == 7) return u16(((a & 0x0F) << 4) | ((a & 0xF0) >> 4));
    if (code >= 30 && code <= 37) return u16((a & 0xF8) | fore[code - 30]);
    if (code == 39) return u16(a | 0x08);
    if (code >= 40 && code <= 47) return u16((a & 0x8F) | back[code - 40]);
    if (code == 49) return u16(a | 0x80);
    return a;  // other codes leave the attribute as it is
}

void erase(int x, int y, int count) {
    if (count > 0) screen->fill(x, y, count, ' ', start_attribute);
}

void print_hex8(char* out, u32 v) {
    std::snprintf(out, 9, "%08X", v);
}

void screen_report() {
    ScreenInfo i;
    screen->get_info(&i);
    char line[128];
    char a[9], b[9];
    print_hex8(a, i.attribute);
    print_hex8(b, start_attribute);
    write_c_string("Screen buffer info:\n");
    std::snprintf(line, sizeof line, "   size______ %dx%d\n", i.width, i.height);
    write_c_string(line);
    std::snprintf(line, sizeof line, "   cursor____ %dx%d\n", i.x, i.y);
    write_c_string(line);
    std::snprintf(line, sizeof line, "   attribute_ %s %s\n", a, b);
    write_c_string(line);
    std::snprintf(line, sizeof line, "   left______ %d top: %d\n", i.left, i.top);
    write_c_string(line);
    std::snprintf(line, sizeof line, "   right_____ %d bottom: %d\n", i.right, i.bottom);
    write_c_string(line);
    std::snprintf(line, sizeof line, "   max_______ %dx%d\n", i.max_width, i.max_height);
    write_c_string(line);
}

}  // namespace

void init() {
    is_terminal = isatty(1) != 0;
    const char* term = std::getenv("TERM");
    emulate = is_terminal && term && std::strcmp(term, "dumb") == 0;
    out_pos = 0;
}

void init_attributes() {
    ScreenInfo i;
    screen->get_info(&i);
    start_attribute = i.attribute;
}

void set_sink(Sink s) { sink = s ? s : write_stdout; }
void set_device(const ScreenDevice* d) { screen = d ? d : &dumb_device; }
const ScreenDevice* device() { return screen; }
void set_emulate(bool on) { emulate = on; }
u16 startup_attribute() { return start_attribute; }

void flush() {
    if (out_pos > 0) {
        sink(out_buffer, size_t(out_pos));
        out_pos = 0;
    }
}

void write(const u8* text, u32 size, u32 unit, bool new_line) {
    if (unit != 1 && unit != 2 && unit != 4) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    const u8* end = text + size;
    for (const u8* p = text; p + unit <= end;) {
        u32 cp = read_unit(p, unit);
        if (cp == 27 && emulate) {
            flush();
            u32 k = parse_csi(p, end, unit);
            if (k > 0) {
                p += k;
                continue;
            }
        }
        put_code_point(cp);
        p += unit;
    }
    if (new_line) put_code_point('\n');
    flush();
}

void write_ucs4(const u8* text, u32 size) { write(text, size, 4, false); }
void write_ucs4_line(const u8* text, u32 size) { write(text, size, 4, true); }

void write_unit(u16 unit) {
    put_code_point(unit);
    flush();
}

void write_c_string(const char* text) {
    flush();
    size_t n = std::strlen(text);
    sink(reinterpret_cast<const u8*>(text), n);
    print_hooks::call_byte_hooks(reinterpret_cast<const u8*>(text), u32(n), false);
}

u32 parse_csi(const u8* p, const u8* end, u32 unit) {
    if (unit != 1 && unit != 2 && unit != 4) ZIR_FAULT(runtime::FAULT_NO_SWITCH);
    // Whole units are compared: in wide text a character whose low byte
    // happens to be '[' or a digit (U+015B, U+0131 ...) is not one.
    if (p + 2 * unit > end || read_unit(p + unit, unit) != '[') return 0;
    u32 consumed = 2 * unit;
    const u8* q = p + consumed;
    u32 p1 = 0, p2 = 0;
    bool have_attr = false;
    u16 attr = 0;
    auto working = [&]() -> u16& {
        if (!have_attr) {
            ScreenInfo i;
            screen->get_info(&i);
            attr = i.attribute;
            have_attr = true;
        }
        return attr;
    };
    auto cursor = [&](ScreenInfo* i) { screen->get_info(i); };
    enum { S1, S2, S3, S4 } state = S1;

    while (q + unit <= end) {
        u32 unit_value = read_unit(q, unit);
        u8 c = unit_value < 0x80 ? u8(unit_value) : 0;   // 0 matches no state
        q += unit;
        consumed += unit;
        bool digit = c >= '0' && c <= '9';
        ScreenInfo i;
        switch (state) {
            case S1:
                if (digit) {
                    p1 = (p1 * 10 + (c - '0')) % 65535;
                    state = S2;
                    continue;
                }
                if (c == ';') continue;
                switch (c) {
                    case 's':
                        cursor(&i);
                        saved_x = i.x;
                        saved_y = i.y;
                        break;
                    case 'u': screen->set_cursor(saved_x, saved_y); break;
                    case 'K':
                        cursor(&i);
                        erase(i.x, i.y, i.width - i.x);
                        break;
                    case 'J':
                        cursor(&i);
                        erase(0, i.y, (i.height - i.y) * i.width);
                        break;
                    case 'H':
                    case 'f': screen->set_cursor(0, 0); break;
                    case '?': screen_report(); break;
                    default: break;
                }
                return consumed;
            case S2:
                if (digit) {
                    p1 = (p1 * 10 + (c - '0')) % 65535;
                    continue;
                }
                if (c == ';') {
                    state = S3;
                    continue;
                }
                switch (c) {
                    case 'm': {
                        u16& a = working();
                        a = apply_sgr(a, p1);
                        screen->set_attribute(a);
                        break;
                    }
                    case 'A':
                        cursor(&i);
                        screen->set_cursor(i.x, i.y - int(p1) < 0 ? 0 : i.y - int(p1));
                        break;
                    case 'B':
                        cursor(&i);
                        screen->set_cursor(i.x, i.y + int(p1) >= i.height ? i.height - 1 : i.y + int(p1));
                        break;
                    case 'C':
                        cursor(&i);
                        screen->set_cursor(i.x + int(p1) >= i.width ? i.width - 1 : i.x + int(p1), i.y);
                        break;
                    case 'D':
                        cursor(&i);
                        screen->set_cursor(i.x - int(p1) < 0 ? 0 : i.x - int(p1), i.y);
                        break;
                    case 'J':
                        cursor(&i);
                        if (p1 == 1) {
                            erase(0, 0, i.y * i.width);
                        } else if (p1 == 2) {
                            erase(0, 0, i.width * i.height);
                            screen->set_cursor(0, 0);
                        }
                        break;
                    case 'K':
                        cursor(&i);
                        if (p1 == 1) {
                            erase(0, i.y, i.x);
                            screen->set_cursor(0, i.y);
                        } else if (p1 == 2) {
                            erase(0, i.y, i.width);
                            screen->set_cursor(0, i.y);
                        }
                        break;
                    default: break;
                }
                return consumed;
            case S3:
                if (digit) {
                    p2 = (p2 * 10 + (c - '0')) % 65535;
                    state = S4;
                    continue;
                }
                if (c == ';') continue;
                return consumed;
            case S4:
                if (digit) {
                    p2 = (p2 * 10 + (c - '0')) % 65535;
                    continue;
                }
                if (c == 'm' || c == ';') {
                    u16& a = working();
                    a = apply_sgr(apply_sgr(a, p1), p2);
                    if (c == 'm') {
                        screen->set_attribute(a);
                        return consumed;
                    }
                    p1 = p2 = 0;
                    state = S1;
                    continue;
                }
                if (c == 'H' || c == 'f') screen->set_cursor(int(p1), int(p2));
                return consumed;
        }
    }
    return consumed;  // cut off by the end of the text: dropped without effect
}

}  // namespace console
}  // namespace zir
