// The measurement journal's figures (printed, never pass/fail):
//  - the main window against the simulator with the journal on and off:
//    the event loop's stalls while measurements come in, and the latency
//    from a result's 0x5E to its commit (p50, p99);
//  - a journal of 1,000,000 results: writing it, opening the journal window
//    on it, a page deep down, each filter and a sort.
//
//   build/bench/bench_journal [RESULTS]     (default 1,000,000)
//
// The simulator runs as its own process (build/bin/t5170-sim).

#include "core/Texts.h"
#include "journal/Journal.h"
#include "journal/ui/JournalWindow.h"
#include "link/ResultRecords.h"
#include "shell/Conpc.h"
#include "shell/JournalRecorder.h"
#include "shell/Messages.h"
#include "shell/Startup.h"

#include "Heartbeat.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <vector>

namespace {

using namespace t5170;
using t5170::bench::Heartbeat;
using t5170::bench::spin;
using t5170::bench::waitUntil;

void figure(const QString& what, const QString& goal, const QString& measured) {
    std::printf("figure\t%s\t%s\t%s\n", qPrintable(what), qPrintable(goal), qPrintable(measured));
    std::fflush(stdout);
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

QString ms(double v) {
    return QStringLiteral("%1 ms").arg(v, 0, 'f', 2);
}

// Measurements one after the other; the stalls of the event loop meanwhile.
bool measure(TFormMain& m, int count, Heartbeat& beat) {
    beat.start();
    for (int i = 0; i < count; ++i) {
        if (!waitUntil([&] { return m.ButtonStart->isEnabled(); }, 10000))
            return false;
        m.ButtonStartClick();
        if (!waitUntil([&] { return !m.ButtonStart->isEnabled(); }, 1000))
            return false;
    }
    const bool done = waitUntil([&] { return m.ButtonStart->isEnabled(); }, 10000);
    spin(300);
    beat.stop();
    return done;
}

int windowFigures(const QString& simPath, QTemporaryDir& dir) {
    const QString link = dir.filePath(QStringLiteral("instrument"));
    QProcess sim;
    sim.setProgram(simPath);
    sim.setArguments(
        {QStringLiteral("--link"), link, QStringLiteral("--measure-ms"), QStringLiteral("100")});
    sim.start();
    if (!sim.waitForStarted() || !waitUntil([&] { return QFile::exists(link); }, 5000)) {
        std::fprintf(stderr, "bench_journal: cannot start %s\n", qPrintable(simPath));
        return 1;
    }
    const QString ini = dir.filePath(QStringLiteral("t5170.INI"));
    {
        QFile f(ini);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("[Main]\nIzmR=1\nAutoAdd=1\n[Connection]\nComPort=" + link.toUtf8() + "\n");
    }
    ProgramWindows w = createWindows(ini);
    TFormMain& m = *w.main;
    m.show();
    if (!waitUntil([&] { return m.DeviceConnected && !m.panelText(3).isEmpty(); }, 5000)) {
        std::fprintf(stderr, "bench_journal: the instrument did not connect\n");
        return 1;
    }
    m.report().CreateReport();
    journal::Journal* j = w.journal->journal();
    if (!j)
        return 1;

    // 0x5E to commit: from resultCompleted (the decoder's pass, after the
    // journal queued the entry and its row) to the writer's commit of both.
    std::deque<std::pair<qint64, qint64>> waiting; // write, ns at 0x5E
    std::vector<double> latency;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&m, &TFormMain::resultCompleted, j,
                     [&] { waiting.emplace_back(j->queued(), clock.nsecsElapsed()); });
    QObject::connect(j, &journal::Journal::committed, [&](qint64 seq) {
        // Queued signals arrive late by the event loop's own delay; the
        // writer's commit time is taken as the signal's arrival.
        while (!waiting.empty() && waiting.front().first <= seq) {
            latency.push_back(double(clock.nsecsElapsed() - waiting.front().second) / 1e6);
            waiting.pop_front();
        }
    });
    const int count = 30;
    Heartbeat warm, on, off;
    // The first measurements lay out labels and the report's sheets for the
    // first time, journal or not.
    if (!measure(m, 3, warm))
        return 1;
    latency.clear();
    if (!measure(m, count, on))
        return 1;
    figure(QStringLiteral("Journal: 0x5E to commit, p50 (%1 results)").arg(latency.size()),
           QStringLiteral("< 100 ms"), ms(percentile(latency, 0.5)));
    figure(QStringLiteral("Journal: 0x5E to commit, p99"), QStringLiteral("< 100 ms"),
           ms(percentile(latency, 0.99)));
    figure(QStringLiteral("Journal: 0x5E to commit, max"), QStringLiteral("< 100 ms"),
           ms(latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end())));
    figure(QStringLiteral("Journal on: event-loop stall during %1 measurements, max").arg(count),
           QStringLiteral("< 20 ms, as with it off"), ms(on.maxGap()));
    figure(QStringLiteral("Journal on: event-loop stall, p99"), QStringLiteral("—"),
           ms(on.percentile(0.99)));

