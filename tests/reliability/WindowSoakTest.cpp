// Periodic series through the whole program: start-up, the main window's
// decoder and its start button, the series as the settings dialog sets it
// up, the report open with records added automatically, the simulator at
// full speed. The pause between measurements is cut short and the window's
// receive tick runs as soon as the instrument has answered the last poll.
// The soak runs the window's channel on an accelerated clock, so bytes leave
// as fast as the pty takes them; the unplug test keeps the real pace on the
// wire (more than 50 ms between bytes).
//
// T5170_WINDOW_SOAK_RESULTS sets the length of the soak (1,000); beyond
// 1,000 (the dialog's largest count) it runs series after series.

#include "Memory.h"
#include "ScriptedDialogs.h"
#include "ShellFixture.h"

#include "journal/JournalQuery.h"
#include "sheet/WorkbookFile.h"
#include "shell/JournalRecorder.h"

#include <QElapsedTimer>
#include <QScopeGuard>

namespace t5170::testing {
namespace {

class WindowSeries : public WithInstrument {
protected:
    void SetUp() override {
        WithInstrument::SetUp();
        sim.setMeasureDurationMs(0);
        startProgram();
        main().report().setDialogs(dialogs);
        ASSERT_TRUE(waitConnected());
        main().RadIzmR->setChecked(true);
        main().CheckAutoAdd->setChecked(true);
        main().CheckPeriod->setChecked(true);
        TFormSettings& s = *w.settings;
        s.RadioKolIzm->setChecked(true);
        s.RadioKolIzmClick();
        s.CSpinTimeInter->setValue(1);
        s.ComboTimeInt->setCurrentIndex(0); // seconds
        main().report().CreateReport();
        ASSERT_TRUE(main().report().IsOpen);
    }
    void TearDown() override {
        if (w.main) {
            main().report().IsSaved = true;
            main().FormClose();
        }
        WithInstrument::TearDown();
    }

    // Starts a series of `count` as the operator does.
    void startSeries(int count) {
        w.settings->CSpinNumIzm->setValue(count);
        ASSERT_TRUE(QTest::qWaitFor([&] { return main().ButtonStart->isEnabled(); }, 5000));
        QTest::mouseClick(main().ButtonStart, Qt::LeftButton);
        ASSERT_TRUE(main().Series.isRunning());
    }

    // Runs the event loop until `done`, with the pause cut short and a
    // receive tick whenever nothing waits for the wire. False if nothing
    // happened for `quietMs`.
    bool drive(const std::function<bool()>& done, int quietMs = 5000) {
        QElapsedTimer quiet;
        quiet.start();
        quint64 seen = sim.pollsAnswered();
        // A tick comes only once the last byte has been out long enough for
        // the answer to be back, as with the window's own 500 ms.
        QElapsedTimer sinceSent;
        sinceSent.start();
        quint64 answeredAtTick = 0;
        const auto sent = QObject::connect(&main().channel(), &TComChannel::byteSent,
                                           [&] { sinceSent.restart(); });
        const auto guard = qScopeGuard([&] { QObject::disconnect(sent); });
        while (!done()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (main().Series.timerPeriod().isActive())
                main().Series.TimerPeriodTimer();
            // A tick of our own only once the instrument has answered the
            // previous poll, and the window's timer starts over from it, so
            // no tick comes before the answer to its poll could be back:
            // the window would rightly show the instrument as unplugged.
            if (main().channel().queuedBytes() == 0 && sinceSent.elapsed() >= answerWaitMs &&
                sim.pollsAnswered() != answeredAtTick) {
                answeredAtTick = sim.pollsAnswered();
                main().ReadTimerTimer();
                main().ReadTimer->start();
            }
            if (sim.pollsAnswered() != seen) {
                seen = sim.pollsAnswered();
                quiet.restart();
            } else if (quiet.elapsed() > quietMs) {
                return false;
            }
        }
        return true;
    }

    int rows() const { return w.main->report().NextRow[izmR] - 2; }

    // The channel's clock jumps a second on every reading: no pause between
    // bytes is left to wait for.
    void accelerate() {
        main().channel().setClock([this] { return fastNow_ += 1000; });
        answerWaitMs = 2;
    }

    // Real milliseconds from the poll leaving until a tick may look for its
    // answer.
    int answerWaitMs = 25;
    std::int64_t fastNow_ = 0;

