// The clipboard: text, file lists and images exchanged with the desktop, or
// with a clipboard kept inside the process where there is no desktop.
//
// Three layers carry the content; one is chosen on first use:
//   - Wayland: when WAYLAND_DISPLAY is set and wl-copy and wl-paste are found
//     on PATH;
//   - X11: when DISPLAY is set and xclip is found on PATH;
//   - the process's own clipboard otherwise (a terminal session, a server):
//     what is written is read back by the same process, which is what the
//     terminal views' copy and paste need.
// The desktop tools are started directly (no shell), each with a time-out.
// On the desktop, text travels as UTF-8 ("text/plain;charset=utf-8", or
// UTF8_STRING under X11), file lists as "text/uri-list" of file: URIs and
// images as "image/png" (PNG, JPEG and GIF are read).
//
// Images are exchanged as encoded bytes. The image! datatype plugs its PNG
// codec in through `encode_png` and `decode_image` when it registers; without
// them (a program built without image!), an image on
// the clipboard is read as a binary! of its bytes, and a binary! holding a PNG
// file can be written as an image.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zir {
namespace clipboard {

enum class Layer : u8 { PROCESS, WAYLAND, X11 };

// The layer the environment offers.
Layer detect_layer();
// The layer in use: detected on first use, unless chosen with `use_layer`.
Layer layer();
void use_layer(Layer layer);

// How long a desktop tool may take before it is stopped and the clipboard
// reported unreachable: five seconds, far more than a tool serving a local
// clipboard needs, short enough that a stuck one does not freeze the console.
extern int tool_timeout_ms;

// The clipboard's content in plain terms.
struct Content {
    enum Kind : u8 { EMPTY, TEXT, FILES, IMAGE };
    Kind kind = EMPTY;
    std::string text;                  // UTF-8, line ends as they came
    std::vector<std::string> files;    // native paths
    std::vector<u8> image;             // PNG, JPEG or GIF bytes
    std::string image_type;            // their MIME type ("image/png")
};

// The layer's two operations: false when the clipboard cannot be reached (a
// desktop tool that cannot be started, fails or passes its time-out).
bool get(Content& out);
bool put(const Content& in);

// What the image! datatype sets: an image's PNG bytes (none for an image of
// no pixel), and the image! made from PNG, JPEG or GIF bytes, which raises
// `access bad-media` for bytes it cannot decode.
extern void (*encode_png)(const Cell* image, std::vector<u8>& out);
extern void (*decode_image)(const u8* bytes, i64 n, Cell* out);

// The clipboard's content as a value in `out`: a string! (its CR characters
// dropped), a block! of file!, an image! (a binary! of the encoded image while
// image! has no decoder here), none! when it holds nothing of these, or false
// when it cannot be reached. Answers `out`.
Cell* read(Cell* out);

// Puts a value on the clipboard: a string!, a block! of file! values, an
// image! (or a binary! holding a PNG file), or none! (which empties it).
// Answers success; any other value raises `script invalid-arg`.
bool write(const Cell* value);

// The bytes PNG files begin with.
bool png_q(const u8* bytes, i64 n);

}  // namespace clipboard
}  // namespace zir
