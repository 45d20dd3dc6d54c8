// Sorting engine: see sorting.hpp.
#include "runtime/sorting.hpp"

#include <cstdlib>
#include <memory>

#include "runtime/fire.hpp"

namespace zir {
namespace sort {

namespace {

// Runs shorter than this are extended by insertion sort before merging: below
// it the bookkeeping of a merge costs more than the extra comparisons.
constexpr i64 MIN_RUN = 24;

// Ranges this short are finished by insertion sort.
constexpr i64 SMALL_RANGE = 7;

// Without a usable sample, a range longer than this first sorts a prefix of
// PREFIX_SAMPLE elements to serve as the sample of later partitions.
constexpr i64 SAMPLE_FROM = 511;
constexpr i64 PREFIX_SAMPLE = 63;

// A sample of h elements drives a partition of at most 16 h - 1 elements when
// the range holds at least 256 h: the partition grows the sample sixteenfold,
// until it is large enough to split the whole range well.
constexpr i64 SAMPLE_GROWTH = 16;
constexpr i64 SAMPLE_SPARSE = 256;

// A sample needs a median with an element on either side.
constexpr i64 MIN_SAMPLE = 3;

// The presortedness probe votes with one neighbouring pair in this many; the
// input counts as presorted when the initial run's length plus the votes
// passes count / PRESORTED_RATIO in either direction.
constexpr i64 VOTE_STRIDE = 97;
constexpr i64 PRESORTED_RATIO = 512;
// Distance between the points where the driver looks for runs to join.
constexpr i64 PROBE_STRIDE = 10;
// Runs shorter than this are not worth joining to the sorted prefix.
constexpr i64 MIN_JOIN = 4;

inline void copy_element(u8* dst, const u8* src, size_t w) {
    switch (w) {
        case 1: *dst = *src; return;
        case 2: std::memcpy(dst, src, 2); return;
        case 4: std::memcpy(dst, src, 4); return;
        case 8: std::memcpy(dst, src, 8); return;
        case 16: std::memcpy(dst, src, 16); return;
        default: std::memcpy(dst, src, w); return;
    }
}

inline void swap_elements(u8* p, u8* q, size_t w, bool bytewise) {
    if (bytewise) {
        for (size_t i = 0; i < w; i++) {
            u8 t = p[i];
            p[i] = q[i];
            q[i] = t;
        }
        return;
    }
    if (w == 16) {   // one cell, the most common element
        u8 t[16];
        std::memcpy(t, p, 16);
        std::memcpy(p, q, 16);
        std::memcpy(q, t, 16);
        return;
    }
    // Whole words: 8 bytes at a time while they last, then a 4-byte rest.
    size_t i = 0;
    for (; i + 8 <= w; i += 8) {
        u64 x, y;
        std::memcpy(&x, p + i, 8);
        std::memcpy(&y, q + i, 8);
        std::memcpy(p + i, &y, 8);
        std::memcpy(q + i, &x, 8);
    }
    if (i < w) {
        u32 x, y;
        std::memcpy(&x, p + i, 4);
        std::memcpy(&y, q + i, 4);
        std::memcpy(p + i, &y, 4);
        std::memcpy(q + i, &x, 4);
    }
}

// How the sorts order two elements: through the caller's callback...
struct ByCallback {
    std::intptr_t arg1, arg2;
    Compare compare;
    int operator()(const u8* x, const u8* y) const { return compare(x, y, arg1, arg2); }
};

// ...or by a signed 32-bit key at a byte offset of each, which the compiler
// can inline into the sort's loops.
struct ByI32 {
    size_t key;
    bool descending;
    int operator()(const u8* x, const u8* y) const {
        i32 a, b;
        std::memcpy(&a, x + key, 4);
        std::memcpy(&b, y + key, 4);
        if (descending) std::swap(a, b);
        return a < b ? -1 : a > b ? 1 : 0;
    }
};

// One sort's array and order, so that helpers speak in element indexes.
template <typename Order>
struct Array {
    u8* base;
    size_t w;
    Order order;
    bool bytewise;

    Array(void* b, size_t width, Order o) : base(static_cast<u8*>(b)), w(width), order(o), bytewise(width % 4 != 0) {}

