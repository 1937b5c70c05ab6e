// The journal's file: schema and migration, the writer thread, a damaged
// file, an unusable folder, a full disk, what is left to recover, queries
// against plain SQL and the CSV export read back by Python's csv module.
#include "journal/Journal.h"
#include "PlainSql.h"
#include "core/Texts.h"
#include "journal/JournalCsv.h"
#include "journal/JournalQuery.h"
#include "link/ResultRecords.h"

#include "Wait.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace t5170;
using namespace t5170::journal;
using t5170::testing::plainColumn;

namespace {

TIzmResult result(TIzmType kind, int u, int rKom, int r2Kom, int koef, const QDateTime& at) {
    return makeResult(kind, std::uint16_t(u), rKom, r2Kom, std::uint16_t(koef), at);
}

const QDateTime Noon(QDate(2026, 12, 8), QTime(12, 0, 0));

std::unique_ptr<Journal> openOk(const QString& path) {
    OpenOutcome outcome;
    auto j = Journal::open(path, outcome);
    EXPECT_EQ(outcome.status, OpenOutcome::Ok) << outcome.message().toStdString();
    EXPECT_TRUE(outcome.message().isEmpty());
    return j;
}

} // namespace

TEST(JournalFile, NamedAfterTheConfigurationFile) {
    EXPECT_EQ(journalPathFor(QStringLiteral("/home/op/t5170.INI")),
              QStringLiteral("/home/op/t5170.journal.sqlite"));
    EXPECT_EQ(journalPathFor(QStringLiteral("/etc/x/other.ini")),
              QStringLiteral("/etc/x/other.journal.sqlite"));
}

TEST(JournalFile, KeepsEveryFieldAcrossReopening) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
    const TIzmResult abs = result(izmAbs, 2500, 1500, 2345678, 1563, Noon);
    const TIzmResult u = result(izmU, 500, 0, 0, 0, Noon.addSecs(5));
    qint64 a = 0, b = 0, report = 0;
    {
        auto j = openOk(path);
        ASSERT_TRUE(j);
        const qint64 series = j->newSeries();
        a = j->append(abs, {QStringLiteral("Щ"), 4711}, SeriesRef{series, 3});
        b = j->append(u, {});
        report = j->reportBegan(ReportEvent::Opened, QStringLiteral("/r/a.xls"));
        j->placed(a, report, izmAbs, 7, QStringLiteral("a.xls"));
        j->flush();
        EXPECT_EQ(j->pending(), 0);
    }
    EXPECT_EQ(plainColumn(path, QStringLiteral("PRAGMA journal_mode")).value(0).toString(),
              QStringLiteral("wal"));
    EXPECT_EQ(plainColumn(path, QStringLiteral("PRAGMA user_version")).value(0).toInt(),
              SchemaVersion);

    Reader reader(path);
    ASSERT_TRUE(reader.isOpen()) << reader.error().toStdString();
    const auto got = reader.entries({b, a});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].result, u);
    EXPECT_FALSE(got[0].device.number);
    EXPECT_FALSE(got[0].series);
    EXPECT_EQ(got[0].reportId, 0);
    EXPECT_EQ(got[1].result, abs);
    EXPECT_EQ(got[1].device, (Device{QStringLiteral("Щ"), 4711}));
    ASSERT_TRUE(got[1].series);
    EXPECT_EQ(got[1].series->index, 3);
    EXPECT_EQ(got[1].reportId, report);
    EXPECT_EQ(got[1].sheet, int(izmAbs));
    EXPECT_EQ(got[1].row, 7);
    // The window's texts of the same values.
    EXPECT_EQ(cellText(got[1], Column::R), QStringLiteral("1,50 МОм"));
    EXPECT_EQ(cellText(got[1], Column::R2), QStringLiteral("2,34 ГОм"));
    EXPECT_EQ(cellText(got[1], Column::K), QStringLiteral("1,563"));
    EXPECT_EQ(cellText(got[1], Column::Device), QStringLiteral("Щ4711"));
    EXPECT_EQ(cellText(got[0], Column::R), QString());

    // Ids go on after the last one kept; nothing already there is touched.
    auto j = openOk(path);
    const qint64 c = j->append(u, {});
    j->flush();
    EXPECT_EQ(c, b + 1);
    EXPECT_EQ(plainColumn(path, QStringLiteral("SELECT COUNT(*) FROM entries")).value(0).toInt(),
              3);
}

