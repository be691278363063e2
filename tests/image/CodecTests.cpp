// The game's byte codec: the documented streams byte for byte, the fast encoder against the
// exhaustive search on many inputs, and the decoder on streams it must survive.
#include "base/Errors.h"
#include "image/ImgFileU.h"

#include "CodecInputs.h"
#include "ReferenceCompress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace pelfry;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& source) {
    Bytes out(source.size() + 2);
    int32_t n = Compress(source.data(), static_cast<int32_t>(source.size()), out.data());
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes EncodeReference(const Bytes& source) {
    Bytes out(source.size() + 2);
    int32_t n = reference::Compress(source.data(), static_cast<int32_t>(source.size()), out.data());
    out.resize(static_cast<size_t>(n));
    return out;
}

// Decodes into a destination of exactly `capacity` bytes (so the sanitizers see any overrun)
// and returns what was produced.
Bytes Decode(const Bytes& stream, size_t capacity) {
    Bytes source(stream); // exactly sized as well
    Bytes out(capacity);
    int32_t n = Decompress(out.data(), static_cast<int32_t>(out.size()), source.data(),
                           static_cast<int32_t>(source.size()));
    EXPECT_GE(n, 0);
    EXPECT_LE(static_cast<size_t>(n), capacity);
    out.resize(static_cast<size_t>(n));
    return out;
}

Bytes Str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t v : b) {
        std::snprintf(buf, sizeof buf, "%02X ", v);
        s += buf;
    }
    return s;
}

// Both encoders agree, the stream never exceeds length + 2, and it decodes to the source.
void CheckEquivalent(const Bytes& source, const std::string& what) {
    SCOPED_TRACE(what + ", " + std::to_string(source.size()) + " bytes");
    Bytes fast = Encode(source);
    Bytes ref = EncodeReference(source);
    ASSERT_EQ(fast.size(), ref.size());
    if (fast != ref) {
        size_t at = std::mismatch(fast.begin(), fast.end(), ref.begin()).first - fast.begin();
        FAIL() << "streams differ at byte " << at;
    }
    EXPECT_LE(fast.size(), source.size() + 2);
    EXPECT_EQ(Decode(fast, source.size() + 1), source);
}

// The decoder as the format describes it, one byte at a time, for comparing the fast copies.
Bytes DecodeByteByByte(const Bytes& s) {
    Bytes out;
    size_t in = 0;
    while (in < s.size()) {
        uint8_t b0 = s[in++];
        if (b0 < 0x80) {
            out.push_back(b0);
            continue;
        }
        uint8_t b1 = s[in++];
        int d = (b0 % 8) * 256 + b1, l = (b0 / 8) % 16, count, distance;
        if (l != 0) {
            count = l + 2;
            distance = d + 1;
        } else if (d == 0) {
            break;
        } else {
            count = s[in++] + 18;
            distance = d;
        }
        for (int i = 0; i < count; ++i)
            out.push_back(out[out.size() - static_cast<size_t>(distance)]);
    }
    return out;
}

} // namespace

TEST(Codec, DocumentedExamplesByteForByte) {
    struct Case {
        Bytes source;
        Bytes stream;
    };
    std::vector<Case> cases = {
        {{}, {0x80, 0x00}},
        {Bytes(10, 0x05), {0x05, 0xB8, 0x00, 0x80, 0x00}},
        // 273 at distance 1, then the last 26 from the farthest candidate, 274 back.
        {Bytes(300, 0x00), {0x00, 0x80, 0x01, 0xFF, 0x81, 0x12, 0x08, 0x80, 0x00}},
        // The third ABCD refers to the first one, 10 back, not to the second.
        {Str("ABCDxABCDyABCD"),
         {0x41, 0x42, 0x43, 0x44, 0x78, 0x90, 0x04, 0x79, 0x90, 0x09, 0x80, 0x00}},
        {Str("ABABABABABABABABABABAB"), {0x41, 0x42, 0x80, 0x02, 0x02, 0x80, 0x00}},
        {Str("AB"), {0x41, 0x42, 0x80, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.source).substr(0, 60));
        EXPECT_EQ(Hex(Encode(c.source)), Hex(c.stream));
        EXPECT_EQ(Hex(EncodeReference(c.source)), Hex(c.stream));
        EXPECT_EQ(Decode(c.stream, c.source.size() + 1), c.source);
    }
    // The empty stream's terminator produces nothing, even with room to spare.
    EXPECT_EQ(Decode({0x80, 0x00}, 16).size(), 0u);
}

