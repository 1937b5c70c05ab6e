#include "SoakRig.h"

#include "core/Texts.h"
#include "link/ResultRecords.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace t5170::testing {

QString RigView::resultText(report::Which which, report::ResultLabel label) const {
    const TIzmResult& r = result(which);
    switch (label) {
    case report::ResultLabel::Type:
        return text::kindCaption(r.Kind);
    case report::ResultLabel::U:
        return voltageLabel(r.U);
    case report::ResultLabel::R:
        return resistanceLabel(rangeResistance(r.RkOm));
    case report::ResultLabel::R2:
        return resistance2Label(rangeResistance(r.R2kOm));
    case report::ResultLabel::Koef:
        return koefLabel(r.Koef);
    case report::ResultLabel::Time:
        return text::timeNoZeros(r.Time.time());
    }
    return {};
}

bool RigView::resultShown(report::Which which, report::ResultLabel label) const {
    const TIzmType kind = result(which).Kind;
    switch (label) {
    case report::ResultLabel::R:
        return kind != izmU;
    case report::ResultLabel::R2:
    case report::ResultLabel::Koef:
        return kind == izmAbs || kind == izmPol;
    default:
        return true;
    }
}

SoakRig::SoakRig()
    : channel(nullptr, [this] { return readClock(); }),
      series(*this, [this] { return readClock(); }) {
    sim.setMeasureDurationMs(0);
    readTimer_.setInterval(0);
    readTimer_.setTimerType(Qt::PreciseTimer);
    connect(&readTimer_, &QTimer::timeout, this, &SoakRig::tick);
}

SoakRig::~SoakRig() {
    readTimer_.stop();
    channel.ClosePort();
}

bool SoakRig::start() {
    if (!sim.start())
        return false;
    if (!channel.OpenPort(sim.devicePath()))
        return false;
    channel.PortOpen = true;
    readTimer_.start();
    return true;
}

void SoakRig::startSeries(TIzmType kind, int count) {
    PeriodParams p;
    p.intervalValue = 1;
    p.intervalUnit = 0; // a second, cut short by the rig
    p.byCount = true;
    p.count = count;
    series.PeriodStart(p);
    startOne(kind);
}

void SoakRig::startOne(TIzmType kind) {
    series.StartKind = kind;
    channel.SendByte(startCode(kind));
}

bool SoakRig::runUntil(const std::function<bool()>& done, int quietMs) {
    QElapsedTimer quiet;
    quiet.start();
    std::uint64_t seen = sim.pollsAnswered() + completes;
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const std::uint64_t now = sim.pollsAnswered() + completes;
        if (now != seen) {
            seen = now;
            quiet.restart();
        } else if (quiet.elapsed() > quietMs) {
            return false;
        }
    }
    return true;
}

// The window's ReadTimer tick: drain, decode, act, poll, series line.
void SoakRig::tick() {
    // As the window does, a tick waits for the bytes still going out: no
    // pass judges a poll that has not been sent.
    if (channel.queuedBytes() > 0)
        return;
    ++ticks;
    channel.DrainReceived();
    events_.clear();
    const std::size_t used =
        decode(channel.RxBuf.data(), static_cast<std::size_t>(channel.RxCount), events_);
    channel.consume(static_cast<int>(used));
    for (const Event& e : events_)
        apply(e);
    channel.SendByte(code::Poll);
    if (series.isRunning()) {
        series.PeriodShowState();
        // The pause between measurements passes at once.
        if (series.timerPeriod().isActive())
            series.TimerPeriodTimer();
    }
    // The simulator keeps every byte it heard; that is the test's memory,
    // not the program's.
    if (sim.received().size() > 4096)
        sim.clearLog();
}

void SoakRig::apply(const Event& e) {
    // The records as the window keeps them; what the window does besides
    // (labels, buttons, the settings dialog) the rig only counts.
    if (applyToResults(e, tek, prev, QDateTime::currentDateTime()))
        return;
    if (std::holds_alternative<ev::PollAnswer>(e)) {
        connected = true;
    } else if (std::holds_alternative<ev::ResultComplete>(e)) {
        ++completes;
        if (autoAdd)
            report.AddRecord(report::Which::Latest);
    } else if (std::holds_alternative<ev::Finished>(e)) {
        ++finished;
        series.PeriodNext();
        channel.SendByte(code::FinishedAck);
    } else if (std::holds_alternative<ev::Failed>(e)) {
        ++failed;
        series.PeriodNext();
    }
}

} // namespace t5170::testing