TEST(JournalFile, MigratesAnEmptyDatabaseAndRefusesANewerOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    plainColumn(path, QStringLiteral("CREATE TABLE other(x)")); // a version-0 database
    {
        auto j = openOk(path);
        ASSERT_TRUE(j);
    }
    EXPECT_EQ(plainColumn(path, QStringLiteral("PRAGMA user_version")).value(0).toInt(), 1);
    EXPECT_EQ(plainColumn(path, QStringLiteral("SELECT COUNT(*) FROM other")).value(0).toInt(), 0);

    plainColumn(path, QStringLiteral("PRAGMA user_version = 99"));
    OpenOutcome outcome;
    EXPECT_FALSE(Journal::open(path, outcome));
    EXPECT_EQ(outcome.status, OpenOutcome::Unavailable);
    EXPECT_TRUE(outcome.message().startsWith(QStringLiteral("Журнал измерений недоступен")));
    // A newer program's journal is left as it is.
    EXPECT_EQ(plainColumn(path, QStringLiteral("PRAGMA user_version")).value(0).toInt(), 99);
}

TEST(JournalFile, ADamagedFileIsPutAsideAndAFreshOneStarted) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
    {
        auto j = openOk(path);
        for (int i = 0; i < 200; ++i)
            j->append(result(izmR, 1000, 1000 + i, 0, 0, Noon.addSecs(i)), {});
        j->flush();
    }
    // Wreck the pages after the header, as a torn write would.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    ASSERT_GT(bytes.size(), 8192);
    for (qsizetype i = 100; i < bytes.size(); ++i)
        bytes[i] = char(0xA5 ^ (i & 0xFF));
    f.seek(0);
    f.write(bytes);
    f.close();
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));

    OpenOutcome outcome;
    auto j = Journal::open(path, outcome);
    ASSERT_TRUE(j);
    EXPECT_EQ(outcome.status, OpenOutcome::Damaged);
    EXPECT_EQ(outcome.message(),
              QStringLiteral("Журнал измерений поврежден и сохранен как ") + outcome.movedTo);
    EXPECT_TRUE(QFileInfo(outcome.movedTo)
                    .fileName()
                    .startsWith(QStringLiteral("t5170.journal.damaged-") +
                                QDate::currentDate().toString(Qt::ISODate)));
    // The damaged bytes are kept as they were.
    QFile moved(outcome.movedTo);
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), bytes);
    j->append(result(izmU, 100, 0, 0, 0, Noon), {});
    j->flush();
    EXPECT_EQ(plainColumn(path, QStringLiteral("SELECT COUNT(*) FROM entries")).value(0).toInt(),
              1);

    // Not a database at all.
    j.reset();
    QFile text(path);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
    text.write(QByteArray(4096, 'x'));
    text.close();
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    j = Journal::open(path, outcome);
    ASSERT_TRUE(j);
    EXPECT_EQ(outcome.status, OpenOutcome::Damaged);
}

