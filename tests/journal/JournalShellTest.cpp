// The journal wired into the main window and the report: every complete
// result with its instrument, series and place in a report; the report's
// life; the start-up boxes; a full disk; the recovery question and both of
// its answers; the journal window.
#include "PlainSql.h"
#include "core/Texts.h"
#include "journal/JournalCsv.h"
#include "journal/ui/JournalWindow.h"
#include "shell/JournalRecorder.h"

#include "ReportHarness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>

#include <sys/stat.h>

using namespace t5170;
using namespace t5170::journal;
using t5170::testing::plainColumn;
using t5170::testing::resultBytes;
using t5170::testing::Workbook;

namespace {

QByteArray complete() {
    return QByteArray(1, char(0x5E));
}

QByteArray serial(quint16 number, char letterCp1251) {
    QByteArray b;
    b.append(char(0x68));
    b.append(static_cast<char>(number & 0xFF));
    b.append(static_cast<char>(number >> 8));
    b.append(char(0x69));
    b.append(letterCp1251);
    return b;
}

} // namespace

// The report's window with the journal beside its configuration file.
class JournalShell : public t5170::testing::ReportWindow {
protected:
    void SetUp() override {
        ReportWindow::SetUp();
        attach();
    }
    void TearDown() override {
        recorder.reset();
        ReportWindow::TearDown();
    }
    QString journalPath() const { return path(QStringLiteral("t5170.journal.sqlite")); }
    void attach() { recorder = std::make_unique<JournalRecorder>(*form, journalPath()); }
    // The program ends without its shutdown: what the writer has is on the
    // disk, nothing else happens.
    void crash() {
        recorder->journal()->flush();
        recorder.reset();
        form.reset();
    }
    // The next start, with the same configuration file and journal.
    void restart() {
        QFile ini(path(QStringLiteral("t5170.INI")));
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        makeForm(QString::fromUtf8(ini.readAll()));
        dialogs.questions.clear();
        dialogs.errors.clear();
        attach();
    }
    void result(TIzmType kind, quint16 volts, qint32 kOm = 0, qint32 kOm2 = 0, quint16 koef = 0) {
        feed(resultBytes(kind, volts, kOm, kOm2, koef));
        feed(complete());
    }
    std::vector<Entry> entries() {
        recorder->journal()->flush();
        Reader r(journalPath());
        return r.page({}, {Column::Date, Qt::AscendingOrder}, 0, 1000000);
    }
    std::unique_ptr<JournalRecorder> recorder;
};

TEST_F(JournalShell, EveryCompleteResultWithItsInstrumentAndPlace) {
    ASSERT_TRUE(recorder->journal());
    feed(serial(4711, char(0xD9))); // "Щ"
    result(izmU, 230);              // no report open
    form->CheckAutoAdd->setChecked(false);
    rep().CreateReport();
    result(izmR, 500, 1500); // report open, no auto-add
    form->CheckAutoAdd->setChecked(true);
    result(izmAbs, 1000, 1234, 1000000, 1234); // auto-added: row 2 of absorption
    feed(serial(12, char(0xC0)));              // "А"
    result(izmPol, 2500, 5000, 6000, 1200);    // auto-added: row 2 of polarization
    form->ButAddPrev->click();                 // the absorption result again: row 3

    const auto got = entries();
    ASSERT_EQ(got.size(), 4u);
    const TIzmType kinds[] = {izmU, izmR, izmAbs, izmPol};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(got[i].result.Kind, kinds[i]);
    EXPECT_EQ(got[0].device, (Device{QStringLiteral("Щ"), 4711}));
    EXPECT_EQ(got[3].device, (Device{QStringLiteral("А"), 12}));
    EXPECT_EQ(got[3].result, form->TekResult);
    EXPECT_EQ(got[2].result, form->PrevResult);
    EXPECT_EQ(got[0].reportId, 0);
    EXPECT_EQ(got[1].reportId, 0);
    EXPECT_EQ(got[3].reportName, QStringLiteral("новый отчет"));
    EXPECT_EQ(got[3].sheet, int(izmPol));
    EXPECT_EQ(got[3].row, 2);
    // The last place it went.
    EXPECT_EQ(got[2].sheet, int(izmAbs));
    EXPECT_EQ(got[2].row, 3);
    // The window's texts are the main window's.
    EXPECT_EQ(cellText(got[3], Column::R), form->LabTekR->text().section(QStringLiteral(" = "), 1));
    EXPECT_EQ(cellText(got[3], Column::K),
              form->LabTekKoef->text().section(QStringLiteral(" = "), 1));

    dialogs.saveNames.push_back(path(QStringLiteral("цех.xls")));
    rep().SaveClick();
    rep().CloseClick();
    recorder->journal()->flush();
    EXPECT_EQ(plainColumn(journalPath(),
                          QStringLiteral("SELECT event || ':' || path || ':' || COALESCE(row, '') "
                                         "FROM report_log ORDER BY seq")),
              (QVariantList{"created::", "added::2", "added::2", "added::3",
                            "saved:" + path(QStringLiteral("цех.xls")) + ":", "closed::"}));
}

