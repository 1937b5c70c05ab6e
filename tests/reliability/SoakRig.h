#pragma once
// The parts a long series runs through, joined as the main window joins
// them: the instrument simulator on a real pty at full speed, the serial
// channel, the decoder, the periodic series and the report with its engine.
// Time is accelerated: the channel's and the series' clocks jump ahead on
// every reading, and the pause between measurements is cut short, so a
// series runs as fast as the pty and the report take it.

#include "PtySimulator.h"
#include "ScriptedDialogs.h"
#include "link/Protocol.h"
#include "link/TComChannel.h"
#include "period/TPeriodSeries.h"
#include "report/ReportView.h"
#include "report/TRepWorkbook.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace t5170::testing {

// The main window's share of the report: its labels and the two result
// records.
class RigView : public report::ReportView {
public:
    RigView(const TIzmResult& latest, const TIzmResult& previous)
        : latest_(latest), previous_(previous) {}

    QString status;
    void setStatusText(const QString& text) override { status = text; }
    QString labelText(report::RepLabel l) const override { return labels_.value(int(l)); }
    void setLabelText(report::RepLabel l, const QString& t) override { labels_[int(l)] = t; }
    bool labelShown(report::RepLabel l) const override { return !hidden_.value(int(l)); }
    void setLabelShown(report::RepLabel l, bool shown) override { hidden_[int(l)] = !shown; }
    QString resultText(report::Which which, report::ResultLabel label) const override;
    bool resultShown(report::Which which, report::ResultLabel label) const override;
    const TIzmResult& result(report::Which which) const override {
        return which == report::Which::Latest ? latest_ : previous_;
    }
    void enableAddButton(report::Which which) override { addEnabled_[int(which) - 1] = true; }
    bool addButtonEnabled(report::Which which) const override {
        return addEnabled_[int(which) - 1];
    }
    QString showCaption() const override { return showCaption_; }
    void setShowCaption(const QString& caption) override { showCaption_ = caption; }

private:
    const TIzmResult& latest_;
    const TIzmResult& previous_;
    QMap<int, QString> labels_;
    QMap<int, bool> hidden_;
    std::array<bool, 2> addEnabled_{};
    QString showCaption_;
};

class SoakRig : public QObject, public PeriodHost {
    Q_OBJECT
public:
    SoakRig();
    ~SoakRig() override;

    // Plugs the simulator in and opens the channel on it; false on failure.
    bool start();

private:
    // The accelerated clock: every reading is a good deal later than the last.
    std::int64_t now_ = 0;
    std::int64_t readClock() { return now_ += 1000; }

public:
    sim::PtySimulator sim;
    TComChannel channel;
    TPeriodSeries series;
    TIzmResult tek;
    TIzmResult prev;
    RigView view{tek, prev};
    ScriptedDialogs dialogs;
    report::TRepWorkbook report{view, dialogs};
    bool autoAdd = true;

    // What the rig saw.
    bool connected = false;
    std::uint64_t completes = 0; // 0x5E decoded
    std::uint64_t finished = 0;  // 0x5B decoded
    std::uint64_t failed = 0;    // 0x67 decoded
    std::uint64_t ticks = 0;
    int startButtonEnabled = 0; // times the series gave the start button back
    bool seriesLineShown = false;

    // Starts a series of `count` measurements of `kind`, as the start button
    // does with "periodic" checked: the series first, then the first start
    // code.
    void startSeries(TIzmType kind, int count);
    // One measurement without a series.
    void startOne(TIzmType kind);
    // Runs the event loop until `done` holds or nothing has happened for
    // `quietMs` of real time; returns done().
    bool runUntil(const std::function<bool()>& done, int quietMs = 10000);

    // PeriodHost
    void setStatusText(const QString& text) override { view.status = text; }
    void sendByte(std::uint8_t byte) override { channel.SendByte(byte); }
    void enableStartButton() override { ++startButtonEnabled; }
    void showSeriesLine(const QString&) override { seriesLineShown = true; }
    void hideSeriesLine() override { seriesLineShown = false; }

private:
    void tick();
    void apply(const Event& e);

    QTimer readTimer_;
    std::vector<Event> events_;
};

} // namespace t5170::testing