TEST(JournalFile, AFolderWithoutWritePermissionMeansNoJournal) {
    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    const QString cases[] = {
        locked + QStringLiteral("/t5170.journal.sqlite"),
        // A system folder nobody may create files in.
        QStringLiteral("/sys/t5170.journal.sqlite"),
        dir.filePath(QStringLiteral("missing/t5170.journal.sqlite")),
    };
    for (const QString& path : cases) {
        OpenOutcome outcome;
        EXPECT_FALSE(Journal::open(path, outcome)) << path.toStdString();
        EXPECT_EQ(outcome.status, OpenOutcome::Unavailable);
        EXPECT_TRUE(outcome.message().startsWith(QStringLiteral("Журнал измерений недоступен\n")));
        EXPECT_TRUE(outcome.message().contains(path)) << outcome.message().toStdString();
        EXPECT_FALSE(outcome.reason.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    ::chmod(QFile::encodeName(locked).constData(), 0755);

    // A journal file without write permission is left as it is.
    const QString readOnly = dir.filePath(QStringLiteral("ro.journal.sqlite"));
    {
        auto j = openOk(readOnly);
        j->append(result(izmU, 100, 0, 0, 0, Noon), {});
    }
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    OpenOutcome outcome;
    EXPECT_FALSE(Journal::open(readOnly, outcome));
    EXPECT_EQ(outcome.status, OpenOutcome::Unavailable);
    EXPECT_TRUE(outcome.reason.contains(readOnly)) << outcome.reason.toStdString();
    ::chmod(QFile::encodeName(readOnly).constData(), 0644);
    EXPECT_EQ(
        plainColumn(readOnly, QStringLiteral("SELECT COUNT(*) FROM entries")).value(0).toInt(), 1);
}

TEST(JournalFile, AFullDiskIsToldOnceAndNothingIsLost) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    auto j = openOk(path);
    QSignalSpy failed(j.get(), &Journal::writeFailed);
    j->append(result(izmU, 100, 0, 0, 0, Noon), {});
    j->flush();
    const int pages = plainColumn(path, QStringLiteral("PRAGMA page_count")).value(0).toInt();
    j->setPageLimit(pages);
    int appended = 1;
    // A few pages' worth of results no longer fit.
    for (; appended < 400; ++appended)
        j->append(result(izmPol, 2500, 5000 + appended, 9000, 1200, Noon.addSecs(appended)),
                  {QStringLiteral("Ж"), appended});
    j->flush();
    ASSERT_TRUE(t5170::testing::waitFor([&] { return failed.count() > 0; }, 10000));
    EXPECT_GT(j->pending(), 0);
    // The writer keeps trying: more failures, still one message.
    t5170::testing::runFor(800);
    EXPECT_EQ(failed.count(), 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().contains(QStringLiteral("full")))
        << failed.at(0).at(0).toString().toStdString();

    j->setPageLimit(0); // space again
    ASSERT_TRUE(t5170::testing::waitFor([&] { return j->pending() == 0; }, 10000));
    j->flush();
    EXPECT_EQ(plainColumn(path, QStringLiteral("SELECT COUNT(*) FROM entries")).value(0).toInt(),
              appended);
    // In their order, every one of them.
    const QVariantList ids =
        plainColumn(path, QStringLiteral("SELECT id FROM entries ORDER BY id"));
    for (int i = 0; i < ids.size(); ++i)
        EXPECT_EQ(ids[i].toInt(), i + 1);
    // A later failure is told again.
    j->setPageLimit(plainColumn(path, QStringLiteral("PRAGMA page_count")).value(0).toInt());
    for (int i = 0; i < 400; ++i)
        j->append(result(izmU, 100, 0, 0, 0, Noon), {});
    EXPECT_TRUE(t5170::testing::waitFor([&] { return failed.count() == 2; }, 10000));
    j->setPageLimit(0);
}

TEST(JournalRecovery, RecordsAddedSinceTheLastSaveOfAReportNeverClosed) {
    struct Case {
        const char* name;
        std::function<void(Journal&, const std::vector<qint64>&)> story;
        std::vector<int> expected; // indexes into the entries
        QString path;
    };
    const auto add = [](Journal& j, qint64 report, const std::vector<qint64>& e,
                        std::initializer_list<int> which) {
        for (int i : which)
            j.placed(e[i], report, izmR, 2 + i, QStringLiteral("x"));
    };
    const QString xls = QStringLiteral("/data/отчет 1.xls");
    const Case cases[] = {
        {"never saved",
         [&](Journal& j, const auto& e) {
             add(j, j.reportBegan(ReportEvent::Created), e, {0, 1, 2});
         },
         {0, 1, 2},
         QString()},
        {"saved, then more",
         [&](Journal& j, const auto& e) {
             const qint64 r = j.reportBegan(ReportEvent::Created);
             add(j, r, e, {0, 1});
             j.reportEvent(r, ReportEvent::Saved, xls);
             add(j, r, e, {3, 2});
         },
         {3, 2},
         xls},
        {"opened, added",
         [&](Journal& j, const auto& e) {
             add(j, j.reportBegan(ReportEvent::Opened, xls), e, {4});
         },
         {4},
         xls},
        {"saved last",
         [&](Journal& j, const auto& e) {
             const qint64 r = j.reportBegan(ReportEvent::Opened, xls);
             add(j, r, e, {0});
             j.reportEvent(r, ReportEvent::Saved, xls);
         },
         {},
         xls},
        {"closed",
         [&](Journal& j, const auto& e) {
             const qint64 r = j.reportBegan(ReportEvent::Created);
             add(j, r, e, {0});
             j.reportEvent(r, ReportEvent::Closed);
         },
         {},
         QString()},
        {"declined",
         [&](Journal& j, const auto& e) {
             const qint64 r = j.reportBegan(ReportEvent::Created);
             add(j, r, e, {0});
             j.reportEvent(r, ReportEvent::Declined);
         },
         {},
         QString()},
        {"an older report left open, the last one closed",
         [&](Journal& j, const auto& e) {
             add(j, j.reportBegan(ReportEvent::Created), e, {0});
             const qint64 r = j.reportBegan(ReportEvent::Created);
             add(j, r, e, {1});
             j.reportEvent(r, ReportEvent::Closed);
         },
         {},
         QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("j.sqlite"));
        std::vector<qint64> entries;
        {
            auto j = openOk(path);
            EXPECT_FALSE(j->recovery());
            for (int i = 0; i < 5; ++i)
                entries.push_back(j->append(result(izmR, 500, 100 * i, 0, 0, Noon), {}));
            c.story(*j, entries);
            j->flush();
        }
        auto j = openOk(path);
        if (c.expected.empty()) {
            EXPECT_FALSE(j->recovery());
            continue;
        }
        ASSERT_TRUE(j->recovery());
        std::vector<qint64> want;
        for (int i : c.expected)
            want.push_back(entries[static_cast<std::size_t>(i)]);
        EXPECT_EQ(j->recovery()->entryIds, want);
        EXPECT_EQ(j->recovery()->path, c.path);
    }
}

TEST(JournalRecovery, QuestionNamesTheReport) {
    Recovery r;
    r.entryIds = {4, 5, 6};
    EXPECT_EQ(r.question(), QStringLiteral("Программа была завершена аварийно. В отчете «новый "
                                           "отчет» остались несохраненные записи: 3. "
                                           "Восстановить их?"));
    r.path = QStringLiteral("/home/op/Отчеты/цех 2.xlsx");
    EXPECT_EQ(r.reportName(), QStringLiteral("цех 2.xlsx"));
    EXPECT_TRUE(r.question().contains(QStringLiteral("«цех 2.xlsx»")));
}

namespace {

// 300 results over five days, of every kind, from three instruments, some in
// two reports.
struct Sample {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("j.sqlite"));
    Sample() {
        auto j = openOk(path);
        QRandomGenerator rnd(13);
        const qint64 reportA = j->reportBegan(ReportEvent::Opened, QStringLiteral("/r/цех.xls"));
        const qint64 reportB = j->reportBegan(ReportEvent::Created);
        for (int i = 0; i < 300; ++i) {
            const auto kind = static_cast<TIzmType>(rnd.bounded(4));
            const QDateTime at = Noon.addSecs(-2 * 86400 + i * 1400 + rnd.bounded(60));
            const Device device =
                i % 7 == 0 ? Device{} : Device{QString(QChar(u'А' + i % 3)), 100 + i % 3};
            const qint64 id =
                j->append(result(kind, 100 * (1 + rnd.bounded(25)), rnd.bounded(3000000),
                                 rnd.bounded(3000000), rnd.bounded(3000), at),
                          device);
            if (i % 5 == 0)
                j->placed(id, i % 2 ? reportA : reportB, kind, 2 + i,
                          i % 2 ? QStringLiteral("цех.xls") : QStringLiteral("новый отчет"));
        }
        j->flush();
    }
};

std::vector<qint64> ids(const std::vector<Entry>& entries) {
    std::vector<qint64> out;
    for (const Entry& e : entries)
        out.push_back(e.id);
    return out;
}

} // namespace

