#include "image/MatchFinder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pelfry::codec {

namespace {

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

// A full-length candidate that the quick test lets through costs a comparison of up to 273
// bytes; after this many the search leaves the position to the index.
constexpr int32_t FullScanChecks = 24;

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

// Positions are indexed by their first three bytes (a match of 3 or more shares them). Each
// hash bucket keeps its positions in increasing order as a chain of entries, so a search walks
// the window from its far end and stops at the first candidate that reaches the limit, as the
// exhaustive search does. A stretch of consecutive positions inside a run of one byte value
// (all with the key c c c) is a single entry: within it, only its first position and the one
// whose run ends exactly where the searched run ends can be the answer, so flat areas cost a
// few word compares per reference instead of one probe per position.
//
// Entries live in a ring. They are made in position order and each covers at least one
// position, so once 4,096 newer ones exist an entry lies more than 2,047 positions behind any
// later search and can never be a candidate again. When its slot is reused, a bucket whose
// oldest entry it still is moves on to its successor, so no bucket ever refers to a reused
// slot.
//
// Repeating data makes long matches, and indexing each of their positions would cost far more
// than the exhaustive search spends there: its first candidates soon reach the limit. So after
// a match that reached its limit, the next search first tries the window from the far end
// with a quick vector test, just as the exhaustive search would; positions are indexed only
// when a search needs the index, and then only those still inside the window.
MatchFinder::MatchFinder(const uint8_t* source, int32_t length) : src_(source), n_(length) {
    int bits = std::clamp(static_cast<int>(std::bit_width(static_cast<uint32_t>(length))), 8, 13);
    shift_ = 32 - bits;
    head_.assign(size_t{1} << bits, -1);
    tail_.assign(size_t{1} << bits, -1);
    ring_.resize(static_cast<size_t>(Ring));
}

int32_t MatchFinder::Find(int32_t q, int32_t limit, int32_t& start) {
    const int32_t windowStart = std::max(0, q - Window);
    int32_t best = 0;
    if (lastReachedLimit_ && limit >= 8) {
        const int32_t j = FarthestFull(windowStart, q, limit);
        if (j >= 0) {
            start = j;
            return limit; // lastReachedLimit_ stays set
        }
    }
    Insert(std::max(indexed_, windowStart), q);
    best = Search(q, limit, start);
    lastReachedLimit_ = best == limit;
    return best;
}

// The farthest start in [from, q) whose match reaches `limit` (at least 8), or -1 when there is
// none or when too many candidates passed the quick test without reaching it.
int32_t MatchFinder::FarthestFull(int32_t from, int32_t q, int32_t limit) const {
    const uint8_t* pq = src_ + q;
    int32_t checks = FullScanChecks;
    auto full = [&](int32_t j) { return --checks >= 0 && FastMatch(src_ + j, pq, limit) == limit; };
    // A candidate must agree on the first four bytes and the last one. Blocks of 16 candidates
    // that end before q read at most up to q + limit - 2, inside the source.
    const Bytes16 b0 = Splat16(pq[0]), b1 = Splat16(pq[1]), b2 = Splat16(pq[2]), b3 = Splat16(pq[3]);
    const Bytes16 bl = Splat16(pq[limit - 1]);
    int32_t j = from;
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

// Indexes the positions from..to-1 (those with three bytes to hash), in increasing order.
void MatchFinder::Insert(int32_t from, int32_t to) {
    const int32_t end = std::min(to, n_ - 2);
    int32_t i = from;
    while (i < end) {
        const uint8_t* p = src_ + i;
        const uint32_t b = Bucket(p);
        const uint8_t c = p[0];
        if (p[1] == c && p[2] == c) {
            // Positions i..last all have the key c c c.
            int32_t last = i + RunLength(p, 3, end + 2 - i) - 3;
            int32_t t = tail_[b];
            if (t >= 0 && At(t).last == i - 1 && src_[i - 1] == c)
                At(t).last = last;
            else
                Append(b, i, last);
            i = last + 1;
        } else {
            Append(b, i, i);
            ++i;
        }
    }
    indexed_ = std::max(indexed_, to);
}

int32_t MatchFinder::Search(int32_t q, int32_t limit, int32_t& start) {
    const uint8_t* pq = src_ + q;
    const uint32_t b = Bucket(pq);
    const int32_t windowStart = std::max(0, q - Window);
    int32_t e = head_[b];
    while (e >= 0 && At(e).last < windowStart) e = At(e).next;
    head_[b] = e;
    if (e < 0) {
        tail_[b] = -1;
        return 0;
    }
    int32_t best = 0;
    int32_t queryRun = -1; // bytes equal to pq[0] from q, up to limit; made when needed
    auto offer = [&](int32_t j, int32_t m) {
        if (m > best) {
            best = m;
            start = j;
        }
        return best == limit;
    };
    for (; e >= 0; e = At(e).next) {
        const Entry& en = At(e);
        const int32_t lo = std::max(en.first, windowStart);
        if (en.first == en.last) {
            // A candidate can only win by matching one byte beyond the best so far.
            if (best > 0 && src_[lo + best] != pq[best]) continue;
            int32_t m = FastMatch(src_ + lo, pq, limit);
            if (m >= MinMatch && offer(lo, m)) break;
            continue;
        }
        const uint8_t c = src_[en.first];
        if (pq[0] != c || pq[1] != c || pq[2] != c) continue; // another key in this bucket
        if (queryRun < 0) queryRun = RunLength(pq, 3, limit);
        const int32_t rq = queryRun;
        // The run of c from lo is at least `known` long (its positions up to en.last start
        // three c's). From position j of the entry the match is: the run from j when that
        // is shorter than rq; rq when it is longer; and rq plus whatever follows both runs
        // when they end together. So the first position is best unless a later one ends
        // with the searched run and matches on past it.
        const int32_t known = en.last + 3 - lo;
        const int32_t runLo = RunLength(src_ + lo, known, rq + 1);
        if (runLo < rq) {
            if (offer(lo, runLo)) break;
            continue;
        }
        if (runLo == rq) {
            int32_t m = rq == limit ? limit : rq + FastMatch(src_ + lo + rq, pq + rq, limit - rq);
            if (offer(lo, m)) break;
            continue;
        }
        if (rq == limit) {
            offer(lo, limit);
            break;
        }
        offer(lo, rq);
        // The position j = (end of run) - rq, if it lies in the entry, matches rq and more.
        const int32_t reach = en.last - lo + rq;
        const int32_t run = RunLength(src_ + lo, known, reach + 1);
        if (run <= reach) {
            int32_t m = rq + FastMatch(src_ + lo + run, pq + rq, limit - rq);
            if (offer(lo + run - rq, m)) break;
        }
    }
    return best;
}

uint32_t MatchFinder::Bucket(const uint8_t* p) const {
    uint32_t key = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                   (static_cast<uint32_t>(p[2]) << 16);
    return (key * 2654435761u) >> shift_;
}

void MatchFinder::Append(uint32_t b, int32_t first, int32_t last) {
    const int32_t index = made_++;
    Entry& slot = At(index);
    if (index >= Ring) {
        // The entry made Ring entries ago leaves; its bucket's oldest entry may be it.
        const uint32_t old = Bucket(src_ + slot.first);
        if (head_[old] == index - Ring) {
            head_[old] = slot.next;
            if (slot.next < 0) tail_[old] = -1;
        }
    }
    slot = Entry{first, last, -1};
    if (tail_[b] < 0)
        head_[b] = index;
    else
        At(tail_[b]).next = index;
    tail_[b] = index;
}

} // namespace pelfry::codec
