#include "Thumbnail.h"

#include <algorithm>

namespace pelfry {

namespace {

// How a pixel of the picture falls on the pixels of its thumbnail along one axis. The picture's
// `from` pixels and the thumbnail's `to` pixels are laid over one length of from x to units:
// picture pixel x covers [x to, (x + 1) to), thumbnail pixel j covers [j from, (j + 1) from).
// Since to <= from, a picture pixel meets at most two thumbnail pixels.
struct Span {
    int First;        // the thumbnail pixel it starts in
    uint64_t InFirst; // units it covers there
    uint64_t InNext;  // units it covers in the one after (0 when it ends in First)
};

std::vector<Span> Spans(int from, int to) {
    std::vector<Span> spans(static_cast<size_t>(from));
    const uint64_t f = static_cast<uint64_t>(from), t = static_cast<uint64_t>(to);
    for (uint64_t x = 0; x < f; ++x) {
        const uint64_t start = x * t, end = start + t;
        const uint64_t first = start / f;
        const uint64_t boundary = (first + 1) * f;
        Span& s = spans[x];
        s.First = static_cast<int>(first);
        s.InFirst = std::min(end, boundary) - start;
        s.InNext = end > boundary ? end - boundary : 0;
    }
    return spans;
}

// Sums over the part of the picture that one thumbnail pixel covers: the colours weighted by
// the units of area they cover, and the units covered by pixels that are not the background.
struct Sum {
    uint64_t R = 0, G = 0, B = 0, Opaque = 0;
    void Add(const Sum& s, uint64_t weight) {
        R += s.R * weight;
        G += s.G * weight;
        B += s.B * weight;
        Opaque += s.Opaque * weight;
    }
};

uint8_t Rounded(uint64_t numerator, uint64_t denominator) {
    return static_cast<uint8_t>((numerator + denominator / 2) / denominator);
}

} // namespace

void ThumbnailSize(int width, int height, int size, int& scaledWidth, int& scaledHeight) {
    scaledWidth = width;
    scaledHeight = height;
    if (std::max(width, height) <= size) return;
    // The shorter side in proportion, rounded to the nearest pixel.
    auto shorter = [size](int side, int longer) {
        const int64_t scaled = (int64_t{side} * size * 2 + longer) / (int64_t{longer} * 2);
        return std::max(1, static_cast<int>(scaled));
    };
    if (width >= height) {
        scaledWidth = size;
        scaledHeight = shorter(height, width);
    } else {
        scaledHeight = size;
        scaledWidth = shorter(width, height);
    }
}

RgbaPicture ScaleDown(const Bitmap& bitmap, int size) {
    RgbaPicture out;
    ThumbnailSize(bitmap.Width(), bitmap.Height(), size, out.Width, out.Height);
    const size_t width = static_cast<size_t>(out.Width);
    out.Pixels.resize(width * static_cast<size_t>(out.Height) * 4);
    if (out.Pixels.empty()) return out;
    const std::vector<Span> across = Spans(bitmap.Width(), out.Width);
    const std::vector<Span> down = Spans(bitmap.Height(), out.Height);
    const uint64_t area = static_cast<uint64_t>(bitmap.Width()) * bitmap.Height();
    const Palette256& palette = bitmap.Palette();

    // The thumbnail's rows are made one after the other: `rows` sums thumbnail row `row` and
    // the one after it, which the picture's rows reach at most; `line` one picture row across.
    std::vector<Sum> rows(2 * width), line(width);
    int row = 0;
    auto emit = [&] {
        uint8_t* pixel = out.Pixels.data() + static_cast<size_t>(row) * width * 4;
        for (size_t j = 0; j < width; ++j, pixel += 4) {
            const Sum& s = rows[j];
            if (s.Opaque == 0) continue; // wholly background: transparent black
            pixel[0] = Rounded(s.R, s.Opaque);
            pixel[1] = Rounded(s.G, s.Opaque);
            pixel[2] = Rounded(s.B, s.Opaque);
            pixel[3] = Rounded(s.Opaque * 255, area);
        }
        std::copy(rows.begin() + static_cast<std::ptrdiff_t>(width), rows.end(), rows.begin());
        std::fill(rows.begin() + static_cast<std::ptrdiff_t>(width), rows.end(), Sum{});
        ++row;
    };
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::fill(line.begin(), line.end(), Sum{});
        const uint8_t* pixels = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (pixels[x] == 0) continue;
            const RGB& c = palette[pixels[x]];
            const Sum colour{c.r, c.g, c.b, 1};
            const Span& s = across[static_cast<size_t>(x)];
            line[static_cast<size_t>(s.First)].Add(colour, s.InFirst);
            if (s.InNext > 0) line[static_cast<size_t>(s.First) + 1].Add(colour, s.InNext);
        }
        const Span& s = down[static_cast<size_t>(y)];
        while (row < s.First)
            emit();
        for (size_t j = 0; j < width; ++j) {
            rows[j].Add(line[j], s.InFirst);
            rows[width + j].Add(line[j], s.InNext);
        }
    }
    while (row < out.Height)
        emit();
    return out;
}

} // namespace pelfry
