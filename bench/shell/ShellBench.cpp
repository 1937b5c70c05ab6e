// Prints how long the user-interface thread is held up by serial I/O while
// the instrument connects and while a measurement is started, and how long
// start-up takes until the main window is on screen.
//
//   build/bin/bench_shell            (runs offscreen when no display is set)
//
// The simulator runs as its own process (build/bin/t5170-sim) so that only
// the program's own work shows in the figures.

#include "shell/Conpc.h"
#include "shell/Messages.h"
#include "shell/Startup.h"

#include "Heartbeat.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using t5170::bench::Heartbeat;
using t5170::bench::spin;
using t5170::bench::waitUntil;

void report(const char* what, const Heartbeat& h) {
    std::printf("%-48s max %6.2f ms   p99 %5.2f ms   (%zu ticks)\n", what, h.maxGap(),
                h.percentile(0.99), h.ticks());
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("T5170"));
    t5170::setErrorBoxHandler([](QWidget*, const QString& caption, const QString& text) {
        std::fprintf(stderr, "error box: %s: %s\n", qPrintable(caption), qPrintable(text));
    });

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("instrument"));
    QProcess sim;
    sim.setProgram(QDir(QApplication::applicationDirPath()).filePath(QStringLiteral("t5170-sim")));
    sim.setArguments(
        {QStringLiteral("--link"), link, QStringLiteral("--measure-ms"), QStringLiteral("1000")});
    sim.start();
    if (!sim.waitForStarted() || !waitUntil([&] { return QFile::exists(link); }, 5000)) {
        std::fprintf(stderr, "bench_shell: cannot start %s\n", qPrintable(sim.program()));
        return 1;
    }
    const QString ini = dir.filePath(QStringLiteral("t5170.INI"));
    {
        QFile f(ini);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("[Connection]\nComPort=" + link.toUtf8() + "\n");
    }

    // Start-up: the windows created (configuration read, port opened) and the
    // main window exposed.
    const qint64 beforeWindows = sinceStart.nsecsElapsed();
    QElapsedTimer startup;
    startup.start();
    t5170::ProgramWindows w = t5170::createWindows(ini);
    const double createdMs = static_cast<double>(startup.nsecsElapsed()) / 1e6;
    w.main->show();
    if (!waitUntil([&] { return w.main->windowHandle() && w.main->windowHandle()->isExposed(); },
                   5000))
        return 1;
    const double shownMs = static_cast<double>(startup.nsecsElapsed()) / 1e6;
    std::printf("%-48s %6.1f ms (windows created %.1f ms; process start to here %.1f ms)\n",
                "start-up to the main window shown", shownMs, createdMs,
                static_cast<double>(beforeWindows) / 1e6 + shownMs);

    t5170::TFormMain& m = *w.main;
    Heartbeat beat;

    // Connect: first ticks, the poll answered, the three requests and the
    // answers to them.
    beat.start();
    const bool connected = waitUntil(
        [&] {
            return m.DeviceConnected && !m.panelText(3).isEmpty() &&
                   !m.ComTekE->currentText().isEmpty();
        },
        5000);
    spin(600);
    beat.stop();
    if (!connected) {
        std::fprintf(stderr, "bench_shell: the instrument did not connect\n");
        return 1;
    }
    report("event-loop stall while connecting", beat);

    // Start: test voltage (3 bytes) and start code, the result, 5C.
    beat.start();
    m.ComTekE->setEditText(QStringLiteral("1000"));
    m.ComTekEExit();
    m.ButtonStartClick();
    const bool done = waitUntil([&] { return m.ButtonStart->isEnabled(); }, 5000);
    spin(600);
    beat.stop();
    if (!done) {
        std::fprintf(stderr, "bench_shell: the measurement did not end\n");
        return 1;
    }
    report("event-loop stall during a start and its result", beat);

    // Idle polling for comparison.
    beat.start();
    spin(3000);
    beat.stop();
    report("event-loop stall while polling (3 s)", beat);
    std::printf("goal: every max below 20 ms\n");

    w.main->close();
    w = {};
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
