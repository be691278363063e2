#include "CodecInputs.h"

#include <algorithm>
#include <random>

namespace pelfry::inputs {

Bytes Noise(size_t n, unsigned colours, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& v : b)
        v = static_cast<uint8_t>(rng() % colours);
    return b;
}

Bytes Periodic(size_t n, size_t period, unsigned colours, uint32_t seed) {
    const Bytes unit = Noise(period, colours, seed);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = unit[i % period];
    return b;
}

Bytes Pairs(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>((i / 2) % 2);
    return b;
}

Bytes Flat(size_t n) {
    return Bytes(n, 17);
}

Bytes Specks(size_t n, unsigned spacing, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n, 3);
    for (uint8_t& v : b)
        if (rng() % spacing == 0) v = static_cast<uint8_t>(10 + rng() % 100);
    return b;
}

Bytes DitheredGradient(size_t n, int width, bool diagonal) {
    static constexpr int Bayer[4][4] = {
        {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    constexpr int Shades = 8;
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        const int x = static_cast<int>(i % static_cast<size_t>(width));
        const int y = static_cast<int>(i / static_cast<size_t>(width));
        // Position along the gradient in sixteenths of a shade step.
        const int span = diagonal ? 2 * width : width;
        const int along = diagonal ? x + y % width : x;
        const int t = along * (Shades - 1) * 16 / span;
        b[i] = static_cast<uint8_t>(20 + t / 16 + (t % 16 > Bayer[y % 4][x % 4] ? 1 : 0));
    }
    return b;
}

Bytes MixedPicture(size_t n, int width, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes image(n);
    for (uint8_t& v : image)
        v = static_cast<uint8_t>(rng() % 120);
    const int height = static_cast<int>(n / static_cast<size_t>(width));
    if (height < 2) return image;
    // Flat rectangles (16 to 240 pixels a side on a 1,024-wide picture) until about half the
    // picture is flat; a picture of two or three rows may never get there, hence the cap.
    const int least = std::max(2, 16 * width / 1024);
    const int spread = std::max(4, 225 * width / 1024);
    std::vector<bool> flat(static_cast<size_t>(width) * height, false);
    size_t covered = 0;
    for (int rectangles = 0; covered < flat.size() / 2 && rectangles < 10000; ++rectangles) {
        int w = std::min(width - 1, least + static_cast<int>(rng() % spread));
        int h = std::min(height - 1, least + static_cast<int>(rng() % spread));
        int x0 = static_cast<int>(rng() % (width - w)), y0 = static_cast<int>(rng() % (height - h));
        uint8_t colour = static_cast<uint8_t>(rng() % 120);
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) {
                size_t i = static_cast<size_t>(y) * width + x;
                image[i] = colour;
                if (!flat[i]) {
                    flat[i] = true;
                    ++covered;
                }
            }
    }
    return image;
}

Bytes Alternating(size_t n, unsigned segment, unsigned few, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(rng() % ((i / segment) % 2 ? few : 120));
    return b;
}

Bytes EqualRuns(size_t n, unsigned run, unsigned colours, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        b.insert(b.end(), run, 0);
        b.push_back(static_cast<uint8_t>(1 + rng() % colours));
    }
    b.resize(n);
    return b;
}

Bytes Glitched(size_t n, size_t period, unsigned glitch, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b = Periodic(n, period, 120, seed);
    for (size_t i = glitch - 1; i < n; i += glitch)
        b[i] = static_cast<uint8_t>(rng() % 120);
    return b;
}