TEST(Codec, HighBitByteFailsOnReachingIt) {
    // 1 2 3 1 2 3 is a literal triple and a reference; the 0x90 after it cannot be encoded.
    Bytes source = {1, 2, 3, 1, 2, 3, 0x90, 1, 2, 3};
    Bytes out(source.size() + 2, 0xEE);
    try {
        Compress(source.data(), static_cast<int32_t>(source.size()), out.data());
        FAIL() << "no error";
    } catch (const AssertionError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      "Decompressed bytes must not have msb set! (ImgFileU.cpp, line ", 0),
                  0u)
            << e.what();
    }
    // The tokens before the byte are in place, the rest untouched.
    Bytes expected = {1, 2, 3, 0x88, 0x02, 0xEE};
    EXPECT_EQ(Hex(Bytes(out.begin(), out.begin() + 6)), Hex(expected));

    for (uint8_t high : {uint8_t{0x80}, uint8_t{0xFF}}) {
        Bytes alone = {high};
        Bytes buffer(3);
        EXPECT_THROW(Compress(alone.data(), 1, buffer.data()), AssertionError);
        // A run of high bytes still fails at its first byte: no reference can reach it.
        Bytes run(40, high);
        Bytes big(42);
        EXPECT_THROW(Compress(run.data(), 40, big.data()), AssertionError);
    }
}

TEST(Codec, MatchLengthStopsAtFirstDifferenceAndLimit) {
    std::mt19937 rng(7);
    Bytes a(600), b(600);
    for (int trial = 0; trial < 500; ++trial) {
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = b[i] = static_cast<uint8_t>(rng() % 128);
        int offset = static_cast<int>(rng() % 9);
        int diff = offset + static_cast<int>(rng() % 300);
        b[static_cast<size_t>(diff)] ^= static_cast<uint8_t>(1 + rng() % 127);
        int limit = static_cast<int>(rng() % 290);
        int32_t got = MatchLength(a.data() + offset, b.data() + offset, limit);
        EXPECT_EQ(got, reference::MatchLength(a.data() + offset, b.data() + offset, limit));
        EXPECT_EQ(got, std::min(limit, diff - offset));
    }
}

TEST(Codec, DecoderAcceptsTheFormsTheEncoderNeverWrites) {
    // A short reference with D = 2047 copies from 2048 back.
    Bytes stream;
    Bytes expected;
    for (int i = 0; i < 2048; ++i) {
        uint8_t v = static_cast<uint8_t>((i * 37 + i / 128) % 128);
        stream.push_back(v);
        expected.push_back(v);
    }
    stream.insert(stream.end(), {0x8F, 0xFF, 0x80, 0x00}); // length 3, distance 2048
    expected.insert(expected.end(), {expected[0], expected[1], expected[2]});
    EXPECT_EQ(Decode(stream, expected.size()), expected);

    // A long reference of 18 (b2 = 0) and of 273 (b2 = 255) at distance 1.
    EXPECT_EQ(Decode({0x07, 0x80, 0x01, 0x00, 0x80, 0x00}, 100), Bytes(19, 0x07));
    EXPECT_EQ(Decode({0x07, 0x80, 0x01, 0xFF, 0x80, 0x00}, 300), Bytes(274, 0x07));

    // The terminator ends the stream even when more tokens follow.
    EXPECT_EQ(Decode({0x41, 0x80, 0x00, 0x42, 0x43}, 10), Str("A"));
    // Bits 6..3 zero but D not zero is a long reference, not a terminator.
    EXPECT_EQ(Decode({0x41, 0x42, 0x80, 0x02, 0x00, 0x80, 0x00}, 100).size(), 20u);
}