    u8* at(i64 i) const { return base + size_t(i) * w; }
    int cmp(i64 i, i64 j) const { return order(at(i), at(j)); }
    void swap(i64 i, i64 j) const { swap_elements(at(i), at(j), w, bytewise); }
    void reverse(i64 lo, i64 hi) const {   // [lo, hi]
        while (lo < hi) swap(lo++, hi--);
    }
    // Sorts [lo, hi) of which [lo, from) is already sorted.
    void insertion_sort(i64 lo, i64 from, i64 hi) const {
        for (i64 i = from; i < hi; i++)
            for (i64 j = i; j > lo && cmp(j - 1, j) > 0; j--) swap(j - 1, j);
    }
};

// The merge of two runs keeps the hole left in the array exactly as large as
// what remains in the work buffer; this puts the rest back when the merge ends,
// also when the callback raises an error, so that no element is lost.
struct PendingCopy {
    u8*& dst;
    const u8*& src;
    size_t& bytes;
    ~PendingCopy() {
        if (bytes) std::memcpy(dst, src, bytes);
    }
};

// The level of the boundary between [s1, e1) and [e1, e2) in the bisection of
// [0, n): runs are merged so that boundaries of lower level are merged last.
int node_power(i64 s1, i64 e1, i64 e2, i64 n) {
    i64 a = s1 + e1;   // twice the midpoints, to stay in integers
    i64 b = e1 + e2;
    int power = 1;
    while ((a < n) == (b < n)) {
        power++;
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return power;
}

template <typename Order>
u8* find_run_by(u8* start, u8* end, size_t width, const Order& cmp) {
    u8* p = start + width;
    if (p >= end) return end;
    if (cmp(start, p) > 0) {
        while (p + width < end && cmp(p, p + width) > 0) p += width;
        p += width;
        bool bytewise = width % 4 != 0;
        for (u8 *lo = start, *hi = p - width; lo < hi; lo += width, hi -= width) swap_elements(lo, hi, width, bytewise);
        return p;
    }
    while (p + width < end && cmp(p, p + width) <= 0) p += width;
    return p + width;
}

// The natural run from `start`, extended to MIN_RUN elements by insertion.
template <typename Order>
i64 next_run(const Array<Order>& a, i64 start, i64 n) {
    i64 end = (find_run_by(a.at(start), a.at(n), a.w, a.order) - a.base) / i64(a.w);
    i64 want = n - start > MIN_RUN ? start + MIN_RUN : n;
    if (end < want) {
        a.insertion_sort(start, end, want);
        end = want;
    }
    return end;
}

// The three-way partition of [lo, hi) around the pivot at lo - 1. Answers the
// number of elements smaller than the pivot, which end at [lo - 1, lo - 1 +
// smaller); the pivot and the elements equal to it follow; `greater` receives
// where the greater ones start.
template <typename Order>
i64 partition(const Array<Order>& a, i64 lo, i64 hi, i64& greater) {
    const i64 p = lo - 1;
    i64 eq = lo;       // [lo, eq): equal to the pivot
    i64 i = lo;        // [eq, i): smaller
    i64 j = hi - 1;    // (j, hi): greater
    for (;;) {
        while (i <= j) {
            int r = a.cmp(i, p);
            if (r > 0) break;
            if (r == 0) {
                a.swap(i, eq);
                eq++;
            }
            i++;
        }
        int r = 1;
        while (j > i) {
            r = a.cmp(j, p);
            if (r <= 0) break;
            j--;
        }
        if (j <= i) break;
        a.swap(i, j);
        if (r == 0) {
            a.swap(i, eq);
            eq++;
        }
        i++;
        j--;
    }
    // Bring the pivot and its equals between the smaller and greater ones.
    i64 smaller = i - eq;
    i64 block = eq - p;
    i64 moved = smaller < block ? smaller : block;
    for (i64 k = 0; k < moved; k++) a.swap(p + k, i - moved + k);
    greater = i;
    return smaller;
}

}  // namespace

void swap(void* a, void* b, size_t width, bool bytewise) {
    swap_elements(static_cast<u8*>(a), static_cast<u8*>(b), width, bytewise);
}

u8* find_run(u8* start, u8* end, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp) {
    return find_run_by(start, end, width, ByCallback{arg1, arg2, cmp});
}

namespace {

template <typename Order>
void merge_runs_by(u8* run1, u8* run2, u8* end, u8* work, size_t width, const Order& cmp) {
    size_t len1 = size_t(run2 - run1), len2 = size_t(end - run2);
    if (len2 < len1) {
        // From the back: the second run waits in the buffer; the hole is
        // [i, out), as long as what the buffer still holds.
        std::memcpy(work, run2, len2);
        u8* out = end;
        u8* i = run2;
        const u8* buffered = work;
        size_t rest = len2;
        PendingCopy finish{i, buffered, rest};
        while (i > run1 && rest) {
            const u8* last = work + rest - width;
            out -= width;
            if (cmp(i - width, last) > 0) {
                i -= width;
                copy_element(out, i, width);
            } else {
                copy_element(out, last, width);
                rest -= width;
            }
        }
    } else {
        // From the front: the first run waits in the buffer; the hole is
        // [out, j).
        std::memcpy(work, run1, len1);
        u8* out = run1;
        u8* j = run2;
        const u8* buffered = work;
        size_t rest = len1;
        PendingCopy finish{out, buffered, rest};
        while (rest && j < end) {
            if (cmp(buffered, j) <= 0) {
                copy_element(out, buffered, width);
                buffered += width;
                rest -= width;
            } else {
                copy_element(out, j, width);
                j += width;
            }
            out += width;
        }
    }
}

template <typename Order>
void merge_sort_by(void* base, i64 count, size_t width, const Order& cmp, void* buffer) {
    if (count < 2 || width == 0) return;
    u8* work = static_cast<u8*>(buffer);

    Array<Order> a(base, width, cmp);
    auto merge = [&](i64 s1, i64 s2, i64 e2) {
        merge_runs_by(a.at(s1), a.at(s2), a.at(e2), work, width, cmp);
    };

    // Each stacked run is waiting to be merged with the one after it; its
    // power is that of the boundary between them. Powers rise strictly up the
    // stack and stay below 64.
    struct Pending {
        i64 start;
        int power;
    } stack[64];
    int depth = 0;

    i64 s1 = 0;
    i64 e1 = next_run(a, 0, count);
    while (e1 < count) {
        i64 e2 = next_run(a, e1, count);
        int power = node_power(s1, e1, e2, count);
        while (depth > 0 && stack[depth - 1].power >= power) {
            Pending& top = stack[--depth];
            merge(top.start, s1, e1);
            s1 = top.start;
        }
        stack[depth++] = {s1, power};
        s1 = e1;
        e1 = e2;
    }
    while (depth > 0) {
        Pending& top = stack[--depth];
        merge(top.start, s1, count);
        s1 = top.start;
    }
}

template <typename Order>
void quicksort_step_by(void* base, i64 sample, i64 count, size_t width, const Order& cmp) {
    Array<Order> a(base, width, cmp);
    i64 c = count, s = sample;
    while (c > SMALL_RANGE) {
        i64 h = s < 0 ? -s : s;
        if (h >= c) return;   // nothing but sorted sample
        i64 L = c;            // the part partitioned this time: [0, L)
        i64 p, upper;         // pivot position; sample elements kept at the part's end
        if (h < MIN_SAMPLE) {
            // Median of three: 0 below the pivot, 1 the pivot, L - 1 above.
            if (c > SAMPLE_FROM) L = PREFIX_SAMPLE;
            a.swap(L / 2, 1);
            if (a.cmp(0, 1) > 0) a.swap(0, 1);
            if (a.cmp(1, L - 1) > 0) {
                a.swap(1, L - 1);
                if (a.cmp(0, 1) > 0) a.swap(0, 1);
            }
            p = 1;
            upper = 1;
        } else {
            if (h <= c / SAMPLE_SPARSE) L = SAMPLE_GROWTH * h - 1;
            // Swaps run in the direction that keeps the sample in order even
            // where source and destination overlap.
            if (s < 0) {
                i64 moved = L < c ? h : (h + 1) / 2;
                for (i64 k = 0; k < moved; k++) a.swap(c - h + k, k);
            }
            if (s > 0 || L < c) {
                if (L < c) {
                    i64 stride = c / L;
                    for (i64 k = h; k < L; k++) a.swap(k, k * stride);
                }
                for (i64 k = 1; k <= h / 2; k++) a.swap(h - k, L - k);
            }
            p = (h - 1) / 2;
            upper = h / 2;
        }

        i64 greater;
        i64 smaller = partition(a, p + 1, L - upper, greater);
        i64 lower = p + smaller;   // the lower side, its sample at the front

        if (L - greater > upper) quicksort_step_by(a.at(greater), -upper, L - greater, width, cmp);
        if (L < c) {
            if (smaller > 0) quicksort_step_by(base, p, lower, width, cmp);
            s = L;
        } else {
            if (smaller == 0) return;
            c = lower;
            s = p;
        }
    }
    a.insertion_sort(0, 1, c);
}

template <typename Order>
void quicksort_by(void* base, i64 count, size_t width, const Order& cmp) {
    if (count < 2 || width == 0) return;
    const i64 n = count;
    Array<Order> a(base, width, cmp);
    // dir > 0 ascending, < 0 descending; a neighbouring pair whose comparison
    // is r is in order when dir * r <= 0 (tested without the product, since
    // a user comparator may answer any integer).
    int dir = 0;
    auto in_order = [&](int r) { return dir > 0 ? r <= 0 : r >= 0; };

    i64 i = 0;
    for (; i + 1 < n; i++) {
        int r = a.cmp(i, i + 1);
        if (dir == 0) {
            dir = r < 0 ? 1 : r > 0 ? -1 : 0;
        } else if (!in_order(r)) {
            break;
        }
    }
    i64 run = i + 1;
    i64 vote = dir * run;
    for (i64 k = run; k + 1 < n; k += VOTE_STRIDE) {
        int r = a.cmp(k, k + 1);
        vote += r < 0 ? 1 : r > 0 ? -1 : 0;
    }

    i64 pe = run - 1;   // the sorted prefix is [0, pe]
    if ((vote < 0 ? -vote : vote) > n / PRESORTED_RATIO) {
        if ((dir < 0) != (vote < 0)) {
            pe = 0;
            dir = -dir;
        }
        i64 probe = pe + PROBE_STRIDE;
        while (probe < n) {
            i64 rs = probe, re = probe;
            while (re + 1 < n && in_order(a.cmp(re, re + 1))) re++;
            while (rs - 1 > pe && in_order(a.cmp(rs - 1, rs))) rs--;
            i64 len = re - rs + 1;
            if (len < MIN_JOIN) {
                probe = re + PROBE_STRIDE;
                continue;
            }
            // Where the run's head overlaps the prefix's tail, trim both so
            // that what is joined stays in order; give up on heavy overlaps.
            i64 k = 0;
            if (pe > 0) {
                i64 m = len / 2 < (pe + 1) / 4 ? len / 2 : (pe + 1) / 4;
                while (k < m && !in_order(a.cmp(pe - k, rs + k))) k++;
                if (k >= m) {
                    probe = re + PROBE_STRIDE;
                    continue;
                }
                pe -= k;
            } else {
                // A prefix of the first element alone cannot be trimmed:
                // leave out the run's elements that would sort before it.
                i64 m = len / 2;
                while (k < m && !in_order(a.cmp(0, rs + k))) k++;
                if (k >= m) {
                    probe = re + PROBE_STRIDE;
                    continue;
                }
            }
            rs += k;
            if (rs == pe + 1) {
                pe = re;
            } else {
                for (i64 j = rs; j <= re; j++) a.swap(++pe, j);
            }
            // Go on past the run, not from the new prefix end: what lies
            // between them was already passed over as not joinable, and
            // probing it again after every join costs quadratic time on
            // nearly sorted input.
            probe = re + PROBE_STRIDE;
        }
    }
    if (dir < 0) a.reverse(0, pe);
    if (pe + 1 < n) quicksort_step_by(base, pe + 1, n, width, cmp);
}

}  // namespace

void merge_runs(u8* run1, u8* run2, u8* end, u8* work, size_t width, std::intptr_t arg1, std::intptr_t arg2,
                Compare cmp) {
    merge_runs_by(run1, run2, end, work, width, ByCallback{arg1, arg2, cmp});
}

void merge_sort(void* base, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp) {
    if (count < 2 || width == 0) return;
    u64 half = u64(count) / 2;
    if (half > 0xFFFFFFFFull / width) fire(ERR_SCRIPT, "too-long");
    std::unique_ptr<u8, decltype(&std::free)> work(static_cast<u8*>(std::malloc(half * width)), &std::free);
    if (!work) fire(ERR_INTERNAL, "no-memory");
    merge_sort_through(base, count, width, arg1, arg2, cmp, work.get());
}

void merge_sort_through(void* base, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp,
                        void* work) {
    merge_sort_by(base, count, width, ByCallback{arg1, arg2, cmp}, work);
}

void quicksort_step(void* base, i64 sample, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2,
                    Compare cmp) {
    quicksort_step_by(base, sample, count, width, ByCallback{arg1, arg2, cmp});
}

void quicksort(void* base, i64 count, size_t width, std::intptr_t arg1, std::intptr_t arg2, Compare cmp) {
    quicksort_by(base, count, width, ByCallback{arg1, arg2, cmp});
}

void merge_sort_i32_through(void* base, i64 count, size_t width, size_t key, bool descending, void* work) {
    merge_sort_by(base, count, width, ByI32{key, descending}, work);
}

void quicksort_i32(void* base, i64 count, size_t width, size_t key, bool descending) {
    quicksort_by(base, count, width, ByI32{key, descending});
}

}  // namespace sort
}  // namespace zir
