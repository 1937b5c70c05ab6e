// Adding records at the instrument's full speed: the simulator on a pty
// measuring with no delay, the main window decoding every result and adding
// it to an open report, a heartbeat timer watching for stalls.
//
// Two runs of N results (default 10,000; first argument overrides; the
// second argument, 1 to 4, is how many kinds take turns, 4 by default):
//  1. one result in flight at a time. CheckAutoAdd is unchecked and each
//     result is added right after its decode pass by AddRecord, timed
//     alone: the distribution of one add;
//  2. a flood with CheckAutoAdd checked: the simulator keeps up to 200
//     results ahead of the window, which adds them from the decoder.
// Each report is then saved (.xls and .xlsx), its rows counted in the file,
// and opened again.

#include "PtySimulator.h"
#include "report/ReportDialogs.h"
#include "report/TRepWorkbook.h"
#include "sheet/Automation.h"
#include "shell/Conpc.h"
#include "shell/Messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

using namespace t5170;

namespace {

class BenchDialogs : public report::ReportDialogs {
public:
    QString saveName;
    QString openName;
    int errors = 0;
    void errorBox(const QString& caption, const QString& text) override {
        ++errors;
        std::printf("  ! box [%s] %s\n", qPrintable(caption), qPrintable(text));
    }
    bool askYesNo(const QString&, const QString&) override { return false; }
    std::optional<QString> openFileName() override { return openName; }
    std::optional<QString> saveFileName() override { return saveName; }
};

int rowsOf(const report::TRepWorkbook& r) {
    return std::accumulate(r.NextRow.begin(), r.NextRow.end(), 0) - 8;
}

// Rows with a date in column 1, over the four sheets, read back from the file.
int rowsInFile(const QString& path) {
    auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    auto book = app->WorkBooks()->Open(path, 0, false, 1);
    int rows = 0;
    for (int s = 1; s <= 4; ++s) {
        auto sheet = book->WorkSheets(s);
        for (int r = 2; !sheet->Cells(r, 1)->Value().isEmpty(); ++r)
            ++rows;
    }
    app->Quit();
    return rows;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p / 100.0 * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void printDistribution(const char* what, const std::vector<double>& us) {
    if (us.empty())
        return;
    const double mean = std::accumulate(us.begin(), us.end(), 0.0) / double(us.size());
    std::printf("  %s (microseconds, %zu samples): mean %.1f  p50 %.1f  p90 %.1f  p99 %.1f  "
                "p99.9 %.1f  max %.1f\n",
                what, us.size(), mean, percentile(us, 50), percentile(us, 90), percentile(us, 99),
                percentile(us, 99.9), *std::max_element(us.begin(), us.end()));
    const double edges[] = {25, 50, 100, 250, 500, 1000};
    std::printf("    ");
    std::size_t below = 0;
    for (double e : edges) {
        const auto n = static_cast<std::size_t>(
            std::count_if(us.begin(), us.end(), [e](double x) { return x < e; }));
        std::printf("<%g: %zu  ", e, n - below);
        below = n;
    }
    std::printf(">=1000: %zu\n", us.size() - below);
}

struct Heartbeat {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 maxGapUs = 0;
    int over20ms = 0;
    Heartbeat() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed() / 1000;
            if (last >= 0) {
                maxGapUs = std::max(maxGapUs, now - last);
                over20ms += (now - last) > 20000 ? 1 : 0;
            }
            last = now;
        });
    }
    void start() {
        clock.start();
        last = -1;
        maxGapUs = 0;
        over20ms = 0;
        timer.start(1);
    }
    void stop() { timer.stop(); }
};

struct RunResult {
    std::vector<double> addUs;  // AddRecord alone (run 1), or passes with one add
    std::vector<double> passUs; // every pass that decoded or added something
    int maxAddsInPass = 0;
    double seconds = 0;
    qint64 maxGapUs = 0;
    int stalls = 0;
};