TEST_F(JournalShell, ASeriesNumbersItsResults) {
    result(izmR, 500, 100);
    Q_EMIT form->seriesStarted();
    for (int step = 1; step <= 3; ++step) {
        result(izmR, 500, 100 + step);
        Q_EMIT form->seriesStep(form->TekResult, step);
    }
    Q_EMIT form->seriesStarted();
    result(izmR, 500, 200);
    Q_EMIT form->seriesStep(form->TekResult, 1);
    const auto got = entries();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_FALSE(got[0].series);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(got[i].series);
        EXPECT_EQ(got[i].series->index, i);
        EXPECT_EQ(got[i].series->id, got[1].series->id);
    }
    ASSERT_TRUE(got[4].series);
    EXPECT_NE(got[4].series->id, got[1].series->id);
    EXPECT_EQ(got[4].series->index, 1);
}

TEST_F(JournalShell, StartUpBoxesAndMeasuringWithoutAJournal) {
    // A damaged file: one box naming where it went, a fresh journal.
    crash();
    {
        QFile f(journalPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(8192, '\x7F'));
    }
    QFile::remove(journalPath() + QStringLiteral("-wal"));
    QFile::remove(journalPath() + QStringLiteral("-shm"));
    restart();
    ASSERT_TRUE(recorder->journal());
    recorder->afterShown();
    ASSERT_EQ(topLevel.size(), 1u);
    EXPECT_EQ(topLevel[0].text, QStringLiteral("Журнал измерений поврежден и сохранен как ") +
                                    recorder->outcome().movedTo);
    EXPECT_TRUE(QFileInfo::exists(recorder->outcome().movedTo));
    EXPECT_TRUE(dialogs.questions.empty());

    // A folder without write permission: one box, then measuring and the
    // report as ever.
    crash();
    QFile::remove(journalPath());
    {
        QFile ini(path(QStringLiteral("t5170.INI")));
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        makeForm(QString::fromUtf8(ini.readAll()));
    }
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    attach();
    EXPECT_FALSE(recorder->journal());
    EXPECT_FALSE(form->JournalShow->isEnabled());
    recorder->afterShown();
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ASSERT_EQ(topLevel.size(), 1u);
    EXPECT_TRUE(topLevel[0].text.startsWith(QStringLiteral("Журнал измерений недоступен\n") +
                                            journalPath()))
        << topLevel[0].text.toStdString();
    rep().CreateReport();
    form->CheckAutoAdd->setChecked(true);
    result(izmR, 500, 1500);
    EXPECT_EQ(form->LabTekR->text(), QStringLiteral(" R = 1,50 МОм"));
    EXPECT_EQ(cell(izmR, 2, 3).toText(), QStringLiteral("500"));
    EXPECT_FALSE(QFileInfo::exists(journalPath()));
    EXPECT_EQ(topLevel.size(), 1u);
}

TEST_F(JournalShell, AFullDiskIsToldOnceAndTheReportGoesOn) {
    Journal& j = *recorder->journal();
    rep().CreateReport();
    form->CheckAutoAdd->setChecked(true);
    result(izmU, 100);
    j.flush();
    j.setPageLimit(
        plainColumn(journalPath(), QStringLiteral("PRAGMA page_count")).value(0).toInt());
    for (int i = 0; i < 150; ++i)
        result(izmPol, 2500, 5000 + i, 6000, 1200);
    ASSERT_TRUE(t5170::testing::waitFor([&] { return !topLevel.empty(); }, 10000));
    for (int i = 0; i < 150; ++i)
        result(izmR, 1000, 100 + i);
    t5170::testing::runFor(600);
    ASSERT_EQ(topLevel.size(), 1u);
    EXPECT_TRUE(topLevel[0].text.startsWith(QStringLiteral("Не удалось записать в журнал")));
    // The report has every row.
    EXPECT_EQ(rep().NextRow[izmPol], 152);
    EXPECT_EQ(rep().NextRow[izmR], 152);
    EXPECT_EQ(cell(izmR, 151, 4).toText(), QStringLiteral("249"));

    j.setPageLimit(0);
    ASSERT_TRUE(t5170::testing::waitFor([&] { return j.pending() == 0; }, 10000));
    EXPECT_EQ(entries().size(), 301u);
    EXPECT_EQ(plainColumn(journalPath(),
                          QStringLiteral("SELECT COUNT(*) FROM report_log WHERE event = 'added'"))
                  .value(0)
                  .toInt(),
              301);
}

