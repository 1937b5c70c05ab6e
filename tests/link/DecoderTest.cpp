// The receive decoder: code table, data bytes, resuming after a partial code.

#include "EventText.h"
#include "link/Protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace t5170;
using t5170::testing::show;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

namespace {

struct Decoded {
    std::size_t consumed;
    Texts events;
};

Decoded decodeAll(const Bytes& b) {
    std::vector<Event> out;
    const std::size_t n = decode(b.data(), b.size(), out);
    return {n, show(out)};
}

} // namespace

TEST(Decoder, EachInstrumentCodeGivesOneEventAndTakesItsDataBytes) {
    struct Case {
        Bytes bytes;
        std::string event;
    };
    const std::vector<Case> cases = {
        {{0x55}, "Poll"},
        {{0x5B}, "Finished"},
        {{0x5D}, "Begin"},
        {{0x5E}, "Complete"},
        {{0x5F}, "Kind0"},
        {{0x60}, "Kind1"},
        {{0x61}, "Kind2"},
        {{0x62}, "Kind3"},
        {{0x63, 0xE8, 0x03}, "U1000"},
        {{0x63, 0xFF, 0xFF}, "U65535"},
        {{0x64, 0xD2, 0x04, 0x00, 0x00}, "R1234"},
        {{0x64, 0xFF, 0xFF, 0xFF, 0xFF}, "R-1"},
        {{0x64, 0x00, 0x00, 0x00, 0x80}, "R-2147483648"},
        {{0x65, 0x40, 0x42, 0x0F, 0x00}, "R2:1000000"},
        {{0x66, 0xDC, 0x05}, "K1500"},
        {{0x67}, "Failed"},
        {{0x68, 0x39, 0x30}, "SN12345"},
        {{0x69, 0xC0}, "Let192"},
        {{0x6A, 0xC4, 0x09}, "TestU2500"},
        {{0x6C, 0x07}, "Delay7"},
        {{0x6E, 0xF4, 0x01}, "StartU500"},
        {{0x70, 0xFF}, "Flags255"},
        {{0x72, 0x0F, 0x3C}, "Abs15/60"},
        {{0x74, 0x01, 0x0A}, "Pol1/10"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        const Decoded d = decodeAll(c.bytes);
        EXPECT_EQ(d.consumed, c.bytes.size());
        EXPECT_EQ(d.events, Texts{c.event});
        EXPECT_EQ(dataBytesFromInstrument(c.bytes[0]), static_cast<int>(c.bytes.size()) - 1);

        // Every data byte missing: nothing is acted on and the code is kept.
        for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
            const Decoded part = decodeAll(Bytes(c.bytes.begin(), c.bytes.begin() + cut));
            EXPECT_EQ(part.consumed, 0u) << "cut " << cut;
            EXPECT_TRUE(part.events.empty()) << "cut " << cut;
        }
    }
}

TEST(Decoder, EveryOtherByteIsSkippedAloneWithoutEvent) {
    const std::set<int> known = {0x55, 0x5B, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65,
                                 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6C, 0x6E, 0x70, 0x72, 0x74};
    for (int b = 0; b < 256; ++b) {
        if (known.count(b))
            continue;
        SCOPED_TRACE(b);
        // Followed by a poll answer: the skipped byte must not swallow it.
        const Decoded d = decodeAll({static_cast<std::uint8_t>(b), 0x55});
        EXPECT_EQ(d.consumed, 2u);
        EXPECT_EQ(d.events, Texts{"Poll"});
        EXPECT_EQ(dataBytesFromInstrument(static_cast<std::uint8_t>(b)), 0);
    }
}

TEST(Decoder, PcOnlyCodesCarryTheirDataBytes) {
    // What the PC sends: only the set commands carry data.
    for (int b = 0; b < 256; ++b) {
        int expected = 0;
        switch (b) {
        case 0x6B:
        case 0x6F:
        case 0x73:
        case 0x75:
            expected = 2;
            break;
        case 0x6D:
        case 0x71:
            expected = 1;
            break;
        default:
            break;
        }
        EXPECT_EQ(dataBytesFromPc(static_cast<std::uint8_t>(b)), expected) << b;
    }
}

TEST(Decoder, DataByteIsNeverTakenAsCode) {
    // 85 volts: the voltage's low byte has the poll answer's value.
    EXPECT_EQ(decodeAll({0x63, 0x55, 0x00}).events, Texts{"U85"});
    // Letter 'U' of the serial number.
    EXPECT_EQ(decodeAll({0x69, 0x55}).events, Texts{"Let85"});
    // Data bytes that look like codes, then a real poll answer.
    EXPECT_EQ(decodeAll({0x64, 0x55, 0x5D, 0x00, 0x00, 0x55}).events, (Texts{"R23893", "Poll"}));
    EXPECT_EQ(decodeAll({0x72, 0x5D, 0x5E, 0x5E}).events, (Texts{"Abs93/94", "Complete"}));
}

