#include "image/Encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace pelfry::codec {

namespace {

constexpr int32_t Window = 2047;  // greatest distance the encoder writes
constexpr int32_t MaxMatch = 273; // longest reference
constexpr int32_t MinMatch = 3;   // shortest reference

// A candidate that passes the quick test of the full-length scan costs a comparison of up to
// 273 bytes; after this many the scan leaves the position to the index.
constexpr int32_t FullScanChecks = 24;

// A key expected to have at least this many candidates in the window makes the search try a
// longer key first; that is considered only while recent matches are this long on average.
constexpr int64_t Crowded = 16;
constexpr int32_t LongerKeys = 4;

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

// x without its byte at memory index k.
inline uint64_t ClearByte(uint64_t x, int32_t k) {
    if constexpr (std::endian::native == std::endian::little)
        return x & ~(uint64_t{0xFF} << (8 * k));
    else
        return x & ~(uint64_t{0xFF} << (56 - 8 * k));
}

// How many bytes from p on equal p[0], at most `cap`, given that the first `known` of them do.
inline int32_t RunLength(const uint8_t* p, int32_t known, int32_t cap) {
    int32_t k = std::min(known, cap);
    const uint64_t pattern = 0x0101010101010101ull * p[0];
    while (k + 8 <= cap) {
        uint64_t x = Load64(p + k) ^ pattern;
        if (x != 0) return k + FirstNonZeroByte(x);
        k += 8;
    }
    while (k < cap && p[k] == p[0]) ++k;
    return k;
}

// Sixteen bytes compared at once; the compiler maps these onto the processor's vector unit.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

inline Bytes16 Load16(const uint8_t* p) {
    Bytes16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline Bytes16 Splat16(uint8_t b) {
    Bytes16 v;
    std::memset(&v, b, sizeof v);
    return v;
}

// Chain links are kept for this many positions (or stretches), twice the window.
constexpr int32_t Slots = 4096;

inline size_t Slot(int32_t i) { return static_cast<size_t>(i & (Slots - 1)); }

// Stands for "no position": far enough before any window that one comparison rejects it.
constexpr int32_t Nowhere = -(1 << 30);

struct Bucket {
    int32_t head = Nowhere; // oldest member that may still be in the window
    int32_t tail = Nowhere; // newest member
};

// Positions that share their first `width` bytes, in chains from the oldest, so a search walks
// the window from its far end and can stop at the first candidate that reaches the limit, as
// the exhaustive search does. Links are kept by position modulo 4,096. Every touch of a bucket
// first drops the members that have left the window, so a head is never more than 2,047
// positions older than the bucket's last touch, and a bucket whose newest member has left the
// window starts afresh: no chain ever leads through a slot that a newer position has taken.
struct Chains {
    int32_t width = 0;
    uint64_t mask = 0; // the key's bytes in a word loaded from its position
    int shift = 0;
    std::vector<Bucket> buckets;
    std::vector<int32_t> next; // the next newer member, by slot; -1 at the tail
    int32_t indexed = 0;       // positions before this are in, or out of every later window

    void Init(int32_t keyWidth, int bits) {
        width = keyWidth;
        const uint64_t low = keyWidth >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * keyWidth)) - 1;
        if constexpr (std::endian::native == std::endian::little)
            mask = low;
        else
            mask = keyWidth >= 8 ? low : ~(~uint64_t{0} >> (8 * keyWidth));
        shift = 64 - bits;
        buckets.assign(size_t{1} << bits, Bucket{});
        next.assign(static_cast<size_t>(Slots), -1);
    }

    // The key at p, with `avail` (at least `width`) bytes from p on in the source: its first
    // `width` bytes as they lie in a word loaded from p, the rest zero.
    uint64_t Key(const uint8_t* p, int32_t avail) const {
        if (avail >= 8) return Load64(p) & mask;
        uint8_t bytes[8] = {};
        std::memcpy(bytes, p, static_cast<size_t>(width));
        return Load64(bytes);
    }

