// The boot image: SET pairs and root indexes in boot mode, words bound by
// root index, the image the build embeds (decoding back to the library's
// source), and the refusal of an image that is not one.
#include <cstdio>
#include <cstring>

#include "boot/boot_image.hpp"
#include "boot/roots.hpp"
#include "boot/system.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "loader/zirbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;
using Bytes = std::vector<u8>;

struct BootImageTest : ValueTest {
    u32 saved_codec = 0;
    void SetUp() override {
        ValueTest::SetUp();
        saved_codec = zirbin::codec_q;
    }
    void TearDown() override {
        zirbin::codec_q = saved_codec;
        ValueTest::TearDown();
    }
};

// Decodes in boot mode into a fresh block holding `before` cells already.
Cell* boot_decode(const Bytes& image, i32 before, i32* base) {
    Cell* target = test::block({});
    for (i32 i = 0; i < before; i++) block::zs_append(target, int_(100 + i));
    zirbin::codec_q = 0;
    *base = zirbin::decode(image.data(), target, i64(image.size()));
    zirbin::codec_q = 1;
    return target;
}

Cell global_value(const char* spelling) {
    Cell w = *word::load(spelling);
    return *context::get(&w);
}

TEST_F(BootImageTest, SetPairsDefineWordsAndTakeNoRootIndex) {
    // Two pairs before the first root and one between the roots.
    Cell* sets = test::block({test::word("zz-first", TYPE_SET_WORD), int_(7), test::word("zz-second", TYPE_SET_WORD),
                              read_block("a b c")});
    Cell* roots = test::block({read_block("x y"), str("two")});
    Bytes image = binary::bytes_of(zirbin::encode_boot(sets, roots));
    for (i32 before : {0, 3}) {
        i32 base = -1;
        Cell* target = boot_decode(image, before, &base);
        EXPECT_EQ(base, before);
        ASSERT_EQ(series::rest_length(target), before + 2);
        EXPECT_MOLD(block::cell_at(target->w2, base), "[x y]") << "root 0 is the first root value";
        EXPECT_MOLD(block::cell_at(target->w2, base + 1), "\"two\"");
        Cell first = global_value("zz-first");
        EXPECT_MOLD(&first, "7");
        Cell second = global_value("zz-second");
        EXPECT_MOLD(&second, "[a b c]");
    }
}

// The spellings of a compact image are packed end to end, even when the
// image before it was the fixed form (whose spellings are padded).
TEST_F(BootImageTest, AnImageAfterAFixedFormOneIsCompact) {
    zirbin::encode(read_block("padded-spelling"));
    Cell* sets = test::block({test::word("zz-after-fixed", TYPE_SET_WORD), read_block("a b")});
    Cell* roots = test::block({read_block("x")});
    Bytes image = binary::bytes_of(zirbin::encode_boot(sets, roots));
    i32 base = -1;
    Cell* target = boot_decode(image, 0, &base);
    EXPECT_MOLD(block::cell_at(target->w2, base), "[x]");
    Cell after = global_value("zz-after-fixed");
    EXPECT_MOLD(&after, "[a b]");
}

// A file's values as the lexer makes them, pushed.
Cell* lexed_file(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    Bytes text;
    if (f) {
        int c;
        while ((c = std::fgetc(f)) != EOF) text.push_back(u8(c));
        std::fclose(f);
    }
    Cell* code = stack::push_slot();
    cell::init(code, TYPE_UNSET);
    lexer::transcode(code, text.data(), i64(text.size()), lexer::Options{}, nullptr, nullptr, nullptr, nullptr);
    return code;
}

// The image the build embeds holds the library's files, each decoding back
// to the values the lexer makes of it, and defines the datatype, action and
// native words with the values they have.
TEST_F(BootImageTest, EmbeddedImageDecodesToTheLibrarySource) {
    std::vector<std::string> files = boot::library_files(ZIR_LIBRARY_DIR);
    ASSERT_FALSE(files.empty());
    Bytes image(boot::EMBEDDED_IMAGE, boot::EMBEDDED_IMAGE + boot::EMBEDDED_IMAGE_SIZE);
    // Kept as roots: the decoding defines these words again, and their old
    // values' specs are then reachable only from here.
    collector::RootCell add_before(global_value("add"));
    collector::RootCell integer_before(global_value("integer!"));
    i32 base = -1;
    Cell* target = boot_decode(image, 0, &base);
    ASSERT_EQ(series::rest_length(target), i32(files.size()));
    for (size_t i = 0; i < files.size(); i++) {
        Cell* expected = lexed_file(files[i]);
        EXPECT_EQ(mold(block::cell_at(target->w2, base + i32(i))), mold(expected)) << files[i];
    }
    Cell add_after = global_value("add");
    EXPECT_MOLD(&add_after, mold(add_before.get()));
    EXPECT_EQ(add_after.w1, add_before->w1) << "the same action slot";
    Cell integer_after = global_value("integer!");
    EXPECT_MOLD(&integer_after, mold(integer_before.get()));
}

