// map!: the language's dictionary, an unordered set of key/value pairs with
// unique keys, written "#[" keys and values "]".
//
// A map value holds its head index in word 1 (0), the node of a block of
// cells holding key, value, key, value ... in word 2, and in word 3 the node
// of a hash table of the map kind indexing the key cells
// (runtime/hash_table.hpp); the table's count is the number of live keys.
// Removing a key leaves its pair in the block, dead: the value cell's header
// becomes 0 and every reader skips it; setting the key again revives it.
//
// Keys are stored normalised: text and byte keys as a fresh copy (later
// changes of the original do not reach the map), the four word types as
// set-word!, the other key types as they are. Lookups fold case (comparison
// op 0) unless /case asks for op 2, so keys that differ only in case stay
// apart when they are put and found with /case.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace map {

// Whether values of a type can be keys.
bool valid_key_type_q(u32 type);
// Normalises a key cell in place (a text key becomes a copy); a key of any
// other type raises `script invalid-path` with the path (none when null) and
// the key's datatype.
void normalize_key(Cell* key, const Cell* path);

// Writes a map over the given block (0: a new block of room for `size`
// pairs) with a new table indexing its keys; answers the cell.
Cell* make_at(Cell* c, u32 block, i32 size);
Cell* push(const Cell* map);
i32 key_count(const Cell* map);

// Adds the pairs of the block from its head (the `extend` native): a key
// there gets the new value, a new one is added. Answers the map.
Cell* extend(Cell* map, const Cell* block, bool case_);

// One step of `foreach` over a map: sets the loop words (`count` words from
// the block's head, each an any-word bound where it is set) to the keys and
// values from the map's head on, skipping dead pairs and moving the head
// past what it gives out; words left over when the map runs out get none.
// Answers whether any word received a value.
bool set_loop_words(const Cell* words, Cell* map, i32 count);

// The actions, in the order of the action table.
Cell* make(Cell* proto, Cell* spec, u32 type);
Cell* reflect(Cell* map, i32 field);
Cell* to(Cell* proto, Cell* spec, u32 type);
i32 form(const Cell* value, Cell* buffer, const Cell* arg, i32 part);
i32 mold(const Cell* value, Cell* buffer, bool only, bool all, bool flat, const Cell* arg, i32 part, i32 indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* prev_element,
                i32 index, bool case_, bool get, bool last, bool notify);
i32 compare(const Cell* value, const Cell* other, i32 op);
Cell* clear(Cell* map);
Cell* copy(Cell* map, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* map, Cell* key, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match);
i32 length_q(const Cell* map);
Cell* put(Cell* map, Cell* key, Cell* value, bool case_);
Cell* remove(Cell* map, Cell* part, Cell* key);
Cell* select(Cell* map, Cell* key, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
             bool last, bool reverse);

void init();
// Makes the words reflect knows (start-up and memory resets).
void init_state();

}  // namespace map
}  // namespace zir