    uint32_t Of(uint64_t key) const { return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> shift); }

    void Link(uint32_t b, int32_t i) {
        Bucket& bucket = buckets[b];
        next[Slot(i)] = -1;
        if (bucket.tail < i - Window) {
            bucket.head = i;
        } else {
            while (bucket.head < i - Window) bucket.head = next[Slot(bucket.head)];
            next[Slot(bucket.tail)] = i;
        }
        bucket.tail = i;
    }
};

// Consecutive positions that all start with three equal bytes.
struct Stretch {
    int32_t first;
    int32_t last;
    int32_t next; // the next newer stretch of the same byte value, -1 at the tail
};

// Finds, for the greedy parse, the longest match in the window and among the longest the one
// farthest back: exactly what trying every start in the window from the farthest would find.
//
// Three indexes serve different data. Positions that start with three equal bytes (flat
// areas) are kept as stretches per byte value: within a stretch only its first position and
// the one whose run ends exactly where the searched run ends can be the answer, so a flat area
// costs a few word compares per reference instead of one probe per position. Other positions
// are chained by their first three bytes. With few colours those chains hold hundreds of
// positions, so a crowded bucket sends the search to chains keyed by five, and then eight,
// bytes: when a candidate there matches that far, every candidate that could win is in that
// chain; otherwise the search falls back to the shorter key. The longer keys are indexed only
// while searches need them.
//
// Repeating data makes long matches, and indexing each of their positions would cost far more
// than the exhaustive search spends there: its first candidates soon reach the limit. So after
// a match that reached its limit, the next search first tries the window from the far end
// with a quick vector test, just as the exhaustive search would; the indexes take in positions
// only when a search needs them, and then only those still inside the window.
class MatchFinder {
public:
    MatchFinder(const uint8_t* source, int32_t length) : src_(source), n_(length) {
        bits_ = std::clamp(static_cast<int>(std::bit_width(static_cast<uint32_t>(length))), 8, 13);
        three_.Init(3, bits_);
        stretches_.resize(static_cast<size_t>(Slots));
        std::fill(std::begin(runLast_), std::end(runLast_), -1);
    }

    // The best match for position q with 3 <= limit <= the bytes left; below 3 when there is
    // none of 3 or more. `start` receives its start. Positions come in increasing order.
    int32_t Find(int32_t q, int32_t limit, int32_t& start) {
        if (lastReachedLimit_ && limit >= 8) {
            const int32_t j = FarthestFull(q, limit);
            if (j >= 0) {
                start = j;
                return limit;
            }
        }
        // Longer keys only pay where matches are long; most literals never ask.
        int32_t best = -1;
        if (recent_ >= LongerKeys * 16 && limit >= 5) {
            const int32_t keep = Keep(q);
            if (keep > 3) best = SearchLonger(q, limit, keep, start);
        }
        if (best < 0) best = SearchBase(q, limit, start);
        recent_ += std::min(best, 16) - (recent_ >> 4);
        lastReachedLimit_ = best == limit;
        return best;
    }

private:
    int32_t FarthestFull(int32_t q, int32_t limit) const;
    int32_t SearchBase(int32_t q, int32_t limit, int32_t& start);
    int32_t SearchShort(int32_t q, int32_t& start) const;
    void IndexRuns(int32_t q);
    void IndexThree(int32_t q);
    void Index(Chains& chains, int32_t q);
    void AddRun(uint8_t value, int32_t first, int32_t last);
    int32_t Keep(int32_t q);
    void Count(int32_t q);
    int32_t SearchLonger(int32_t q, int32_t limit, int32_t keep, int32_t& start);
    int32_t SearchChain(Chains& chains, uint32_t b, int32_t q, int32_t limit, int32_t& start);
    int32_t SearchRuns(int32_t q, int32_t limit, int32_t& start);
    Stretch& At(int32_t e) { return stretches_[Slot(e)]; }

