// Hash tables over blocks of values: the hash! index (kind 0) and the map!
// index (kind 1), checked against models, and the hash of every value.
#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "datatypes/datatype.hpp"
#include "datatypes/triple.hpp"
#include "runtime/collector.hpp"
#include "runtime/hash_table.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;
using hash_table::record;

struct HashValues : ValueTest {};

Cell integer_cell(i32 v) {
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    c.w2 = u32(v);
    return c;
}

// A hash! value and the steps by which the block actions keep its table in
// step when they write its cells.
struct Hash {
    Cell* value;   // a stack cell: it never moves

    u32 table() const { return value->w3; }
    SeriesBuffer* buffer() const { return node_buffer(value->w2); }
    i32 length() const { return series::length_of(buffer()); }
    Cell* at(i32 i) const { return series::head_cells(buffer()) + i; }

    i32 find(i32 key, i32 head = 0, i32 skip = 1, bool last = false, bool reverse = false) const {
        Cell k = integer_cell(key);
        return find_cell(&k, head, skip, COMP_EQUAL, last, reverse);
    }
    i32 find_cell(const Cell* key, i32 head = 0, i32 skip = 1, i32 op = COMP_EQUAL, bool last = false,
                  bool reverse = false) const {
        Cell* c = hash_table::find(table(), key, head, skip, op, last, reverse);
        return c ? i32(c - at(0)) : -1;
    }
    i32 append(const Cell& v) {
        SeriesBuffer* s = buffer();
        *memory::alloc_tail_buffer(s) = v;
        i32 status;
        hash_table::put_value(table(), at(length() - 1), &status);
        return status;
    }
    void insert(i32 i, const Cell& v) {
        i32 n = length();
        EXPECT_FALSE(hash_table::move_keys(table(), 1, i, n - i, true));
        SeriesBuffer* s = buffer();
        memory::alloc_tail_buffer(s);
        std::memmove(at(i + 1), at(i), size_t(n - i) * 16);
        *at(i) = v;
        hash_table::put(table(), at(i));
    }
    void remove(i32 i, i32 n) {
        i32 len = length();
        EXPECT_FALSE(hash_table::move_keys(table(), -n, i + n, len - i - n, true));
        std::memmove(at(i), at(i + n), size_t(len - i - n) * 16);
        buffer()->tail -= u32(n) * 16;
    }
    void poke(i32 i, const Cell& v) {
        *at(i) = v;
        hash_table::put(table(), at(i));
    }
    // Moves n cells from `from` to before cell `to` (counted before the move).
    void move(i32 from, i32 n, i32 to) {
        std::vector<Cell> cells(at(0), at(0) + length());
        if (to < from) std::rotate(cells.begin() + to, cells.begin() + from, cells.begin() + from + n);
        else std::rotate(cells.begin() + from, cells.begin() + from + n, cells.begin() + to);
        std::copy(cells.begin(), cells.end(), at(0));
        hash_table::move_range(table(), to, from, n);
    }
};

// The answer of a hash! find, by a scan of the model.
i32 scan(const std::vector<i32>& model, i32 key, i32 head, i32 skip, bool last, bool reverse) {
    i32 found = -1;
    for (i32 p = 0; p < i32(model.size()); p++) {
        if (model[size_t(p)] != key) continue;
        bool candidate = reverse ? p < head && (head - p - 1) % skip == 0 : p >= head && (p - head) % skip == 0;
        if (!candidate) continue;
        if (found < 0 || last || reverse) found = p;
        if (!last && !reverse) break;
    }
    return found;
}

size_t distinct(const std::vector<i32>& model) { return std::set<i32>(model.begin(), model.end()).size(); }

// --- hash! -------------------------------------------------------------------------

