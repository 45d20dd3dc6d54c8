// Sorting engine: the stable sort against std::stable_sort, the unstable sort
// as a sorted permutation, over many input shapes and element widths; the
// comparison counts that show presortedness is used and no shape goes
// quadratic; errors raised by the comparator.
#include <algorithm>
#include <cmath>
#include <random>

#include "runtime/fire.hpp"
#include "runtime/sorting.hpp"
#include "support.hpp"

namespace zir {
namespace {

// Records are `width` bytes: a little-endian key of `key_bytes` bytes, then a
// tag that tells records with equal keys apart (when there is room for one).
struct Layout {
    size_t width;
    size_t key_bytes;
};

i64 comparisons = 0;

u32 key_of(const u8* record, size_t key_bytes) {
    u32 k = 0;
    std::memcpy(&k, record, key_bytes);
    return k;
}

// arg1 points at the Layout, arg2 is 1 for descending order.
int compare_records(const void* x, const void* y, std::intptr_t layout, std::intptr_t descending) {
    comparisons++;
    size_t kb = reinterpret_cast<const Layout*>(layout)->key_bytes;
    u32 a = key_of(static_cast<const u8*>(x), kb), b = key_of(static_cast<const u8*>(y), kb);
    int r = a < b ? -1 : a > b ? 1 : 0;
    return descending ? -r : r;
}

enum Shape {
    SORTED, REVERSED, RANDOM, FEW_KEYS, ALL_EQUAL, SAWTOOTH, ORGAN_PIPE, NEARLY_SORTED, SORTED_RANDOM_TAIL,
    REVERSED_DUPLICATES, NEARLY_REVERSED, HIGH_HEAD_THEN_DESCENDING, HIGH_HEAD_THEN_ASCENDING, LOW_SORTED_HEAD,
    SHAPE_COUNT
};

const char* shape_name(int s) {
    static const char* const names[] = {"sorted", "reversed", "random", "few keys", "all equal", "sawtooth",
                                        "organ pipe", "nearly sorted", "sorted, random tail",
                                        "reversed with duplicates", "nearly reversed",
                                        "high head, then descending", "high head, then ascending",
                                        "low sorted head"};
    return names[s];
}

std::vector<u32> make_keys(int shape, i64 n, u32 key_limit, std::mt19937& rng) {
    std::vector<u32> k(static_cast<size_t>(n));
    // Scales a position to the key range, keeping the order (not strictly
    // when the range is smaller than n).
    auto scaled = [&](i64 i) { return u32(u64(i) * key_limit / u64(n)); };
    for (i64 i = 0; i < n; i++) {
        u32& v = k[size_t(i)];
        switch (shape) {
            case SORTED: case NEARLY_SORTED: case SORTED_RANDOM_TAIL: case HIGH_HEAD_THEN_ASCENDING: v = scaled(i); break;
            case REVERSED: case NEARLY_REVERSED: case HIGH_HEAD_THEN_DESCENDING: v = scaled(n - 1 - i); break;
            case RANDOM: v = u32(rng() % key_limit); break;
            case FEW_KEYS: v = u32(rng() % 4); break;
            case ALL_EQUAL: v = 7; break;
            case SAWTOOTH: v = u32(i % 37) % key_limit; break;
            case ORGAN_PIPE: v = scaled(std::min(i, n - 1 - i) * 2); break;
            case REVERSED_DUPLICATES: v = scaled((n - 1 - i) / 3); break;
            case LOW_SORTED_HEAD:
                // The smallest keys in order, then random ones: the sorted
                // head becomes the sample and its median a very low pivot.
                v = i < n / 200 ? scaled(i) : key_limit / 100 + u32(rng() % (key_limit - key_limit / 100));
                break;
        }
    }
    if (n < 2) return k;
    switch (shape) {
        case NEARLY_SORTED: case NEARLY_REVERSED:
            for (i64 j = 0; j <= n / 50; j++) std::swap(k[rng() % n], k[rng() % n]);
            break;
        case SORTED_RANDOM_TAIL:
            for (i64 i = n - n / 10; i < n; i++) k[size_t(i)] = u32(rng() % key_limit);
            break;
        case HIGH_HEAD_THEN_DESCENDING: case HIGH_HEAD_THEN_ASCENDING:
            // A first element that sorts inside the long run after it.
            k[0] = scaled(n * 4 / 5);
            break;
    }
    return k;
}

std::vector<u8> make_records(const std::vector<u32>& keys, Layout l) {
    std::vector<u8> r(keys.size() * l.width);
    for (size_t i = 0; i < keys.size(); i++) {
        u8* rec = &r[i * l.width];
        std::memcpy(rec, &keys[i], l.key_bytes);
        for (size_t j = l.key_bytes; j < l.width; j++) rec[j] = u8(i >> (8 * ((j - l.key_bytes) % 4))) ^ u8(j * 17);
    }
    return r;
}

// The reference: std::stable_sort over record indexes.
std::vector<u8> stable_reference(const std::vector<u8>& in, Layout l, bool descending) {
    size_t n = in.size() / l.width;
    std::vector<size_t> idx(n);
    for (size_t i = 0; i < n; i++) idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
        u32 ka = key_of(&in[a * l.width], l.key_bytes), kb = key_of(&in[b * l.width], l.key_bytes);
        return descending ? ka > kb : ka < kb;
    });
    std::vector<u8> out(in.size());
    for (size_t i = 0; i < n; i++) std::memcpy(&out[i * l.width], &in[idx[i] * l.width], l.width);
    return out;
}

