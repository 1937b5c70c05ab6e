// The periodic series against a recording window. Time runs through the
// injected clock and the timer handlers are invoked directly once the test
// has checked which timer is armed with which interval, so a series of
// minutes runs in microseconds. Two tests let the event loop fire real
// 1 ms timers to prove the handlers are connected.

#include "period/TPeriodSeries.h"

#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace t5170;

namespace {

struct RecordingHost : PeriodHost {
    std::vector<QString> status;
    std::vector<std::uint8_t> sent;
    int startEnabled = 0;
    int hides = 0;
    QString line;
    bool lineVisible = false;

    void setStatusText(const QString& text) override { status.push_back(text); }
    void sendByte(std::uint8_t byte) override { sent.push_back(byte); }
    void enableStartButton() override { ++startEnabled; }
    void showSeriesLine(const QString& text) override {
        line = text;
        lineVisible = true;
    }
    void hideSeriesLine() override {
        lineVisible = false;
        ++hides;
    }
};

PeriodParams byCount(int count, int intervalValue = 1, int intervalUnit = 1) {
    PeriodParams p;
    p.byCount = true;
    p.count = count;
    p.intervalValue = intervalValue;
    p.intervalUnit = intervalUnit;
    return p;
}

PeriodParams byTime(int value, int unit, int intervalValue = 1, int intervalUnit = 1) {
    PeriodParams p;
    p.byCount = false;
    p.count = 7; // must not matter
    p.fullTimeValue = value;
    p.fullTimeUnit = unit;
    p.intervalValue = intervalValue;
    p.intervalUnit = intervalUnit;
    return p;
}

const QString TimePrefix = QStringLiteral("Окончание периодических измерений через : ");

class Series : public ::testing::Test {
protected:
    RecordingHost host;
    std::int64_t now = 5'000'000;
    TPeriodSeries series{host, [this] { return now; }};