TEST_F(JournalShell, RecoveryOfANeverSavedReport) {
    rep().CreateReport();
    form->CheckAutoAdd->setChecked(true);
    result(izmR, 500, 1500);
    result(izmU, 230);
    result(izmAbs, 1000, 1234, 1000000, 1234);
    result(izmR, 1000, 999);
    const auto before = entries();
    const auto rowTexts = [&] {
        QStringList t;
        for (TIzmType kind : {izmR, izmU, izmAbs})
            for (int row = 2; row < rep().NextRow[kind]; ++row)
                for (int column = 1; column <= 9; ++column)
                    t << cell(kind, row, column).toText();
        return t;
    };
    const QStringList written = rowTexts();
    ASSERT_EQ(written.size(), 4 * 9);
    crash();

    restart();
    dialogs.answers = {true};
    recorder->afterShown();
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].text,
              QStringLiteral("Программа была завершена аварийно. В отчете «новый отчет» "
                             "остались несохраненные записи: 4. Восстановить их?"));
    ASSERT_TRUE(rep().IsOpen);
    EXPECT_FALSE(rep().HasFile);
    EXPECT_FALSE(rep().IsSaved);
    EXPECT_EQ(rep().NextRow[izmR], 4);
    EXPECT_EQ(rep().NextRow[izmU], 3);
    EXPECT_EQ(rep().NextRow[izmAbs], 3);
    // The same cells, dates and times included, as the first time.
    EXPECT_EQ(rowTexts(), written);
    EXPECT_EQ(cell(izmR, 3, 4).toText(), QStringLiteral("999"));
    // The last one recovered shows as the report's last record.
    EXPECT_EQ(form->LabRepRecR->text(), QStringLiteral("R = 999 КОм"));

    // Saved now: nothing left to ask about.
    dialogs.saveNames.push_back(path(QStringLiteral("восстановлен.xlsx")));
    rep().SaveClick();
    crash();
    restart();
    recorder->afterShown();
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_FALSE(rep().IsOpen);
    // Nothing journalled twice.
    EXPECT_EQ(entries().size(), before.size());
}

TEST_F(JournalShell, RecoveryReopensTheFileAndNoLeavesItAlone) {
    const QString xls = fixture(QStringLiteral("report-three-kinds.xls"));
    const QByteArray original = [&] {
        QFile f(xls);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    rep().OpenReport(xls);
    ASSERT_TRUE(rep().IsOpen);
    const int freeRow = rep().NextRow[izmR];
    form->CheckAutoAdd->setChecked(true);
    result(izmR, 2500, 123456);
    result(izmR, 2500, 654321);
    crash();

    // "Нет": the file is not touched, the records stay, the question is not
    // asked again.
    restart();
    dialogs.answers = {false};
    recorder->afterShown();
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_TRUE(dialogs.questions[0].text.contains(QStringLiteral("«report-three-kinds.xls»")));
    EXPECT_TRUE(dialogs.questions[0].text.contains(QStringLiteral("записи: 2.")));
    EXPECT_FALSE(rep().IsOpen);
    crash();
    restart();
    recorder->afterShown();
    EXPECT_EQ(dialogs.questions.size(), 0u);
    EXPECT_EQ(entries().size(), 2u);
    QFile f(xls);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), original);
    f.close();

    // Again, with "Да": the file opened the ordinary way, the rows after its
    // own, nothing written until the operator saves.
    rep().OpenReport(xls);
    result(izmR, 2500, 111111);
    crash();
    restart();
    dialogs.answers = {true};
    recorder->afterShown();
    ASSERT_TRUE(rep().IsOpen);
    EXPECT_TRUE(rep().HasFile);
    EXPECT_FALSE(rep().IsSaved);
    EXPECT_EQ(rep().NextRow[izmR], freeRow + 1);
    EXPECT_EQ(cell(izmR, freeRow, 4).toText(), QStringLiteral("111"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), original);
    f.close();
    rep().SaveClick();
    rep().CloseReport();
    Workbook book(xls);
    EXPECT_EQ(book.freeRow(1), freeRow + 1);
    EXPECT_EQ(book.text(1, freeRow, 4), QStringLiteral("111"));

    // A file gone meanwhile: a new report gets the records.
    rep().OpenReport(xls);
    result(izmR, 2500, 222222);
    crash();
    ASSERT_TRUE(QFile::remove(xls));
    restart();
    dialogs.answers = {true};
    recorder->afterShown();
    ASSERT_TRUE(rep().IsOpen);
    EXPECT_FALSE(rep().HasFile);
    EXPECT_EQ(rep().NextRow[izmR], 3);
    EXPECT_EQ(cell(izmR, 2, 4).toText(), QStringLiteral("222"));
}

