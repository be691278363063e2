// Kinds of pixel data the encoder meets, made at any size: the tests check the encoder against
// the exhaustive search on small ones, the benchmark times both on 1 MiB of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelfry::inputs {

using Bytes = std::vector<uint8_t>;

// `colours` random indices (0 to colours - 1).
Bytes Noise(size_t n, unsigned colours, uint32_t seed);
// A random unit of `period` indices out of `colours`, repeated.
Bytes Periodic(size_t n, size_t period, unsigned colours, uint32_t seed);
// The unit 0 0 1 1 repeated.
Bytes Pairs(size_t n);
// One colour.
Bytes Flat(size_t n);
// A flat background with a speck of another colour at about one pixel in `spacing`.
Bytes Specks(size_t n, unsigned spacing, uint32_t seed);
// A picture `width` pixels wide shading through 8 colours with an ordered 4 x 4 dither:
// left to right when `diagonal` is false (rows repeat every 4 rows), else along the diagonal.
Bytes DitheredGradient(size_t n, int width, bool diagonal);
// A picture `width` pixels wide: 120-colour noise with flat rectangles over about half of it.
Bytes MixedPicture(size_t n, int width, uint32_t seed);

// Inputs built to make the encoder work hard:
// segments of `few`-colour and of 120-colour noise, `segment` bytes each, in turn;
Bytes Alternating(size_t n, unsigned segment, unsigned few, uint32_t seed);
// runs of one value, `run` long, each followed by one of `colours` other values;
Bytes EqualRuns(size_t n, unsigned run, unsigned colours, uint32_t seed);
// a random unit of `period` indices repeated, with a random index every `glitch` bytes.
Bytes Glitched(size_t n, size_t period, unsigned glitch, uint32_t seed);
// Segments of assorted kinds and lengths (noise, repeats, flat runs, specks, copies of earlier
// data with edits, runs of random lengths, dithered ramps), picked by `seed`.
Bytes Segments(size_t n, uint32_t seed);

struct Kind {
    std::string name;
    std::function<Bytes(size_t n)> make;
};

// Every kind above with the settings the benchmark reports on: periods of 1 to 3,000 (a
// sample), the pairs, flat data, specks, gradients, noise of 2, 4 and 120 colours, the mixed
// picture. Pictures are 1,024 pixels wide from 64 KiB on, else 64.
std::vector<Kind> AllKinds();
// The hard inputs above with settings that proved slow.
std::vector<Kind> HardKinds();

} // namespace pelfry::inputs
