// The specs of the 62 actions, and the standard typesets they name.
//
// One table gives, for every action slot that has a word, the word and its
// spec in the language's own spec syntax (doc strings, arguments with their
// type blocks, refinements, `return:`); the boot image carries the same
// specs. Until the boot step encodes them, `define_words` reads this table
// at start-up: it builds each spec block, makes the action! value over it and
// sets the global word. The datatype words and the typesets the specs name
// (`series!`, `number!`, `any-type!` ...) are defined first, the typesets from
// the table of their members, so the argument checks of the first calls can
// resolve them.
#include <cstring>
#include <string_view>

#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/native.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/fault.hpp"

namespace zir {
namespace actions {

namespace {

struct ActionSpec {
    u32 slot;
    const char* word;
    const char* spec;
};

// The spec of every action that has a word (slots 7, 8 and 9 have none).
const ActionSpec specs[] = {
    {ACT_MAKE, "make", R"("Makes a value of a datatype from a spec" type [any-type!] "A datatype or an example value" spec [any-type!] "What the new value is made of")"},
    {ACT_RANDOM, "random", R"("Answers a random value of the argument's datatype, or shuffles a series" value [any-type!] "The upper limit, or the series" /seed "Restarts the generator from the value" /secure "Draws from the system's secure source" /only "Picks one value of a series")"},
    {ACT_REFLECT, "reflect", R"("Answers one of a value's inner parts" value [any-type!] field [word!] "spec, body, words, values ...")"},
    {ACT_TO, "to", R"("Converts a value to a datatype" type [any-type!] "A datatype or an example value" spec [any-type!] "The value to convert")"},
    {ACT_FORM, "form", R"("Answers the user text of a value" value [any-type!] /part "Limits the length of the text" limit [integer!] return: [string!])"},
    {ACT_MOLD, "mold", R"("Answers the source text of a value" value [any-type!] /only "Leaves out the outer brackets of a block" /all "Writes every value in its loadable form" /flat "Writes everything on one line" /part "Limits the length of the text" limit [integer!] return: [string!])"},
    {ACT_ABSOLUTE, "absolute", R"("Answers the absolute value" value [number! char! pair! time! money! any-point!])"},
    {ACT_ADD, "add", R"("Answers the sum of two values" value1 [scalar! vector!] value2 [scalar! vector!])"},
    {ACT_DIVIDE, "divide", R"("Answers the first value divided by the second" value1 [scalar! vector!] value2 [scalar! vector!])"},
    {ACT_MULTIPLY, "multiply", R"("Answers the product of two values" value1 [scalar! vector!] value2 [scalar! vector!])"},
    {ACT_NEGATE, "negate", R"("Answers the value with its sign changed" number [number! bitset! pair! time! money! any-point!])"},
    {ACT_POWER, "power", R"("Answers a number raised to a power" number [number!] exponent [integer! float!])"},
    {ACT_REMAINDER, "remainder", R"("Answers what is left after dividing the first value by the second" value1 [scalar! vector!] value2 [scalar! vector!])"},
    {ACT_ROUND, "round", R"("Rounds a value, by default half away from zero" n [number! time! pair! money! any-point!] /to "Rounds to a multiple of the scale" scale [number! money! time! pair! any-point!] /even "Halves to the even neighbour" /down "Toward zero" /half-down "Halves toward zero" /floor "Toward negative infinity" /ceiling "Toward positive infinity" /half-ceiling "Halves toward positive infinity")"},
    {ACT_SUBTRACT, "subtract", R"("Answers the second value taken from the first" value1 [scalar! vector!] value2 [scalar! vector!])"},
    {ACT_EVEN_Q, "even?", R"("Whether a number is even" number [number! char! time! money!] return: [logic!])"},
    {ACT_ODD_Q, "odd?", R"("Whether a number is odd" number [number! char! time! money!] return: [logic!])"},
    {ACT_AND_T, "and~", R"("Answers the first value ANDed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector! float! percent!])"},
    {ACT_COMPLEMENT, "complement", R"("Answers the complement of a value" value [logic! integer! bitset! typeset! binary! tuple!])"},
    {ACT_OR_T, "or~", R"("Answers the first value ORed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector! float! percent!])"},
    {ACT_XOR_T, "xor~", R"("Answers the first value exclusive-ORed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector! float! percent!])"},
    {ACT_APPEND, "append", R"("Inserts a value at a series' tail and answers the series at its head" series [series! port! bitset!] value [any-type!] /part "Inserts only part of the value" length [number! series!] /only "Inserts a block as one value" /dup "Inserts the value several times" count [integer!] return: [series! port! bitset!])"},
    {ACT_AT, "at", R"("Answers a series at an index relative to its head" series [series! port!] index [integer! pair!])"},
    {ACT_BACK, "back", R"("Answers a series one value before its head" series [series! port!])"},
    {ACT_CHANGE, "change", R"("Replaces values of a series and answers the series after them" series [series! port!] value [any-type!] /part "Replaces this many values, or up to a position" range [number! series!] /only "Changes a block as one value" /dup "Changes the value several times" count [integer!])"},
    {ACT_CLEAR, "clear", R"("Removes the values from a series' head to its tail" series [series! port! bitset! map! none!])"},
    {ACT_COPY, "copy", R"("Answers a copy of a value" value [series! port! bitset! map! any-object! any-function!] /part "Copies only part of the value" length [number! series! pair!] /deep "Copies the series inside too" /types "Copies only the values of these datatypes" kind [datatype! typeset!])"},
    {ACT_FIND, "find", R"("Answers the series where a value is found, or none" series [series! bitset! typeset! port! map! none!] value [any-type!] /part "Searches only part of the series" length [number! series!] /only "Finds a block as one value" /case "Compares letter case too" /same "Finds the very same value" /any "Matches wildcards" /with "Wildcards of its own" wild [string!] /skip "Treats the series as records of this size" size [integer!] /last "Finds from the tail" /reverse "Finds backward from the head" /tail "Answers the position after the match" /match "Matches at the head only")"},
    {ACT_HEAD, "head", R"("Answers a series at its first value" series [series! port!])"},
    {ACT_HEAD_Q, "head?", R"("Whether a series is at its head" series [series! port!] return: [logic!])"},
    {ACT_INDEX_Q, "index?", R"("Answers the index of a series' head, or of a word's slot" series [series! port! any-word! refinement!] return: [integer! none!])"},
    {ACT_INSERT, "insert", R"("Inserts a value at a series' head and answers the series after it" series [series! port! bitset!] value [any-type!] /part "Inserts only part of the value" length [number! series!] /only "Inserts a block as one value" /dup "Inserts the value several times" count [integer!] return: [series! port! bitset!])"},
    {ACT_LENGTH_Q, "length?", R"("Answers the number of values from the head to the tail" series [series! port! bitset! map! tuple! none!] return: [integer! none!])"},
    {ACT_MOVE, "move", R"("Moves values of a series to a position of the same or another series" origin [series! port!] target [series! port!] /part "Moves this many values" length [integer!])"},
    {ACT_NEXT, "next", R"("Answers a series one value after its head" series [series! port!])"},
    {ACT_PICK, "pick", R"("Answers the value at a position" series [series! port! bitset! pair! tuple! money! date! time! any-point!] index [scalar! any-string! any-word! block! logic! time!])"},
    {ACT_POKE, "poke", R"("Replaces the value at a position and answers the new value" series [series! port! bitset!] index [scalar! any-string! any-word! block! logic!] value [any-type!])"},
    {ACT_PUT, "put", R"("Sets the value after a key, adding the key when absent" series [series! port! map! object!] key [scalar! any-string! any-word! binary!] value [any-type!] /case "Compares letter case too")"},
    {ACT_REMOVE, "remove", R"("Removes values from a series' head and answers the series" series [series! port! bitset! map! none!] /part "Removes this many values, or up to a position" length [number! series! char!] /key "Removes a key and its value" key-arg [scalar! any-string! any-word! binary! block!])"},
    {ACT_REVERSE, "reverse", R"("Reverses the order of values from a series' head" series [series! port! pair! tuple! any-point!] /part "Reverses only part of the series" length [number! series!] /skip "Treats the series as records of this size" size [integer!])"},
    {ACT_SELECT, "select", R"("Answers the value after the one found, or none" series [series! port! map! any-object! none!] value [any-type!] /part "Searches only part of the series" length [number! series!] /only "Finds a block as one value" /case "Compares letter case too" /same "Finds the very same value" /any "Matches wildcards" /with "Wildcards of its own" wild [string!] /skip "Treats the series as records of this size" size [integer!] /last "Finds from the tail" /reverse "Finds backward from the head")"},
    {ACT_SORT, "sort", R"("Sorts a series in place and answers it" series [series! port!] /case "Compares letter case too" /skip "Treats the series as records of this size" size [integer!] /compare "Orders by a comparator function, or by this field of the records" comparator [integer! block! any-function!] /part "Sorts only part of the series" length [number! series!] /all "Compares whole records" /reverse "Sorts in descending order" /stable "Keeps equal values in their order")"},
    {ACT_SKIP, "skip", R"("Answers a series some values away from its head" series [series! port!] offset [integer! pair!])"},
    {ACT_SWAP, "swap", R"("Exchanges the first values of two series" series1 [series! port!] series2 [series! port!])"},
    {ACT_TAIL, "tail", R"("Answers a series at its tail" series [series! port!])"},
    {ACT_TAIL_Q, "tail?", R"("Whether a series is at its tail" series [series! port!] return: [logic!])"},
    {ACT_TAKE, "take", R"("Removes and answers the first value of a series" series [series! port! none!] /part "Takes this many values, or up to a position" length [number! series!] /deep "Copies the series inside the values taken" /last "Takes from the tail")"},
    {ACT_TRIM, "trim", R"("Removes blanks from text, or none values from a block" series [series! port!] /head "Only at the head" /tail "Only at the tail" /auto "Indents lines relative to the first" /lines "Joins the lines" /all "Removes every blank" /with "Removes these characters instead" str [char! string! binary! integer!])"},
    {ACT_CREATE, "create", R"("Sends a create request to a port" port [port! file! url! block!])"},
    {ACT_CLOSE, "close", R"("Closes a port" port [port!])"},
    {ACT_DELETE, "delete", R"("Deletes a file or what a port names" file [file! port!])"},
    {ACT_MODIFY, "modify", R"("Changes a property of a value" target [object! series! bitset!] field [word!] value [any-type!] /case "Compares letter case too")"},
    {ACT_OPEN, "open", R"("Opens a port" port [port! file! url! block!] /new "Creates it, emptied when it exists" /read "For reading" /write "For writing" /seek "For random access" /allow "With these access rights" access [block!])"},
    {ACT_OPEN_Q, "open?", R"("Whether a port is open" port [port!])"},
    {ACT_QUERY, "query", R"("Answers what is known of a file, url or port" target [port! file! url! block!])"},
    {ACT_READ, "read", R"("Reads from a file, url or port" source [file! url! port! block!] /part "Reads only so many elements" length [number!] /seek "Starts at this index" index [number!] /binary "Answers the bytes unchanged" /lines "Answers a block of lines" /info "Answers what is known of the source too" /as "Decodes text of this encoding" encoding [word!])"},
    {ACT_RENAME, "rename", R"("Gives a file, url or port another name" from [port! file! url!] to [port! file! url!])"},
    {ACT_UPDATE, "update", R"("Tells a port of changes to its state" port [port!])"},
    {ACT_WRITE, "write", R"("Writes to a file, url or port" destination [file! url! port! block!] data [any-type!] /binary "Writes the bytes unchanged" /lines "Writes each value of a block as a line" /info "Answers what is known of the destination" /append "Writes at the end" /part "Writes only so many elements" length [number!] /seek "Starts at this index" index [number!] /allow "With these access rights" access [block!] /as "Encodes text this way" encoding [word!])"},
};

// The standard typesets, in the order they are defined: each is the union
// of its datatypes and of typesets defined before it.
// Lists end at the first 0 (TYPE_VALUE is never a member) or null.
struct TypesetDef {
    const char* word;
    u32 types[8];
    const char* typesets[6];
};

const TypesetDef typesets[] = {
    {"internal!", {TYPE_UNSET}, {}},
    {"external!", {TYPE_EVENT}, {}},
    {"number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}, {}},
    {"planar!", {TYPE_PAIR, TYPE_POINT2D}, {}},
    {"any-point!", {TYPE_POINT2D, TYPE_POINT3D}, {}},
    {"scalar!", {TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE}, {"number!", "any-point!"}},
    {"any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}, {}},
    {"all-word!", {TYPE_REFINEMENT, TYPE_ISSUE}, {"any-word!"}},
    {"any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}, {}},
    {"any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}, {}},
    {"any-block!", {}, {"any-path!", "any-list!"}},
    {"any-function!", {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE}, {}},
    {"any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}, {}},
    {"any-string!", {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}, {}},
    {"series!", {TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}, {"any-block!", "any-string!"}},
    {"immediate!", {TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_DATE},
     {"scalar!", "all-word!"}},
    {"default!", {TYPE_MAP, TYPE_BITSET}, {"series!", "immediate!", "any-object!", "external!", "any-function!"}},
    {"any-type!", {}, {"default!", "internal!"}},
};

// --- Reading a spec text ---------------------------------------------------------

}  // namespace

void read_spec(Cell* block, const char*& p, bool types) {
    for (;;) {
        while (*p == ' ') p++;
        if (!*p) return;
        if (*p == ']') {
            p++;
            return;
        }
        Cell* item = stack::push_slot();
        cell::init(item, TYPE_UNSET);
        if (*p == '[') {
            p++;
            block::make_at(item, 4);
            read_spec(item, p, true);
        } else if (*p == '"') {
            const char* end = std::strchr(p + 1, '"');
            string::make_at(item, end - p, 1);
            string::append_utf8(item, reinterpret_cast<const u8*>(p + 1), end - p - 1);
            p = end + 1;
        } else {
            const char* end = p;
            while (*end && *end != ' ' && *end != ']') end++;
            std::string_view token(p, size_t(end - p));
            p = end;
            if (token[0] == '/') {
                series::make_word(item, symbol::make(token.substr(1)), TYPE_REFINEMENT);
            } else {
                bool set = token.back() == ':';
                bool lit = token[0] == '\'';
                if (lit) token.remove_prefix(1);
                word::make_at(symbol::make(set ? token.substr(0, token.size() - 1) : token), item);
                if (set) cell::set_type(item, TYPE_SET_WORD);
                if (lit) cell::set_type(item, TYPE_LIT_WORD);
                // A datatype not registered (yet) names no type.
                if (types && TYPE_OF(context::get(item)) == TYPE_UNSET) {
                    stack::pop(1);
                    continue;
                }
            }
        }
        block::zs_append(block, item);
        stack::pop(1);
    }
}

namespace {

// The global word's value cell of a spelling (valid until the next allocation).
Cell* global_value(const char* spelling) {
    Cell* w = word::load(spelling);
    Cell word = *w;
    return context::get(&word);
}

void define_typesets() {
    for (const TypesetDef& def : typesets) {
        Cell ts;
        cell::init(&ts, TYPE_TYPESET);
        for (u32 i = 0; i < 8 && def.types[i]; i++) typeset::set_type_bit(&ts, def.types[i]);
        for (u32 i = 0; i < 6 && def.typesets[i]; i++) {
            const Cell* member = global_value(def.typesets[i]);
            ts.w1 |= member->w1;
            ts.w2 |= member->w2;
            ts.w3 |= member->w3;
        }
        collector::RootCell value(ts);
        Cell word = *word::load(def.word);
        context::set(&word, value.get());
    }
}

}  // namespace

i32 refinement_count(u32 slot) {
    for (const ActionSpec& s : specs) {
        if (s.slot != slot) continue;
        i32 n = 0;
        for (const char* p = s.spec; *p; p++)
            if (*p == '/' && (p == s.spec || p[-1] == ' ')) n++;
        return n;
    }
    return 0;
}

void define_datatype_words() {
    stack::KeepTop restore;
    // The datatype words, as start-up sets them: every registered datatype
    // but symbol!, context! and series! (a typeset).
    for (u32 t = TYPE_DATATYPE; t <= datatype::highest; t++) {
        if (!datatype::names[t].name || t == TYPE_SYMBOL || t == TYPE_CONTEXT || t == TYPE_SERIES) continue;
        Cell value;
        datatype::make_at(&value, t);
        Cell word = *word::load(datatype::names[t].name);
        context::set(&word, &value);
    }
    define_typesets();
}

void define_words() {
    stack::KeepTop restore;
    define_datatype_words();
    for (const ActionSpec& s : specs) {
        // [spec-block slot], the spec action! make takes.
        Cell* made = stack::push_slot();
        cell::init(made, TYPE_UNSET);
        block::make_at(made, 2);
        Cell* spec = stack::push_slot();
        cell::init(spec, TYPE_UNSET);
        block::make_at(spec, 8);
        const char* p = s.spec;
        read_spec(spec, p, false);
        block::zs_append(made, spec);
        Cell slot;
        cell::init(&slot, TYPE_INTEGER);
        slot.w2 = s.slot;
        block::zs_append(made, &slot);
        Cell* value = action::make(nullptr, made, TYPE_ACTION);
        Cell word = *word::load(s.word);
        context::set(&word, value);
        stack::top = made;
    }
}

}  // namespace actions
}  // namespace zir
