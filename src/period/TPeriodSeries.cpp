#include "period/TPeriodSeries.h"

#include "core/Texts.h"
#include "link/Protocol.h"

#include <climits>

namespace t5170 {

std::uint32_t IntervalToMs(int value, int unit) {
    const auto v = static_cast<std::uint32_t>(value);
    switch (unit) {
    case 0:
        return v * 1000u;
    case 1:
        return v * 60000u;
    case 2:
        return v * 3600000u;
    default:
        return 1u;
    }
}

QString seriesCountText(int left) {
    return QStringLiteral("Осталось провести : ") + text::decimal(left) +
           QStringLiteral(" измерений");
}

QString seriesTimeText(std::uint32_t totalMs, std::uint32_t elapsedMs) {
    // A poll tick may fall after the total has passed but before the total
    // timer's own tick stops the series; the unsigned difference would wrap.
    const std::uint32_t r = elapsedMs >= totalMs ? 0u : totalMs - elapsedMs;
    const std::uint32_t h = r / 3600000u;
    const std::uint32_t m = r / 60000u - 60u * h;
    const std::uint32_t s = r / 1000u - (3600u * h + 60u * m);
    return QStringLiteral("Окончание периодических измерений через : ") + text::decimal(h) +
           QLatin1Char(':') + text::decimal(m) + QLatin1Char(':') + text::decimal(s);
}

namespace {

// Enabling a timer that already runs with this interval must not restart its
// count (QTimer::start() would).
void enable(QTimer& timer, std::uint32_t ms) {
    const int interval = ms > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
    if (timer.isActive() && timer.interval() == interval)
        return;
    timer.start(interval);
}

} // namespace

TPeriodSeries::TPeriodSeries(PeriodHost& host, MsClock clock, QObject* parent)
    : QObject(parent), host_(host), clock_(orMonotonic(std::move(clock))) {
    TimerPeriod.setObjectName(QStringLiteral("TimerPeriod"));
    TimerFullPerIzm.setObjectName(QStringLiteral("TimerFullPerIzm"));
    // A pause of an hour or a total of 100 hours should not drift by the
    // coarse timers' few percent.
    TimerPeriod.setTimerType(Qt::PreciseTimer);
    TimerFullPerIzm.setTimerType(Qt::PreciseTimer);
    connect(&TimerPeriod, &QTimer::timeout, this, &TPeriodSeries::TimerPeriodTimer);
    connect(&TimerFullPerIzm, &QTimer::timeout, this, &TPeriodSeries::TimerFullPerIzmTimer);
}

std::uint32_t TPeriodSeries::tickCount() const {
    return static_cast<std::uint32_t>(clock_());
}

void TPeriodSeries::PeriodStart(const PeriodParams& params) {
    // A series started again while one runs (the start button comes back on a
    // new connection) begins afresh: a pause still armed would send a second
    // start code into the measurement the caller is starting now, and an old
    // total time would stop the new series at the wrong moment.
    TimerPeriod.stop();
    TimerFullPerIzm.stop();

    PeriodRunning = true;
    PeriodIntervalMs = IntervalToMs(params.intervalValue, params.intervalUnit);
    if (params.byCount) {
        PeriodByCount = true;
        PeriodLeft = params.count;
        return; // the caller sends the first start code
    }
    PeriodByCount = false;
    PeriodStartTick = tickCount();
    PeriodFullMs = IntervalToMs(params.fullTimeValue, params.fullTimeUnit);
    enable(TimerFullPerIzm, PeriodFullMs);
}

void TPeriodSeries::PeriodNext() {
    if (!PeriodRunning)
        return;
    if (PeriodByCount) {
        --PeriodLeft;
        if (PeriodLeft <= 0) {
            PeriodStop();
            return;
        }
    }
    // A measurement started on the instrument's own keys during a pause ends
    // here too; the pause under way then goes on unchanged.
    enable(TimerPeriod, PeriodIntervalMs);
}

void TPeriodSeries::PeriodStop() {
    PeriodRunning = false;
    TimerPeriod.stop();
    TimerFullPerIzm.stop();
    host_.enableStartButton();
    host_.hideSeriesLine();
}

void TPeriodSeries::PeriodShowState() {
    if (PeriodByCount)
        host_.showSeriesLine(seriesCountText(PeriodLeft));
    else
        host_.showSeriesLine(seriesTimeText(PeriodFullMs, tickCount() - PeriodStartTick));
}

void TPeriodSeries::TimerPeriodTimer() {
    TimerPeriod.stop(); // once per arming
    // The main window's kind selection is not consulted: the series repeats
    // the kind it was started with.
    host_.setStatusText(text::measuringStatus(StartKind));
    host_.sendByte(startCode(StartKind));
}

void TPeriodSeries::TimerFullPerIzmTimer() {
    PeriodStop();
}

void TPeriodSeries::CheckPeriodClick() {
    if (PeriodRunning)
        PeriodStop();
}

} // namespace t5170