    ScriptedDialogs dialogs;
};

TEST_F(WindowSeries, SoakEveryResultIsOneRowAndTheProgramStillAnswers) {
    bool set = false;
    const int env = qEnvironmentVariableIntValue("T5170_WINDOW_SOAK_RESULTS", &set);
    const int total = set && env > 0 ? env : 1000;
    accelerate();
    const std::int64_t rssAtStart = residentBytes();
    QElapsedTimer clock;
    clock.start();
    for (int done = 0; done < total;) {
        const int count = std::min(1000, total - done);
        startSeries(count);
        ASSERT_TRUE(drive([&] { return !main().Series.isRunning(); }))
            << "the series stalled after " << sim.resultsSent() << " results";
        done += count;
        ASSERT_EQ(sim.resultsSent(), quint64(done));
    }
    std::printf(
        "figure\tWhole program: series through the main window, results per second\t—\t%.1f\n",
        total * 1000.0 / double(std::max<qint64>(1, clock.elapsed())));
    std::printf("figure\tWhole program: resident memory after %d results added\t—\t%.1f MiB "
                "(%.1f MiB at the start)\n",
                total, double(residentBytes()) / 1048576.0, double(rssAtStart) / 1048576.0);
    settle();
    EXPECT_EQ(rows(), total) << "one row per result";
    EXPECT_EQ(sim.counters().startsIgnored, 0u);
    EXPECT_EQ(sim.missingAcks(), 0u);
    EXPECT_TRUE(main().DeviceConnected);
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_TRUE(main().LabPerOstel->isHidden());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errorTexts().join('\n').toStdString();

    // Still answering: a single measurement of another kind.
    main().CheckPeriod->setChecked(false);
    main().RadIzmAbs->setChecked(true);
    QTest::mouseClick(main().ButtonStart, Qt::LeftButton);
    ASSERT_TRUE(drive([&] { return main().ButtonStart->isEnabled(); }));
    EXPECT_EQ(main().report().NextRow[izmAbs], 3);

    const QString file = dir.filePath(QStringLiteral("series.xlsx"));
    dialogs.saveNames = {file};
    main().report().SaveReportAs();
    ASSERT_TRUE(main().report().IsSaved);
    const sheet::Workbook book = sheet::openWorkbook(file);
    int saved = 0;
    for (const auto& s : book.sheets)
        for (int r = 1; r < s.rowCount(); ++r)
            saved += s.kind(r, 0) != sheet::Cell::Kind::Empty;
    EXPECT_EQ(saved, total + 1);

    // The journal: one entry per complete result, in order, each with its
    // place in the series and in the report.
    journal::Journal* j = w.journal->journal();
    ASSERT_TRUE(j);
    j->flush();
    journal::Reader reader(j->path());
    const auto entries =
        reader.page({}, {journal::Column::Date, Qt::AscendingOrder}, 0, total + 10);
    ASSERT_EQ(entries.size(), std::size_t(total) + 1);
    for (int k = 0; k < total; ++k) {
        const journal::Entry& e = entries[std::size_t(k)];
        ASSERT_EQ(e.result.Kind, izmR) << k;
        ASSERT_TRUE(e.series) << k;
        ASSERT_EQ(e.series->index, k % 1000 + 1) << k;
        ASSERT_EQ(e.row, k + 2) << k;
        ASSERT_EQ(e.sheet, int(izmR)) << k;
    }
    EXPECT_EQ(entries.back().result.Kind, izmAbs);
    EXPECT_FALSE(entries.back().series);
}

// With no report open, every result still goes into the journal, and the
// journal's memory stays flat however many there are.
TEST_F(WindowSeries, SoakWithoutAReportTheJournalKeepsEveryResultInFlatMemory) {
    bool set = false;
    const int env = qEnvironmentVariableIntValue("T5170_WINDOW_SOAK_RESULTS", &set);
    const int total = std::max(400, set && env > 0 ? env : 1000);
    main().report().CloseReport();
    ASSERT_FALSE(main().report().IsOpen);
    accelerate();
    journal::Journal* j = w.journal->journal();
    ASSERT_TRUE(j);
    std::int64_t heapWarm = 0;
    int done = 0;
    const auto run = [&](int count) {
        startSeries(count);
        ASSERT_TRUE(drive([&] { return !main().Series.isRunning(); }));
        done += count;
        ASSERT_EQ(sim.resultsSent(), quint64(done));
    };
    run(200); // the caches of the connections, the statements and the window fill up
    j->flush();
    heapWarm = heapInUse();
    for (; done < total;)
        run(std::min(1000, total - done));
    j->flush();
    const std::int64_t grown = heapInUse() - heapWarm;
    std::printf("figure\tWhole program: heap growth of the journal over %d results, no report\t—\t"
                "%lld bytes\n",
                total - 200, static_cast<long long>(grown));
    if (!underAddressSanitizer()) {
        // The writer's page cache is bounded at 256 KiB.
        EXPECT_LT(grown, 512 * 1024 + std::int64_t(total) * 16);
    }
    journal::Reader reader(j->path());
    EXPECT_EQ(reader.count({}), total);
    EXPECT_TRUE(boxes.empty());
}

// The cable pulled in the middle of a series: one message, every result
// that arrived is a row, the series waits, and after the port is opened
// again (the settings dialog's connection check) a new series runs.
TEST_F(WindowSeries, UnpluggedDuringSeriesKeepsEveryRecordThatArrived) {
    startSeries(1000);
    ASSERT_TRUE(drive([&] { return sim.resultsSent() >= 5; }));
    sim.unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !main().channel().PortOpen; }, 5000));
    QTest::qWait(1200); // a few more ticks against the closed port
    EXPECT_EQ(boxes, std::vector<Box>(
                         {{QStringLiteral("Ошибка"), QStringLiteral("Ошибка записи в \"Com\"")}}));
    EXPECT_LE(quint64(rows()), sim.resultsSent());
    EXPECT_GE(quint64(rows()), sim.resultsSent() - 1) << "at most the result on the wire is lost";
    const int kept = rows();
    EXPECT_TRUE(main().report().IsOpen);
    EXPECT_EQ(main().panelText(1), QStringLiteral("Отключ"));
    EXPECT_FALSE(main().ButtonStart->isEnabled());

    ASSERT_TRUE(sim.start());
    ASSERT_TRUE(main().openPort(sim.devicePath()));
    main().startPolling();
    ASSERT_TRUE(waitConnected());
    const quint64 before = sim.resultsSent();
    startSeries(3);
    ASSERT_TRUE(drive([&] { return !main().Series.isRunning(); }));
    EXPECT_EQ(sim.resultsSent(), before + 3);
    EXPECT_EQ(rows(), kept + 3);
    EXPECT_EQ(boxes.size(), 1u);
    const QString file = dir.filePath(QStringLiteral("series.xls"));
    dialogs.saveNames = {file};
    main().report().SaveReportAs();
    EXPECT_TRUE(main().report().IsSaved);
    EXPECT_TRUE(dialogs.errors.empty());
}

} // namespace
} // namespace t5170::testing