Bytes Segments(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    auto r = [&](uint32_t m) { return static_cast<uint32_t>(rng() % m); };
    Bytes b;
    while (b.size() < n) {
        const size_t length = 1 + r(r(2) ? 300 : 5000);
        const unsigned colours = 1 + (r(3) == 0 ? r(128) : r(5));
        const uint8_t base = static_cast<uint8_t>(r(128 - colours + 1));
        auto pick = [&] { return static_cast<uint8_t>(base + r(colours)); };
        switch (r(7)) {
        case 0: // noise
            for (size_t i = 0; i < length; ++i)
                b.push_back(pick());
            break;
        case 1: { // a repeated unit, now and then with a glitch
            Bytes unit(1 + r(r(2) ? 16 : 3000));
            for (uint8_t& v : unit)
                v = pick();
            const uint32_t glitch = r(2) ? 0 : 50 + r(2000);
            for (size_t i = 0; i < length; ++i)
                b.push_back(glitch && r(glitch) == 0 ? pick() : unit[i % unit.size()]);
            break;
        }
        case 2: // flat
            b.insert(b.end(), length, base);
            break;
        case 3: { // specks
            const uint32_t spacing = 2 + r(100);
            for (size_t i = 0; i < length; ++i)
                b.push_back(r(spacing) == 0 ? pick() : base);
            break;
        }
        case 4: { // a copy of earlier data, near or beyond the window, with a few edits
            if (b.empty()) break;
            const size_t from =
                b.size() - 1 -
                r(static_cast<uint32_t>(std::min<size_t>(b.size(), r(2) ? 2047 : 5000)));
            for (size_t i = 0; i < length; ++i)
                b.push_back(b[from + i]);
            for (uint32_t e = r(4); e > 0; --e)
                b[b.size() - 1 - r(static_cast<uint32_t>(length))] = pick();
            break;
        }
        case 5: // runs of random lengths
            for (size_t i = 0; i < length;) {
                const uint8_t v = pick();
                for (size_t k = 1 + r(r(2) ? 6 : 300); k > 0 && i < length; --k, ++i)
                    b.push_back(v);
            }
            break;
        default: { // a dithered ramp between two values
            static constexpr size_t Order[4] = {0, 2, 3, 1};
            for (size_t i = 0; i < length; ++i)
                b.push_back(static_cast<uint8_t>(base + (i * 4 / length > Order[i % 4] ? 1 : 0)));
        }
        }
    }
    b.resize(n);
    for (uint8_t& v : b)
        v &= 0x7F;
    return b;
}

std::vector<Kind> AllKinds() {
    auto width = [](size_t n) { return n >= 65536 ? 1024 : 64; };
    std::vector<Kind> kinds;
    for (size_t period : {1,   2,   3,    4,    5,    7,    8,    16,   64,   100, 273,
                          274, 300, 1000, 1500, 2000, 2046, 2047, 2048, 2500, 3000})
        kinds.push_back({"period " + std::to_string(period),
                         [period](size_t n) { return Periodic(n, period, 120, 7); }});
    for (size_t period : {300, 2047})
        kinds.push_back({"period " + std::to_string(period) + ", 2 colours",
                         [period](size_t n) { return Periodic(n, period, 2, 8); }});
    kinds.push_back({"0 0 1 1", Pairs});
    kinds.push_back({"flat", Flat});
    for (unsigned spacing : {40u, 1000u})
        kinds.push_back({"specks 1/" + std::to_string(spacing),
                         [spacing](size_t n) { return Specks(n, spacing, 5); }});
    kinds.push_back(
        {"dithered gradient", [=](size_t n) { return DitheredGradient(n, width(n), false); }});
    kinds.push_back(
        {"dithered diagonal", [=](size_t n) { return DitheredGradient(n, width(n), true); }});
    for (unsigned colours : {2u, 4u, 120u})
        kinds.push_back({"noise " + std::to_string(colours),
                         [colours](size_t n) { return Noise(n, colours, 11); }});
    kinds.push_back({"mixed", [=](size_t n) { return MixedPicture(n, width(n), 2024); }});
    return kinds;
}

std::vector<Kind> HardKinds() {
    std::vector<Kind> kinds;
    for (unsigned segment : {50u, 100u, 500u})
        kinds.push_back({"alternating 2/120 colours, " + std::to_string(segment),
                         [segment](size_t n) { return Alternating(n, segment, 2, 2); }});
    for (unsigned run : {3u, 5u})
        kinds.push_back({"runs of " + std::to_string(run) + " and 3 colours",
                         [run](size_t n) { return EqualRuns(n, run, 3, 3); }});
    for (size_t period : {2u, 3u})
        kinds.push_back({"period " + std::to_string(period) + ", glitch every 100",
                         [period](size_t n) { return Glitched(n, period, 100, 4); }});
    // Flat with a speck every 275 bytes: matches reach the limit, and the scan that looks for
    // them first meets many that nearly do.
    kinds.push_back({"speck every 275", [](size_t n) { return Glitched(n, 1, 275, 6); }});
    return kinds;
}

} // namespace pelfry::inputs