    const uint8_t* src_;
    int32_t n_;
    int bits_;
    Chains three_; // positions not starting with three equal bytes
    Chains five_;  // positions not starting with five equal bytes; made when first needed
    Chains eight_; // likewise with eight
    std::vector<Stretch> stretches_;
    Bucket runs_[256]; // stretches by byte value, numbered in the order they were made
    int32_t runLast_[256];
    int32_t made_ = 0;           // stretches made so far
    int32_t runsIndexed_ = 0;    // positions before this are in the stretches, or out of reach
    int32_t pending_ = Nowhere;  // the last position searched by its three-byte key,
    uint32_t pendingBucket_ = 0; // and that key's bucket
    int32_t recent_ = 0;         // 16 times the recent matches' mean length, each up to 16
    int32_t counts_[256] = {};   // how often each byte value occurs in the window of counted_
    int32_t counted_ = 0;
    bool lastReachedLimit_ = false;
};

// The farthest start in the window whose match reaches `limit` (at least 8), or -1 when there
// is none or when too many candidates passed the quick test without reaching it.
int32_t MatchFinder::FarthestFull(int32_t q, int32_t limit) const {
    const uint8_t* pq = src_ + q;
    int32_t checks = FullScanChecks;
    auto full = [&](int32_t j) { return --checks >= 0 && FastMatch(src_ + j, pq, limit) == limit; };
    // A candidate must agree on the first four bytes and the last one. Blocks of 16 candidates
    // that end before q read at most up to q + limit - 2, inside the source.
    const Bytes16 b0 = Splat16(pq[0]), b1 = Splat16(pq[1]), b2 = Splat16(pq[2]), b3 = Splat16(pq[3]);
    const Bytes16 bl = Splat16(pq[limit - 1]);
    int32_t j = std::max(0, q - Window);
    for (; j + 16 <= q; j += 16) {
        const uint8_t* s = src_ + j;
        const Bytes16 m = (Load16(s) == b0) & (Load16(s + 1) == b1) & (Load16(s + 2) == b2) &
                          (Load16(s + 3) == b3) & (Load16(s + limit - 1) == bl);
        uint64_t half[2];
        std::memcpy(half, &m, sizeof half);
        for (int h = 0; h < 2; ++h) {
            for (uint64_t x = half[h]; x != 0;) {
                const int32_t k = FirstNonZeroByte(x);
                if (full(j + 8 * h + k)) return j + 8 * h + k;
                if (checks < 0) return -1;
                x = ClearByte(x, k);
            }
        }
    }
    for (; j < q; ++j) {
        if (src_[j] != pq[0] || src_[j + limit - 1] != pq[limit - 1]) continue;
        if (full(j)) return j;
        if (checks < 0) return -1;
    }
    return -1;
}

// The search by three-byte keys and stretches, for data whose matches are mostly short.
int32_t MatchFinder::SearchBase(int32_t q, int32_t limit, int32_t& start) {
    const uint8_t* pq = src_ + q;
    if (pending_ == q - 1) {
        // After a literal only that position is new, and the last search made its bucket.
        three_.Link(pendingBucket_, q - 1);
        three_.indexed = runsIndexed_ = q;
    } else {
        IndexRuns(q);
        IndexThree(q);
    }
    if (pq[1] == pq[0] && pq[2] == pq[0]) return SearchRuns(q, limit, start);
    pending_ = q;
    pendingBucket_ = three_.Of(three_.Key(pq, n_ - q));
    if (three_.buckets[pendingBucket_].tail < q - Window) return 0;
    return SearchChain(three_, pendingBucket_, q, limit, start);
}

