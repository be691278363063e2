#include "image/Encoder.h"
#include "image/KeyIndex.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace pelfry::codec {

namespace {

// A candidate that passes the quick test of the full-length scan costs a comparison of up to
// 273 bytes; after this many the scan leaves the position to the index.
constexpr int32_t FullScanChecks = 24;

// Queries in a row that a longer key does not serve before the searches go back to a shorter.
constexpr int32_t Misses = 4;

// x without its byte at memory index k.
inline uint64_t ClearByte(uint64_t x, int32_t k) {
    if constexpr (std::endian::native == std::endian::little)
        return x & ~(uint64_t{0xFF} << (8 * k));
    else
        return x & ~(uint64_t{0xFF} << (56 - 8 * k));
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

// The first of 16 lanes that is set, or -1.
inline int32_t FirstLane(const Bytes16& m) {
    uint64_t half[2];
    std::memcpy(half, &m, sizeof half);
    if (half[0] != 0) return FirstNonZeroByte(half[0]);
    if (half[1] != 0) return 8 + FirstNonZeroByte(half[1]);
    return -1;
}

// Finds, for the greedy parse, the longest match in the window and among the longest the one
// farthest back: exactly what trying every start in the window from the farthest would find.
//
// Most data is served by the index of three-byte keys. With few colours its chains hold
// hundreds of positions each, so for a query whose three-byte key is crowded the search uses an
// index of five-byte keys, or of eight-byte ones when five bytes are crowded too: a candidate
// there that matches as far as the key means that every candidate that could win is in that
// index. Failing the key, no match is as long, and a vector scan of the window finds the
// farthest of the longest shorter ones.
//
// Repeating data makes long matches, and indexing each of their positions would cost far more
// than the exhaustive search spends there: its first candidates soon reach the limit. So after
// a match that reached its limit, the next search first tries the window from the far end
// with a quick vector test, just as the exhaustive search would. The indexes take in positions
// only when a search needs them, and then only those still inside the window.
class MatchFinder {
public:
    MatchFinder(const uint8_t* source, int32_t length) : src_(source), n_(length) {}

    // The best match for position q with 3 <= limit <= the bytes left; below 3 when there is
    // none of 3 or more. `start` receives its start. Positions come in increasing order.
    int32_t Find(int32_t q, int32_t limit, int32_t& start) {
        if (q < Small || limit < 8) return TryAll(q, limit, start);
        if (lastReachedLimit_) {
            const int32_t j = FarthestFull(q, limit);
            if (j >= 0) {
                start = j;
                return limit;
            }
        }
        if (!three_) three_.emplace(src_, n_, 3);
        int32_t best = -1;
        if (start_ == 3) {
            // After a literal only that position is new, and the last search made its bucket.
            if (pendingAt_ == q - 1 && pending_ >= 0 && three_->Indexed() == q - 1)
                three_->Take(q - 1, static_cast<uint32_t>(pending_));
            else
                three_->CatchUp(q);
            const int64_t b = three_->BucketOf(q);
            pending_ = b;
            pendingAt_ = q;
            if (three_->Empty(b, q))
                best = 0;
            else if (b < 0 || !three_->Crowded(static_cast<uint32_t>(b), q))
                best = three_->Search(b, q, limit, start);
            else
                start_ = 5;
        }
        if (best < 0) best = SearchLonger(q, limit, start);
        lastReachedLimit_ = best == limit;
        return best;
    }

private:
    // Near the start, and for the last few bytes, every start in the window is tried, as the
    // exhaustive search does: that costs less than making an index, which short sources and
    // repeating ones (once matches reach the limit) then never need.
    static constexpr int32_t Small = 32;

    int32_t TryAll(int32_t q, int32_t limit, int32_t& start);
    int32_t FarthestFull(int32_t q, int32_t limit) const;
    int32_t SearchLonger(int32_t q, int32_t limit, int32_t& start);
    int32_t SearchShort(int32_t q, int32_t below, int32_t& start, int32_t& scanned) const;

    const uint8_t* src_;
    int32_t n_;
    std::optional<KeyIndex> three_, five_, eight_; // made when first needed
    int32_t start_ = 3;                            // the key width that searches start with
    int32_t misses_ = 0;     // recent queries that the longer key did not serve
    int64_t pending_ = -1;   // the bucket of the last position searched by its three-byte
    int32_t pendingAt_ = -1; // key, and that position
    bool lastReachedLimit_ = false;
};

int32_t MatchFinder::TryAll(int32_t q, int32_t limit, int32_t& start) {
    int32_t best = 0;
    for (int32_t j = std::max(0, q - Window); j < q && best < limit; ++j) {
        if (src_[j] != src_[q]) continue;
        const int32_t m = MatchAt(src_ + j, src_ + q, limit);
        if (m > best) {
            best = m;
            start = j;
        }
    }
    lastReachedLimit_ = best == limit;
    return best;
}

// The farthest start in the window whose match reaches `limit` (at least 8), or -1 when there
// is none or when too many candidates passed the quick test without reaching it.
int32_t MatchFinder::FarthestFull(int32_t q, int32_t limit) const {
    const uint8_t* pq = src_ + q;
    int32_t checks = FullScanChecks;
    auto full = [&](int32_t j) { return --checks >= 0 && MatchAt(src_ + j, pq, limit) == limit; };
    // A candidate must agree on the first four bytes and the last one. Blocks of 16 candidates
    // that end before q read at most up to q + limit - 2, inside the source.
    const Bytes16 b0 = Splat16(pq[0]), b1 = Splat16(pq[1]), b2 = Splat16(pq[2]),
                  b3 = Splat16(pq[3]);
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

// The search for a query whose three-byte key is crowded (limit at least 8): by the eight-byte
// key where five-byte keys are crowded too, else by the five-byte key; failing the key, by a
// scan for the shorter matches. A run of queries that the longer key does not serve sends the
// searches back to the shorter one.
int32_t MatchFinder::SearchLonger(int32_t q, int32_t limit, int32_t& start) {
    if (start_ == 5) {
        if (!five_) five_.emplace(src_, n_, 5);
        five_->CatchUp(q);
        const int64_t b5 = five_->BucketOf(q);
        if (b5 >= 0 && five_->Crowded(static_cast<uint32_t>(b5), q)) {
            start_ = 8;
            misses_ = 0;
        } else {
            const int32_t best = five_->Search(b5, q, limit, start);
            if (best >= 5) {
                misses_ = 0;
                return best;
            }
            int32_t scanned = 0;
            const int32_t shorter = SearchShort(q, 5, start, scanned);
            // Queries without even a match of 3, or whose scans went far, mean that the
            // three-byte keys are no longer crowded.
            if ((shorter == 0 || scanned >= 64) && ++misses_ >= Misses) {
                start_ = 3;
                misses_ = 0;
            }
            return shorter;
        }
    }
    if (!eight_) eight_.emplace(src_, n_, 8);
    eight_->CatchUp(q);
    const int32_t best = eight_->Search(eight_->BucketOf(q), q, limit, start);
    if (best >= 8) {
        misses_ = 0;
        return best;
    }
    int32_t scanned = 0;
    const int32_t shorter = SearchShort(q, 8, start, scanned);
    if (++misses_ >= Misses) {
        // Back to the five-byte key, or straight to the three-byte one where even that would
        // not have served.
        start_ = shorter < 5 && (shorter == 0 || scanned >= 64) ? 3 : 5;
        misses_ = 0;
    }
    return shorter;
}

// The best match for q when none is as long as `below` (4 to 8, and q has at least `below`
// bytes): the farthest of the longest, tried on 16 starts at once. `scanned` receives the
// blocks of 16 it tried.
int32_t MatchFinder::SearchShort(int32_t q, int32_t below, int32_t& start, int32_t& scanned) const {
    const uint8_t* pq = src_ + q;
    Bytes16 want[7];
    for (int32_t k = 0; k + 1 < below; ++k)
        want[k] = Splat16(pq[k]);
    int32_t best = 0;
    int32_t j = std::max(0, q - Window);
    // Blocks that end before q read at most up to q + below - 3.
    for (; j + 16 <= q; j += 16) {
        ++scanned;
        const uint8_t* s = src_ + j;
        Bytes16 m =
            (Load16(s) == want[0]) & (Load16(s + 1) == want[1]) & (Load16(s + 2) == want[2]);
        int32_t lane = FirstLane(m);
        if (lane < 0) continue;
        // The longest match in this block, and its first start.
        int32_t length = 3;
        while (length + 1 < below) {
            const Bytes16 longer = m & (Load16(s + length) == want[length]);
            const int32_t first = FirstLane(longer);
            if (first < 0) break;
            m = longer;
            lane = first;
            ++length;
        }
        if (length > best) {
            best = length;
            start = j + lane;
            if (best + 1 == below) return best;
        }
    }
    for (; j < q; ++j) {
        const int32_t m = MatchAt(src_ + j, pq, below - 1);
        if (m >= 3 && m > best) {
            best = m;
            start = j;
        }
    }
    return best;
}

} // namespace

int32_t FastMatch(const uint8_t* a, const uint8_t* b, int32_t limit) {
    return MatchAt(a, b, limit);
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