    w.journal.reset(); // the program without a journal
    if (!measure(m, count, off))
        return 1;
    figure(QStringLiteral("Journal off: event-loop stall during %1 measurements, max").arg(count),
           QStringLiteral("< 20 ms"), ms(off.maxGap()));
    figure(QStringLiteral("Journal off: event-loop stall, p99"), QStringLiteral("—"),
           ms(off.percentile(0.99)));

    m.report().IsSaved = true;
    m.close();
    w = {};
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}

TIzmResult sample(QRandomGenerator& rnd, const QDateTime& at) {
    const auto kind = static_cast<TIzmType>(rnd.bounded(4));
    const auto volts = std::uint16_t(100 * (1 + rnd.bounded(25)));
    const std::int32_t kOm = rnd.bounded(3000000);
    const std::int32_t kOm2 = rnd.bounded(3000000);
    return makeResult(kind, volts, kOm, kOm2, std::uint16_t(rnd.bounded(3000)), at);
}

int largeFigures(QTemporaryDir& dir, int results) {
    const QString path = dir.filePath(QStringLiteral("big.journal.sqlite"));
    QElapsedTimer t;
    {
        journal::OpenOutcome outcome;
        auto j = journal::Journal::open(path, outcome);
        if (!j)
            return 1;
        QRandomGenerator rnd(13);
        // Three years of results, one every 90 seconds or so.
        const QDateTime first(QDate(2024, 1, 1), QTime(8, 0));
        const qint64 report = j->reportBegan(journal::ReportEvent::Created);
        t.start();
        for (int i = 0; i < results; ++i) {
            const qint64 id = j->append(sample(rnd, first.addSecs(qint64(i) * 90)),
                                        {QString(QChar(u'А' + i % 5)), 1000 + (i / 50000)});
            if (i % 10 == 0)
                j->placed(id, report, izmR, 2 + i / 10,
                          QStringLiteral("цех %1.xls").arg(i / 20000));
            if (i % 20000 == 0)
                waitUntil([&] { return j->pending() < 40000; }, 60000);
        }
        j->flush();
    }
    figure(QStringLiteral("Journal: writing %1 results (each a queued write, committed in "
                          "batches)")
               .arg(results),
           QStringLiteral("—"),
           QStringLiteral("%1 s, %2 MB")
               .arg(double(t.elapsed()) / 1000.0, 0, 'f', 1)
               .arg(double(QFileInfo(path).size()) / 1e6, 0, 'f', 0));

    {
        // At start-up, before the main window is shown: the whole file is
        // checked for damage.
        t.restart();
        journal::OpenOutcome outcome;
        auto j = journal::Journal::open(path, outcome);
        figure(QStringLiteral("Journal: opening it at start-up, %1 results (checked, WAL, "
                              "recovery looked for)")
                   .arg(results),
               QStringLiteral("< 2 s"), ms(double(t.nsecsElapsed()) / 1e6));
    }

    t.restart();
    journal::JournalWindow window(path, dir.filePath(QStringLiteral("t5170.INI")));
    window.show();
    journal::JournalModel& model = window.model();
    waitUntil([&] { return window.isVisible() && model.rowCount() > 0; }, 10000);
    figure(QStringLiteral("Journal window opened on %1 results (first page shown)").arg(results),
           QStringLiteral("< 200 ms"), ms(double(t.nsecsElapsed()) / 1e6));

    // A query runs on the model's reader thread: from the request to the rows
    // shown, and the longest stall of the window meanwhile.
    const auto timed = [&](const QString& what, const QString& goal, const auto& step) {
        Heartbeat beat;
        beat.start();
        QElapsedTimer s;
        s.start();
        step();
        waitUntil([&] { return !model.busy(); }, 60000);
        const double took = double(s.nsecsElapsed()) / 1e6;
        beat.stop();
        figure(what, goal,
               ms(took) + QStringLiteral(", %1 rows shown, window stalled at most %2")
                              .arg(model.rowCount())
                              .arg(ms(beat.maxGap())));
    };
    timed(QStringLiteral("Journal window: scrolling, the next page"), QStringLiteral("< 50 ms"),
          [&] { model.fetchMore({}); });
    {
        journal::Reader reader(path);
        QElapsedTimer s;
        s.start();
        const auto page = reader.page({}, {}, results / 2, journal::JournalModel::PageSize);
        figure(QStringLiteral("Journal: a page half-way down (offset %1)").arg(results / 2),
               QStringLiteral("—"), ms(double(s.nsecsElapsed()) / 1e6));
    }
    journal::Filter f;
    f.kind = izmAbs;
    timed(QStringLiteral("Journal window: filter by kind"), QStringLiteral("< 200 ms"),
          [&] { model.setFilter(f); });
    f = {};
    f.from = QDate(2025, 3, 1);
    f.to = QDate(2025, 3, 1);
    timed(QStringLiteral("Journal window: filter by one day"), QStringLiteral("< 200 ms"),
          [&] { model.setFilter(f); });
    f.from = QDate(2025, 1, 1);
    f.to = QDate(2025, 12, 31);
    f.kind = izmPol;
    timed(QStringLiteral("Journal window: filter by a year and a kind"), QStringLiteral("< 200 ms"),
          [&] { model.setFilter(f); });
    f = {};
    f.text = QStringLiteral("Б1005");
    timed(QStringLiteral("Journal window: filter by instrument"),
          QStringLiteral("< 1000 ms, the window never stalled 20 ms"), [&] { model.setFilter(f); });
    f = {};
    f.text = QStringLiteral("нет такого");
    timed(QStringLiteral("Journal window: filter by a text no entry has (a full scan)"),
          QStringLiteral("< 1000 ms, the window never stalled 20 ms"), [&] { model.setFilter(f); });
    f = {};
    timed(QStringLiteral("Journal window: all again"), QStringLiteral("< 200 ms"),
          [&] { model.setFilter(f); });
    for (journal::Column c : {journal::Column::U, journal::Column::R, journal::Column::Kind,
                              journal::Column::Device, journal::Column::Report})
        timed(QStringLiteral("Journal window: sort by %1").arg(journal::columnTitle(c)),
              QStringLiteral("< 200 ms"), [&] { model.sort(int(c), Qt::AscendingOrder); });
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("T5170"));
    setErrorBoxHandler([](QWidget*, const QString& caption, const QString& text) {
        std::fprintf(stderr, "error box: %s: %s\n", qPrintable(caption), qPrintable(text));
    });
    const QStringList args = QApplication::arguments();
    const int results = args.size() > 1 ? args[1].toInt() : 1000000;
    QTemporaryDir dir;
    const QString binDir =
        QFileInfo(QApplication::applicationDirPath() + "/../bin").absoluteFilePath();
    if (const int rc = windowFigures(QDir(binDir).filePath(QStringLiteral("t5170-sim")), dir))
        return rc;
    return largeFigures(dir, results);
}
