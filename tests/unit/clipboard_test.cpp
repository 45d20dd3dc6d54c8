// The clipboard: the process's own clipboard (text, file lists, image bytes,
// emptying, refused values), the desktop layers driven through stand-ins for
// wl-copy, wl-paste and xclip (tests/data/fake_clipboard.py: the command
// lines, the types offered and read, other programs' offers, time-outs), and
// a round trip through the real desktop clipboard when there is one.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "datatypes/binary.hpp"
#include "datatypes/none.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/image.hpp"
#include "datatypes/tuple.hpp"
#include "services/clipboard.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;
using clipboard::Content;
using clipboard::Layer;

std::string data_dir() {
    const char* d = std::getenv("ZIR_TEST_DATA");
    return d && *d ? d : ZIR_TEST_DATA_DIR;
}

const char* PNG_HEX = "89504E470D0A1A0A0000000D49484452";

Cell* read_() {
    Cell* out = stack::push(&none::value);
    return clipboard::read(out);
}

std::string text(const Cell* value) {
    EXPECT_EQ(TYPE_OF(value), TYPE_STRING);
    return string::to_std(value);
}

// The texts of a block of file! values.
std::vector<std::string> files_of(const Cell* block) {
    std::vector<std::string> out;
    EXPECT_EQ(TYPE_OF(block), TYPE_BLOCK);
    if (TYPE_OF(block) != TYPE_BLOCK) return out;
    for (i32 i = 0; i < series::rest_length(block); i++) {
        const Cell* f = series::head_cells(series::buffer_of(block)) + series::head_index(block) + i;
        EXPECT_EQ(TYPE_OF(f), TYPE_FILE);
        out.push_back(string::to_std(f));
    }
    return out;
}

bool false_q(const Cell* value) { return TYPE_OF(value) == TYPE_LOGIC && value->w1 == 0; }

struct ClipboardTest : ValueTest {
    void SetUp() override {
        ValueTest::SetUp();
        clipboard::use_layer(Layer::PROCESS);
        clipboard::put(Content{});
    }
    void TearDown() override {
        clipboard::use_layer(clipboard::detect_layer());
        ValueTest::TearDown();
    }
};

// --- The process's own clipboard ----------------------------------------------------------

TEST_F(ClipboardTest, OwnClipboardRoundTrips) {
    EXPECT_EQ(TYPE_OF(read_()), TYPE_NONE);

    ASSERT_TRUE(clipboard::write(str("one\r\ntwo \u00e9\u4e2d\U0001F600\r\n")));
    EXPECT_EQ(text(read_()), "one\ntwo \u00e9\u4e2d\U0001F600\n");
    // Reading leaves the content in place.
    EXPECT_EQ(text(read_()), "one\ntwo \u00e9\u4e2d\U0001F600\n");

    Cell* files = test::block({str("/tmp/a b.txt", TYPE_FILE), str("rel/c.txt", TYPE_FILE), str("d", TYPE_FILE)});
    ASSERT_TRUE(clipboard::write(files));
    EXPECT_EQ(files_of(read_()), (std::vector<std::string>{"/tmp/a b.txt", "rel/c.txt", "d"}));
    // Only the files from the block's head.
    ASSERT_TRUE(clipboard::write(at_(files, 2)));
    EXPECT_EQ(files_of(read_()), (std::vector<std::string>{"d"}));
    ASSERT_TRUE(clipboard::write(test::block({})));
    EXPECT_EQ(files_of(read_()), (std::vector<std::string>{}));

    // Bytes that only look like a PNG are kept, but cannot be read back as an image.
    std::string png = std::string(PNG_HEX) + "00FF";
    ASSERT_TRUE(clipboard::write(bin(png.c_str())));
    EXPECT_EQ(error_of([] { read_(); }), "access bad-media");

    ASSERT_TRUE(clipboard::write(none_()));
    EXPECT_EQ(TYPE_OF(read_()), TYPE_NONE);
}

TEST_F(ClipboardTest, ValuesItCannotHoldAreRefused) {
    ASSERT_TRUE(clipboard::write(str("kept")));
    struct Case {
        const char* name;
        Cell* value;
    } cases[] = {
        {"an integer", int_(5)},
        {"a file alone", str("a.txt", TYPE_FILE)},
        {"a block holding a string", test::block({str("a.txt", TYPE_FILE), str("b.txt")})},
        {"bytes that are no PNG file", bin("474946383961")},
        {"a PNG signature cut short", bin("89504E470D0A1A")},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of([&] { clipboard::write(c.value); }), "script invalid-arg") << c.name;
    // A refused value leaves the clipboard as it was.
    EXPECT_EQ(text(read_()), "kept");
}