TEST(Codec, DecoderStopsSafelyOnMalformedStreams) {
    // Without a terminator: everything produced is returned.
    EXPECT_EQ(Decode({0x41, 0x42, 0x43}, 10), Str("ABC"));
    EXPECT_EQ(Decode({}, 10).size(), 0u);
    // Ending inside a token: after the first byte of a reference, or before b2 of a long one.
    EXPECT_EQ(Decode({0x41, 0x88}, 10), Str("A"));
    EXPECT_EQ(Decode({0x41, 0x80}, 10), Str("A"));
    EXPECT_EQ(Decode({0x41, 0x80, 0x01}, 100), Str("A"));
    // A reference before the start of the output.
    EXPECT_EQ(Decode({0x88, 0x00, 0x41}, 10).size(), 0u);
    EXPECT_EQ(Decode({0x41, 0x88, 0x01, 0x42}, 10), Str("A"));          // distance 2 after 1 byte
    EXPECT_EQ(Decode({0x41, 0x42, 0x87, 0xFF, 0x05}, 1000), Str("AB")); // long, distance 2047
    // More than the destination holds: the token that does not fit is not applied.
    EXPECT_EQ(Decode({0x41, 0x42, 0x43}, 2), Str("AB"));
    EXPECT_EQ(Decode({0x05, 0xB8, 0x00, 0x80, 0x00}, 9), Bytes(1, 0x05));
    EXPECT_EQ(Decode({0x05, 0xB8, 0x00, 0x80, 0x00}, 10), Bytes(10, 0x05)); // exactly fits
    EXPECT_EQ(Decode({0x07, 0x80, 0x01, 0xFF, 0x80, 0x00}, 273), Bytes(1, 0x07));
    EXPECT_EQ(Decode({0x41}, 0).size(), 0u);

    // Random garbage never makes the decoder step outside its buffers (the sanitizers watch
    // the exactly sized buffers) and never reports more than it could have produced.
    std::mt19937 rng(11);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes garbage(rng() % 64);
        for (uint8_t& b : garbage)
            b = static_cast<uint8_t>(rng());
        Decode(garbage, rng() % 400);
    }
}

TEST(Codec, DecoderCopiesMatchTheByteByByteDefinition) {
    // Random well-formed streams with every distance from 1 to 2048 and every length, so
    // the run, block and word copies are all compared with the plain definition.
    std::mt19937 rng(3);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes stream;
        size_t produced = 0;
        for (int t = 0; t < 200; ++t) {
            int kind = static_cast<int>(rng() % 3);
            if (produced == 0 || kind == 0) {
                stream.push_back(static_cast<uint8_t>(rng() % 128));
                ++produced;
                continue;
            }
            if (kind == 1) {
                int maxD = static_cast<int>(std::min<size_t>(produced, 2048));
                int distance =
                    1 + static_cast<int>(
                            rng() % static_cast<unsigned>(rng() % 2 ? std::min(maxD, 12) : maxD));
                int length = 3 + static_cast<int>(rng() % 15);
                stream.push_back(
                    static_cast<uint8_t>(0x80 + (length - 2) * 8 + (distance - 1) / 256));
                stream.push_back(static_cast<uint8_t>((distance - 1) % 256));
                produced += static_cast<size_t>(length);
            } else {
                int maxD = static_cast<int>(std::min<size_t>(produced, 2047));
                int distance =
                    1 + static_cast<int>(
                            rng() % static_cast<unsigned>(rng() % 2 ? std::min(maxD, 12) : maxD));
                int length = 18 + static_cast<int>(rng() % 256);
                stream.push_back(static_cast<uint8_t>(0x80 + distance / 256));
                stream.push_back(static_cast<uint8_t>(distance % 256));
                stream.push_back(static_cast<uint8_t>(length - 18));
                produced += static_cast<size_t>(length);
            }
        }
        stream.insert(stream.end(), {0x80, 0x00});
        Bytes expected = DecodeByteByByte(stream);
        ASSERT_EQ(expected.size(), produced);
        EXPECT_EQ(Decode(stream, produced + 1), expected) << "trial " << trial;
    }
}