// The records of `v` in byte order: equal for two permutations of one multiset.
std::vector<u8> canonical(const std::vector<u8>& v, size_t width) {
    size_t n = v.size() / width;
    std::vector<size_t> idx(n);
    for (size_t i = 0; i < n; i++) idx[i] = i;
    std::sort(idx.begin(), idx.end(),
              [&](size_t a, size_t b) { return std::memcmp(&v[a * width], &v[b * width], width) < 0; });
    std::vector<u8> out(v.size());
    for (size_t i = 0; i < n; i++) std::memcpy(&out[i * width], &v[idx[i] * width], width);
    return out;
}

bool keys_in_order(const std::vector<u8>& v, Layout l, bool descending) {
    for (size_t i = l.width; i < v.size(); i += l.width) {
        u32 a = key_of(&v[i - l.width], l.key_bytes), b = key_of(&v[i], l.key_bytes);
        if (descending ? a < b : a > b) return false;
    }
    return true;
}

constexpr Layout LAYOUTS[] = {
    {1, 1},    // a byte string
    {2, 1},    // 16-bit text with a tag byte
    {3, 1},    // odd widths swap byte by byte
    {4, 2},
    {5, 4},
    {8, 4},
    {12, 4},   // 8-byte words, then a 4-byte rest
    {16, 4},   // a cell
    {48, 4},   // a record of three cells
};

constexpr i64 SIZES[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 48, 63, 64, 100, 511, 512, 513, 1000, 4099};

u32 key_limit(Layout l) { return l.key_bytes >= 4 ? 0x7FFFFFFFu : (1u << (8 * l.key_bytes)) - 1; }

void check_stable(const std::vector<u32>& keys, Layout l, bool descending, const std::string& what) {
    std::vector<u8> data = make_records(keys, l);
    std::vector<u8> expected = stable_reference(data, l, descending);
    sort::merge_sort(data.data(), i64(keys.size()), l.width, reinterpret_cast<std::intptr_t>(&l), descending,
                     compare_records);
    EXPECT_TRUE(data == expected) << what;
}

void check_unstable(const std::vector<u32>& keys, Layout l, bool descending, const std::string& what) {
    std::vector<u8> data = make_records(keys, l);
    std::vector<u8> before = canonical(data, l.width);
    sort::quicksort(data.data(), i64(keys.size()), l.width, reinterpret_cast<std::intptr_t>(&l), descending,
                    compare_records);
    EXPECT_TRUE(keys_in_order(data, l, descending)) << what;
    EXPECT_TRUE(canonical(data, l.width) == before) << what << ": not a permutation";
}

std::string describe(Layout l, int shape, i64 n, bool descending) {
    return "width " + std::to_string(l.width) + ", " + shape_name(shape) + ", " + std::to_string(n) +
           " elements" + (descending ? ", descending" : "");
}

TEST(Sorting, StableSortEqualsStdStableSort) {
    std::mt19937 rng(1);
    for (Layout l : LAYOUTS)
        for (int shape = 0; shape < SHAPE_COUNT; shape++)
            for (i64 n : SIZES) {
                std::vector<u32> keys = make_keys(shape, n, key_limit(l), rng);
                check_stable(keys, l, false, describe(l, shape, n, false));
            }
}

