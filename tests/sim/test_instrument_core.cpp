// The simulator's protocol core alone: bytes from the PC in, bytes out.

#include "Cp1251.h"
#include "InstrumentCore.h"

#include <gtest/gtest.h>

#include <set>

using namespace t5170::sim;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

// Feeds `bytes` cut into pieces at the given positions, as separate reads.
QByteArray feedCut(InstrumentCore& core, const QByteArray& bytes, std::vector<int> cuts) {
    QByteArray out;
    int at = 0;
    cuts.push_back(static_cast<int>(bytes.size()));
    for (int cut : cuts) {
        out += core.feed(bytes.mid(at, cut - at));
        at = cut;
    }
    return out;
}

struct StreamCase {
    const char* name;
    const char* in;
    const char* out;
    Settings (*expect)(); // settings after the stream
};

Settings defaults() {
    return {};
}

const StreamCase streamCases[] = {
    {"poll", "55", "55", defaults},
    {"voltage 85 has a data byte 0x55", "6B5500 6A", "6A5500",
     [] {
         Settings s;
         s.testVoltage = 85;
         return s;
     }},
    {"delay 0x55 is no poll", "6D55 55 6C", "55 6C55",
     [] {
         Settings s;
         s.delay = 0x55;
         return s;
     }},
    {"start voltage bytes look like codes", "6F5568 6E", "6E5568",
     [] {
         Settings s;
         s.startVoltage = 0x6855;
         return s;
     }},
    {"flags byte 0x57 starts nothing", "7157 70", "7057",
     [] {
         Settings s;
         s.flags = 0x57;
         return s;
     }},
    {"absorption times 5C 55", "735C55 72 55", "725C55 55",
     [] {
         Settings s;
         s.absFirst = 0x5C;
         s.absTotal = 0x55;
         return s;
     }},
    {"polarization times 6B 6B", "756B6B 74", "746B6B",
     [] {
         Settings s;
         s.polFirst = 0x6B;
         s.polTotal = 0x6B;
         return s;
     }},
    {"unknown bytes skipped one each", "00 56 5B 5D FF 55", "55", defaults},
};

} // namespace

TEST(InstrumentCore, DataBytesAreNeverCodesWhateverTheCuts) {
    for (const StreamCase& c : streamCases) {
        const QByteArray in = hex(c.in);
        const QByteArray out = hex(c.out);
        // In one piece, byte by byte, and cut once at every position.
        std::vector<std::vector<int>> cutSets = {{}};
        std::vector<int> every;
        for (int i = 1; i < in.size(); ++i) {
            every.push_back(i);
            cutSets.push_back({i});
        }
        cutSets.push_back(every);
        for (const auto& cuts : cutSets) {
            InstrumentCore core;
            EXPECT_EQ(feedCut(core, in, cuts).toHex(' '), out.toHex(' ')) << c.name;
            EXPECT_EQ(core.settings(), c.expect()) << c.name;
            EXPECT_FALSE(core.measuring()) << c.name;
        }
    }
}

TEST(InstrumentCore, CountsPollsRequestsAndStrangers) {
    InstrumentCore core;
    core.feed(hex("55 6B5500 55 68 00 56 6D01"));
    EXPECT_EQ(core.counters().pollsAnswered, 2u);
    EXPECT_EQ(core.counters().requestsAnswered, 1u);
    EXPECT_EQ(core.counters().settingsWritten, 2u);
    EXPECT_EQ(core.counters().unknownBytes, 2u);
}

TEST(InstrumentCore, SettingsWrittenAreReadBack) {
    // The program's write sequence, then its read sequence.
    InstrumentCore core;
    core.settings().serialNumber = 0xBEEF;
    core.settings().letter = 0xDF; // Я
    EXPECT_EQ(core.feed(hex("6D05 7105 6FE803 730F3C 75010A 6BC409")), QByteArray());
    EXPECT_EQ(core.feed(hex("6C 6E 70 72 74 6A 68 69")).toHex(' '),
              hex("6C05 6EE803 7005 720F3C 74010A 6AC409 68EFBE 69DF").toHex(' '));
}