TEST(Codec, FastEncoderEqualsExhaustiveSearchOnRandomData) {
    std::mt19937 rng(12345);
    // Few and many symbols, short and long inputs.
    for (unsigned symbols : {1u, 2u, 3u, 4u, 8u, 16u, 60u, 128u}) {
        for (int trial = 0; trial < 6; ++trial) {
            Bytes source(rng() % 6000);
            for (uint8_t& b : source)
                b = static_cast<uint8_t>(rng() % symbols);
            CheckEquivalent(source, "random, " + std::to_string(symbols) + " symbols");
        }
    }
    // Every input of up to 8 bytes over three symbols.
    for (size_t length = 0; length <= 8; ++length) {
        size_t total = 1;
        for (size_t i = 0; i < length; ++i)
            total *= 3;
        for (size_t code = 0; code < total; ++code) {
            Bytes source(length);
            size_t c = code;
            for (uint8_t& b : source) {
                b = static_cast<uint8_t>(c % 3);
                c /= 3;
            }
            ASSERT_EQ(Encode(source), EncodeReference(source)) << Hex(source);
        }
    }
}

TEST(Codec, FastEncoderEqualsExhaustiveSearchOnRuns) {
    std::mt19937 rng(99);
    // Runs of few symbols with lengths around every boundary: 1-4 (keys inside and across
    // runs), 17/18 (short and long form), near 273 (the limit) and beyond the window.
    const std::vector<int> lengths = {1,   2,   3,   4,   5,   16,  17,  18,  19,
                                      270, 271, 272, 273, 274, 275, 546, 547, 2100};
    for (int trial = 0; trial < 60; ++trial) {
        Bytes source;
        unsigned symbols = 2 + static_cast<unsigned>(trial % 3);
        size_t target = 1000 + rng() % 6000;
        while (source.size() < target) {
            uint8_t symbol = static_cast<uint8_t>(rng() % symbols);
            int run =
                trial % 2 ? lengths[rng() % lengths.size()] : 1 + static_cast<int>(rng() % 40);
            source.insert(source.end(), static_cast<size_t>(run), symbol);
        }
        CheckEquivalent(source, "runs, trial " + std::to_string(trial));
    }
    // Flat data of every length around the limit, and one long flat stretch.
    for (size_t n : {0u, 1u, 2u, 3u, 4u, 272u, 273u, 274u, 275u, 276u, 546u, 547u, 548u, 2047u,
                     2048u, 2049u, 2321u, 20000u})
        CheckEquivalent(Bytes(n, 0x33), "flat " + std::to_string(n));
    // Runs that end together with an earlier run and then continue alike: the candidate whose
    // run ends where the searched run ends must be found inside a long run.
    for (int trial = 0; trial < 40; ++trial) {
        Bytes tail(1 + rng() % 30);
        for (uint8_t& b : tail)
            b = static_cast<uint8_t>(1 + rng() % 4);
        Bytes source;
        for (int k = 0; k < 5; ++k) {
            source.insert(source.end(), 3 + rng() % 300, 0);
            source.insert(source.end(), tail.begin(),
                          tail.end() - static_cast<long>(rng() % tail.size()));
        }
        CheckEquivalent(source, "aligned run ends, trial " + std::to_string(trial));
    }
}