TEST_F(ClipboardTest, ImagesGoThroughTheImageCodec) {
    // image! plugs its codec in; a stand-in shows what passes through it.
    struct Restore {
        decltype(clipboard::encode_png) encode = clipboard::encode_png;
        decltype(clipboard::decode_image) decode = clipboard::decode_image;
        ~Restore() {
            clipboard::encode_png = encode;
            clipboard::decode_image = decode;
        }
    } restore;
    static std::vector<u8> decoded;
    clipboard::encode_png = [](const Cell* image, std::vector<u8>& out) {
        out.clear();
        if (image->w1 == 0) return;   // no pixel: no bytes
        for (int i = 0; i < 8; i++) out.push_back(u8("\x89PNG\r\n\x1A\n"[i]));
        out.push_back(u8(image->w1));
    };
    clipboard::decode_image = [](const u8* bytes, i64 n, Cell* out) {
        decoded.assign(bytes, bytes + n);
        cell::init(out, TYPE_IMAGE);
        out->w1 = bytes[n - 1];
    };
    Cell* image = stack::push_scalar(TYPE_IMAGE, 7);
    ASSERT_TRUE(clipboard::write(image));
    Cell* back = read_();
    ASSERT_EQ(TYPE_OF(back), TYPE_IMAGE) << mold(back);
    EXPECT_EQ(back->w1, 7u);
    EXPECT_EQ(decoded.size(), 9u);
    // An image without pixels empties the clipboard.
    ASSERT_TRUE(clipboard::write(stack::push_scalar(TYPE_IMAGE, 0)));
    EXPECT_EQ(TYPE_OF(read_()), TYPE_NONE);
}

TEST_F(ClipboardTest, AnImageComesBackWithItsPixels) {
    // The real codec: out as PNG bytes, back as an image with the same pixels.
    Cell* image = image::make(datatype_(TYPE_IMAGE), pair_(3, 2), TYPE_IMAGE);
    image::poke(stack::push(image), 2, tuple::make_rgba(stack::push(none_()), 10, 20, 30, 40), nullptr);
    ASSERT_TRUE(clipboard::write(image));
    Cell* back = read_();
    ASSERT_EQ(TYPE_OF(back), TYPE_IMAGE) << mold(back);
    EXPECT_EQ(image::width_of(back), 3);
    EXPECT_EQ(image::height_of(back), 2);
    EXPECT_EQ(mold(back), mold(image));
}

// --- The desktop layers, through stand-in tools ------------------------------------------

// Scoped environment changes.
struct Env {
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~Env() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
            if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
            else unsetenv(it->first.c_str());
        }
    }
};

struct FakeDesktop : ClipboardTest, ::testing::WithParamInterface<Layer> {
    std::string dir, state;
    Env env;
    int saved_timeout = clipboard::tool_timeout_ms;
    // These tests are about what passes between us and the tools: image bytes
    // stay bytes, without the image codec in the way.
    decltype(clipboard::encode_png) saved_encode = clipboard::encode_png;
    decltype(clipboard::decode_image) saved_decode = clipboard::decode_image;

    void SetUp() override {
        ClipboardTest::SetUp();
        clipboard::encode_png = nullptr;
        clipboard::decode_image = nullptr;
        char tmpl[] = "/tmp/zir-clipboard-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        std::string tool = data_dir() + "/fake_clipboard.py";
        for (const char* name : {"wl-copy", "wl-paste", "xclip"})
            ASSERT_EQ(symlink(tool.c_str(), (dir + "/" + name).c_str()), 0);
        state = dir + "/state.json";
        std::string path = dir + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
        env.set("PATH", path.c_str());
        env.set("FAKE_CLIPBOARD", state.c_str());
        env.set("FAKE_CLIPBOARD_HANG", nullptr);
        env.set("WAYLAND_DISPLAY", GetParam() == Layer::WAYLAND ? "wayland-test" : nullptr);
        env.set("DISPLAY", GetParam() == Layer::X11 ? ":99" : nullptr);
        ASSERT_EQ(clipboard::detect_layer(), GetParam());
        clipboard::use_layer(GetParam());
    }
    void TearDown() override {
        clipboard::tool_timeout_ms = saved_timeout;
        clipboard::encode_png = saved_encode;
        clipboard::decode_image = saved_decode;
        for (const char* name : {"wl-copy", "wl-paste", "xclip", "state.json", "state.json.log"})
            unlink((dir + "/" + name).c_str());
        rmdir(dir.c_str());
        ClipboardTest::TearDown();
    }

