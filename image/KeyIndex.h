// The encoder's index of window positions by their first bytes, and the byte helpers that its
// search shares with it. Used by the encoder alone.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace pelfry::codec {

constexpr int32_t Window = 2047;  // greatest distance the encoder writes
constexpr int32_t MaxMatch = 273; // longest reference
constexpr int32_t MinMatch = 3;   // shortest reference

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Index of the first non-zero byte of x as it lies in memory.
inline int32_t FirstNonZeroByte(uint64_t x) {
    if constexpr (std::endian::native == std::endian::little)
        return std::countr_zero(x) >> 3;
    else
        return std::countl_zero(x) >> 3;
}

// Equal leading bytes of `a` and `b`, at most `limit`, compared eight at a time.
inline int32_t MatchAt(const uint8_t* a, const uint8_t* b, int32_t limit) {
    int32_t k = 0;
    while (k + 8 <= limit) {
        const uint64_t x = Load64(a + k) ^ Load64(b + k);
        if (x != 0) return k + FirstNonZeroByte(x);
        k += 8;
    }
    while (k < limit && a[k] == b[k])
        ++k;
    return k;
}

// How many bytes from p on equal p[0], at most `cap`, given that the first `known` of them do.
inline int32_t RunLength(const uint8_t* p, int32_t known, int32_t cap) {
    int32_t k = std::min(known, cap);
    const uint64_t pattern = 0x0101010101010101ull * p[0];
    while (k + 8 <= cap) {
        const uint64_t x = Load64(p + k) ^ pattern;
        if (x != 0) return k + FirstNonZeroByte(x);
        k += 8;
    }
    while (k < cap && p[k] == p[0])
        ++k;
    return k;
}

// The positions of the window, indexed by their first `width` bytes (3 to 8), so that a search
// finds the longest match among those that match at least `width` bytes, and among the longest
// the farthest back, exactly as trying every start in the window from the farthest would.
//
// Positions that start with `width` equal bytes (flat areas) are kept as stretches of
// consecutive positions per byte value: within a stretch only its first position and the one
// whose run ends exactly where the searched run ends can be the answer, so a flat area costs a
// few word compares per search instead of one probe per position. Other positions are chained
// per hash bucket from the oldest, so a search walks the window from its far end and stops at
// the first candidate that reaches the limit, as the exhaustive search does.
//
// The index takes in positions only when asked to (Catch up), and then only those still in the
// window: data whose matches are found otherwise never pays for it.
class KeyIndex {
public:
    // A key with this many candidates in the window is crowded: worth a longer key.
    static constexpr int32_t Crowd = 24;

    KeyIndex(const uint8_t* source, int32_t length, int32_t width);

    // Takes in the positions before q that are still in the window. Calls come with q rising;
    // every q (here and below) has at least 8 bytes from it on, as do the positions before it.
    void CatchUp(int32_t q);
    // Takes in position q, the bucket of whose key is b, when the index holds every position
    // before q: a literal's search has made the bucket already.
    void Take(int32_t q, uint32_t b) {
        Link(b, q);
        indexed_ = q + 1;
    }
    int32_t Indexed() const { return indexed_; }

    // The bucket of q's key, or -1 when q starts with `width` equal bytes (a run, whose
    // candidates are the stretches of its byte value).
    int64_t BucketOf(int32_t q) const;
    // After CatchUp(q), for b = BucketOf(q): whether no candidate for q is in the window (for a
    // run, false), and, for b of at least 0, whether at least about Crowd are.
    bool Empty(int64_t b, int32_t q) const {
        return b >= 0 && buckets_[static_cast<size_t>(b)].tail < q - Window;
    }
    bool Crowded(uint32_t b, int32_t q) const {
        return buckets_[b].count >= Crowd && buckets_[b].back >= q - Window;
    }
    // After CatchUp(q), for b = BucketOf(q): the best match for q (limit at least `width`)
    // among the candidates that share q's first `width` bytes, or a shorter one when none
    // does; `start` receives its start. Exact whenever the result is `width` or more.
    int32_t Search(int64_t b, int32_t q, int32_t limit, int32_t& start);

private:
    // Stands for "no position": far enough before any window that one comparison rejects it.
    static constexpr int32_t Nowhere = -(1 << 30);
    // Links are kept for this many positions (and stretches), or for all of a shorter source.
    // A chain's head is moved on when a newer member arrives and the head is more than Far
    // positions old, so no chain ever leads through a slot that a newer position has taken.
    static constexpr int32_t Slots = 8192;
    static constexpr int32_t Far = Slots - Window - 2;

