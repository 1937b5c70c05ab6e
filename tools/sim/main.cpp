// t5170-sim: the instrument on a pseudo-terminal, for a person at a terminal,
// for tests and for benchmarks.

#include "Console.h"
#include "PtySimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using t5170::sim::Console;
using t5170::sim::PtySimulator;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int sig) {
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("t5170-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "T5170 megohmmeter simulator on a pseudo-terminal. Prints the device path; open it as "
        "the serial port. Reads commands on stdin (type help)."));
    parser.addHelpOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("Also make PATH a symlink to the device."),
                                     QStringLiteral("PATH"));
    const QCommandLineOption measureOpt(QStringLiteral("measure-ms"),
                                        QStringLiteral("Measurement duration (default 3000)."),
                                        QStringLiteral("N"), QStringLiteral("3000"));
    const QCommandLineOption offOpt(QStringLiteral("off"),
                                    QStringLiteral("Start with the instrument switched off."));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Seed of the result generator (default 1)."),
                                     QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption splitOpt(QStringLiteral("split"),
                                      QStringLiteral("Write every message in pieces."));
    const QCommandLineOption fastOpt(QStringLiteral("fast"),
                                     QStringLiteral("Measure instantly (soak tests, benchmarks)."));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Print the bytes received and sent to stderr."));
    parser.addOptions({linkOpt, measureOpt, offOpt, seedOpt, splitOpt, fastOpt, logOpt});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("t5170-sim: unexpected argument %1\n")
                          .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    bool ok = false;
    const int measureMs = parser.value(measureOpt).toInt(&ok);
    if (!ok || measureMs < 0) {
        print(stderr, QStringLiteral("t5170-sim: --measure-ms wants a number of milliseconds\n"));
        return 2;
    }
    const quint64 seed = parser.value(seedOpt).toULongLong(&ok, 0);
    if (!ok) {
        print(stderr, QStringLiteral("t5170-sim: --seed wants a number\n"));
        return 2;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // Run in the background of a shell, a read of the terminal would stop us;
    // ignored, it fails and stdin is simply left alone.
    std::signal(SIGTTIN, SIG_IGN);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char c = 0;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        QCoreApplication::quit();
    });

    PtySimulator sim;
    sim.setMeasureDurationMs(parser.isSet(fastOpt) ? 0 : measureMs);
    sim.setSeed(seed);
    sim.setSplitWrites(parser.isSet(splitOpt));
    sim.setAnswerPolls(!parser.isSet(offOpt));
    const QString link = parser.value(linkOpt);
    if (!sim.start(link)) {
        print(stderr,
              link.isEmpty()
                  ? QStringLiteral("t5170-sim: cannot create a pseudo-terminal\n")
                  : QStringLiteral("t5170-sim: cannot create the pty or the link %1\n").arg(link));
        return 1;
    }
    print(stdout, QStringLiteral("t5170-sim: device %1\n").arg(sim.devicePath()));
    if (!link.isEmpty())
        print(stdout, QStringLiteral("t5170-sim: link %1\n").arg(link));

    if (parser.isSet(logOpt)) {
        // Stamped with the clock of received().
        QObject::connect(&sim, &PtySimulator::byteReceived, &app, [&sim](quint8 byte) {
            print(stderr, QStringLiteral("%1 RX %2\n")
                              .arg(sim.received().back().ms)
                              .arg(QString::number(byte, 16).toUpper().rightJustified(
                                  2, QLatin1Char('0'))));
        });
        QObject::connect(&sim, &PtySimulator::bytesSent, &app, [](const QByteArray& bytes) {
            print(stderr, QStringLiteral("%1 TX %2\n")
                              .arg(PtySimulator::nowMs())
                              .arg(QString::fromLatin1(bytes.toHex(' ').toUpper())));
        });
    }

    Console console(sim, link);
    QSocketNotifier stdinNotifier(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&stdinNotifier, &QSocketNotifier::activated, &app, [&] {
        char buf[1024];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // End of input (or a terminal we may not read): keep simulating.
            stdinNotifier.setEnabled(false);
            return;
        }
        pending.append(buf, n);
        for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0;) {
            const QString line = QString::fromLocal8Bit(pending.left(nl)).trimmed();
            pending.remove(0, nl + 1);
            print(stdout, console.execute(line));
            if (console.quitRequested()) {
                QCoreApplication::quit();
                return;
            }
        }
    });

    const int rc = QCoreApplication::exec();
    print(stdout, QStringLiteral("t5170-sim: stopped\n"));
    return rc;
}