TEST(Sorting, UnstableSortGivesASortedPermutation) {
    std::mt19937 rng(2);
    for (Layout l : LAYOUTS)
        for (int shape = 0; shape < SHAPE_COUNT; shape++)
            for (i64 n : SIZES) {
                std::vector<u32> keys = make_keys(shape, n, key_limit(l), rng);
                check_unstable(keys, l, false, describe(l, shape, n, false));
            }
}

TEST(Sorting, ComparatorArgumentsPassThrough) {
    // The descending flag travels in the second argument only: both sorts must
    // hand both arguments to every comparison unchanged.
    std::mt19937 rng(3);
    Layout l{8, 4};
    for (int shape : {RANDOM, FEW_KEYS, SORTED, REVERSED})
        for (i64 n : {9, 100, 2000}) {
            std::vector<u32> keys = make_keys(shape, n, key_limit(l), rng);
            check_stable(keys, l, true, describe(l, shape, n, true));
            check_unstable(keys, l, true, describe(l, shape, n, true));
        }
}

TEST(Sorting, LargeInputs) {
    // Large enough for the sample of the unstable sort to grow through every
    // stage (63, then 1007, then 16111 elements), and, with a low sorted head,
    // for a partition's upper side to grow its sample again from the end.
    std::mt19937 rng(4);
    Layout l{4, 4};
    std::vector<u32> random_keys = make_keys(RANDOM, 300000, key_limit(l), rng);
    check_unstable(random_keys, l, false, describe(l, RANDOM, 300000, false));
    check_stable(random_keys, l, false, describe(l, RANDOM, 300000, false));
    for (int shape : {FEW_KEYS, NEARLY_SORTED, ORGAN_PIPE, SORTED_RANDOM_TAIL, LOW_SORTED_HEAD}) {
        std::vector<u32> keys = make_keys(shape, 60000, key_limit(l), rng);
        check_unstable(keys, l, false, describe(l, shape, 60000, false));
        check_stable(keys, l, false, describe(l, shape, 60000, false));
    }
    Layout cell{16, 4};
    std::vector<u32> keys = make_keys(RANDOM, 50000, 1000, rng);
    check_unstable(keys, cell, false, describe(cell, RANDOM, 50000, false));
    check_stable(keys, cell, false, describe(cell, RANDOM, 50000, false));
}

// --- Inlined 32-bit keys -----------------------------------------------------

int compare_i32_at(const void* x, const void* y, std::intptr_t key, std::intptr_t descending) {
    i32 a, b;
    std::memcpy(&a, static_cast<const u8*>(x) + key, 4);
    std::memcpy(&b, static_cast<const u8*>(y) + key, 4);
    int r = a < b ? -1 : a > b ? 1 : 0;
    return descending ? -r : r;
}

TEST(Sorting, InlinedKeysTakeTheCallbacksSteps) {
    // Records whose keys tie but whose other bytes differ end in exactly the
    // places the callback sort gives them, in both directions, at every
    // width and key offset, over every input shape.
    std::mt19937 rng(11);
    struct Width {
        size_t width, key;
    } widths[] = {{8, 0}, {16, 8}, {32, 24}, {32, 8}};
    for (const Width& w : widths) {
        for (i64 n : {2, 7, 100, 700, 5000}) {
            for (int shape = 0; shape < SHAPE_COUNT; shape++) {
                std::vector<u32> keys = make_keys(shape, n, 40, rng);
                std::vector<u8> records(size_t(n) * w.width);
                for (i64 i = 0; i < n; i++) {
                    u8* r = records.data() + size_t(i) * w.width;
                    for (size_t b = 0; b < w.width; b += 4) {
                        u32 tag = u32(i) * 7 + u32(b);
                        std::memcpy(r + b, &tag, 4);
                    }
                    i32 key = i32(keys[size_t(i)]) - 20;
                    std::memcpy(r + w.key, &key, 4);
                }
                for (bool descending : {false, true}) {
                    std::string name = std::string(shape_name(shape)) + " n " + std::to_string(n) + " width " +
                                       std::to_string(w.width) + " key " + std::to_string(w.key) +
                                       (descending ? " descending" : "");
                    std::vector<u8> a = records, b = records;
                    sort::quicksort(a.data(), n, w.width, std::intptr_t(w.key), descending, compare_i32_at);
                    sort::quicksort_i32(b.data(), n, w.width, w.key, descending);
                    EXPECT_EQ(a, b) << "quicksort, " << name;
                    a = records, b = records;
                    std::vector<u8> work(size_t(n / 2) * w.width + 1);
                    sort::merge_sort_through(a.data(), n, w.width, std::intptr_t(w.key), descending, compare_i32_at,
                                             work.data());
                    sort::merge_sort_i32_through(b.data(), n, w.width, w.key, descending, work.data());
                    EXPECT_EQ(a, b) << "merge sort, " << name;
                }
            }
        }
    }
}