// Feeds `n` results from the simulator and lets the window decode them in
// back-to-back passes; `ahead` results may be in flight at once. With
// `direct`, the window does not add by itself: every result is added by a
// timed AddRecord once its pass has decoded it completely.
RunResult run(TFormMain& form, sim::PtySimulator& sim, int n, int ahead, int kinds, bool direct,
              Heartbeat& hb) {
    RunResult out;
    report::TRepWorkbook& rep = form.report();
    form.CheckAutoAdd->setChecked(!direct);
    const int start = rowsOf(rep);
    int sent = 0;
    int kind = 0;
    // Every result has its own voltage, so that its arrival can be told.
    auto voltsOf = [](int i) { return static_cast<quint16>(100 + i % 2000); };
    bool awaiting = false;
    QEventLoop loop;
    QTimer pass;
    QElapsedTimer wall;
    QObject::connect(&pass, &QTimer::timeout, [&] {
        const int before = rowsOf(rep);
        QElapsedTimer t;
        t.start();
        form.DecodeReceived();
        const double us = double(t.nsecsElapsed()) / 1000.0;
        const int added = rowsOf(rep) - before;
        if (direct) {
            // The awaited result, all of it decoded (it arrives in one write).
            if (awaiting && form.TekResult.U == voltsOf(sent - 1) && form.channel().RxCount == 0) {
                awaiting = false;
                out.passUs.push_back(us);
                QElapsedTimer a;
                a.start();
                rep.AddRecord(report::Which::Latest);
                out.addUs.push_back(double(a.nsecsElapsed()) / 1000.0);
            }
        } else {
            if (added == 1)
                out.addUs.push_back(us);
            if (added > 0)
                out.passUs.push_back(us);
            out.maxAddsInPass = std::max(out.maxAddsInPass, added);
        }
        const int done = rowsOf(rep) - start;
        if (done >= n || !rep.IsOpen) {
            loop.quit();
            return;
        }
        while (sent < n && sent - done < ahead && !awaiting) {
            sim.setNextResult({voltsOf(sent), 1234 + sent, 2500000, 1500});
            awaiting = direct;
            sim.startFromKeys(kind);
            kind = (kind + 1) % kinds;
            ++sent;
        }
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    hb.start();
    wall.start();
    pass.start(0);
    loop.exec();
    pass.stop();
    out.seconds = double(wall.nsecsElapsed()) / 1e9;
    hb.stop();
    out.maxGapUs = hb.maxGapUs;
    out.stalls = hb.over20ms;
    return out;
}

// Returns the rows found in the saved file.
int saveAndCheck(TFormMain& form, BenchDialogs& dialogs, const QString& path, int expected) {
    dialogs.saveName = path;
    QElapsedTimer t;
    t.start();
    form.report().SaveReportAs();
    const double saveMs = double(t.nsecsElapsed()) / 1e6;
    const int rows = rowsInFile(path);
    std::printf("  saved %s: %.1f ms, %lld bytes, %d rows in the file (%s)\n",
                qPrintable(QFileInfo(path).fileName()), saveMs, QFileInfo(path).size(), rows,
                rows == expected ? "exactly as added" : "MISMATCH");
    return rows;
}

void reopen(TFormMain& form, BenchDialogs& dialogs, const QString& path) {
    form.report().CloseReport();
    dialogs.openName = path;
    QElapsedTimer t;
    t.start();
    form.report().OpenClick();
    std::printf("  reopened %s: %.1f ms, %d rows found, last record %s %s\n",
                qPrintable(QFileInfo(path).fileName()), double(t.nsecsElapsed()) / 1e6,
                rowsOf(form.report()), qPrintable(form.LabRepRecDate->text()),
                qPrintable(form.LabRepRecTime->text()));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10000;
    // 4: the kinds take turns (labels shown and hidden on every result); 1:
    // voltage only, the labels keep their visibility.
    const int kinds = argc > 2 ? std::clamp(QString::fromLocal8Bit(argv[2]).toInt(), 1, 4) : 4;

    QTemporaryDir dir;
    sim::PtySimulator sim;
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    sim.setMeasureDurationMs(0);
    const QString ini = dir.filePath(QStringLiteral("t5170.INI"));
    {
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("[Main]\r\nAutoAdd=1\r\n[Connection]\r\nComPort=%1\r\n")
                    .arg(sim.devicePath())
                    .toUtf8());
    }
    int topLevelErrors = 0;
    setErrorBoxHandler([&](QWidget*, const QString&, const QString& text) {
        ++topLevelErrors;
        std::printf("  ! error box: %s\n", qPrintable(text));
    });

    BenchDialogs dialogs;
    Heartbeat hb;
    {
        TFormMain form(ini);
        form.report().setDialogs(dialogs);
        // The passes are driven back to back below, with no poll between.
        form.ReadTimer->stop();
        form.show();

        std::printf("report_add: %d results per run, %d kind(s) in turn\n", n, kinds);

        form.report().CreateReport();
        RunResult one = run(form, sim, n, 1, kinds, true, hb);
        std::printf("run 1, one result in flight: %d rows in %.2f s (%.0f adds/s)\n",
                    rowsOf(form.report()), one.seconds, rowsOf(form.report()) / one.seconds);
        printDistribution("each add, AddRecord alone", one.addUs);
        printDistribution("the decode pass before it", one.passUs);
        std::printf("  heartbeat: longest gap %.2f ms, gaps over 20 ms: %d\n",
                    double(one.maxGapUs) / 1000.0, one.stalls);
        const int rowsXls =
            saveAndCheck(form, dialogs, dir.filePath(QStringLiteral("run1.xls")), n);
        const int rowsXlsx =
            saveAndCheck(form, dialogs, dir.filePath(QStringLiteral("run1.xlsx")), n);
        reopen(form, dialogs, dir.filePath(QStringLiteral("run1.xls")));
        reopen(form, dialogs, dir.filePath(QStringLiteral("run1.xlsx")));

        form.report().CloseReport();
        form.report().CreateReport();
        RunResult flood = run(form, sim, n, 200, kinds, false, hb);
        std::printf("run 2, flood: %d rows in %.2f s (%.0f adds/s), up to %d adds in one pass\n",
                    rowsOf(form.report()), flood.seconds, rowsOf(form.report()) / flood.seconds,
                    flood.maxAddsInPass);
        printDistribution("each decode pass", flood.passUs);
        printDistribution("passes with one add", flood.addUs);
        std::printf("  heartbeat: longest gap %.2f ms, gaps over 20 ms: %d\n",
                    double(flood.maxGapUs) / 1000.0, flood.stalls);
        const int rowsFlood =
            saveAndCheck(form, dialogs, dir.filePath(QStringLiteral("run2.xls")), n);
        std::printf("simulator: %llu results sent, %llu starts ignored, %llu bytes dropped\n",
                    static_cast<unsigned long long>(sim.resultsSent()),
                    static_cast<unsigned long long>(sim.counters().startsIgnored),
                    static_cast<unsigned long long>(sim.bytesDropped()));
        form.report().CloseReport();

        // The summary, one figure a line: figure, what was measured, goal,
        // measured (tab-separated).
        std::printf("Adding one record\t%d results from the simulator at full speed, %d kind(s) "
                    "in turn, AddRecord timed alone\t< 1 ms each\tp50 %.0f µs, p99 %.0f µs, "
                    "max %.0f µs\n",
                    n, kinds, percentile(one.addUs, 50), percentile(one.addUs, 99),
                    one.addUs.empty() ? 0.0
                                      : *std::max_element(one.addUs.begin(), one.addUs.end()));
        std::printf("Longest stall of the window while adding\theartbeat timer (1 ms), one result "
                    "in flight / a flood of up to %d results per decode pass\t< 20 ms\t%.1f ms / "
                    "%.1f ms\n",
                    flood.maxAddsInPass, double(one.maxGapUs) / 1000.0,
                    double(flood.maxGapUs) / 1000.0);
        std::printf("Rows in the saved report\t%d results added, saved as .xls and .xlsx, read "
                    "back\texactly %d\t%d (.xls), %d (.xlsx), %d (flood, .xls)\n",
                    n, n, rowsXls, rowsXlsx, rowsFlood);
    }
    std::printf("error boxes: %d from the report, %d top-level\n", dialogs.errors, topLevelErrors);
    setErrorBoxHandler({});
    return 0;
}