TEST(Decoder, WorkedResultDecodesCompletely) {
    const Bytes bytes = {0x5D, 0x61, 0x63, 0xE8, 0x03, 0x64, 0xD2, 0x04, 0x00, 0x00,
                         0x65, 0x40, 0x42, 0x0F, 0x00, 0x66, 0xDC, 0x05, 0x5E};
    const Decoded d = decodeAll(bytes);
    EXPECT_EQ(d.consumed, bytes.size());
    EXPECT_EQ(d.events,
              (Texts{"Begin", "Kind2", "U1000", "R1234", "R2:1000000", "K1500", "Complete"}));
}

TEST(Decoder, StopsAtIncompleteCodeAndResumesThere) {
    // Begin and a resistance cut after two data bytes.
    const Bytes first = {0x5D, 0x60, 0x64, 0xD2, 0x04};
    const Decoded a = decodeAll(first);
    EXPECT_EQ(a.consumed, 2u);
    EXPECT_EQ(a.events, (Texts{"Begin", "Kind1"}));

    // The kept tail with the next tick's bytes: Begin is not acted on again.
    Bytes next(first.begin() + static_cast<long>(a.consumed), first.end());
    for (std::uint8_t b : {0x00, 0x00, 0x5E, 0x5B})
        next.push_back(b);
    const Decoded b = decodeAll(next);
    EXPECT_EQ(b.consumed, next.size());
    EXPECT_EQ(b.events, (Texts{"R1234", "Complete", "Finished"}));
}

TEST(Decoder, NeverReadsPastTheGivenSize) {
    // The bytes behind `size` would complete the code: they must not be used.
    const Bytes buf = {0x55, 0x63, 0xE8, 0x03};
    std::vector<Event> out;
    EXPECT_EQ(decode(buf.data(), 3, out), 1u);
    EXPECT_EQ(show(out), Texts{"Poll"});
    out.clear();
    EXPECT_EQ(decode(buf.data(), 0, out), 0u);
    EXPECT_TRUE(out.empty());
}

namespace {

// A stream as the instrument might send it: codes with random data, bytes
// that are no instrument code, and plain noise.
Bytes randomStream(std::mt19937& rng, std::size_t messages) {
    static const Bytes codes = {0x55, 0x5B, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65,
                                0x66, 0x67, 0x68, 0x69, 0x6A, 0x6C, 0x6E, 0x70, 0x72, 0x74};
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(codes.size()) + 3);
    Bytes s;
    for (std::size_t m = 0; m < messages; ++m) {
        const int p = pick(rng);
        const std::uint8_t c = p < static_cast<int>(codes.size())
                                   ? codes[static_cast<std::size_t>(p)]
                                   : static_cast<std::uint8_t>(anyByte(rng));
        s.push_back(c);
        for (int i = 0; i < dataBytesFromInstrument(c); ++i)
            s.push_back(static_cast<std::uint8_t>(anyByte(rng)));
    }
    // Sometimes end inside a code, as a tick may.
    if (rng() % 2)
        s.resize(s.size() - rng() % std::min<std::size_t>(s.size(), 4));
    return s;
}

// Decodes `stream` delivered in the pieces that `cuts` marks, as the ticks
// do: the tail a pass leaves is kept in front of the next piece. The pieces
// are copied into buffers padded with bytes that would decode differently if
// the decoder read past the end.
Decoded decodeInPieces(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    Bytes kept;
    std::vector<Event> out;
    std::size_t from = 0;
    std::size_t total = 0;
    auto feed = [&](std::size_t to) {
        Bytes buf = kept;
        buf.insert(buf.end(), stream.begin() + static_cast<long>(from),
                   stream.begin() + static_cast<long>(to));
        const std::size_t size = buf.size();
        buf.insert(buf.end(), {0x55, 0x55, 0x55, 0x55, 0x55});
        const std::size_t n = decode(buf.data(), size, out);
        EXPECT_LE(n, size);
        total += n;
        kept.assign(buf.begin() + static_cast<long>(n), buf.begin() + static_cast<long>(size));
        EXPECT_LE(kept.size(), 4u); // never more than one code waiting for its data
        from = to;
    };
    for (std::size_t c : cuts)
        feed(c);
    feed(stream.size());
    return {total, show(out)};
}

} // namespace

TEST(Decoder, SplittingTheStreamAnywhereGivesTheSameEvents) {
    std::mt19937 rng(20260308);
    for (int round = 0; round < 200; ++round) {
        const Bytes stream = randomStream(rng, 1 + rng() % 40);
        const Decoded whole = decodeAll(stream);
        SCOPED_TRACE(round);

        // One cut at every position.
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            const Decoded parts = decodeInPieces(stream, {cut});
            ASSERT_EQ(parts.events, whole.events) << "cut at " << cut;
            ASSERT_EQ(parts.consumed, whole.consumed) << "cut at " << cut;
        }
        // Many random cuts, down to one byte a tick.
        std::vector<std::size_t> cuts;
        for (std::size_t p = 0; p < stream.size(); p += 1 + rng() % 3)
            cuts.push_back(p);
        const Decoded parts = decodeInPieces(stream, cuts);
        ASSERT_EQ(parts.events, whole.events);
        ASSERT_EQ(parts.consumed, whole.consumed);
    }
}