    struct Bucket {
        int32_t head = Nowhere; // oldest member that may still be in the window
        int32_t tail = Nowhere; // newest member
        int32_t back = Nowhere; // the oldest of the newest `count` members, which are
        int32_t count = 0;      // counted up to Crowd while they stay in the window
    };

    struct Stretch {
        int32_t first;
        int32_t last;
        int32_t next; // the next newer stretch of the same byte value, -1 at the tail
    };

    size_t Slot(int32_t i) const { return static_cast<size_t>(i & slotMask_); }

    // The key at p: its first `width` bytes as they lie in a word loaded from p, the rest zero.
    uint64_t Key(const uint8_t* p) const { return Load64(p) & mask_; }
    uint32_t Of(uint64_t key) const { return BucketOfKey(key, shift_); }
    // Fibonacci hashing: the multiplier (2^64 divided by the golden ratio) spreads keys that
    // differ in any byte over the top bits, which are the bucket number.
    static uint32_t BucketOfKey(uint64_t key, int shift) {
        return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
    }

    // Appends position i to bucket b. Static, with the arrays passed in, so that the compiler
    // need not reload the index's fields after every store.
    static void Link(Bucket* buckets, int32_t* next, int32_t slotMask, uint32_t b, int32_t i) {
        Bucket& bucket = buckets[b];
        next[i & slotMask] = -1;
        if (bucket.tail < i - Window) {
            bucket = Bucket{i, i, i, 1};
            return;
        }
        if (bucket.head < i - Far)
            while (bucket.head < i - Window)
                bucket.head = next[bucket.head & slotMask];
        next[bucket.tail & slotMask] = i;
        bucket.tail = i;
        if (bucket.count < Crowd)
            ++bucket.count;
        else
            bucket.back = next[bucket.back & slotMask];
        if (bucket.back < i - Window) {
            // The count so far has left the window; it starts again from here.
            bucket.back = i;
            bucket.count = 1;
        }
    }
    void Link(uint32_t b, int32_t i) { Link(buckets_, next_, slotMask_, b, i); }

    void AddRun(uint8_t value, int32_t first, int32_t last);
    int32_t SearchChain(uint32_t b, int32_t q, int32_t limit, int32_t& start);
    void Repeats(int32_t e, int32_t m, int32_t q, int32_t limit, int32_t& one, int32_t& last) const;
    // A candidate that matches this far may lie in repeating data, whose copies it stands for;
    // a search stops looking for repeats after this many looks in a row have found none.
    static constexpr int32_t Repeat = 16;
    static constexpr int32_t RepeatMisses = 8;
    int32_t SearchRuns(int32_t q, int32_t limit, int32_t& start);
    Stretch& At(int32_t e) { return stretches_[Slot(e)]; }

    const uint8_t* src_;
    int32_t n_;
    int32_t width_;
    uint64_t mask_;
    int shift_;
    int32_t slotMask_;
    int32_t indexed_ = 0; // positions before this are in, or out of every later window
    // The arrays below in one block: the memory allocator keeps a block it has handed out
    // once at hand for the next picture, where several would go back to the system and cost
    // page faults each time. Links and stretches are written before they are read.
    std::unique_ptr<uint64_t[]> memory_;
    Bucket* buckets_;
    int32_t* next_; // the next newer member of a chain, by slot; -1 at the tail
    Stretch* stretches_;
    Bucket runs_[256];     // stretches by byte value (head and tail), numbered as made
    int32_t runLast_[256]; // the last position of each value's newest stretch
    int32_t made_ = 0;     // stretches made so far
};

} // namespace pelfry::codec
