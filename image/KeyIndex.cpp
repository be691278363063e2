#include "image/KeyIndex.h"

#include <new>

namespace pelfry::codec {

KeyIndex::KeyIndex(const uint8_t* source, int32_t length, int32_t width)
    : src_(source), n_(length), width_(width) {
    const uint64_t low = width >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
    if constexpr (std::endian::native == std::endian::little)
        mask_ = low;
    else
        mask_ = width >= 8 ? low : ~(~uint64_t{0} >> (8 * width));
    // About twice as many buckets as the window holds positions, fewer for a short source.
    const int bits =
        std::clamp(static_cast<int>(std::bit_width(static_cast<uint32_t>(length))) - 1, 8, 13);
    shift_ = 64 - bits;
    const size_t buckets = size_t{1} << bits;
    const size_t slots =
        std::min(std::bit_ceil(static_cast<uint32_t>(std::max(length, 1))), uint32_t{Slots});
    slotMask_ = static_cast<int32_t>(slots) - 1;
    static_assert(sizeof(Bucket) % 8 == 0 && sizeof(Stretch) % 4 == 0);
    const size_t words =
        buckets * sizeof(Bucket) / 8 + (slots * 4 + slots * sizeof(Stretch) + 7) / 8;
    memory_.reset(new uint64_t[words]);
    buckets_ = new (memory_.get()) Bucket[buckets];
    next_ = reinterpret_cast<int32_t*>(buckets_ + buckets);
    stretches_ = reinterpret_cast<Stretch*>(next_ + slots);
    std::fill(std::begin(runLast_), std::end(runLast_), Nowhere);
}

void KeyIndex::CatchUp(int32_t q) {
    const int32_t w = width_;
    const int32_t end = std::min(q, n_ - 7);
    const uint64_t mask = mask_;
    const int shift = shift_;
    const int32_t slotMask = slotMask_;
    Bucket* const buckets = buckets_;
    int32_t* const next = next_;
    int32_t i = std::max(indexed_, q - Window);
    while (i < end) {
        const uint8_t* p = src_ + i;
        const uint64_t key = Load64(p) & mask;
        if (key == (0x0101010101010101ull * p[0] & mask)) {
            // Positions i..last all start with `width` equal bytes.
            const int32_t last = i + RunLength(p, w, end + w - 1 - i) - w;
            AddRun(p[0], i, last);
            i = last + 1;
        } else {
            Link(buckets, next, slotMask, BucketOfKey(key, shift), i);
            ++i;
        }
    }
    indexed_ = std::max(indexed_, q);
}

int64_t KeyIndex::BucketOf(int32_t q) const {
    const uint8_t* p = src_ + q;
    const uint64_t key = Key(p);
    if (key == (0x0101010101010101ull * p[0] & mask_)) return -1;
    return Of(key);
}

int32_t KeyIndex::Search(int64_t b, int32_t q, int32_t limit, int32_t& start) {
    if (b < 0) return SearchRuns(q, limit, start);
    if (Empty(b, q)) return 0;
    return SearchChain(static_cast<uint32_t>(b), q, limit, start);
}

void KeyIndex::AddRun(uint8_t value, int32_t first, int32_t last) {
    Bucket& list = runs_[value];
    if (runLast_[value] == first - 1) {
        At(list.tail).last = last; // the same run, taken in two goes
        runLast_[value] = last;
        return;
    }
    const int32_t index = made_++;
    At(index) = Stretch{first, last, -1};
    const bool fresh = runLast_[value] < first - Window; // the value's stretches have all left
    runLast_[value] = last;
    if (fresh) {
        list.head = list.tail = index;
        return;
    }
    At(list.tail).next = index;
    list.tail = index;
    // Stretches are made in position order, each after the last position of the one before,
    // so the one Slots stretches newer than a head lies beyond the head's last position plus
    // Slots; keeping heads within Far positions keeps them clear of reused slots.
    if (At(list.head).last < first - Far)
        while (At(list.head).last < first - Window)
            list.head = At(list.head).next;
}

int32_t KeyIndex::SearchChain(uint32_t b, int32_t q, int32_t limit, int32_t& start) {
    const int32_t windowStart = std::max(0, q - Window);
    const int32_t slotMask = slotMask_;
    const int32_t* const next = next_;
    const uint8_t* const src = src_;
    Bucket& bucket = buckets_[b];
    int32_t e = bucket.head;
    while (e < windowStart)
        e = next[e & slotMask];
    bucket.head = e;
    const uint8_t* pq = src + q;
    int32_t best = 0;
    // Offers candidate c, which matched m; true when the search is over.
    auto offer = [&](int32_t c, int32_t m) {
        if (m > best) {
            best = m;
            start = c;
        }
        return best == limit;
    };
    int32_t misses = 0; // looks for repeats in a row that found none
    for (; e >= 0; e = next[e & slotMask]) {
        // A candidate can only win by matching one byte beyond the best so far.
        int32_t m = -1;
        if (best == 0 || src[e + best] == pq[best]) {
            m = MatchAt(src + e, pq, limit);
            if (offer(e, m)) break;
            if (m < Repeat || misses >= RepeatMisses) continue;
        } else if (best < Repeat || misses >= RepeatMisses) {
            continue;
        }
        // Long matches come from repeating data, whose copies in the chain can mostly be
        // passed over.
        int32_t one = -1, last = e;
        Repeats(e, m, q, limit, one, last);
        misses = last == e ? misses + 1 : 0;
        if (one >= 0 && src[one + best] == pq[best] && offer(one, MatchAt(src + one, pq, limit)))
            break;
        e = last;
    }
    return best;
}

// Candidate e matched m bytes (-1: not yet known). When the data from e on repeats with some
// period d for P bytes, candidate e + k d agrees with e on its first L = P - (k - 1) d bytes,
// and differs from it right after. Where L is more than m it mismatches where e does; where L
// is less, it mismatches at L, where e matched. Either way it cannot beat e; only the one with
// L = m can. While L is at least the key's width these candidates share e's key, and they are
// the only members of the chain between them with that key (any other would have a copy d
// before it, inside (e, e + d)). So, when e shares the query's key, the walk can go on from the
// last of them, `last`, after trying `one`, the one with L = m (-1 when there is none). The
// period is that of e's next member with the same key, among its next few.
void KeyIndex::Repeats(int32_t e, int32_t m, int32_t q, int32_t limit, int32_t& one,
                       int32_t& last) const {
    if (e + 16 > n_) return;
    const uint64_t head = Load64(src_ + e) & mask_, tail = Load64(src_ + e + 8);
    int32_t e2 = next_[Slot(e)];
    for (int tries = 0; e2 >= 0 && e2 < q && e2 + 16 <= n_ && (Load64(src_ + e2) & mask_) != head;
         ++tries) {
        if (tries == 3) return;
        e2 = next_[Slot(e2)];
    }
    // Worth a closer look only when the repeat reaches past the key by a word.
    if (e2 < 0 || e2 >= q || e2 + 16 > n_ || Load64(src_ + e2 + 8) != tail) return;
    const int32_t d = e2 - e;
    const int32_t repeat = MatchAt(src_ + e, src_ + e2, std::min(n_ - e2, q - e + limit));
    if (m < 0) m = MatchAt(src_ + e, src_ + q, limit);
    if (m < width_) return;
    const int32_t copies = std::min((repeat - width_) / d + 1, (q - 1 - e) / d);
    if (copies < 1) return;
    if (repeat >= m && (repeat - m) % d == 0 && (repeat - m) / d + 1 <= copies)
        one = e + ((repeat - m) / d + 1) * d;
    last = e + copies * d;
}

// The query starts with a run of c at least `width` long; every candidate that matches that
// far lies in a stretch of c.
int32_t KeyIndex::SearchRuns(int32_t q, int32_t limit, int32_t& start) {
    const uint8_t* pq = src_ + q;
    const int32_t windowStart = std::max(0, q - Window);
    Bucket& list = runs_[pq[0]];
    if (runLast_[pq[0]] < windowStart) return 0;
    int32_t e = list.head;
    while (At(e).last < windowStart)
        e = At(e).next;
    list.head = e;
    int32_t best = 0;
    auto offer = [&](int32_t j, int32_t m) {
        if (m > best) {
            best = m;
            start = j;
        }
        return best == limit;
    };
    const int32_t w = width_;
    const int32_t rq = RunLength(pq, w, limit); // the searched run, up to the limit
    for (; e >= 0; e = At(e).next) {
        const Stretch& st = At(e);
        const int32_t lo = std::max(st.first, windowStart);
        // The run from lo is at least `known` long (its positions up to st.last start `width`
        // equal bytes), and exactly that in every stretch but the newest, which may still
        // grow. From position j of the stretch the match is: the run from j when that is
        // shorter than rq; rq when it is longer; and rq plus whatever follows both runs when
        // they end together. So the first position is best unless a later one ends with the
        // searched run and matches on past it.
        const int32_t known = st.last + w - lo;
        if (known <= best && known < rq && e != list.tail) continue;
        const int32_t runLo = RunLength(src_ + lo, known, rq + 1);
        if (runLo < rq) {
            if (offer(lo, runLo)) break;
            continue;
        }
        if (runLo == rq) {
            const int32_t m =
                rq == limit ? limit : rq + MatchAt(src_ + lo + rq, pq + rq, limit - rq);
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
        if (runEnd <= reach && src_[lo + runEnd - rq + best] == pq[best]) {
            const int32_t m = rq + MatchAt(src_ + lo + runEnd, pq + rq, limit - rq);
            if (offer(lo + runEnd - rq, m)) break;
        }
    }
    return best;
}

} // namespace pelfry::codec