namespace {

struct KindCase {
    int kind;
    quint8 startCode;
    const char* bytes; // what a finished measurement sends
};

const Result fixed{1000, 1234, 1000000, 1500};
const KindCase kindCases[] = {
    {kindVoltage, 0x57, "5D 5F 63E803 5E 5B"},
    {kindResistance, 0x58, "5D 60 63E803 64D2040000 5E 5B"},
    {kindAbsorption, 0x59, "5D 61 63E803 64D2040000 6540420F00 66DC05 5E 5B"},
    {kindPolarization, 0x5A, "5D 62 63E803 64D2040000 6540420F00 66DC05 5E 5B"},
};

} // namespace

TEST(InstrumentCore, EachKindSendsItsCodesAndByteCounts) {
    for (const KindCase& c : kindCases) {
        InstrumentCore core;
        const InstrumentCore::Step step = core.feed(c.startCode);
        ASSERT_EQ(step.started, c.kind);
        EXPECT_TRUE(step.reply.isEmpty());
        // Polls are answered while measuring; a second start is ignored.
        EXPECT_EQ(core.feed(hex("55 58 55")), hex("5555"));
        EXPECT_EQ(core.counters().startsIgnored, 1u);
        core.setNextResult(fixed);
        EXPECT_EQ(core.finishMeasurement().toHex(' '), hex(c.bytes).toHex(' ')) << c.kind;
        EXPECT_FALSE(core.measuring());
        EXPECT_EQ(core.lastResult(), fixed);
        EXPECT_EQ(core.lastKind(), c.kind);
        EXPECT_EQ(core.counters().resultsSent, 1u);
        EXPECT_TRUE(core.ackPending());
    }
}

TEST(InstrumentCore, NegativeAndLargeValuesAreLittleEndianTwosComplement) {
    EXPECT_EQ(encodeResult(kindAbsorption, {0xFFFF, -1, 123456789, 65535}).toHex(' '),
              hex("5D 61 63FFFF 64FFFFFFFF 6515CD5B07 66FFFF 5E 5B").toHex(' '));
}

TEST(InstrumentCore, FixedResultIsUsedOnceThenTheGeneratorAgain) {
    InstrumentCore core;
    core.setNextResult(fixed);
    core.feed(hex("58"));
    core.finishMeasurement();
    core.feed(hex("5C 58"));
    core.finishMeasurement();
    EXPECT_NE(core.lastResult(), fixed);
    EXPECT_EQ(core.lastResult()->volts, core.settings().testVoltage);
}

TEST(InstrumentCore, FailureSendsOnly67AndExpectsNoAck) {
    InstrumentCore core;
    core.failNextMeasurement();
    core.feed(hex("59"));
    EXPECT_EQ(core.finishMeasurement(), hex("67"));
    EXPECT_FALSE(core.ackPending());
    EXPECT_FALSE(core.lastResult().has_value());
    EXPECT_EQ(core.counters().failuresSent, 1u);
    EXPECT_EQ(core.counters().measurementsDone, 1u);
    EXPECT_EQ(core.counters().resultsSent, 0u);
    // Only the next one fails.
    core.feed(hex("59"));
    EXPECT_EQ(core.finishMeasurement().left(2), hex("5D61"));
}

TEST(InstrumentCore, KeyStartedMeasurementUsesVoltageAtStart) {
    InstrumentCore core;
    EXPECT_FALSE(core.startMeasurement(4));
    EXPECT_FALSE(core.startMeasurement(-1));
    ASSERT_TRUE(core.startMeasurement(kindResistance));
    EXPECT_FALSE(core.startMeasurement(kindVoltage));
    core.feed(hex("6BF401")); // 500 V arrives while measuring
    const QByteArray bytes = core.finishMeasurement();
    EXPECT_EQ(bytes.left(5), hex("5D 60 63E803"));
    EXPECT_EQ(core.settings().testVoltage, 500);
    EXPECT_EQ(core.finishMeasurement(), QByteArray());
}

