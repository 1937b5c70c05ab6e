// The program's windows as start-up makes them, driven the way an operator
// drives them, for the kill test: a report (a file opened, or a new one),
// "Автодобавление" and a periodic series of `count` resistance measurements.
// Prints "stored K" once the K-th result and its report row are on the
// disk, so that the test can kill it with SIGKILL right then.
//
//   journal_crash_child INI REPORT|new COUNT
#include "config/Conset.h"
#include "config/Setting.h"
#include "journal/Journal.h"
#include "shell/Conpc.h"
#include "shell/JournalRecorder.h"
#include "shell/Startup.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

using namespace t5170;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    setupApplication(app);
    const QStringList args = QApplication::arguments();
    if (args.size() != 4)
        return 2;
    ProgramWindows w = createWindows(args[1]);
    TFormMain& m = *w.main;
    m.show();
    journal::Journal* j = w.journal->journal();
    if (!j)
        return 3;
    if (args[2] == QLatin1String("new"))
        m.report().CreateReport();
    else
        m.report().OpenReport(args[2]);
    if (!m.report().IsOpen)
        return 4;
    m.RadIzmR->setChecked(true);
    m.CheckAutoAdd->setChecked(true);
    m.CheckPeriod->setChecked(true);
    TFormSettings& s = *w.settings;
    s.RadioKolIzm->setChecked(true);
    s.RadioKolIzmClick();
    s.CSpinNumIzm->setValue(args[3].toInt());
    s.CSpinTimeInter->setValue(1);
    s.ComboTimeInt->setCurrentIndex(0); // seconds

    int results = 0;
    qint64 wanted = 0; // the write that completes the latest result
    QObject::connect(&m, &TFormMain::resultCompleted, [&] {
        ++results;
        wanted = j->queued();
    });
    int told = 0;
    QObject::connect(j, &journal::Journal::committed, [&](qint64 seq) {
        if (seq >= wanted && told < results) {
            told = results;
            std::printf("stored %d\n", told);
            std::fflush(stdout);
        }
    });
    // Start as the operator does, once the instrument is there.
    QTimer start;
    QObject::connect(&start, &QTimer::timeout, [&] {
        if (!m.DeviceConnected || !m.ButtonStart->isEnabled())
            return;
        start.stop();
        m.ButtonStart->click();
    });
    start.start(50);
    return QApplication::exec();
}