TEST(JournalQuery, FiltersAndSortingGiveThePlainQuerysRows) {
    Sample s;
    Reader reader(s.path);
    ASSERT_TRUE(reader.isOpen());
    ASSERT_EQ(reader.count({}), 300);
    const qint64 day8 = QDate(2026, 12, 8).startOfDay().toMSecsSinceEpoch();
    const qint64 day9 = QDate(2026, 12, 9).startOfDay().toMSecsSinceEpoch();
    struct Case {
        Filter filter;
        Sort sort;
        QString sql;
    };
    const Case cases[] = {
        {{}, {}, QStringLiteral("SELECT id FROM entries ORDER BY ts DESC, id DESC")},
        {{QDate(2026, 12, 8), QDate(2026, 12, 8), std::nullopt, {}},
         {Column::U, Qt::AscendingOrder},
         QStringLiteral("SELECT id FROM entries WHERE ts >= %1 AND ts < %2 ORDER BY u, id")
             .arg(day8)
             .arg(day9)},
        {{QDate(2026, 12, 9), std::nullopt, izmAbs, {}},
         {Column::R, Qt::DescendingOrder},
         QStringLiteral("SELECT id FROM entries WHERE ts >= %1 AND kind = 2 "
                        "ORDER BY r_kom DESC, id DESC")
             .arg(day9)},
        {{std::nullopt, QDate(2026, 12, 7), std::nullopt, {}},
         {Column::Kind, Qt::AscendingOrder},
         QStringLiteral("SELECT id FROM entries WHERE ts < %1 ORDER BY kind, id").arg(day8)},
        {{{}, {}, std::nullopt, QStringLiteral("Б10")},
         {Column::K, Qt::AscendingOrder},
         QStringLiteral("SELECT id FROM entries WHERE serial_letter = 'Б' AND serial_number = 101 "
                        "ORDER BY koef, id")},
        {{{}, {}, izmR, QStringLiteral("цех")},
         {Column::Report, Qt::AscendingOrder},
         QStringLiteral("SELECT id FROM entries WHERE kind = 1 AND report_name = 'цех.xls' "
                        "ORDER BY report_name, id")},
        {{{}, {}, std::nullopt, QStringLiteral("%")},
         {},
         QStringLiteral("SELECT id FROM entries WHERE 0")},
        {{},
         {Column::Device, Qt::DescendingOrder},
         QStringLiteral("SELECT id FROM entries ORDER BY serial_letter DESC, serial_number DESC, "
                        "id DESC")},
        {{},
         {Column::R2, Qt::AscendingOrder},
         QStringLiteral("SELECT id FROM entries ORDER BY r2_kom, id")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql.toStdString());
        std::vector<qint64> want;
        for (const QVariant& v : plainColumn(s.path, c.sql))
            want.push_back(v.toLongLong());
        // Page by page, as the window fetches them.
        std::vector<qint64> got;
        for (qint64 offset = 0;; offset += 17) {
            const auto page = ids(reader.page(c.filter, c.sort, offset, 17));
            got.insert(got.end(), page.begin(), page.end());
            if (page.size() < 17)
                break;
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(reader.count(c.filter), qint64(want.size()));
    }
}

TEST(JournalCsv, PythonReadsBackTheSameValues) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("j.sqlite"));
    {
        auto j = openOk(path);
        j->append(result(izmU, 1000, 0, 0, 0, QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))),
                  {QStringLiteral("Щ"), 17});
        const qint64 id = j->append(result(izmPol, 2500, 999, 1500000, 2125,
                                           QDateTime(QDate(2026, 12, 31), QTime(23, 59, 58))),
                                    {});
        j->placed(id, j->reportBegan(ReportEvent::Created), izmPol, 2,
                  QStringLiteral("с;точкой \"и\" кавычками.xls"));
        j->append(result(izmR, 2500, 1500, 0, 0, QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0))), {});
        j->flush();
    }
    Reader reader(path);
    const auto entries = reader.page({}, {Column::Date, Qt::AscendingOrder}, 0, 100);
    ASSERT_EQ(entries.size(), 3u);
    const QString csv = dir.filePath(QStringLiteral("out.csv"));
    ASSERT_EQ(saveCsv(csv, entries), QString());
    QFile raw(csv);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().startsWith("\xEF\xBB\xBF\xD0\x94")); // BOM, "Д"

    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"),
              QStringLiteral("import csv, json, sys\n"
                             "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                             "    print(json.dumps(list(csv.reader(f, delimiter=';'))))\n"),
              csv});
    ASSERT_TRUE(py.waitForFinished(60000));
    ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
    ASSERT_EQ(rows.size(), 4);
    const auto row = [&](int i) {
        QStringList out;
        for (const auto& v : rows[i].toArray())
            out << v.toString();
        return out;
    };
    EXPECT_EQ(row(0), csvHeader());
    EXPECT_EQ(row(1), (QStringList{"01.01.2026", "00:00:00", text::kindCaption(izmR), "2500",
                                   "1,50", "МОм", "", "", "", "", ""}));
    EXPECT_EQ(row(2), (QStringList{"04.03.2026", "05:06:07", text::kindCaption(izmU), "1000", "",
                                   "", "", "", "", "Щ17", ""}));
    EXPECT_EQ(row(3),
              (QStringList{"31.12.2026", "23:59:58", text::kindCaption(izmPol), "2500", "999",
                           "КОм", "1,5", "ГОм", "2,125", "", "с;точкой \"и\" кавычками.xls"}));

    // An unwritable target leaves nothing half-written behind.
    EXPECT_FALSE(saveCsv(QStringLiteral("/sys/out.csv"), entries).isEmpty());
}