// Takes the positions before q that are still in the window and start with three equal bytes
// into the stretches.
void MatchFinder::IndexRuns(int32_t q) {
    const int32_t end = std::min(q, n_ - 2);
    int32_t i = std::max(runsIndexed_, q - Window);
    while (i < end) {
        const uint8_t* p = src_ + i;
        const uint8_t c = p[0];
        if (p[1] == c && p[2] == c) {
            // Positions i..last all start with c c c.
            const int32_t last = i + RunLength(p, 3, end + 2 - i) - 3;
            AddRun(c, i, last);
            i = last + 1;
        } else {
            ++i;
        }
    }
    runsIndexed_ = std::max(runsIndexed_, q);
}

// Takes the other positions before q that are still in the window into the three-byte chains.
void MatchFinder::IndexThree(int32_t q) {
    const int32_t end = std::min(q, n_ - 2);
    for (int32_t i = std::max(three_.indexed, q - Window); i < end; ++i) {
        const uint8_t* p = src_ + i;
        if (p[1] != p[0] || p[2] != p[0]) three_.Link(three_.Of(three_.Key(p, n_ - i)), i);
    }
    three_.indexed = std::max(three_.indexed, q);
}

// Takes the positions before q that are still in the window into `chains`, except those that
// start with `width` equal bytes.
void MatchFinder::Index(Chains& chains, int32_t q) {
    const int32_t w = chains.width;
    const int32_t end = std::min(q, n_ - w + 1);
    int32_t i = std::max(chains.indexed, q - Window);
    while (i < end) {
        const uint8_t* p = src_ + i;
        const uint64_t key = chains.Key(p, n_ - i);
        if (key == (0x0101010101010101ull * p[0] & chains.mask)) {
            // Positions i up to the run's end less `width` start with `width` equal bytes.
            i += RunLength(p, w, n_ - i) - w + 1;
            continue;
        }
        chains.Link(chains.Of(key), i);
        ++i;
    }
    chains.indexed = std::max(chains.indexed, q);
}

void MatchFinder::AddRun(uint8_t value, int32_t first, int32_t last) {
    Bucket& list = runs_[value];
    if (list.tail >= 0 && runLast_[value] == first - 1) {
        At(list.tail).last = last; // the same run, indexed in two goes
    } else {
        const int32_t index = made_++;
        At(index) = Stretch{first, last, -1};
        if (list.tail < 0 || runLast_[value] < first - Window)
            list.head = index;
        else
            At(list.tail).next = index;
        list.tail = index;
    }
    runLast_[value] = last;
    while (At(list.head).last < first - Window) list.head = At(list.head).next;
}

// The longest key worth a search at q (limit at least 5), from how often its bytes occur in
// the window: 8 when five-byte keys like it have many candidates, 5 when three-byte keys
// like it have many and five-byte ones still some, else 3. A guess, made as if the bytes were
// independent, that costs a few lookups; the search is exact whatever it says.
int32_t MatchFinder::Keep(int32_t q) {
    Count(q);
    // Expected candidates for k bytes: w times the product of their shares of the window.
    const int64_t w = std::min(q, Window);
    const uint8_t* pq = src_ + q;
    const int64_t three = int64_t{counts_[pq[0]]} * counts_[pq[1]] * counts_[pq[2]];
    if (three < Crowded * w * w) return 3;
    const int64_t five = three * counts_[pq[3]] * counts_[pq[4]];
    if (five >= Crowded * w * w * w * w) return 8;
    return five >= w * w * w * w ? 5 : 3;
}

void MatchFinder::Count(int32_t q) {
    if (q - counted_ > Window) {
        std::fill(std::begin(counts_), std::end(counts_), 0);
        for (int32_t i = q - Window; i < q; ++i) ++counts_[src_[i]];
    } else {
        for (int32_t i = counted_; i < q; ++i) {
            ++counts_[src_[i]];
            if (i >= Window) --counts_[src_[i - Window]];
        }
    }
    counted_ = q;
}

