// The program killed with SIGKILL in the middle of a series auto-added into
// an unsaved report (an .xls file, an .xlsx file, a report never saved),
// started again: "Да" brings back exactly the rows the instrument produced,
// in order, with the values it sent, and the operator's save keeps them.
// And the program itself, installed in a folder of its own, keeps its
// journal beside its configuration file.
#include "core/Texts.h"
#include "journal/Journal.h"
#include "report/ReportLayout.h"
#include "shell/JournalRecorder.h"

#include "ReportHarness.h"
#include "ShellFixture.h"

#include "journal/JournalQuery.h"

#include <QProcess>

#include <signal.h>

namespace t5170::testing {
namespace {

class KillRecovery : public WithInstrument {
protected:
    void SetUp() override {
        WithInstrument::SetUp();
        sim.setMeasureDurationMs(100);
        sim.setSeed(13);
        connect();
    }
    void connect() {
        QObject::connect(&sim, &sim::PtySimulator::resultSent, [this](int kind) {
            ASSERT_EQ(kind, int(izmR));
            sent.push_back(*sim.lastResult());
        });
    }

    // Runs the child until it has stored `killAfter` results, then kills it.
    void runAndKill(const QString& report, int count, int killAfter) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QStringLiteral(T5170_BIN_DIR "/../tests/journal_crash_child"),
                    {iniPath(), report, QString::number(count)});
        ASSERT_TRUE(child.waitForStarted(30000));
        int stored = 0;
        QByteArray out;
        const bool reached = QTest::qWaitFor(
            [&] {
                out += child.readAllStandardOutput();
                while (out.contains('\n')) {
                    const qsizetype nl = out.indexOf('\n');
                    const QByteArray line = out.left(nl);
                    out.remove(0, nl + 1);
                    if (line.startsWith("stored "))
                        stored = line.mid(7).toInt();
                }
                return (stored >= killAfter && int(sent.size()) == stored) ||
                       child.state() == QProcess::NotRunning;
            },
            120000);
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(30000));
        ASSERT_TRUE(reached) << "child stored " << stored;
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit)
            << child.readAllStandardError().toStdString();
        // A busy machine may have let one more through before the kill.
        ASSERT_GE(stored, killAfter);
        // The series was in its middle: more were to come.
        ASSERT_LT(stored, count);
        ASSERT_EQ(int(sent.size()), stored);
    }

    // The next start: the question answered "Да", the report saved.
    void restartAndRecover(const QString& saveAs) {
        startProgram();
        main().report().setDialogs(dialogs);
        main().show();
        dialogs.answers = {true};
        w.journal->afterShown();
        ASSERT_EQ(dialogs.questions.size(), 1u);
        ASSERT_TRUE(main().report().IsOpen);
        EXPECT_FALSE(main().report().IsSaved);
        if (!saveAs.isEmpty())
            dialogs.saveNames = {saveAs};
        main().report().SaveClick();
        ASSERT_TRUE(main().report().IsSaved);
        main().report().CloseReport();
        EXPECT_TRUE(boxes.empty());
    }

    // The resistance sheet from `firstRow` holds exactly the results sent.
    void expectRows(const QString& file, int firstRow) {
        Workbook book(file);
        const int position = report::sheetSpec(izmR).position;
        ASSERT_EQ(book.freeRow(position), firstRow + int(sent.size()));
        for (std::size_t i = 0; i < sent.size(); ++i) {
            SCOPED_TRACE(i);
            const int row = firstRow + int(i);
            const RangedResistance r = rangeResistance(sent[i].kOm);
            EXPECT_EQ(book.text(position, row, 3), text::decimal(sent[i].volts));
            const auto number = [](QString t) {
                return t.replace(QLatin1Char(','), '.').toDouble();
            };
            EXPECT_DOUBLE_EQ(number(book.text(position, row, 4)), number(text::fourChar(r.value)));
            EXPECT_EQ(book.text(position, row, 5), report::UnitText(r.unit));
        }
    }

    QString copyOf(const QString& fixture) {
        const QString to = dir.filePath(fixture);
        EXPECT_TRUE(QFile::copy(QStringLiteral(T5170_FIXTURES_DIR "/") + fixture, to));
        QFile(to).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return to;
    }

    std::vector<sim::Result> sent;
    ScriptedDialogs dialogs;
};

TEST_F(KillRecovery, OpenedXlsReport) {
    const QString file = copyOf(QStringLiteral("report-three-kinds.xls"));
    const int firstRow = Workbook(file).freeRow(report::sheetSpec(izmR).position);
    runAndKill(file, 8, 4);
    restartAndRecover({});
    EXPECT_TRUE(dialogs.questions[0].text.contains(QStringLiteral("«report-three-kinds.xls»")));
    EXPECT_TRUE(dialogs.questions[0].text.contains(QStringLiteral("записи: %1.").arg(sent.size())));
    expectRows(file, firstRow);
}

TEST_F(KillRecovery, OpenedXlsxReport) {
    const QString file = copyOf(QStringLiteral("report-three-kinds.xlsx"));
    const int firstRow = Workbook(file).freeRow(report::sheetSpec(izmR).position);
    runAndKill(file, 7, 3);
    restartAndRecover({});
    expectRows(file, firstRow);
}

TEST_F(KillRecovery, NeverSavedReport) {
    runAndKill(QStringLiteral("new"), 6, 2);
    const QString file = dir.filePath(QStringLiteral("восстановленный.xls"));
    restartAndRecover(file);
    EXPECT_TRUE(dialogs.questions[0].text.contains(QStringLiteral("«новый отчет»")));
    expectRows(file, 2);
}

// The program itself, copied into a folder of its own with its
// configuration file beside it, as an operator installs it: a result the
// instrument measured from its own keys is in the journal beside the file,
// with the instrument's serial letter and number.
TEST_F(KillRecovery, TheProgramKeepsItsJournalBesideItsConfiguration) {
    const QString program = dir.filePath(QStringLiteral("t5170"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(T5170_BIN_DIR "/t5170"), program));
    ASSERT_EQ(iniPath(), dir.filePath(QStringLiteral("t5170.INI")));
    sim.setSerialNumber(4711);
    QProcess child;
    child.start(program, {});
    ASSERT_TRUE(child.waitForStarted(30000));
    const QString journalFile = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
    // Connected once it has asked for the serial number.
    ASSERT_TRUE(QTest::qWaitFor([&] { return receivedNoPolls().contains(char(0x68)); }, 30000));
    QTest::qWait(1500); // the answers are read on the next ticks
    sim.startFromKeys(izmR);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent.size() == 1; }, 30000));
    const auto stored = [&] {
        journal::Reader reader(journalFile);
        return reader.isOpen() ? reader.page({}, {}, 0, 10) : std::vector<journal::Entry>();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return stored().size() == 1; }, 30000));
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(30000));
    const journal::Entry e = stored().at(0);
    EXPECT_EQ(e.result.Kind, izmR);
    EXPECT_EQ(e.result.U, sent[0].volts);
    EXPECT_EQ(e.result.RkOm, rangeResistance(sent[0].kOm).kOm);
    EXPECT_EQ(e.device, (journal::Device{QStringLiteral("А"), 4711}));
    EXPECT_EQ(e.reportId, 0);
}

} // namespace
} // namespace t5170::testing