TEST_F(HashValues, HashIndexFollowsEveryBlockChangeAgainstAModel) {
    Hash h{hash_({})};
    std::vector<i32> model;
    std::mt19937 rng(17);
    auto pick_value = [&](int step) { return rng() % 4 == 0 ? 1000 + step : i32(rng() % 12); };
    for (int step = 0; step < 1500; step++) {
        i32 len = i32(model.size());
        switch (rng() % 9) {
            case 0:
            case 1: {
                i32 v = pick_value(step);
                h.append(integer_cell(v));
                model.push_back(v);
                break;
            }
            case 2: {
                i32 v = pick_value(step);
                i32 i = i32(rng() % u32(len + 1));
                h.insert(i, integer_cell(v));
                model.insert(model.begin() + i, v);
                break;
            }
            case 3: {
                if (!len) break;
                i32 i = i32(rng() % u32(len));
                i32 n = std::min(len - i, i32(1 + rng() % 3));
                h.remove(i, n);
                model.erase(model.begin() + i, model.begin() + i + n);
                break;
            }
            case 4: {
                if (!len) break;
                i32 i = i32(rng() % u32(len)), v = pick_value(step);
                h.poke(i, integer_cell(v));
                model[size_t(i)] = v;
                break;
            }
            case 5: {
                if (len < 2) break;
                i32 from = i32(rng() % u32(len));
                i32 n = 1 + i32(rng() % u32(std::min(3, len - from)));
                i32 to = i32(rng() % u32(len + 1));
                if (to >= from && to <= from + n) break;
                h.move(from, n, to);
                std::vector<i32>::iterator b = model.begin();
                if (to < from) std::rotate(b + to, b + from, b + from + n);
                else std::rotate(b + from, b + from + n, b + to);
                break;
            }
            default: {
                i32 key = rng() % 8 == 0 ? 1000 + i32(rng() % u32(step + 1)) : i32(rng() % 12);
                i32 head = i32(rng() % u32(len + 2));
                i32 skip = 1 + i32(rng() % 3);
                bool last = rng() % 3 == 0, reverse = !last && rng() % 3 == 0;
                ASSERT_EQ(h.find(key, head, skip, last, reverse), scan(model, key, head, skip, last, reverse))
                    << "step " << step << " key " << key << " head " << head << " skip " << skip << " last " << last
                    << " reverse " << reverse;
            }
        }
        ASSERT_EQ(h.length(), i32(model.size()));
        ASSERT_EQ(record(h.table())->count, distinct(model)) << "step " << step;
        if (step % 250 == 0) collector::do_cycle();
    }
    for (i32 key = 0; key < 12; key++)
        for (i32 head = 0; head <= i32(model.size()); head += 7)
            ASSERT_EQ(h.find(key, head), scan(model, key, head, 1, false, false));
    EXPECT_GT(record(h.table())->buckets, 8u) << "the table grew on the way";
}