// The search by eight-byte keys (when `keep` is 8) and then five-byte keys, for data whose
// three-byte keys have many candidates. A candidate that matches as far as the key means that
// all candidates that could win are in that chain. A query that starts with as many equal
// bytes as the key goes to the stretches instead, which hold every candidate for it. Failing
// both keys, no match is longer than 4.
int32_t MatchFinder::SearchLonger(int32_t q, int32_t limit, int32_t keep, int32_t& start) {
    const uint8_t* pq = src_ + q;
    const int32_t run = RunLength(pq, 1, 8);
    if (keep == 8 && limit >= 8 && run < 8) {
        if (eight_.width == 0) eight_.Init(8, bits_);
        Index(eight_, q);
        const int32_t best = SearchChain(eight_, eight_.Of(eight_.Key(pq, n_ - q)), q, limit, start);
        if (best >= 8) return best;
    }
    if (run >= 5) {
        IndexRuns(q);
        return SearchRuns(q, limit, start);
    }
    if (five_.width == 0) five_.Init(5, bits_);
    Index(five_, q);
    const int32_t best = SearchChain(five_, five_.Of(five_.Key(pq, n_ - q)), q, limit, start);
    return best >= 5 ? best : SearchShort(q, start);
}

// The best match for q when none is longer than 4 (and q has at least 5 bytes): the farthest
// start that matches 4 bytes, else the farthest that matches 3, tried on 16 starts at once.
int32_t MatchFinder::SearchShort(int32_t q, int32_t& start) const {
    const uint8_t* pq = src_ + q;
    int32_t three = -1;
    const Bytes16 b0 = Splat16(pq[0]), b1 = Splat16(pq[1]), b2 = Splat16(pq[2]), b3 = Splat16(pq[3]);
    int32_t j = std::max(0, q - Window);
    // Blocks that end before q read at most up to q + 2.
    for (; j + 16 <= q; j += 16) {
        const uint8_t* s = src_ + j;
        const Bytes16 m3 = (Load16(s) == b0) & (Load16(s + 1) == b1) & (Load16(s + 2) == b2);
        const Bytes16 m4 = m3 & (Load16(s + 3) == b3);
        uint64_t half[2], half3[2];
        std::memcpy(half, &m4, sizeof half);
        if ((half[0] | half[1]) != 0) {
            start = j + (half[0] != 0 ? FirstNonZeroByte(half[0]) : 8 + FirstNonZeroByte(half[1]));
            return 4;
        }
        if (three < 0) {
            std::memcpy(half3, &m3, sizeof half3);
            if ((half3[0] | half3[1]) != 0)
                three = j + (half3[0] != 0 ? FirstNonZeroByte(half3[0]) : 8 + FirstNonZeroByte(half3[1]));
        }
    }
    for (; j < q; ++j) {
        const int32_t m = FastMatch(src_ + j, pq, 4);
        if (m == 4) {
            start = j;
            return 4;
        }
        if (m == 3 && three < 0) three = j;
    }
    if (three < 0) return 0;
    start = three;
    return 3;
}

int32_t MatchFinder::SearchChain(Chains& chains, uint32_t b, int32_t q, int32_t limit, int32_t& start) {
    const int32_t windowStart = std::max(0, q - Window);
    Bucket& bucket = chains.buckets[b];
    if (bucket.tail < windowStart) return 0;
    int32_t e = bucket.head;
    while (e < windowStart) e = chains.next[Slot(e)];
    bucket.head = e;
    const uint8_t* pq = src_ + q;
    int32_t best = 0;
    for (; e >= 0; e = chains.next[Slot(e)]) {
        // A candidate can only win by matching one byte beyond the best so far.
        if (best > 0 && src_[e + best] != pq[best]) continue;
        const int32_t m = FastMatch(src_ + e, pq, limit);
        if (m > best) {
            best = m;
            start = e;
            if (m == limit) break;
        }
    }
    return best;
}