// --- Comparison counts -------------------------------------------------------

i64 count_comparisons(void (*sorter)(void*, i64, size_t, std::intptr_t, std::intptr_t, sort::Compare),
                      std::vector<u32> keys) {
    static const Layout l{4, 4};
    comparisons = 0;
    sorter(keys.data(), i64(keys.size()), 4, reinterpret_cast<std::intptr_t>(&l), 0, compare_records);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    return comparisons;
}

TEST(Sorting, PresortedInputTakesOnePass) {
    const i64 n = 10000;
    std::vector<u32> up(n), down(n);
    for (i64 i = 0; i < n; i++) up[size_t(i)] = u32(i), down[size_t(i)] = u32(n - i);
    EXPECT_EQ(count_comparisons(sort::merge_sort, up), n - 1);
    EXPECT_EQ(count_comparisons(sort::merge_sort, down), n - 1);   // one descending run, reversed
    EXPECT_EQ(count_comparisons(sort::quicksort, up), n - 1);
    EXPECT_EQ(count_comparisons(sort::quicksort, down), n - 1);
    EXPECT_EQ(count_comparisons(sort::quicksort, std::vector<u32>(n, 3)), n - 1);
}

TEST(Sorting, EqualElementsTakeOnePartition) {
    static const Layout l{4, 4};
    auto step = [](std::vector<u32> keys) {
        comparisons = 0;
        sort::quicksort_step(keys.data(), 0, i64(keys.size()), 4, reinterpret_cast<std::intptr_t>(&l), 0,
                             compare_records);
        return comparisons;
    };
    // Median of three (2 comparisons), then the five others against the pivot.
    EXPECT_EQ(step(std::vector<u32>(8, 5)), 7);
    // The 63-element prefix sample, then one pass over the whole range.
    EXPECT_LE(step(std::vector<u32>(100000, 5)), 100000 + 2 * 63);
}

TEST(Sorting, NoInputShapeGoesQuadratic) {
    std::mt19937 rng(5);
    const i64 n = 100000;
    const double n_log_n = double(n) * std::log2(double(n));
    for (int shape = 0; shape < SHAPE_COUNT; shape++) {
        std::vector<u32> keys = make_keys(shape, n, 0x7FFFFFFF, rng);
        EXPECT_LE(double(count_comparisons(sort::merge_sort, keys)), 1.5 * n_log_n) << shape_name(shape);
        EXPECT_LE(double(count_comparisons(sort::quicksort, keys)), 1.5 * n_log_n) << shape_name(shape);
    }
    // Few distinct keys: three-way partitioning makes it linear-ish.
    std::vector<u32> keys = make_keys(FEW_KEYS, n, 0x7FFFFFFF, rng);
    EXPECT_LE(count_comparisons(sort::quicksort, keys), 4 * n);
}

// --- Building blocks ---------------------------------------------------------

int compare_bytes(const void* x, const void* y, std::intptr_t, std::intptr_t) {
    return int(*static_cast<const u8*>(x)) - int(*static_cast<const u8*>(y));
}

TEST(Sorting, FindRunReversesOnlyStrictDescent) {
    struct Case {
        std::string in;
        size_t run;
        std::string after;
    } cases[] = {
        {"a", 1, "a"},
        {"ab", 2, "ab"},
        {"ba", 2, "ab"},
        {"abbcb", 4, "abbcb"},
        {"dcbba", 3, "bcdba"},   // the descent stops at the tie, or equal elements would swap
        {"ddcba", 2, "ddcba"},   // a tie first makes an ascending run
        {"edcba", 5, "abcde"},
    };
    for (Case& c : cases) {
        std::string s = c.in;
        u8* base = reinterpret_cast<u8*>(s.data());
        u8* end = sort::find_run(base, base + s.size(), 1, 0, 0, compare_bytes);
        EXPECT_EQ(size_t(end - base), c.run) << c.in;
        EXPECT_EQ(s, c.after) << c.in;
    }
}