TEST_F(HashValues, DuplicatesChainAndFindHonoursSkipLastAndReverse) {
    Cell* five = int_(5);
    Cell* seven = int_(7);
    Hash h{hash_({five, seven, five, five, seven, five})};
    EXPECT_EQ(record(h.table())->count, 2u) << "distinct keys, duplicates live in chains";
    struct Case {
        i32 key, head, skip;
        bool last, reverse;
        i32 expected;
    } cases[] = {
        {5, 0, 1, false, false, 0}, {5, 1, 1, false, false, 2}, {5, 0, 2, false, false, 0},
        {5, 1, 2, false, false, 3}, {7, 0, 2, false, false, 4},  {7, 0, 3, false, false, -1},
        {5, 1, 2, true, false, 5},  {5, 0, 4, true, false, 0},  {5, 6, 1, false, false, -1},
        {5, 4, 1, false, true, 3},  {5, 4, 2, false, true, 3},  {5, 3, 2, false, true, 2},
        {5, 1, 1, false, true, 0},  {5, 0, 1, false, true, -1}, {7, 6, 1, true, false, -1},
        {6, 0, 1, false, false, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(h.find(c.key, c.head, c.skip, c.last, c.reverse), c.expected)
            << c.key << " head " << c.head << " skip " << c.skip << " last " << c.last << " reverse " << c.reverse;

    Hash twice{hash_({int_(1), int_(1)})};
    EXPECT_EQ(twice.length(), 2) << "both cells stay";
    EXPECT_EQ(twice.find(1, 1, 2), 1);
    EXPECT_EQ(twice.find(1, 0, 2, true), 0) << "distance 1 is not a multiple of 2";
}

TEST_F(HashValues, KeysOfOtherDatatypesNeverMatch) {
    // integer 1 and true hash alike (both mix the word 1) but are different keys.
    Cell* t = logic_(true);
    Cell* n = none_();
    Cell* u = stack::push_slot();
    cell::init(u, TYPE_UNSET);
    Hash h{hash_({int_(1), t, n, u, datatype_(TYPE_INTEGER), int_(1), logic_(true)})};
    EXPECT_EQ(hash_table::hash_value(int_(1), false), hash_table::hash_value(t, false));
    EXPECT_EQ(record(h.table())->count, 5u);
    EXPECT_EQ(h.find_cell(t), 1);
    EXPECT_EQ(h.find_cell(t, 2), 6);
    EXPECT_EQ(h.find_cell(n), 2);
    EXPECT_EQ(h.find_cell(u), 3);
    EXPECT_EQ(h.find_cell(datatype_(TYPE_INTEGER)), 4);
    EXPECT_EQ(h.find_cell(int_(1), 1), 5);
    EXPECT_EQ(h.find_cell(datatype_(TYPE_LOGIC)), -1);
    EXPECT_EQ(record(h.table())->stamp, 0u) << "no node-dependent key yet";
}

TEST_F(HashValues, DeleteRangeAndWholeBlock) {
    Hash h{hash_({int_(1), int_(2), int_(1), int_(3), int_(1), int_(4)})};
    hash_table::delete_range(h.table(), 1, 3);   // the cells 2, 1 and 3 leave the index
    EXPECT_EQ(h.find(1), 0);
    EXPECT_EQ(h.find(1, 1), 4);
    EXPECT_EQ(h.find(2), -1);
    EXPECT_EQ(h.find(3), -1);
    EXPECT_EQ(record(h.table())->count, 2u);
    hash_table::delete_range(h.table(), 4, 100);   // cut to the block
    EXPECT_EQ(h.find(1, 1), -1);
    EXPECT_EQ(h.find(4), -1);
    EXPECT_EQ(record(h.table())->count, 1u);
    hash_table::delete_range(h.table(), 0, 6);
    EXPECT_EQ(record(h.table())->count, 0u);
    EXPECT_EQ(record(h.table())->occupied, 0u) << "the whole block empties every bucket";
    EXPECT_EQ(h.find(1), -1);
    hash_table::put_all(h.table(), 0, 1);
    EXPECT_EQ(record(h.table())->count, 4u);
    EXPECT_EQ(h.find(4), 5);
    EXPECT_TRUE(hash_table::move_keys(h.table(), -1, 1, hash_table::MOVE_KEYS_LIMIT + 1, true))
        << "too many cells: the caller rebuilds";
    EXPECT_EQ(h.find(4), 5) << "and nothing moved";
    hash_table::clear(h.table());
    EXPECT_EQ(h.length(), 0);
    EXPECT_EQ(record(h.table())->count, 0u);
}

TEST_F(HashValues, SizingAndGrowth) {
    for (hash_table::Kind kind : {hash_table::HASH, hash_table::MAP}) {
        collector::RootNode t(hash_table::init(0, 0, kind, 0));
        EXPECT_EQ(record(t)->buckets, 8u);
        EXPECT_EQ(record(t)->upper, 6u);
    }
    // hash!: 8 buckets full of deleted keys, fewer than 4 present: rebuilt with 16.
    Hash h{hash_({})};
    for (i32 i = 0; i < 6; i++) h.append(integer_cell(i));
    EXPECT_EQ(record(h.table())->buckets, 8u);
    EXPECT_EQ(record(h.table())->occupied, 6u);
    h.remove(3, 3);
    EXPECT_EQ(record(h.table())->count, 3u);
    EXPECT_EQ(h.append(integer_cell(9)), hash_table::PUT_REBUILT);
    EXPECT_EQ(record(h.table())->buckets, 16u) << "target 7, trunc(7 x 1.5) = 10, next power of two 16";
    EXPECT_EQ(record(h.table())->upper, 12u);
    EXPECT_EQ(record(h.table())->count, 4u);
    EXPECT_EQ(record(h.table())->occupied, 4u);
    for (i32 i : {0, 1, 2}) EXPECT_EQ(h.find(i), i);
    EXPECT_EQ(h.find(9), 3) << "the cell being put is indexed by the rebuild";
    EXPECT_EQ(h.find(4), -1);
}

TEST_F(HashValues, RebuildErrorLeavesTheTableAsItWas) {
    // triple! has no comparison: two equal triples met while re-indexing raise.
    Hash h{hash_({})};
    for (i32 i = 0; i < 5; i++) h.append(integer_cell(i));
    h.append(*triple::push(1, 2, 3));
    EXPECT_EQ(record(h.table())->occupied, 6u);
    SeriesBuffer* s = h.buffer();
    *memory::alloc_tail_buffer(s) = *triple::push(1, 2, 3);
    hash_table::Record before = *record(h.table());
    EXPECT_EQ(error_of([&] { hash_table::put(h.table(), h.at(6)); }), "script expect-arg");
    hash_table::Record after = *record(h.table());
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the record is restored";
    collector::do_cycle();
    for (i32 i = 0; i < 5; i++) EXPECT_EQ(h.find(i), i);
    EXPECT_EQ(record(h.table())->count, 6u);
}

TEST_F(HashValues, CopiedTablesChangeIndependently) {
    Cell* one = int_(1);
    Hash source{hash_({one, int_(2), one, int_(3), one})};
    Cell* copy_value = stack::push(source.value);
    copy_value->w2 = memory::copy_series(source.buffer());
    copy_value->w3 = hash_table::copy(source.table(), copy_value->w2);
    Hash copy{copy_value};
    collector::do_cycle();
    EXPECT_EQ(copy.find(1, 1), 2);
    // Changing the copy's chain of 1 must not reach the source's.
    copy.remove(0, 1);
    copy.poke(1, integer_cell(7));
    copy.append(integer_cell(1));
    EXPECT_EQ(copy.find(1), 3);
    EXPECT_EQ(copy.find(1, 0, 1, true), 4);
    EXPECT_EQ(copy.find(7), 1);
    EXPECT_EQ(source.find(1), 0);
    EXPECT_EQ(source.find(1, 1), 2);
    EXPECT_EQ(source.find(1, 0, 1, true), 4);
    EXPECT_EQ(source.find(7), -1);
    EXPECT_EQ(record(source.table())->count, 3u);
    hash_table::delete_range(source.table(), 0, 5);
    EXPECT_EQ(copy.find(1), 3) << "and the other way round";
}

TEST_F(HashValues, DumpListsBucketsAndDeletedKeys) {
    Hash h{hash_({int_(4), int_(4), int_(8)})};
    hash_table::delete_(h.table(), h.at(2));
    std::string text = hash_table::dump(h.table());
    size_t marker = text.find("\n== Deleted keys ==");
    ASSERT_NE(marker, std::string::npos);
    EXPECT_NE(text.find("[ 0 1 ]"), std::string::npos) << text;
    EXPECT_NE(text.find(": 2\n", marker), std::string::npos) << text;
}

// --- map! ---------------------------------------------------------------------------

// A map! value and the path access steps of the map! datatype.
struct Map {
    Cell* value;

    u32 table() const { return value->w3; }
    SeriesBuffer* buffer() const { return node_buffer(value->w2); }
    i32 length() const { return series::length_of(buffer()); }
    Cell* at(i32 i) const { return series::head_cells(buffer()) + i; }

    i32 find(i32 key, i32 op = COMP_EQUAL) const {
        Cell k = integer_cell(key);
        Cell* c = hash_table::find(table(), &k, 0, 1, op, false, false);
        return c ? i32(c - at(0)) : -1;
    }
    void set(i32 key, i32 v) {
        i32 i = find(key, COMP_STRICT_EQUAL);
        if (i >= 0) {
            if (at(i + 1)->header == 0) record(table())->count++;
            *at(i + 1) = integer_cell(v);
            return;
        }
        SeriesBuffer* s = buffer();
        *memory::alloc_tail_buffer(s) = integer_cell(key);
        *memory::alloc_tail_buffer(s) = integer_cell(v);
        i32 status;
        Cell* at_key = hash_table::put_value(table(), at(length() - 2), &status);
        EXPECT_EQ(status, hash_table::PUT_NEW);
        EXPECT_EQ(at_key, at(length() - 2));
    }
    void remove(i32 key) {
        i32 i = find(key, COMP_STRICT_EQUAL);
        if (i >= 0) hash_table::delete_(table(), at(i));
    }
    std::optional<i32> get(i32 key) const {
        i32 i = find(key);
        if (i < 0 || at(i + 1)->header == 0) return std::nullopt;
        return i32(at(i + 1)->w2);
    }
};

TEST_F(HashValues, MapAgainstAModel) {
    Map m{map_({})};
    std::map<i32, i32> model;
    std::mt19937 rng(29);
    for (int step = 0; step < 3000; step++) {
        i32 key = i32(rng() % 200);
        switch (rng() % 4) {
            case 0:
            case 1:
                m.set(key, step);
                model[key] = step;
                break;
            case 2:
                m.remove(key);
                model.erase(key);
                break;
            default: {
                auto it = model.find(key);
                std::optional<i32> expected;
                if (it != model.end()) expected = it->second;
                ASSERT_EQ(m.get(key), expected) << "step " << step;
            }
        }
        ASSERT_EQ(record(m.table())->count, model.size()) << "step " << step;
        if (step % 500 == 0) collector::do_cycle();
    }
    for (i32 key = 0; key < 200; key++) {
        auto it = model.find(key);
        ASSERT_EQ(m.get(key), it == model.end() ? std::nullopt : std::optional<i32>(it->second));
    }
    EXPECT_EQ(m.length(), 2 * i32(record(m.table())->occupied)) << "one pair per used bucket: keys are never re-added";
}

TEST_F(HashValues, MapKeepsOneEntryPerKeyAndNeverShrinks) {
    Map m{map_({int_(1), int_(10), int_(2), int_(20), int_(1), int_(30), int_(3), int_(40), int_(2), int_(50)})};
    EXPECT_EQ(m.length(), 6) << "the later pairs of duplicate keys leave the block";
    EXPECT_EQ(record(m.table())->count, 3u);
    EXPECT_EQ(m.get(1), 30) << "the later value wins";
    EXPECT_EQ(m.get(2), 50);
    EXPECT_EQ(m.get(3), 40);
    EXPECT_EQ(m.find(3), 4);

    // A key put again answers the earlier key cell.
    SeriesBuffer* s = m.buffer();
    *memory::alloc_tail_buffer(s) = integer_cell(2);
    i32 status;
    Cell* found = hash_table::put_value(m.table(), m.at(6), &status);
    EXPECT_EQ(status, hash_table::PUT_FOUND);
    EXPECT_EQ(found, m.at(2));
    m.buffer()->tail -= 16;

    Map grow{map_({})};
    for (i32 k = 0; k < 6; k++) grow.set(k, k);
    for (i32 k = 1; k < 6; k++) grow.remove(k);
    EXPECT_EQ(record(grow.table())->count, 1u);
    EXPECT_EQ(record(grow.table())->occupied, 6u) << "removed pairs keep their buckets";
    grow.set(6, 6);
    EXPECT_EQ(record(grow.table())->buckets, 16u) << "a full map! always doubles";
    EXPECT_EQ(record(grow.table())->occupied, 7u);
    EXPECT_EQ(grow.get(0), 0);
    EXPECT_EQ(grow.get(3), std::nullopt);
    grow.set(3, 33);
    EXPECT_EQ(grow.get(3), 33) << "a dead pair comes back";
    EXPECT_EQ(record(grow.table())->count, 3u);

    Cell* copy_value = stack::push(grow.value);
    copy_value->w2 = memory::copy_series(grow.buffer());
    copy_value->w3 = hash_table::copy(grow.table(), copy_value->w2);
    Map copy{copy_value};
    copy.remove(0);
    copy.set(9, 9);
    EXPECT_EQ(grow.get(0), 0);
    EXPECT_EQ(grow.get(9), std::nullopt);
    EXPECT_EQ(copy.get(9), 9);

    hash_table::clear(grow.table());
    EXPECT_EQ(grow.length(), 0);
    EXPECT_EQ(grow.get(0), std::nullopt);
    grow.set(0, 5);
    EXPECT_EQ(grow.get(0), 5);
}

TEST_F(HashValues, FindNextWalksEveryMatchingKey) {
    // true and 1 share a hash: the walk meets the matching key only.
    Map m{map_({int_(1), int_(10), logic_(true), int_(20)})};
    hash_table::Walk walk;
    Cell* key = int_(1);
    Cell* first = hash_table::find_next(m.table(), key, COMP_EQUAL, &walk);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, m.at(0));
    EXPECT_EQ(hash_table::find_next(m.table(), key, COMP_EQUAL, &walk), nullptr);
}

// Keys whose equal values always hash alike are looked up by hash first:
// these cover what could make equal text hash apart or compare apart (letter
// case inside and beyond ASCII, a Latin-1 letter whose upper case is not
// Latin-1, wider units, heads inside and past the tail) and the other
// datatypes looked up that way.
std::vector<Cell*> lookup_pool() {
    const std::u32string texts[] = {U"",          U"a",    U"A",          U"ab",         U"aB",
                                    U"AB",        U"ba",   U"\u00E9t\u00E9", U"\u00C9T\u00C9", U"\u00E9T\u00C9",
                                    U"\u00FF",    U"\u0178", U"stra\u00DFe",  U"STRA\u00DFE",  U"key-10",
                                    U"KEY-10",    U"key-11"};
    std::vector<Cell*> pool;
    for (const std::u32string& t : texts) {
        bool narrow = std::all_of(t.begin(), t.end(), [](char32_t c) { return c < 0x100; });
        for (u32 unit : {1u, 2u, 4u}) {
            if (unit == 1 && !narrow) continue;
            Cell* text = text_series(t, unit);
            pool.push_back(at_(text, i32(t.size()) + 2));   // past the tail: empty
            pool.push_back(text);
            if (!t.empty()) pool.push_back(at_(text, 1));
        }
        pool.push_back(text_series(t, narrow ? 1 : 2, TYPE_FILE));
    }
    for (const char* w : {"zz-look", "ZZ-LOOK", "zz-other"})
        for (u32 t : {TYPE_WORD, TYPE_SET_WORD, TYPE_ISSUE, TYPE_REFINEMENT}) pool.push_back(word(w, t));
    for (i32 v : {0, 1, 97, -1}) pool.push_back(int_(v));
    for (u32 c : {u32('a'), u32('A'), 0xFFu, 0x178u}) pool.push_back(char_(c));
    pool.push_back(bin("6162"));
    pool.push_back(bin("4142"));
    pool.push_back(at_(bin("006162"), 1));
    return pool;
}

TEST_F(HashValues, EqualKeysOfTheseDatatypesHashAlike) {
    std::vector<Cell*> pool = lookup_pool();
    for (Cell* a : pool)
        for (Cell* b : pool)
            for (i32 op : {COMP_EQUAL, COMP_STRICT_EQUAL, COMP_SAME}) {
                if (TYPE_OF(a) != TYPE_OF(b) || !actions::compare(a, b, op)) continue;
                ASSERT_EQ(hash_table::hash_value(a, false), hash_table::hash_value(b, false))
                    << mold(a) << " and " << mold(b) << " are equal under op " << op;
            }
}

// Words are map! keys as set-words.
Cell as_map_key(const Cell* c) {
    Cell k = *c;
    if (TYPE_OF(&k) == TYPE_WORD) cell::set_type(&k, TYPE_SET_WORD);
    return k;
}

// The first of n cells (every step-th) of the key's datatype equal to it under op, by a scan.
template <typename At>
i32 first_equal(At at, i32 n, i32 step, const Cell* key, i32 op) {
    for (i32 i = 0; i < n; i += step)
        if (TYPE_OF(at(i)) == TYPE_OF(key) && actions::compare(at(i), key, op)) return i;
    return -1;
}

TEST_F(HashValues, LookupsFindWhatTheComparisonFinds) {
    std::vector<Cell*> pool = lookup_pool();
    // Either order: a bucket's first cell may be any of its equal keys.
    for (bool reversed : {false, true}) {
        std::vector<Cell*> order(pool);
        if (reversed) std::reverse(order.begin(), order.end());
        Hash h{hash_({})};
        for (Cell* c : order) h.append(*c);
        // A map! keeps one pair per strictly equal key.
        Map m{map_({})};
        for (Cell* c : order) {
            SeriesBuffer* b = m.buffer();
            *memory::alloc_tail_buffer(b) = as_map_key(c);
            *memory::alloc_tail_buffer(b) = integer_cell(0);
            i32 status;
            hash_table::put_value(m.table(), m.at(m.length() - 2), &status);
            if (status == hash_table::PUT_FOUND) m.buffer()->tail -= 32;
        }
        for (Cell* key : pool)
            for (i32 op : {COMP_EQUAL, COMP_STRICT_EQUAL, COMP_SAME}) {
                std::string what = mold(key) + " under op " + std::to_string(op) + (reversed ? ", reversed" : "");
                i32 in_hash = first_equal([&](i32 i) { return h.at(i); }, h.length(), 1, key, op);
                ASSERT_EQ(h.find_cell(key, 0, 1, op), in_hash) << "hash! " << what;
                // The equal key met first along the probe need not be the
                // first in the block: it is equal, and there is one exactly
                // when a scan finds one.
                Cell k = as_map_key(key);
                Cell* found = hash_table::find(m.table(), key, 0, 1, op, false, false);
                i32 in_map = first_equal([&](i32 i) { return m.at(i); }, m.length(), 2, &k, op);
                ASSERT_EQ(found != nullptr, in_map >= 0) << "map! " << what;
                if (found) {
                    EXPECT_TRUE(actions::compare(found, &k, op)) << "map! " << what;
                }
            }
    }
}

// --- Hashes of values -----------------------------------------------------------------

u32& payload(Cell& c, u32 word) { return word == 1 ? c.w1 : word == 2 ? c.w2 : c.w3; }

Cell money(u32 sign, u32 currency, u32 digits_word2) {
    Cell c;
    cell::init(&c, TYPE_MONEY);
    c.header |= sign ? 0x4000 : 0;
    c.w1 = currency;
    c.w2 = digits_word2;
    return c;
}

TEST_F(HashValues, HashOfEachDatatype) {
    auto h = [](const Cell& c) { return hash_table::hash_value(&c, false); };
    Cell unset_cell, none_cell;
    cell::init(&unset_cell, TYPE_UNSET);
    cell::init(&none_cell, TYPE_NONE);
    none_cell.w1 = 77;
    EXPECT_EQ(i32(h(unset_cell)), -2);
    EXPECT_EQ(i32(h(none_cell)), -1);

    Cell a = integer_cell(42), b = integer_cell(42);
    b.header |= FLAG_NEW_LINE;
    b.w3 = 9;   // not part of an integer
    EXPECT_EQ(h(a), h(b));
    EXPECT_NE(h(integer_cell(42)), h(integer_cell(43)));

    // Text: case folded unless case-sensitive, from the head on.
    Cell* s1 = str("Hello");
    Cell* s2 = str("hELLO");
    EXPECT_EQ(h(*s1), h(*s2));
    EXPECT_NE(hash_table::hash_value(s1, true), hash_table::hash_value(s2, true));
    Cell* word1 = word("zz-Key");
    Cell* word2 = word("ZZ-KEY", TYPE_SET_WORD);
    EXPECT_EQ(h(*word1), h(*word2)) << "case variants resolve to one symbol";

    // Payload rows: only the words of the row count. Natives and operators
    // are equal when they name the same entry (word 1), whatever their spec
    // and record, so only the entry may count.
    struct Row {
        u32 type;
        u32 varies;   // a payload word (1..3) that changes the hash
        u32 ignored;  // a payload word that does not (0: none)
    } rows[] = {
        {TYPE_DATATYPE, 1, 2}, {TYPE_LOGIC, 1, 3},   {TYPE_CHAR, 2, 1},    {TYPE_INTEGER, 2, 3},
        {TYPE_NATIVE, 1, 3},   {TYPE_BLOCK, 2, 3},   {TYPE_HASH, 1, 3},    {TYPE_FLOAT, 3, 1},
        {TYPE_PAIR, 2, 1},     {TYPE_TRIPLE, 3, 0},  {TYPE_TYPESET, 1, 0}, {TYPE_OP, 1, 2},
        {TYPE_POINT3D, 3, 0},  {TYPE_TIME, 2, 1},    {TYPE_POINT2D, 1, 3}, {TYPE_MAP, 2, 1},
    };
    for (const Row& r : rows) {
        Cell base;
        cell::init(&base, r.type);
        base.w1 = 11, base.w2 = 22, base.w3 = 33;
        Cell changed = base;
        payload(changed, r.varies) ^= 0x100;
        EXPECT_NE(h(base), h(changed)) << datatype::name_of(r.type);
        if (r.ignored) {
            Cell same = base;
            payload(same, r.ignored) ^= 0x100;
            EXPECT_EQ(h(base), h(same)) << datatype::name_of(r.type);
        }
    }
    Cell t1, t2;
    cell::init(&t1, TYPE_TUPLE);
    t1.header |= 3u << 19;
    t1.w1 = 0x00030201;
    t2 = t1;
    t2.w1 |= 0xFF000000;   // past the tuple's three bytes
    EXPECT_EQ(h(t1), h(t2));
    t2 = t1;
    t2.header += 1u << 19;   // 1.2.3.0 equals 1.2.3
    EXPECT_EQ(h(t1), h(t2));
    t2.w1 |= 0x01000000;     // 1.2.3.1 does not
    EXPECT_NE(h(t1), h(t2));
    Cell unknown;
    cell::init(&unknown, TYPE_CONTEXT);
    unknown.w1 = 5;
    EXPECT_EQ(h(unknown), 0u);

    // money!: zero has no sign, the currency and header flags are left out.
    EXPECT_EQ(h(money(0, 0, 0x100)), h(money(0, 155, 0x100)));
    EXPECT_EQ(h(money(0, 0, 0)), h(money(1, 0, 0)));
    EXPECT_NE(h(money(0, 0, 0x100)), h(money(1, 0, 0x100)));
    Cell flagged = money(1, 0, 0x100);
    flagged.header |= FLAG_NEW_LINE;
    EXPECT_EQ(h(flagged), h(money(1, 0, 0x100)));
    EXPECT_NE(h(money(0, 0, 0x100)), h(money(0, 0, 0x200)));
}

}  // namespace
}  // namespace zir
