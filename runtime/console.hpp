// Console writer: every text the process prints leaves through here.
//
// Standard output is a terminal or a pipe/file; both receive UTF-8 with LF line
// ends, collected in a 1,024-byte buffer that is written whenever more than
// 1,020 bytes are waiting and at the end of each call. A terminal performs
// escape sequences itself, so they pass through unchanged. A terminal that
// cannot perform them (TERM is "dumb") gets them carried out by our own CSI
// interpreter against a screen device instead, so raw escapes never show.
//
// The interpreter works on text of any string unit (1, 2 or 4 bytes per code
// point) and drives a `ScreenDevice`: cursor moves, erasing and the Windows-style
// character attribute word that SGR codes change.
#pragma once

#include "runtime/base.hpp"

namespace zir {
namespace console {

constexpr int OUTPUT_BUFFER_SIZE = 1024;
constexpr int OUTPUT_FLUSH_AT = 1020;   // written once more bytes than this are waiting

struct ScreenInfo {
    int width, height;              // buffer size in cells
    int x, y;                       // cursor
    u16 attribute;                  // current character attribute
    int left, top, right, bottom;   // window in buffer coordinates
    int max_width, max_height;
};

// What the escape interpreter drives. Every entry must be set.
struct ScreenDevice {
    void (*get_info)(ScreenInfo* info);
    void (*set_cursor)(int x, int y);
    void (*fill)(int x, int y, int count, u32 ch, u16 attribute);   // count cells from (x, y), row-major
    void (*set_attribute)(u16 attribute);
};

extern bool is_terminal;   // standard output is a terminal
extern bool emulate;       // escapes are carried out by us (dumb terminal)

void init();
void init_attributes();    // reads the start-up attribute from the device

// Where encoded bytes go; the default writes to standard output.
using Sink = void (*)(const u8* bytes, size_t n);
void set_sink(Sink sink);
void set_device(const ScreenDevice* device);
const ScreenDevice* device();
void set_emulate(bool on);

void write(const u8* text, u32 size, u32 unit, bool new_line);
void write_ucs4(const u8* text, u32 size);
void write_ucs4_line(const u8* text, u32 size);
void write_unit(u16 unit);
void write_c_string(const char* text);
void flush();

// Carries out the escape sequence at `p` (an ESC unit) and answers the bytes
// it consumed, 0 when no '[' follows. `end` bounds the text.
u32 parse_csi(const u8* p, const u8* end, u32 unit);

// The attribute that SGR 0 and every erase use.
u16 startup_attribute();

}  // namespace console
}  // namespace zir