// Start-up from the program's image reads no spec text: with no spec
// recorded, the image's natives and actions are refused unless the decoder
// adopts the specs the image gives, which later images are checked against.
TEST_F(BootImageTest, TheImageGivesTheSpecsWhenAdopting) {
    // The recorded specs, kept alive in a block on the stack while the
    // decoder's own table is cleared.
    u32 saved[2][natives::NATIVES_SIZE + 1];
    Cell* kept = test::block({});
    for (i32 slot = 1; slot <= natives::NATIVES_SIZE; slot++) {
        saved[0][slot] = zirbin::own_spec(TYPE_NATIVE, slot);
        saved[1][slot] = zirbin::own_spec(TYPE_ACTION, slot);
        for (u32 spec : {saved[0][slot], saved[1][slot]}) {
            if (!spec) continue;
            Cell c;
            cell::init(&c, TYPE_BLOCK);
            c.w2 = spec;
            block::zs_append(kept, &c);
        }
    }
    Cell add_spec;
    cell::init(&add_spec, TYPE_BLOCK);
    add_spec.w2 = saved[1][ACT_ADD];
    std::string add_text = mold(&add_spec);
    Bytes image(boot::EMBEDDED_IMAGE, boot::EMBEDDED_IMAGE + boot::EMBEDDED_IMAGE_SIZE);
    i32 base = -1;
    zirbin::init_state();
    EXPECT_THROW(boot_decode(image, 0, &base), LanguageError);
    zirbin::adopt_specs = true;
    EXPECT_NO_THROW(boot_decode(image, 0, &base));
    zirbin::adopt_specs = false;
    Cell adopted;
    cell::init(&adopted, TYPE_BLOCK);
    adopted.w2 = zirbin::own_spec(TYPE_ACTION, ACT_ADD);
    ASSERT_NE(adopted.w2, 0u);
    EXPECT_EQ(mold(&adopted), add_text);
    EXPECT_NE(zirbin::own_spec(TYPE_NATIVE, 1), 0u) << "if";
    EXPECT_NE(zirbin::own_spec(TYPE_NATIVE, boot::BOOT_SLOT), 0u) << "the boot native";
    for (i32 slot = 1; slot <= natives::NATIVES_SIZE; slot++) {
        zirbin::set_own_spec(TYPE_NATIVE, slot, saved[0][slot]);
        zirbin::set_own_spec(TYPE_ACTION, slot, saved[1][slot]);
    }
}

// A compact image by hand: symbols "aa" and "bb"; root 0 a context! of the
// two words holding 1 and 2; then words bound by root index 0: `bb` with
// slot -1 (looked up by its symbol), `aa` with slot 0.
Bytes bound_words_image(u8 bb_slot_zigzag) {
    Bytes records = {
        14, 2 | 16, 2, 0, 1, 0x81, 0x82,   // context!: object kind, values; words aa bb; values 1 2
        15 | 0x40, 1, 0, bb_slot_zigzag,   // bb, context of root 0, the slot given
        15 | 0x40, 0, 0, 0,                // aa, context of root 0, slot 0
    };
    Bytes image = {'Z', 'I', 'R', 'B', 'I', 'N', zirbin::VERSION, zirbin::FLAG_COMPACT | zirbin::FLAG_SYMBOLS};
    image.push_back(3);                        // roots
    image.push_back(u8(records.size()));       // record area
    image.push_back(2);                        // symbols
    image.push_back(6);                        // bytes of spellings
    for (u8 off : {0, 3}) image.insert(image.end(), {off, 0, 0, 0});
    for (char c : std::string("aa\0bb\0", 6)) image.push_back(u8(c));
    image.insert(image.end(), records.begin(), records.end());
    return image;
}

TEST_F(BootImageTest, WordsBoundByRootIndexReadTheirContext) {
    for (i32 before : {0, 5}) {
        i32 base = -1;
        Cell* target = boot_decode(bound_words_image(1), before, &base);
        ASSERT_EQ(series::rest_length(target), before + 3);
        // Copies: molding allocates, which moves the block's buffer.
        Cell bb = *block::cell_at(target->w2, base + 1);
        Cell aa = *block::cell_at(target->w2, base + 2);
        u32 ctx = block::cell_at(target->w2, base)->w1;
        EXPECT_EQ(bb.w1, ctx);
        EXPECT_EQ(i32(bb.w3), 1) << "slot -1 takes the symbol's slot in the context";
        EXPECT_EQ(aa.w1, ctx);
        EXPECT_EQ(i32(aa.w3), 0);
        Cell two = *context::get(&bb);
        EXPECT_MOLD(&two, "2");
        Cell one = *context::get(&aa);
        EXPECT_MOLD(&one, "1");
    }
    // A slot that names another word of the context is refused.
    i32 base = 0;
    EXPECT_EQ(error_of([&] { boot_decode(bound_words_image(4), 0, &base); }), "script zb-invalid-record");
}

// The program's own library refused: a wrong magic, a corrupt packed body
// and a malformed record each end the program with runtime error 96.
TEST_F(BootImageTest, RefusedImagesEndTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The program's own image is stored unpacked; its packed form is refused
    // the same way, and a body that does not unpack too.
    Bytes embedded(boot::EMBEDDED_IMAGE, boot::EMBEDDED_IMAGE + boot::EMBEDDED_IMAGE_SIZE);
    Bytes good = binary::bytes_of(zirbin::pack(binary::load(embedded.data(), i64(embedded.size()))));
    ASSERT_TRUE(good[7] & zirbin::FLAG_COMPRESSED);
    Bytes magic = good;
    magic[0] = 'X';
    Bytes body = good;
    for (size_t i = zirbin::HEADER_SIZE + 8; i < body.size(); i += 7) body[i] ^= 0x5A;
    Bytes short_ = good;
    short_.resize(good.size() / 2);
    // The unpacked image cut short: its records end in the middle of one.
    Bytes cut = embedded;
    cut.resize(embedded.size() / 2);
    for (const Bytes* image : {&magic, &body, &short_, &cut}) {
        EXPECT_EXIT(
            {
                boot::load_image(image->data(), i64(image->size()));
                std::exit(0);
            },
            ::testing::ExitedWithCode(runtime::FAULT_BAD_BOOT_IMAGE), "");
    }
}

}  // namespace
}  // namespace zir