TEST(JournalQuery, ASeriesInItsOrderAndTheLatestSeries) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
    std::vector<qint64> first, second;
    {
        auto j = openOk(path);
        ASSERT_TRUE(j);
        Reader empty(path);
        EXPECT_FALSE(empty.latestSeries());
        const qint64 a = j->newSeries(), b = j->newSeries();
        // Interleaved, and one entry placed in its series only afterwards,
        // as the window does it.
        for (int i = 1; i <= 3; ++i) {
            first.push_back(j->append(result(izmR, 1000, 1000 * i, 0, 0, Noon.addSecs(10 * i)), {},
                                      SeriesRef{a, i}));
            j->append(result(izmU, 500, 0, 0, 0, Noon.addSecs(10 * i + 1)), {});
        }
        const qint64 late = j->append(result(izmAbs, 1000, 7, 8, 900, Noon.addSecs(100)), {});
        j->inSeries(late, {b, 1});
        second.push_back(late);
        j->append(result(izmU, 500, 0, 0, 0, Noon.addSecs(200)), {});
        j->flush();
        EXPECT_EQ(j->pending(), 0);
    }
    Reader reader(path);
    ASSERT_TRUE(reader.isOpen());
    const auto ids = [](const std::vector<Entry>& entries) {
        std::vector<qint64> out;
        for (const Entry& e : entries)
            out.push_back(e.id);
        return out;
    };
    const auto latest = reader.latestSeries();
    ASSERT_TRUE(latest);
    EXPECT_EQ(ids(reader.series(*latest)), second);
    EXPECT_EQ(ids(reader.series(*latest - 1)), first);
    EXPECT_TRUE(reader.series(*latest + 1).empty());
}

TEST(JournalQuery, ResultsOfAFilterOldestFirstWithTheirTime) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
    {
        auto j = openOk(path);
        ASSERT_TRUE(j);
        // Not in time order, two days, every kind.
        for (int i = 0; i < 12; ++i)
            j->append(result(TIzmType(i % 4), 100 + i, 2000000 * i, 1000 + i, 1100 + i,
                             Noon.addSecs(3600 * ((i * 7) % 12) * 4)),
                      {});
        j->flush();
    }
    Reader reader(path);
    Filter filter;
    filter.from = Noon.date().addDays(1);
    filter.kind = izmAbs;
    const auto got = reader.results(filter);
    const auto want = reader.page(filter, Sort{Column::Date, Qt::AscendingOrder}, 0, 100);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].ms, want[i].result.Time.toMSecsSinceEpoch()) << i;
        EXPECT_TRUE(got[i].result.Time.isNull());
        TIzmResult r = got[i].result;
        r.Time = want[i].result.Time;
        EXPECT_EQ(r, want[i].result) << i;
    }
}
