// The encoder's search for the next match, shared by nothing outside the codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelfry::codec {

constexpr int32_t Window = 2047;  // greatest distance the encoder writes
constexpr int32_t MaxMatch = 273; // longest reference
constexpr int32_t MinMatch = 3;   // shortest reference

// Equal leading bytes of `a` and `b`, at most `limit`, compared eight at a time.
int32_t FastMatch(const uint8_t* a, const uint8_t* b, int32_t limit);

// Finds, for the greedy parse, the longest match in the window and among the longest the one
// farthest back: exactly what trying every start in the window from the farthest would find.
class MatchFinder {
public:
    MatchFinder(const uint8_t* source, int32_t length);

    // The best match for position q with limit >= 3 (at most the bytes left), 0 when there is
    // none of 3 or more; `start` receives its start. Positions are searched in increasing
    // order, each after the match found for the one before has been passed over.
    int32_t Find(int32_t q, int32_t limit, int32_t& start);

private:
    struct Entry {
        int32_t first; // first position of the stretch
        int32_t last;  // last position (equal to first for a single position)
        int32_t next;  // next entry of the same bucket, -1 at the end
    };

    static constexpr int32_t Ring = 4096; // more than the 2,048 entries a window can hold

    int32_t FarthestFull(int32_t from, int32_t q, int32_t limit) const;
    int32_t Search(int32_t q, int32_t limit, int32_t& start);
    void Insert(int32_t from, int32_t to);
    void Append(uint32_t bucket, int32_t first, int32_t last);
    uint32_t Bucket(const uint8_t* p) const;
    // Entries are numbered in the order they were made; number e lives in slot e mod Ring.
    Entry& At(int32_t e) { return ring_[static_cast<size_t>(e & (Ring - 1))]; }

    const uint8_t* src_;
    int32_t n_;
    int shift_;
    std::vector<int32_t> head_; // oldest entry that may still be in the window
    std::vector<int32_t> tail_; // newest entry
    std::vector<Entry> ring_;
    int32_t made_ = 0;          // entries made so far
    int32_t indexed_ = 0;       // positions before this one are in the index or out of reach
    bool lastReachedLimit_ = false;
};

} // namespace pelfry::codec