TEST(InstrumentCore, AcknowledgementsAreCounted) {
    InstrumentCore core;
    core.feed(hex("5C"));
    EXPECT_EQ(core.counters().unexpectedAcks, 1u);
    for (int i = 0; i < 3; ++i) { // the first two are never acknowledged
        core.startMeasurement(kindVoltage);
        core.finishMeasurement();
    }
    core.feed(hex("5C 5C"));
    EXPECT_EQ(core.counters().missingAcks, 2u);
    EXPECT_EQ(core.counters().acksReceived, 1u);
    EXPECT_EQ(core.counters().unexpectedAcks, 2u);
    EXPECT_FALSE(core.ackPending());
}

TEST(InstrumentCore, SwitchedOffHearsNothingAndLosesTheMeasurement) {
    InstrumentCore core;
    core.feed(hex("58 6B")); // measuring, half a voltage command
    core.setPowered(false);
    EXPECT_FALSE(core.measuring());
    EXPECT_EQ(core.feed(hex("55 68 6D09 58")), QByteArray());
    EXPECT_FALSE(core.startMeasurement(kindResistance));
    EXPECT_EQ(core.settings(), Settings{});
    EXPECT_EQ(core.counters().bytesIgnoredOff, 5u);
    core.setPowered(true);
    // The half command died with the power: the next byte is a code.
    EXPECT_EQ(core.feed(hex("55")), hex("55"));
    EXPECT_EQ(core.settings(), Settings{});
}

TEST(ResultGenerator, PlausibleVariedAndReproducible) {
    ResultGenerator gen(7), same(7), other(8);
    std::set<int> ranges; // 0 kilo-, 1 mega-, 2 giga-ohms
    std::set<qint32> distinct;
    bool differs = false;
    for (int i = 0; i < 400; ++i) {
        const int kind = i % kindCount;
        const Result r = gen.next(kind, 2500);
        EXPECT_EQ(r, same.next(kind, 2500));
        differs |= !(r == other.next(kind, 2500));
        EXPECT_EQ(r.volts, 2500);
        ASSERT_GE(r.kOm, 500);
        ASSERT_LE(r.kOm, 5000000);
        ranges.insert(r.kOm < 1000 ? 0 : r.kOm < 1000000 ? 1 : 2);
        distinct.insert(r.kOm);
        if (kind == kindAbsorption || kind == kindPolarization) {
            EXPECT_GE(r.kOm2, r.kOm);
            EXPECT_GE(r.koef, 1000);
            EXPECT_LE(r.koef, kind == kindAbsorption ? 2000 : 4000);
            EXPECT_NEAR(r.koef, 1000.0 * r.kOm2 / r.kOm, 0.5);
        }
    }
    EXPECT_EQ(ranges.size(), 3u);
    EXPECT_GT(distinct.size(), 350u);
    EXPECT_TRUE(differs);
}

TEST(Cp1251, CyrillicLettersMapBothWays) {
    const struct {
        char16_t ch;
        quint8 byte;
    } pairs[] = {{u'А', 0xC0}, {u'Я', 0xDF}, {u'а', 0xE0}, {u'я', 0xFF},
                 {u'Ё', 0xA8}, {u'ё', 0xB8}, {u'Z', 0x5A}};
    for (const auto& p : pairs) {
        EXPECT_EQ(cp1251FromChar(QChar(p.ch)), p.byte);
        EXPECT_EQ(charFromCp1251(p.byte), QChar(p.ch));
    }
    EXPECT_FALSE(cp1251FromChar(QChar(u'€')).has_value());
    EXPECT_EQ(charFromCp1251(0x98), QChar(QChar::ReplacementCharacter));
}