int32_t MatchFinder::SearchRuns(int32_t q, int32_t limit, int32_t& start) {
    const uint8_t* pq = src_ + q;
    const int32_t windowStart = std::max(0, q - Window);
    Bucket& list = runs_[pq[0]];
    if (list.tail < 0 || runLast_[pq[0]] < windowStart) return 0;
    int32_t e = list.head;
    while (At(e).last < windowStart) e = At(e).next;
    list.head = e;
    int32_t best = 0;
    auto offer = [&](int32_t j, int32_t m) {
        if (m > best) {
            best = m;
            start = j;
        }
        return best == limit;
    };
    const int32_t rq = RunLength(pq, 3, limit); // the searched run, up to the limit
    for (; e >= 0; e = At(e).next) {
        const Stretch& st = At(e);
        const int32_t lo = std::max(st.first, windowStart);
        // Every stretch but the newest holds a whole run, `known` long from lo; one shorter
        // than the searched run matches exactly that far.
        if (st.last + 3 - lo <= best && st.last + 3 - lo < rq && e != list.tail) continue;
        // The run from lo is at least `known` long (its positions up to st.last start three
        // equal bytes). From position j of the stretch the match is: the run from j when that
        // is shorter than rq; rq when it is longer; and rq plus whatever follows both runs
        // when they end together. So the first position is best unless a later one ends
        // with the searched run and matches on past it.
        const int32_t known = st.last + 3 - lo;
        const int32_t runLo = RunLength(src_ + lo, known, rq + 1);
        if (runLo < rq) {
            if (offer(lo, runLo)) break;
            continue;
        }
        if (runLo == rq) {
            const int32_t m = rq == limit ? limit : rq + FastMatch(src_ + lo + rq, pq + rq, limit - rq);
            if (offer(lo, m)) break;
            continue;
        }
        if (rq == limit) {
            offer(lo, limit);
            break;
        }
        offer(lo, rq);
        // The position j = (end of run) - rq, if it lies in the stretch, matches rq and more.
        const int32_t reach = st.last - lo + rq;
        const int32_t runEnd = RunLength(src_ + lo, known, reach + 1);
        if (runEnd <= reach) {
            const int32_t m = rq + FastMatch(src_ + lo + runEnd, pq + rq, limit - rq);
            if (offer(lo + runEnd - rq, m)) break;
        }
    }
    return best;
}

} // namespace

int32_t FastMatch(const uint8_t* a, const uint8_t* b, int32_t limit) {
    int32_t k = 0;
    while (k + 8 <= limit) {
        uint64_t x = Load64(a + k) ^ Load64(b + k);
        if (x != 0) return k + FirstNonZeroByte(x);
        k += 8;
    }
    while (k < limit && a[k] == b[k]) ++k;
    return k;
}

int32_t Encode(const uint8_t* source, int32_t length, uint8_t* destination) {
    int32_t p = 0;
    int32_t out = 0;
    if (length > 0) {
        MatchFinder finder(source, length);
        while (p < length) {
            const int32_t limit = std::min(MaxMatch, length - p);
            int32_t best = 0;
            int32_t bestStart = 0;
            if (limit >= MinMatch) best = finder.Find(p, limit, bestStart);
            if (best < MinMatch) {
                if (source[p] >= 0x80) return -1 - out;
                destination[out++] = source[p];
                ++p;
                continue;
            }
            const int32_t d = p - bestStart;
            if (best <= 17) {
                destination[out++] = static_cast<uint8_t>(0x80 + (best - 2) * 8 + (d - 1) / 256);
                destination[out++] = static_cast<uint8_t>((d - 1) % 256);
            } else {
                destination[out++] = static_cast<uint8_t>(0x80 + d / 256);
                destination[out++] = static_cast<uint8_t>(d % 256);
                destination[out++] = static_cast<uint8_t>(best - 18);
            }
            p += best;
        }
    }
    destination[out++] = 0x80;
    destination[out++] = 0x00;
    return out;
}

} // namespace pelfry::codec
