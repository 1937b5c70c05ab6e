// The command line a person types at t5170-sim.

#include "Console.h"
#include "PtySimulator.h"

#include <gtest/gtest.h>

using namespace t5170::sim;

TEST(Console, AcceptsGoodCommandsAndRejectsBadOnesUntouched) {
    PtySimulator sim; // not plugged in: bytes it sends are dropped
    Console console(sim);
    const struct {
        const char* line;
        bool accepted;
    } cases[] = {
        {"set abs 15 60", true},
        {"set pol 2 20", true},
        {"set voltage 2500", true},
        {"set serial 0x1F", true},
        {"set letter Ё", true},
        {"set flags 5", true},
        {"set delay 300", false},
        {"set abs 15", false},
        {"set abs 15 256", false},
        {"set letter €", false},
        {"set voltage 70000", false},
        {"raw 5D zz", false},
        {"raw 123", false},
        {"key x", false},
        {"split maybe", false},
        {"result 1000", false},
        {"result 1000 -5 x 1", false},
        {"measure -1", false},
        {"bogus", false},
    };
    for (const auto& c : cases) {
        const Settings before = sim.settings();
        const QString out = console.execute(QString::fromUtf8(c.line));
        EXPECT_EQ(!out.startsWith(QLatin1Char('?')), c.accepted)
            << c.line << ": " << out.toStdString();
        if (!c.accepted) {
            EXPECT_EQ(sim.settings(), before) << c.line;
        }
    }
    Settings want;
    want.absFirst = 15;
    want.absTotal = 60;
    want.polFirst = 2;
    want.polTotal = 20;
    want.testVoltage = 2500;
    want.serialNumber = 0x1F;
    want.letter = 0xA8;
    want.flags = 5;
    EXPECT_EQ(sim.settings(), want);
}

TEST(Console, DrivesMeasurementsAndPower) {
    PtySimulator sim;
    Console console(sim);
    console.execute(QStringLiteral("measure 0"));
    console.execute(QStringLiteral("result 1000 1234 2000 1620"));
    console.execute(QStringLiteral("key a"));
    EXPECT_EQ(sim.lastResult(), (Result{1000, 1234, 2000, 1620}));
    EXPECT_EQ(sim.core().lastKind(), kindAbsorption);

    console.execute(QStringLiteral("fail"));
    console.execute(QStringLiteral("key u"));
    EXPECT_EQ(sim.counters().failuresSent, 1u);

    console.execute(QStringLiteral("off"));
    EXPECT_FALSE(sim.answersPolls());
    EXPECT_TRUE(console.execute(QStringLiteral("key r")).contains(QLatin1String("ignored")));
    console.execute(QStringLiteral("on"));
    EXPECT_TRUE(sim.answersPolls());
    EXPECT_TRUE(
        console.execute(QStringLiteral("status")).contains(QLatin1String("results 1, failures 1")));
    EXPECT_FALSE(console.quitRequested());
    console.execute(QStringLiteral("quit"));
    EXPECT_TRUE(console.quitRequested());
}