    // What the clipboard holds: each type offered and its data, as JSON.
    std::string held() {
        std::ifstream f(state);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    // Offers of another program: [type, base64 data] pairs.
    void offer(const std::string& json) { std::ofstream(state) << json; }
    // The tools' command lines so far.
    std::string log() {
        std::ifstream f(state + ".log");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    bool wayland() const { return GetParam() == Layer::WAYLAND; }
};

std::string base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        u32 v = u32(u8(bytes[i])) << 16 | u32(u8(bytes[i + 1])) << 8 | u8(bytes[i + 2]);
        for (int k = 18; k >= 0; k -= 6) out += digits[(v >> k) & 63];
    }
    if (i + 1 == bytes.size()) {
        u32 v = u32(u8(bytes[i])) << 16;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        u32 v = u32(u8(bytes[i])) << 16 | u32(u8(bytes[i + 1])) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string pair_json(const std::string& type, const std::string& bytes) {
    return "[\"" + type + "\", \"" + base64(bytes) + "\"]";
}

TEST_P(FakeDesktop, TextGoesAsUtf8) {
    const char* type = wayland() ? "text/plain;charset=utf-8" : "UTF8_STRING";
    ASSERT_TRUE(clipboard::write(str("a\r\nb \u00e9")));
    EXPECT_EQ(held(), "[" + pair_json(type, "a\r\nb \u00e9") + "]");
    EXPECT_EQ(text(read_()), "a\nb \u00e9");
    std::string expected = wayland() ? "wl-copy --type text/plain;charset=utf-8\n"
                                       "wl-paste --list-types\n"
                                       "wl-paste --no-newline --type text/plain;charset=utf-8\n"
                                     : "xclip -selection clipboard -t UTF8_STRING -i\n"
                                       "xclip -selection clipboard -o -t TARGETS\n"
                                       "xclip -selection clipboard -o -t UTF8_STRING\n";
    EXPECT_EQ(log(), expected);
}

TEST_P(FakeDesktop, FilesGoAsAUriListOfWholePaths) {
    char* cwd = getcwd(nullptr, 0);
    std::string here = cwd;
    std::free(cwd);
    Cell* files =
        test::block({str("/tmp/a b.txt", TYPE_FILE), str("rel/c\u00e9.txt", TYPE_FILE), str("/x%y", TYPE_FILE)});
    ASSERT_TRUE(clipboard::write(files));
    std::string list = "file:///tmp/a%20b.txt\r\nfile://" + here + "/rel/c%C3%A9.txt\r\nfile:///x%25y\r\n";
    EXPECT_EQ(held(), "[" + pair_json("text/uri-list", list) + "]");
    EXPECT_EQ(files_of(read_()), (std::vector<std::string>{"/tmp/a b.txt", here + "/rel/c\u00e9.txt", "/x%y"}));
}

TEST_P(FakeDesktop, ImagesGoAsPng) {
    std::string png = std::string(PNG_HEX) + "0102";
    ASSERT_TRUE(clipboard::write(bin(png.c_str())));
    EXPECT_TRUE(held().starts_with("[[\"image/png\", ")) << held();
    Cell* back = read_();
    ASSERT_EQ(TYPE_OF(back), TYPE_BINARY);
    EXPECT_EQ(hex_of(back), png);
}

TEST_P(FakeDesktop, NoneEmptiesTheClipboard) {
    ASSERT_TRUE(clipboard::write(str("x")));
    ASSERT_TRUE(clipboard::write(none_()));
    // Wayland gives the selection up; xclip can only hold an empty text.
    EXPECT_EQ(held(), wayland() ? "[]" : "[" + pair_json("UTF8_STRING", "") + "]");
    EXPECT_EQ(TYPE_OF(read_()), TYPE_NONE);
}

TEST_P(FakeDesktop, OffersOfOtherProgramsAreReadBestFirst) {
    struct Case {
        const char* name;
        std::string offers;
        std::string expected;   // "text:...", "files:a|b", "binary:HEX", "none"
    } cases[] = {
        {"a file manager's copy: the files, not their text",
         "[" + pair_json("x-special/gnome-copied-files", "copy\nfile:///h/a") + ", " +
             pair_json("text/uri-list", "# comment\r\nfile:///h/a%20b\r\nfile://localhost/etc/x\r\nfile:/y\r\n") +
             ", " + pair_json("text/plain", "/h/a b") + "]",
         "files:/h/a b|/etc/x|/y"},
        {"a link is text", "[" + pair_json("text/uri-list", "https://example.com/\r\n") + ", " +
                              pair_json("text/plain", "https://example.com/") + "]",
         "text:https://example.com/"},
        {"a file of another host is no file here",
         "[" + pair_json("text/uri-list", "file://far/h/a\r\n") + ", " + pair_json("text/plain", "far") + "]",
         "text:far"},
        {"UTF-8 text is preferred", "[" + pair_json("STRING", "old") + ", " + pair_json("UTF8_STRING", "new") + "]",
         "text:new"},
        {"Latin-1 text of an older program", "[" + pair_json("STRING", "caf\xE9") + "]", "text:caf\u00e9"},
        {"an image among other offers",
         "[" + pair_json("text/html", "<img>") + ", " + pair_json("image/jpeg", "\xFF\xD8\xFF") + "]",
         "binary:FFD8FF"},
        {"nothing handled", "[" + pair_json("application/x-other", "?") + "]", "none"},
        {"nothing at all", "[]", "none"},
    };
    for (const Case& c : cases) {
        offer(c.offers);
        Cell* v = read_();
        std::string got;
        if (TYPE_OF(v) == TYPE_STRING) got = "text:" + string::to_std(v);
        else if (TYPE_OF(v) == TYPE_BINARY) got = "binary:" + hex_of(v);
        else if (TYPE_OF(v) == TYPE_NONE) got = "none";
        else if (TYPE_OF(v) == TYPE_BLOCK) {
            got = "files:";
            for (const std::string& f : files_of(v)) got += (got.size() > 6 ? "|" : "") + f;
        }
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST_P(FakeDesktop, AStuckOrMissingToolIsReportedNotWaitedFor) {
    clipboard::tool_timeout_ms = 300;
    env.set("FAKE_CLIPBOARD_HANG", "1");
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(false_q(read_()));
    EXPECT_FALSE(clipboard::write(str("x")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    env.set("FAKE_CLIPBOARD_HANG", nullptr);

    env.set("PATH", "/nonexistent");
    EXPECT_TRUE(false_q(read_()));
    EXPECT_FALSE(clipboard::write(str("x")));
}

INSTANTIATE_TEST_SUITE_P(Layers, FakeDesktop, ::testing::Values(Layer::WAYLAND, Layer::X11),
                         [](const auto& info) { return info.param == Layer::WAYLAND ? "Wayland" : "X11"; });

TEST_F(ClipboardTest, WithoutASessionTheProcessKeepsItsOwn) {
    Env env;
    env.set("WAYLAND_DISPLAY", nullptr);
    env.set("DISPLAY", nullptr);
    EXPECT_EQ(clipboard::detect_layer(), Layer::PROCESS);
    // A session without its tool is no better.
    env.set("DISPLAY", ":99");
    env.set("PATH", "/nonexistent");
    EXPECT_EQ(clipboard::detect_layer(), Layer::PROCESS);
}

// --- The real desktop clipboard --------------------------------------------------------------

TEST_F(ClipboardTest, TheDesktopClipboardRoundTripsText) {
    Layer desktop = clipboard::detect_layer();
    if (desktop == Layer::PROCESS) GTEST_SKIP() << "no graphical session with wl-clipboard or xclip";
    clipboard::use_layer(desktop);
    // What the user had there is put back afterwards.
    Content before;
    bool had = clipboard::get(before);
    ASSERT_TRUE(clipboard::write(str("zir clipboard test \u00e9")));
    Cell* back = read_();
    if (had) clipboard::put(before);
    EXPECT_EQ(text(back), "zir clipboard test \u00e9");
}

}  // namespace
}  // namespace zir
