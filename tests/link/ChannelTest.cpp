// The serial channel against the instrument simulator on a real
// pseudo-terminal: opening, pacing, failures and the bounded receive buffer.

#include "EventText.h"
#include "PtySimulator.h"
#include "Wait.h"
#include "link/Protocol.h"
#include "link/TComChannel.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace t5170;
using t5170::testing::runFor;
using t5170::testing::show;
using t5170::testing::waitFor;
using Texts = std::vector<std::string>;

namespace {

std::vector<std::uint8_t> loggedBytes(const sim::PtySimulator& s) {
    std::vector<std::uint8_t> out;
    for (const auto& e : s.received())
        out.push_back(e.byte);
    return out;
}

class Channel : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.start()); }

    // Declared first so that the channel goes before its device.
    sim::PtySimulator sim;
};

} // namespace

TEST(ChannelNames, PortNamesMapToDevices) {
    struct Case {
        const char* name;
        const char* path;
    };
    const Case cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM8", "/dev/ttyS7"},
        {"com3", "/dev/ttyS2"},
        {"COM9", "COM9"},
        {"COM0", "COM0"},
        {"COM10", "COM10"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"ttyUSB0", "ttyUSB0"},
        {"", ""},
        {"./COM1", "./COM1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TComChannel::devicePath(QString::fromUtf8(c.name)), QString::fromUtf8(c.path))
            << c.name;
}

TEST_F(Channel, ReopeningAnOpenPortClosesItFirst) {
    TComChannel ch;
    QSignalSpy closed(&ch, &TComChannel::portClosed);
    QSignalSpy failed(&ch, &TComChannel::openFailed);

    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    EXPECT_TRUE(ch.PortOpen);
    ch.SendByte(0x68);
    ASSERT_TRUE(waitFor([&] { return sim.received().size() == 1; }, 2000));

    // A second open of a held device would be refused by its lock.
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    EXPECT_TRUE(ch.PortOpen);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(failed.count(), 0);

    ch.SendByte(0x6A);
    ASSERT_TRUE(waitFor([&] { return sim.received().size() == 2; }, 2000));
    EXPECT_EQ(loggedBytes(sim), (std::vector<std::uint8_t>{0x68, 0x6A}));
}

TEST_F(Channel, MissingOrEmptyNameFailsOnce) {
    for (const QString& name :
         {QString(), QStringLiteral("/dev/t5170-no-such-device"), QStringLiteral("COM9")}) {
        SCOPED_TRACE(name.toStdString());
        TComChannel ch;
        ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
        QSignalSpy failed(&ch, &TComChannel::openFailed);
        QSignalSpy closed(&ch, &TComChannel::portClosed);
        QSignalSpy notOpen(&ch, &TComChannel::notOpen);

        EXPECT_FALSE(ch.OpenPort(name));
        EXPECT_FALSE(ch.PortOpen);
        EXPECT_EQ(failed.count(), 1);
        EXPECT_EQ(closed.count(), 1); // the open port was closed first
        ch.SendByte(0x55);
        EXPECT_EQ(notOpen.count(), 1);
    }
}

TEST_F(Channel, SendingOnClosedPortOnlyReportsIt) {
    TComChannel never;
    QSignalSpy notOpen(&never, &TComChannel::notOpen);
    QSignalSpy failedWrite(&never, &TComChannel::writeFailed);
    never.ClosePort(); // never opened: nothing to see
    never.SendByte(0x55);
    EXPECT_EQ(notOpen.count(), 1);
    EXPECT_EQ(never.queuedBytes(), 0);
    bool done = false;
    never.whenSent([&] { done = true; });
    EXPECT_TRUE(done);

    TComChannel ch;
    QSignalSpy chNotOpen(&ch, &TComChannel::notOpen);
    QSignalSpy chSent(&ch, &TComChannel::byteSent);
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    ch.ClosePort();
    ch.ClosePort(); // twice: no harm
    ch.SendByte(0x57);
    ch.SendByte(0x58);
    EXPECT_EQ(chNotOpen.count(), 2);
    runFor(150);
    EXPECT_TRUE(sim.received().empty());
    EXPECT_EQ(chSent.count(), 0);
    EXPECT_EQ(failedWrite.count(), 0);
}

TEST(ChannelFailure, FailedWriteClosesAndReportsOnce) {
    TComChannel ch;
    QSignalSpy writeFailed(&ch, &TComChannel::writeFailed);
    QSignalSpy closed(&ch, &TComChannel::portClosed);
    QSignalSpy notOpen(&ch, &TComChannel::notOpen);
    ch.PortOpen = true; // believed open, but the device never was
    ch.SendByte(0x55);
    EXPECT_FALSE(ch.PortOpen);
    EXPECT_EQ(writeFailed.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(ch.queuedBytes(), 0);
    ch.SendByte(0x55); // now known closed: only reported as such
    EXPECT_EQ(writeFailed.count(), 1);
    EXPECT_EQ(notOpen.count(), 1);
}

TEST_F(Channel, BytesLeaveInOrderMoreThanPauseApartWhileEventsRun) {
    TComChannel ch;
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    // When the channel saw each byte leave, on the simulator's clock.
    std::vector<qint64> leftAt;
    std::vector<std::uint8_t> sent;
    QObject::connect(&ch, &TComChannel::byteSent, [&](std::uint8_t b) {
        QElapsedTimer t;
        t.start();
        leftAt.push_back(t.msecsSinceReference());
        sent.push_back(b);
    });
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);

    // The simulator stamps a byte when it reads it, in this same thread; a
    // read delayed by the scheduler shortens the gap after it. So a gap is
    // judged only where both its bytes were read promptly, and batches are
    // sent until enough gaps were judged.
    const std::vector<std::uint8_t> batch = {0x68, 0x69, 0x6A, 0x6B, 0xE8, 0x03, 0x55};
    int judged = 0;
    for (int round = 0; round < 6 && judged < 8; ++round) {
        sim.clearLog();
        leftAt.clear();
        sent.clear();
        for (std::uint8_t b : batch)
            ch.SendByte(b);
        // SendByte did not wait: all but the first are still queued.
        EXPECT_GE(ch.queuedBytes(), static_cast<int>(batch.size()) - 1);
        bool done = false;
        ch.whenSent([&] { done = true; });
        EXPECT_FALSE(done);
        ASSERT_TRUE(waitFor([&] { return done; }, 5000));
        ASSERT_TRUE(waitFor([&] { return sim.received().size() == batch.size(); }, 2000));
        EXPECT_EQ(loggedBytes(sim), batch);
        EXPECT_EQ(sent, batch);

        const auto& log = sim.received();
        auto prompt = [&](std::size_t i) { return log[i].ms - leftAt[i] <= 1; };
        for (std::size_t i = 1; i < log.size(); ++i) {
            if (!prompt(i - 1) || !prompt(i))
                continue;
            ++judged;
            EXPECT_GT(log[i].ms - log[i - 1].ms, TComChannel::PauseMs) << "byte " << i;
        }
    }
    EXPECT_GE(judged, 8);
    EXPECT_GT(ticks, 0); // timers kept firing while the bytes waited
}

TEST_F(Channel, PauseCountsFromWhenThePreviousByteLeft) {
    std::int64_t now = 1000;
    TComChannel ch(nullptr, [&] { return now; });
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    constexpr int gap = TComChannel::GapTicks;
    static_assert(gap > TComChannel::PauseMs);

    ch.SendByte(0xA1); // the first goes at once
    EXPECT_EQ(ch.queuedBytes(), 0);

    now = 1030; // queued late, still timed from 1000
    ch.SendByte(0xA2);
    EXPECT_EQ(ch.queuedBytes(), 1);
    now = 1000 + TComChannel::PauseMs;
    ch.pump();
    EXPECT_EQ(ch.queuedBytes(), 1);
    now = 1000 + gap - 1;
    ch.pump();
    EXPECT_EQ(ch.queuedBytes(), 1);
    now = 1000 + gap;
    ch.pump();
    EXPECT_EQ(ch.queuedBytes(), 0);

    const std::int64_t left = now;
    ch.SendByte(0xA3);
    ch.SendByte(0xA4);
    int callbacks = 0;
    ch.whenSent([&] { ++callbacks; });
    EXPECT_EQ(ch.queuedBytes(), 2);
    now = left + gap;
    ch.pump();
    EXPECT_EQ(ch.queuedBytes(), 1); // one byte per pause, never two
    EXPECT_EQ(callbacks, 0);
    now = left + 2 * gap - 1;
    ch.pump();
    EXPECT_EQ(ch.queuedBytes(), 1);
    now = left + 2 * gap;
    ch.pump();
    EXPECT_EQ(ch.queuedBytes(), 0);
    EXPECT_EQ(callbacks, 1);

    now += 10000; // long after the last one: no wait
    ch.SendByte(0xA5);
    EXPECT_EQ(ch.queuedBytes(), 0);

    ASSERT_TRUE(waitFor([&] { return sim.received().size() == 5; }, 2000));
    EXPECT_EQ(loggedBytes(sim), (std::vector<std::uint8_t>{0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
}

TEST_F(Channel, UnplugClosesThePortOnceAndDropsTheQueue) {
    TComChannel ch;
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    ch.SendByte(0x55);
    ASSERT_TRUE(waitFor([&] { return sim.received().size() == 1; }, 2000));

    QSignalSpy writeFailed(&ch, &TComChannel::writeFailed);
    QSignalSpy closed(&ch, &TComChannel::portClosed);
    QSignalSpy sent(&ch, &TComChannel::byteSent);
    QSignalSpy notOpen(&ch, &TComChannel::notOpen);
    sim.unplug();
    ch.SendByte(0x57);
    ch.SendByte(0x58);
    ch.SendByte(0x59);
    bool done = false;
    ch.whenSent([&] { done = true; });

    ASSERT_TRUE(waitFor([&] { return !ch.PortOpen; }, 3000));
    runFor(300); // a port left open would go on reporting errors
    EXPECT_EQ(writeFailed.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(done);
    EXPECT_EQ(ch.queuedBytes(), 0);
    EXPECT_EQ(notOpen.count(), 0);
    // Whatever was queued behind the failure never went out.
    for (const auto& args : sent)
        EXPECT_EQ(args.at(0).value<std::uint8_t>(), 0x57);
    EXPECT_LE(sent.count(), 1);

    ch.SendByte(0x5A);
    EXPECT_EQ(notOpen.count(), 1);
    EXPECT_EQ(writeFailed.count(), 1);
}

TEST_F(Channel, ReceiveBufferIsBoundedAndLosesNothing) {
    TComChannel ch;
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    QByteArray data;
    for (int i = 0; i < 3000; ++i)
        data.append(static_cast<char>((i * 7 + i / 251) & 0xFF));
    sim.sendRaw(data);
    runFor(200);

    ch.DrainReceived();
    ASSERT_EQ(ch.RxCount, TComChannel::RxCapacity);
    const auto full = ch.RxBuf;
    ch.DrainReceived(); // full: nothing more goes in
    EXPECT_EQ(ch.RxCount, TComChannel::RxCapacity);
    EXPECT_EQ(ch.RxBuf, full);

    // Consume like the decoder does, keeping a short tail in front.
    QByteArray collected;
    for (int round = 0; round < 200 && collected.size() + ch.RxCount < data.size(); ++round) {
        const int keep = std::min(ch.RxCount, 3);
        const int take = ch.RxCount - keep;
        collected.append(reinterpret_cast<const char*>(ch.RxBuf.data()), take);
        const QByteArray tail(reinterpret_cast<const char*>(ch.RxBuf.data()) + take, keep);
        ch.consume(take);
        ASSERT_EQ(ch.RxCount, keep);
        ASSERT_EQ(QByteArray(reinterpret_cast<const char*>(ch.RxBuf.data()), keep), tail);
        runFor(5);
        ch.DrainReceived();
        ASSERT_LE(ch.RxCount, TComChannel::RxCapacity);
    }
    collected.append(reinterpret_cast<const char*>(ch.RxBuf.data()), ch.RxCount);
    ch.consume(ch.RxCount);
    EXPECT_EQ(ch.RxCount, 0);
    EXPECT_EQ(collected, data);
    EXPECT_EQ(sim.bytesDropped(), 0u);
}

TEST_F(Channel, TicksDecodeResultSentInPieces) {
    TComChannel ch;
    ASSERT_TRUE(ch.OpenPort(sim.devicePath()));
    sim.setSplitWrites(true);
    sim.setSplitGapMs(3);
    sim.setMeasureDurationMs(0);
    sim.setNextResult({1000, 1234, 1000000, 1500});

    std::vector<Event> events;
    auto tick = [&] {
        ch.DrainReceived();
        const std::size_t used =
            decode(ch.RxBuf.data(), static_cast<std::size_t>(ch.RxCount), events);
        ch.consume(static_cast<int>(used));
    };
    ch.SendByte(0x55);
    ASSERT_TRUE(waitFor(
        [&] {
            tick();
            return !events.empty();
        },
        2000));
    sim.startFromKeys(2);
    ASSERT_TRUE(waitFor(
        [&] {
            tick();
            return show(events).back() == "Finished";
        },
        3000));
    EXPECT_EQ(show(events), (Texts{"Poll", "Begin", "Kind2", "U1000", "R1234", "R2:1000000",
                                   "K1500", "Complete", "Finished"}));
    EXPECT_EQ(ch.RxCount, 0);
}
