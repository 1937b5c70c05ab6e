// Prints how long the trend window takes to open 100,000 results of the
// journal and draw them, to pan one step over them, and how long one new
// point holds the window up on a chart of 10,000 points.
//
//   build/bin/bench_trend            (runs offscreen when no display is set)

#include "core/Texts.h"
#include "journal/Journal.h"
#include "link/ResultRecords.h"
#include "trend/ui/TrendWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace t5170;

namespace {

const QDateTime Start(QDate(2026, 1, 5), QTime(6, 0, 0));

// A drying curve read every few minutes, with absorption readings between.
TIzmResult reading(int i) {
    const int kOm = static_cast<int>(500 * std::pow(1.0001, i)) + (i * 7919) % 300;
    return makeResult(i % 4 == 3 ? izmAbs : izmR, 2500, kOm, kOm + kOm / 3,
                      std::uint16_t(1000 + (i % 700)), Start.addSecs(180LL * i));
}

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
    constexpr int Big = 100000, Medium = 10000;
    {
        journal::OpenOutcome outcome;
        auto j = journal::Journal::open(path, outcome);
        if (!j) {
            std::fprintf(stderr, "bench_trend: no journal: %s\n", qPrintable(outcome.message()));
            return 1;
        }
        for (int i = 0; i < Big; ++i)
            j->append(reading(i), {});
        j->flush();
    }

    trend::TrendWindow w(path);
    w.resize(1200, 700);
    w.show();
    app.processEvents();

    QElapsedTimer t;
    t.start();
    w.showDates(Start.date(), reading(Big - 1).Time.date());
    w.repaint();
    const double open = ms(t);
    if (w.data().results().size() != std::size_t(Big)) {
        std::fprintf(stderr, "bench_trend: %zu results shown, not %d\n", w.data().results().size(),
                     Big);
        return 1;
    }
    std::printf(
        "figure\tTrend window: %d results from the journal opened and drawn\t< 1 s\t%.0f ms\n", Big,
        open);

    // Panning: zoomed to a tenth, then one step right per key press.
    w.chart()->zoom(10);
    app.processEvents();
    std::vector<double> pans;
    for (int i = 0; i < 20; ++i) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        t.restart();
        QApplication::sendEvent(w.chartView(), &right);
        app.processEvents(); // the part now in view drawn again from the exact points
        w.repaint();
        pans.push_back(ms(t));
    }
    std::sort(pans.begin(), pans.end());
    std::printf(
        "figure\tTrend window: one pan step over %d results, slowest of 20\t< 40 ms (fluid)\t"
        "%.1f ms (median %.1f ms)\n",
        Big, pans.back(), pans[pans.size() / 2]);

    std::vector<TIzmResult> some;
    for (int i = 0; i < Medium; ++i)
        some.push_back(reading(i));
    w.showResults(some);
    w.repaint();
    std::vector<double> appends;
    for (int i = Medium; i < Medium + 100; ++i) {
        t.restart();
        w.appendResult(reading(i));
        app.processEvents();
        w.repaint();
        appends.push_back(ms(t));
    }
    std::sort(appends.begin(), appends.end());
    std::printf(
        "figure\tTrend window: one point appended to a chart of %d points and drawn, slowest "
        "of 100\t< 20 ms\t%.1f ms (median %.1f ms)\n",
        Medium, appends.back(), appends[appends.size() / 2]);
    return 0;
}