TEST_F(JournalShell, TheJournalWindow) {
    for (int i = 0; i < 3; ++i) {
        result(izmR, 500, 1500 + i);
        result(izmU, 100 + i);
    }
    result(izmPol, 2500, 5000, 6000, 1200);
    recorder->journal()->flush();
    ASSERT_TRUE(form->JournalShow->isEnabled());
    form->JournalShow->trigger();
    JournalWindow* w = recorder->window();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Журнал измерений"));
    EXPECT_TRUE(w->statusText().contains(journalPath()));
    EXPECT_TRUE(w->statusText().contains(form->iniPath()));
    JournalModel& m = w->model();
    // Each query runs on the model's reader thread.
    const auto settled = [&] { return t5170::testing::waitFor([&] { return !m.busy(); }, 10000); };
    ASSERT_TRUE(settled());
    QStringList titles;
    for (int c = 0; c < m.columnCount(); ++c)
        titles << m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(titles,
              (QStringList{"Дата", "Время", "Измерение", "U", "R", "R2", "K", "Прибор", "Отчет"}));
    ASSERT_EQ(m.rowCount(), 7);
    // Newest first, with the main window's texts.
    EXPECT_EQ(m.data(m.index(0, 2), Qt::DisplayRole).toString(), text::kindCaption(izmPol));
    EXPECT_EQ(m.data(m.index(0, 4), Qt::DisplayRole).toString(),
              form->LabTekR->text().section(QStringLiteral(" = "), 1));
    EXPECT_EQ(m.data(m.index(0, 5), Qt::DisplayRole).toString(),
              form->LabTekR2->text().section(QStringLiteral(" = "), 1));
    EXPECT_EQ(m.data(m.index(1, 3), Qt::DisplayRole).toString(), QStringLiteral("102 Вольт"));

    // The kind filter, then all again.
    w->kindBox()->setCurrentIndex(w->kindBox()->findText(text::kindCaption(izmU)));
    EXPECT_EQ(m.rowCount(), 7) << "the rows shown stay until the new ones are there";
    ASSERT_TRUE(settled());
    ASSERT_EQ(m.rowCount(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(m.entry(r).result.Kind, izmU);
    w->textEdit()->setText(QStringLiteral("нет такого"));
    w->applyFilter();
    ASSERT_TRUE(settled());
    EXPECT_EQ(m.rowCount(), 0);
    EXPECT_FALSE(w->exportButton()->isEnabled());
    w->textEdit()->clear();
    w->kindBox()->setCurrentIndex(0);
    w->applyFilter();
    ASSERT_TRUE(settled());
    ASSERT_EQ(m.rowCount(), 7);
    // Sorted by U, smallest first.
    w->table()->sortByColumn(int(Column::U), Qt::AscendingOrder);
    ASSERT_TRUE(settled());
    EXPECT_EQ(m.entry(0).result.U, 100);
    EXPECT_EQ(m.entry(6).result.U, 2500);

    // "Добавить в отчет": the selected rows, oldest first, whatever the order shown.
    w->table()->sortByColumn(int(Column::Date), Qt::DescendingOrder);
    ASSERT_TRUE(settled());
    rep().CreateReport();
    QItemSelectionModel* sel = w->table()->selectionModel();
    for (int r : {1, 3, 5}) // the three voltage results, newest first
        sel->select(m.index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(w->addButton()->isEnabled());
    w->addButton()->click();
    EXPECT_EQ(rep().NextRow[izmU], 5);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(cell(izmU, 2 + i, 3).toText(), QString::number(100 + i));
    recorder->journal()->flush();
    ASSERT_TRUE(t5170::testing::waitFor(
        [&] { return m.entry(1).reportName == QStringLiteral("новый отчет"); }, 5000));
    // Read again with their report, and still the operator's selection.
    const QModelIndexList kept = sel->selectedRows();
    ASSERT_EQ(kept.size(), 3);
    for (const QModelIndex& i : kept)
        EXPECT_EQ(m.entry(i.row()).result.Kind, izmU);

    // "Экспорт в CSV…": the rows shown.
    w->kindBox()->setCurrentIndex(w->kindBox()->findText(text::kindCaption(izmR)));
    const QString csv = path(QStringLiteral("журнал.csv"));
    ASSERT_TRUE(settled());
    w->setSaveNameProvider([&] { return std::optional<QString>(csv); });
    QSignalSpy exported(w, &JournalWindow::exported);
    w->exportButton()->click();
    ASSERT_TRUE(exported.wait(10000));
    EXPECT_EQ(exported.at(0).at(0).toString(), QString());
    EXPECT_EQ(w->messageText(), QStringLiteral("Записей: 3"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 5); // header, three rows, the empty rest
    EXPECT_TRUE(lines[1].contains(";1,50;МОм;"));
}
