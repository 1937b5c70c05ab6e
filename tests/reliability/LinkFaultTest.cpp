// The instrument unplugged in the middle of things: a settings write and a
// periodic series with the report open. The port closes once with one
// message, no byte queued behind the failure ever reaches the instrument,
// every record that arrived stays in the report, and a new connection works.

#include "SoakRig.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace t5170::testing {
namespace {

// The thirteen bytes of a settings write: delay 5, backlight on and voltage
// step, start voltage 1000, absorption 15/60, polarization 1/10.
const std::vector<std::uint8_t> SettingsWrite{0x6D, 0x05, 0x71, 0x05, 0x6F, 0xE8, 0x03,
                                              0x73, 0x0F, 0x3C, 0x75, 0x01, 0x0A};

class LinkFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(rig.start());
        ASSERT_TRUE(rig.runUntil([&] { return rig.connected; }));
    }

    // Bytes of the settings write the instrument heard.
    std::vector<std::uint8_t> heardOfWrite() const {
        std::vector<std::uint8_t> out;
        for (const auto& e : rig.sim.received())
            if (e.byte != code::Poll)
                out.push_back(e.byte);
        return out;
    }

    SoakRig rig;
};

TEST_F(LinkFaults, UnpluggedDuringSettingsWrite) {
    for (int cutAfter : {1, 5, 12}) {
        SCOPED_TRACE(cutAfter);
        if (!rig.sim.isPlugged()) {
            ASSERT_TRUE(rig.sim.start());
            ASSERT_TRUE(rig.channel.OpenPort(rig.sim.devicePath()));
            rig.channel.PortOpen = true;
        }
        ASSERT_TRUE(rig.runUntil([&] { return rig.channel.queuedBytes() == 0; }));
        rig.sim.clearLog();
        QSignalSpy failed(&rig.channel, &TComChannel::writeFailed);
        int heard = 0;
        auto cut = QObject::connect(&rig.sim, &sim::PtySimulator::byteReceived, [&](quint8 b) {
            if (b != code::Poll && ++heard == cutAfter)
                rig.sim.unplug();
        });
        bool sent = false;
        for (std::uint8_t b : SettingsWrite)
            rig.channel.SendByte(b);
        rig.channel.whenSent([&] { sent = true; });
        ASSERT_TRUE(rig.runUntil([&] { return sent && !rig.channel.PortOpen; }, 5000));
        QObject::disconnect(cut);
        const auto heardBytes = heardOfWrite();
        // The button that waits for the write comes back, one message shows,
        // no byte goes out after the failure.
        EXPECT_TRUE(sent);
        EXPECT_EQ(failed.count(), 1);
        EXPECT_EQ(rig.channel.queuedBytes(), 0);
        ASSERT_GE(heardBytes.size(), std::size_t(cutAfter));
        EXPECT_TRUE(std::equal(heardBytes.begin(), heardBytes.end(), SettingsWrite.begin()));

        // A fresh connection carries nothing of the interrupted write.
        ASSERT_TRUE(rig.sim.start());
        rig.sim.clearLog();
        rig.connected = false;
        ASSERT_TRUE(rig.channel.OpenPort(rig.sim.devicePath()));
        rig.channel.PortOpen = true;
        ASSERT_TRUE(rig.runUntil([&] { return rig.connected; }));
        EXPECT_EQ(heardOfWrite(), std::vector<std::uint8_t>());
    }
}

TEST_F(LinkFaults, UnpluggedDuringSeriesKeepsEveryRecordThatArrived) {
    rig.report.CreateReport();
    ASSERT_TRUE(rig.report.IsOpen);
    QSignalSpy failed(&rig.channel, &TComChannel::writeFailed);
    rig.startSeries(izmR, 1000);
    ASSERT_TRUE(rig.runUntil([&] { return rig.completes >= 50; }));
    rig.sim.unplug();
    ASSERT_TRUE(rig.runUntil([&] { return !rig.channel.PortOpen; }, 5000));
    // Whatever was on its way when the cable went is lost; nothing else.
    const std::uint64_t arrived = rig.completes;
    EXPECT_LE(arrived, rig.sim.resultsSent());
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(rig.report.NextRow[izmR], 2 + int(arrived));
    EXPECT_TRUE(rig.report.IsOpen);
    EXPECT_TRUE(rig.dialogs.errors.empty());

    // The series cannot go on without the instrument; it waits for the end
    // of a measurement that will never come, and a new connection lets the
    // operator start again.
    ASSERT_TRUE(rig.sim.start());
    rig.connected = false;
    ASSERT_TRUE(rig.channel.OpenPort(rig.sim.devicePath()));
    rig.channel.PortOpen = true;
    ASSERT_TRUE(rig.runUntil([&] { return rig.connected; }));
    EXPECT_EQ(rig.completes, arrived);
    rig.startSeries(izmR, 5);
    ASSERT_TRUE(rig.runUntil([&] { return !rig.series.isRunning(); }));
    EXPECT_EQ(rig.completes, arrived + 5);
    EXPECT_EQ(rig.report.NextRow[izmR], 2 + int(arrived) + 5);

    // And the report saves every one of them.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("series.xls"));
    rig.dialogs.saveNames = {file};
    rig.report.SaveReportAs();
    EXPECT_TRUE(rig.dialogs.errors.empty());
    EXPECT_TRUE(rig.report.IsSaved);
}

} // namespace
} // namespace t5170::testing