TEST(Sorting, MergeRunsKeepsEqualElementsInOrder) {
    // Two-byte elements: a key, then a tag naming the element's original run.
    // Both directions of the merge: the shorter run first and second.
    struct Case {
        std::string run1, run2, merged;
    } cases[] = {
        {"a1b1", "a2b2c2d2", "a1a2b1b2c2d2"},
        {"a1b1c1d1", "a2b2", "a1a2b1b2c1d1"},
        {"b1b1", "b2b2", "b1b1b2b2"},
        {"c1", "a2b2c2", "a2b2c1c2"},
        {"a1b1c1", "c2", "a1b1c1c2"},
    };
    static const Layout l{2, 1};
    for (Case& c : cases) {
        std::string s = c.run1 + c.run2;
        std::vector<u8> work(s.size());
        u8* base = reinterpret_cast<u8*>(s.data());
        sort::merge_runs(base, base + c.run1.size(), base + s.size(), work.data(), 2,
                         reinterpret_cast<std::intptr_t>(&l), 0, compare_records);
        EXPECT_EQ(s, c.merged) << c.run1 << " + " << c.run2;
    }
}

TEST(Sorting, SwapMovesWholeElements) {
    for (size_t w : {1, 3, 4, 12, 16, 20}) {
        std::vector<u8> a(w), b(w);
        for (size_t i = 0; i < w; i++) a[i] = u8(i + 1), b[i] = u8(100 + i);
        std::vector<u8> a0 = a, b0 = b;
        sort::swap(a.data(), b.data(), w, w % 4 != 0);
        EXPECT_EQ(a, b0) << w;
        EXPECT_EQ(b, a0) << w;
    }
}

// --- Errors ------------------------------------------------------------------

i64 fail_after = 0;

int compare_then_fail(const void* x, const void* y, std::intptr_t layout, std::intptr_t descending) {
    if (--fail_after == 0) fire(ERR_USER, "message");
    return compare_records(x, y, layout, descending);
}

TEST(Sorting, ComparatorErrorLeavesAPermutation) {
    // An error from the comparator stops the sort wherever it is, in a merge
    // from either end or in a partition; no element may be lost or doubled.
    std::mt19937 rng(6);
    Layout l{16, 4};
    std::vector<u32> keys = make_keys(RANDOM, 3000, 1000, rng);
    for (auto sorter : {sort::merge_sort, sort::quicksort})
        for (i64 stop : {1, 20, 100, 3001, 5000, 9000, 15000, 20000}) {
            std::vector<u8> data = make_records(keys, l);
            std::vector<u8> before = canonical(data, l.width);
            fail_after = stop;
            bool raised = false;
            try {
                sorter(data.data(), i64(keys.size()), l.width, reinterpret_cast<std::intptr_t>(&l), 0,
                       compare_then_fail);
            } catch (const LanguageError& e) {
                raised = true;
                EXPECT_STREQ(e.id, "message");
            }
            EXPECT_TRUE(raised) << stop;
            EXPECT_TRUE(canonical(data, l.width) == before) << "stopped at comparison " << stop;
        }
}

TEST(Sorting, WorkBufferPast32BitsIsTooLong) {
    // Raised before the array is touched, so no memory is needed behind it.
    struct Case {
        i64 count;
        size_t width;
    } cases[] = {{2, size_t(1) << 32}, {i64(1) << 31, 4}, {(i64(1) << 31) - 1, 16}};
    u8 dummy[16] = {};
    for (const Case& c : cases) {
        try {
            sort::merge_sort(dummy, c.count, c.width, 0, 0, compare_bytes);
            ADD_FAILURE() << c.count << " x " << c.width << " did not raise";
        } catch (const LanguageError& e) {
            EXPECT_EQ(e.category, ERR_SCRIPT);
            EXPECT_STREQ(e.id, "too-long");
        }
    }
}

}  // namespace
}  // namespace zir