    void expectIdle() {
        EXPECT_FALSE(series.isRunning());
        EXPECT_FALSE(series.timerPeriod().isActive());
        EXPECT_FALSE(series.timerFullPerIzm().isActive());
        EXPECT_EQ(host.startEnabled, 1);
        EXPECT_FALSE(host.lineVisible);
    }
};

TEST(IntervalToMs, UnitsAndNoSelection) {
    struct Case {
        int value, unit;
        std::uint32_t ms;
    };
    for (const Case& c : {Case{1, 0, 1000}, Case{100, 0, 100000}, Case{1, 1, 60000},
                          Case{100, 1, 6000000}, Case{1, 2, 3600000}, Case{100, 2, 360000000},
                          Case{1, -1, 1}, Case{100, -1, 1}, Case{5, 3, 1}})
        EXPECT_EQ(IntervalToMs(c.value, c.unit), c.ms) << c.value << " unit " << c.unit;
}

TEST_F(Series, CountOneStopsAtOnceWithoutPause) {
    series.StartKind = izmR;
    series.PeriodStart(byCount(1));
    EXPECT_TRUE(series.isRunning());
    EXPECT_FALSE(series.timerPeriod().isActive());
    EXPECT_FALSE(series.timerFullPerIzm().isActive());
    series.PeriodShowState();
    EXPECT_EQ(host.line, QStringLiteral("Осталось провести : 1 измерений"));
    EXPECT_TRUE(host.lineVisible);

    series.PeriodNext();
    expectIdle();
    EXPECT_TRUE(host.sent.empty());
}

// Three measurements one minute apart, for each kind: the first start code is
// the caller's, the series sends the second and third when the pause ends.
TEST_F(Series, CountThreeRepeatsTheStartedKind) {
    struct Case {
        TIzmType kind;
        const char* status;
        std::uint8_t code;
    };
    for (const Case& c : {Case{izmU, "Идет измерение напряжения", 0x57},
                          Case{izmR, "Идет измерение сопротивления", 0x58},
                          Case{izmAbs, "Идет измерение Абсорбции", 0x59},
                          Case{izmPol, "Идет измерение поляризации", 0x5A}}) {
        SCOPED_TRACE(c.status);
        host = RecordingHost{};
        series.PeriodStart(byCount(3));
        series.StartKind = c.kind; // set by the start button after its code
        series.PeriodShowState();
        EXPECT_EQ(host.line, QStringLiteral("Осталось провести : 3 измерений"));

        for (int step = 0; step < 2; ++step) {
            series.PeriodNext(); // the instrument reports the end
            EXPECT_EQ(series.left(), 2 - step);
            ASSERT_TRUE(series.timerPeriod().isActive());
            EXPECT_EQ(series.timerPeriod().interval(), 60000);
            series.PeriodShowState();
            EXPECT_EQ(host.line, seriesCountText(2 - step));

            series.TimerPeriodTimer();
            EXPECT_FALSE(series.timerPeriod().isActive()) << "the pause fires once per arming";
            ASSERT_EQ(host.sent.size(), std::size_t(step + 1));
            EXPECT_EQ(host.sent.back(), c.code);
            EXPECT_EQ(host.status.back(), QString::fromUtf8(c.status));
            EXPECT_EQ(host.startEnabled, 0);
        }
        series.PeriodNext();
        expectIdle();
        EXPECT_EQ(host.sent.size(), 2u);
    }
}

TEST_F(Series, TimeModeEndsDuringMeasurement) {
    series.StartKind = izmAbs;
    series.PeriodStart(byTime(1, 0)); // 1 s, shorter than the measurement
    EXPECT_FALSE(series.isByCount());
    EXPECT_EQ(series.startTick(), static_cast<std::uint32_t>(now));
    ASSERT_TRUE(series.timerFullPerIzm().isActive());
    EXPECT_EQ(series.timerFullPerIzm().interval(), 1000);
    EXPECT_FALSE(series.timerPeriod().isActive());

    now += 1000;
    series.TimerFullPerIzmTimer();
    expectIdle();
    // The decoder sees PeriodRunning false and handles the end as a single
    // measurement; a stray call must not arm a pause either.
    series.PeriodNext();
    EXPECT_FALSE(series.timerPeriod().isActive());
    EXPECT_TRUE(host.sent.empty());
}

TEST_F(Series, TimeModeTotalEndsDuringPause) {
    series.StartKind = izmU;
    series.PeriodStart(byTime(10, 1, 30, 0)); // 10 min total, 30 s pause
    for (int i = 0; i < 3; ++i) {
        series.PeriodNext();
        ASSERT_TRUE(series.timerPeriod().isActive());
        EXPECT_EQ(series.timerPeriod().interval(), 30000);
        series.TimerPeriodTimer();
    }
    EXPECT_EQ(host.sent, (std::vector<std::uint8_t>{0x57, 0x57, 0x57}));
    series.PeriodNext();
    series.TimerFullPerIzmTimer();
    expectIdle();
}

// A measurement started on the instrument's keys during the pause ends with
// the same report: it counts as a step, and the pause under way keeps its
// count instead of starting over.
TEST_F(Series, MeasurementFromInstrumentKeysDuringPause) {
    for (const PeriodParams& params : {byCount(3, 1, 2), byTime(100, 2, 1, 2)}) {
        SCOPED_TRACE(params.byCount ? "count" : "time");
        host = RecordingHost{};
        series.PeriodStart(params);
        series.PeriodNext();
        ASSERT_TRUE(series.timerPeriod().isActive());
        const int armed = series.timerPeriod().remainingTime();
        ASSERT_TRUE(QTest::qWaitFor([&] { return series.timerPeriod().remainingTime() < armed; }));
        const int before = series.timerPeriod().remainingTime();

        series.PeriodNext(); // the instrument's own measurement has ended
        ASSERT_TRUE(series.timerPeriod().isActive());
        EXPECT_EQ(series.timerPeriod().interval(), 3600000);
        EXPECT_LE(series.timerPeriod().remainingTime(), before) << "the pause was restarted";
        EXPECT_TRUE(host.sent.empty());
        if (params.byCount) {
            EXPECT_EQ(series.left(), 1);
            series.PeriodNext();
            expectIdle();
        } else {
            series.TimerFullPerIzmTimer();
            expectIdle();
        }
    }
}

TEST_F(Series, CheckPeriodClick) {
    series.CheckPeriodClick(); // idle: only the check mark changes
    EXPECT_EQ(host.startEnabled, 0);
    EXPECT_EQ(host.hides, 0);

    struct Case {
        const char* state;
        PeriodParams params;
        int reports; // measurement ends before the click
    };
    for (const Case& c :
         {Case{"measuring, count", byCount(5), 0}, Case{"pausing, count", byCount(5), 1},
          Case{"measuring, time", byTime(1, 2), 0}, Case{"pausing, time", byTime(1, 2), 2}}) {
        SCOPED_TRACE(c.state);
        host = RecordingHost{};
        series.PeriodStart(c.params);
        for (int i = 0; i < c.reports; ++i)
            series.PeriodNext();
        EXPECT_EQ(series.timerPeriod().isActive(), c.reports > 0);
        series.CheckPeriodClick();
        expectIdle();
        series.CheckPeriodClick(); // the next click while idle does nothing
        EXPECT_EQ(host.startEnabled, 1);
    }
}

// The time left counts down from the total with no leading zeros and never
// goes below zero, also across the 32-bit tick counter wrapping.
TEST_F(Series, TimeStatusLine) {
    struct Case {
        std::int64_t startAt;
        int value, unit;
        std::int64_t elapsed;
        const char* shown;
    };
    const std::int64_t wrap = std::int64_t(1) << 32;
    for (const Case& c : {
             Case{5'000'000, 1, 1, 0, "0:1:0"},
             Case{5'000'000, 1, 1, 1, "0:0:59"},
             Case{5'000'000, 1, 1, 999, "0:0:59"},
             Case{5'000'000, 1, 1, 1000, "0:0:59"},
             Case{5'000'000, 1, 1, 1001, "0:0:58"},
             Case{5'000'000, 2, 2, 7200000 - 3903000, "1:5:3"},
             Case{5'000'000, 100, 2, 0, "100:0:0"},
             Case{5'000'000, 1, 1, 59999, "0:0:0"},
             Case{5'000'000, 1, 1, 60000, "0:0:0"},
             Case{5'000'000, 1, 1, 60001, "0:0:0"}, // total passed, series not yet stopped
             Case{5'000'000, 1, 1, 3600000, "0:0:0"},
             Case{wrap - 500, 1, 1, 2000, "0:0:58"}, // tick counter wraps in between
             Case{wrap - 500, 1, 1, 60500, "0:0:0"},
             Case{3 * wrap + 10, 2, 0, 500, "0:0:1"},
         }) {
        SCOPED_TRACE(c.shown);
        now = c.startAt;
        series.PeriodStart(byTime(c.value, c.unit));
        now += c.elapsed;
        series.PeriodShowState();
        EXPECT_EQ(host.line, TimePrefix + QLatin1String(c.shown));
        EXPECT_TRUE(host.lineVisible);
    }
}

TEST_F(Series, CountStatusLineTakesNoPluralForms) {
    for (int n : {1, 2, 5, 21, 1000}) {
        series.PeriodStart(byCount(n));
        series.PeriodShowState();
        EXPECT_EQ(host.line,
                  QStringLiteral("Осталось провести : ") + QString::number(n) + " измерений");
    }
}

// Started again while running (the start button returns on a new connection):
// the new series begins afresh, without the old pause or total.
TEST_F(Series, StartAgainWhileRunningDropsOldTimers) {
    series.StartKind = izmR;
    series.PeriodStart(byTime(1, 2));
    series.PeriodNext();
    ASSERT_TRUE(series.timerPeriod().isActive());

    series.PeriodStart(byCount(4)); // the caller sends its start code now
    EXPECT_FALSE(series.timerPeriod().isActive()) << "a second start code would follow";
    EXPECT_FALSE(series.timerFullPerIzm().isActive()) << "the old total would stop this series";
    EXPECT_EQ(series.left(), 4);

    // Time mode again with the same total counts from the new start.
    series.PeriodStart(byTime(1, 2));
    const int armed = series.timerFullPerIzm().remainingTime();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return series.timerFullPerIzm().remainingTime() < armed - 200; }));
    const int before = series.timerFullPerIzm().remainingTime();
    now += 1800000;
    series.PeriodStart(byTime(1, 2));
    EXPECT_GT(series.timerFullPerIzm().remainingTime(), before);
    series.PeriodShowState();
    EXPECT_EQ(host.line, TimePrefix + "1:0:0");
}

// Real timers through the event loop: an interval unit with no selection
// gives a 1 ms pause, so the next measurement starts right after the end.
TEST_F(Series, TimersFireThroughTheEventLoop) {
    series.StartKind = izmPol;
    series.PeriodStart(byCount(2, 50, -1));
    series.PeriodNext();
    EXPECT_EQ(series.intervalMs(), 1u);
    EXPECT_EQ(series.timerPeriod().interval(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.sent.empty(); }, 10000));
    EXPECT_EQ(host.sent, std::vector<std::uint8_t>{0x5A});
    EXPECT_FALSE(series.timerPeriod().isActive());

    series.PeriodStart(byTime(50, -1));
    EXPECT_EQ(series.timerFullPerIzm().interval(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !series.isRunning(); }, 10000));
    expectIdle();
}

} // namespace
