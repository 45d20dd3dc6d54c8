// What the runtime knows of each datatype without asking its module: its
// name, which payload words hold nodes and how to mark them, how a value is
// hashed, and the groups it belongs to. One row per datatype id; a new
// datatype adds its row here, its module and its registration, nothing else.
#include "runtime/cell.hpp"

namespace zir {

namespace {

using namespace type_traits;

constexpr u16 BLOCK = G_ANY_BLOCK | G_ANY_SERIES;
constexpr u16 TEXT = G_ANY_TEXT | G_ANY_SERIES;
constexpr u16 WORD = G_ANY_WORD;
constexpr u16 KEYED = G_NODE_KEYED;

}  // namespace

const TypeTraits type_table[TYPE_TOTAL] = {
    // name              mark             hash            groups
    {nullptr,         MARK_NOTHING,    HASH_NOTHING,   0},                  // 0
    {"datatype!",     MARK_NOTHING,    HASH_W1,        0},                  // 1
    {"unset!",        MARK_NOTHING,    HASH_UNSET,     0},                  // 2
    {"none!",         MARK_NOTHING,    HASH_NONE,      0},                  // 3
    {"logic!",        MARK_NOTHING,    HASH_W1,        0},                  // 4
    {"block!",        MARK_CELLS,      HASH_W1_W2,     BLOCK | KEYED},      // 5
    {"paren!",        MARK_CELLS,      HASH_W1_W2,     BLOCK | KEYED},      // 6
    {"string!",       MARK_TEXT,       HASH_TEXT,      TEXT},               // 7
    {"file!",         MARK_TEXT,       HASH_TEXT,      TEXT},               // 8
    {"url!",          MARK_TEXT,       HASH_TEXT,      TEXT},               // 9
    {"char!",         MARK_NOTHING,    HASH_W2,        0},                  // 10
    {"integer!",      MARK_NOTHING,    HASH_W2,        0},                  // 11
    {"float!",        MARK_NOTHING,    HASH_W2_W3,     0},                  // 12
    {"symbol!",       MARK_SYMBOL,     HASH_SPELLING,  0},                  // 13
    {"context!",      MARK_CONTEXT,    HASH_NOTHING,   0},                  // 14
    {"word!",         MARK_WORD,       HASH_SYMBOL_ID, WORD},               // 15
    {"set-word!",     MARK_WORD,       HASH_SYMBOL_ID, WORD},               // 16
    {"lit-word!",     MARK_WORD,       HASH_SYMBOL_ID, WORD},               // 17
    {"get-word!",     MARK_WORD,       HASH_SYMBOL_ID, WORD},               // 18
    {"refinement!",   MARK_WORD,       HASH_SYMBOL_ID, 0},                  // 19
    {"issue!",        MARK_WORD,       HASH_SYMBOL_ID, 0},                  // 20
    {"native!",       MARK_NATIVE,     HASH_W1,        0},                  // 21
    {"action!",       MARK_NATIVE,     HASH_W1,        0},                  // 22
    {"op!",           MARK_OP,         HASH_W1,        KEYED},              // 23
    {"function!",     MARK_FUNCTION,   HASH_W1_W3,     KEYED},              // 24
    {"path!",         MARK_CELLS,      HASH_W1_W2,     BLOCK | KEYED},      // 25
    {"lit-path!",     MARK_CELLS,      HASH_W1_W2,     BLOCK | KEYED},      // 26
    {"set-path!",     MARK_CELLS,      HASH_W1_W2,     BLOCK | KEYED},      // 27
    {"get-path!",     MARK_CELLS,      HASH_W1_W2,     BLOCK | KEYED},      // 28
    {"routine!",      MARK_FUNCTION,   HASH_NOTHING,   0},                  // 29
    {"bitset!",       MARK_BYTES,      HASH_NOTHING,   0},                  // 30
    {"triple!",       MARK_NOTHING,    HASH_W1_W3,     0},                  // 31
    {"object!",       MARK_OBJECT,     HASH_W1,        KEYED},              // 32
    {"typeset!",      MARK_NOTHING,    HASH_W1_W3,     0},                  // 33
    {"error!",        MARK_OBJECT,     HASH_W1,        KEYED},              // 34
    {"vector!",       MARK_BYTES,      HASH_NOTHING,   G_ANY_SERIES},       // 35
    {"hash!",         MARK_INDEXED,    HASH_W1_W2,     BLOCK | KEYED},      // 36
    {"pair!",         MARK_NOTHING,    HASH_W2_W3,     0},                  // 37
    {"percent!",      MARK_NOTHING,    HASH_W2_W3,     0},                  // 38
    {"tuple!",        MARK_NOTHING,    HASH_TUPLE,     0},                  // 39
    {"map!",          MARK_INDEXED,    HASH_W2,        KEYED},              // 40
    {"binary!",       MARK_BYTES,      HASH_BYTES,     G_ANY_SERIES},       // 41
    {"series!",       MARK_NOTHING,    HASH_NOTHING,   0},                  // 42
    {"time!",         MARK_NOTHING,    HASH_W2_W3,     0},                  // 43
    {"tag!",          MARK_TEXT,       HASH_TEXT,      TEXT},               // 44
    {"email!",        MARK_TEXT,       HASH_TEXT,      TEXT},               // 45
    {"handle!",       MARK_HANDLE,     HASH_W2,        0},                  // 46
    {"date!",         MARK_NOTHING,    HASH_DATE,      0},                  // 47
    {"port!",         MARK_OBJECT,     HASH_W1,        KEYED},              // 48
    {"money!",        MARK_NOTHING,    HASH_MONEY,     0},                  // 49
    {"ref!",          MARK_TEXT,       HASH_TEXT,      TEXT},               // 50
    {"point2D!",      MARK_NOTHING,    HASH_W1_W2,     0},                  // 51
    {"point3D!",      MARK_NOTHING,    HASH_W1_W3,     0},                  // 52
    {"image!",        MARK_IMAGE,      HASH_W1_W2,     G_ANY_SERIES | KEYED},// 53
    {"event!",        MARK_EVENT,      HASH_W2,        KEYED},              // 54
    {nullptr,         MARK_NOTHING,    HASH_NOTHING,   0},                  // 55
    {nullptr,         MARK_NOTHING,    HASH_NOTHING,   0},                  // 56
};

}  // namespace zir