TEST(Codec, FastEncoderEqualsExhaustiveSearchOnRepeatsAndStructure) {
    std::mt19937 rng(4242);
    auto randomBlock = [&](size_t n, unsigned symbols) {
        Bytes b(n);
        for (uint8_t& v : b)
            v = static_cast<uint8_t>(rng() % symbols);
        return b;
    };
    // Repeats at distances right at the window's edge.
    for (size_t distance : {2044u, 2045u, 2046u, 2047u, 2048u, 2049u, 2050u}) {
        for (unsigned symbols : {2u, 128u}) {
            Bytes source = randomBlock(distance, symbols);
            Bytes again(source.begin(), source.begin() + 400);
            source.insert(source.end(), again.begin(), again.end());
            CheckEquivalent(source, "repeat at " + std::to_string(distance));
        }
    }
    // Long matches of lengths near the limit, repeated with small changes.
    for (size_t length : {17u, 18u, 271u, 272u, 273u, 274u, 275u, 300u, 546u}) {
        Bytes block = randomBlock(length, 100);
        Bytes source = block;
        for (int k = 0; k < 4; ++k) {
            Bytes noise = randomBlock(rng() % 5, 100);
            source.insert(source.end(), noise.begin(), noise.end());
            Bytes copy = block;
            if (k % 2) copy[rng() % copy.size()] = 127;
            source.insert(source.end(), copy.begin(), copy.end());
        }
        CheckEquivalent(source, "near-limit matches of " + std::to_string(length));
    }
    // Periodic data with occasional errors.
    for (size_t period = 1; period <= 12; ++period) {
        Bytes unit = randomBlock(period, 128);
        Bytes source;
        for (int k = 0; k < 3000; ++k)
            source.push_back(unit[static_cast<size_t>(k) % period]);
        for (int e = 0; e < 5; ++e)
            source[rng() % source.size()] = static_cast<uint8_t>(rng() % 128);
        CheckEquivalent(source, "period " + std::to_string(period));
    }
    // One block again and again among noise: the block is always matched whole, so the keys
    // inside it gather members for many windows without any search walking their chains.
    for (size_t gap : {50u, 97u}) {
        const Bytes block = inputs::Noise(24, 128, 1);
        Bytes source;
        for (uint32_t k = 0; source.size() < 30000; ++k) {
            const Bytes noise = inputs::Noise(gap, 128, 100 + k);
            source.insert(source.end(), noise.begin(), noise.end());
            source.insert(source.end(), block.begin(), block.end());
        }
        CheckEquivalent(source, "block among noise, gap " + std::to_string(gap));
    }
    // A small picture like the game's: flat rectangles over noise of 120 colours.
    for (int trial = 0; trial < 3; ++trial) {
        const int w = 96, h = 64;
        Bytes image = randomBlock(static_cast<size_t>(w) * h, 120);
        for (int r = 0; r < 6; ++r) {
            int x0 = static_cast<int>(rng() % w), y0 = static_cast<int>(rng() % h);
            int x1 = std::min(w, x0 + 5 + static_cast<int>(rng() % 60));
            int y1 = std::min(h, y0 + 3 + static_cast<int>(rng() % 30));
            uint8_t colour = static_cast<uint8_t>(rng() % 120);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    image[static_cast<size_t>(y) * w + x] = colour;
        }
        CheckEquivalent(image, "picture " + std::to_string(trial));
    }
}

TEST(Codec, FastEncoderEqualsExhaustiveSearchOnEveryBenchmarkedKind) {
    // The benchmark's inputs at sizes that still hold several windows, and a short one.
    std::vector<inputs::Kind> kinds = inputs::AllKinds();
    for (inputs::Kind& hard : inputs::HardKinds())
        kinds.push_back(std::move(hard));
    for (const inputs::Kind& kind : kinds)
        for (size_t n : {size_t{700}, size_t{9000}})
            CheckEquivalent(kind.make(n), kind.name);
}

TEST(Codec, FastEncoderEqualsExhaustiveSearchOnMixedSegments) {
    // Data that changes character every few hundred or thousand bytes moves the search between
    // its indexes and its scan; the longer inputs outgrow the index's 8,192 link slots.
    for (uint32_t seed = 0; seed < 40; ++seed) {
        const size_t n = seed % 8 == 7 ? 70000 : 1 + seed * 557 % 20000;
        CheckEquivalent(inputs::Segments(n, seed), "segments, seed " + std::to_string(seed));
    }
}
