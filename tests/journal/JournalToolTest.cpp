// `t5170-report journal` run as an operator runs it, on a journal written by
// the program's own writer.
#include "ReportTool.h"
#include "core/Texts.h"
#include "journal/Journal.h"
#include "journal/JournalCsv.h"
#include "link/ResultRecords.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace t5170;
using namespace t5170::journal;
using t5170::testing::runReportTool;
using t5170::testing::ToolRun;

namespace {

ToolRun tool(const QStringList& args) {
    return runReportTool(args);
}

TIzmResult at(TIzmType kind, int u, int kOm, const QDateTime& when) {
    return makeResult(kind, std::uint16_t(u), kOm, kOm, 1250, when);
}

class JournalTool : public ::testing::Test {
protected:
    void SetUp() override {
        OpenOutcome outcome;
        auto j = Journal::open(path, outcome);
        ASSERT_TRUE(j);
        const QDate day(2026, 12, 1);
        for (int i = 0; i < 12; ++i) {
            const qint64 id = j->append(at(static_cast<TIzmType>(i % 4), 100 * (i + 1), 1500 + i,
                                           QDateTime(day.addDays(i / 4), QTime(8, i, 0))),
                                        {QStringLiteral("Щ"), 40 + i});
            if (i == 5)
                j->placed(id, j->reportBegan(ReportEvent::Created), izmR, 2,
                          QStringLiteral("новый отчет"));
        }
        j->flush();
    }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("t5170.journal.sqlite"));
};

} // namespace

TEST_F(JournalTool, PrintsTheWindowsColumnsNewestFirst) {
    const ToolRun r = tool({QStringLiteral("journal"), path});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 14); // header, 12 entries, the empty rest
    EXPECT_EQ(lines[0], QStringLiteral("Дата\tВремя\tИзмерение\tU\tR\tR2\tK\tПрибор\tОтчет"));
    EXPECT_EQ(lines[1], QStringLiteral("03.12.2026\t08:11:00\t") + text::kindCaption(izmPol) +
                            QStringLiteral("\t1200 Вольт\t1,51 МОм\t1,51 МОм\t1,25\tЩ51\t"));
    EXPECT_EQ(lines[7], QStringLiteral("02.12.2026\t08:05:00\t") + text::kindCaption(izmR) +
                            QStringLiteral("\t600 Вольт\t1,50 МОм\t\t\tЩ45\tновый отчет"));
    EXPECT_EQ(lines[12], QStringLiteral("01.12.2026\t08:00:00\t") + text::kindCaption(izmU) +
                             QStringLiteral("\t100 Вольт\t\t\t\tЩ40\t"));
}

TEST_F(JournalTool, FiltersAndCsv) {
    struct Case {
        QStringList options;
        int rows;
    };
    const Case cases[] = {
        {{QStringLiteral("--kind"), QStringLiteral("r")}, 3},
        {{QStringLiteral("--from"), QStringLiteral("02.12.2026")}, 8},
        {{QStringLiteral("--to"), QStringLiteral("2.12.2026")}, 8},
        {{QStringLiteral("--from"), QStringLiteral("02.12.2026"), QStringLiteral("--to"),
          QStringLiteral("02.12.2026"), QStringLiteral("--kind"), QStringLiteral("a")},
         1},
        {{QStringLiteral("--from"), QStringLiteral("04.12.2026")}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const ToolRun r = tool(QStringList{QStringLiteral("journal"), path} + c.options);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.bytes.count('\n'), c.rows + 1);
    }
    // The CSV is the window's export, byte for byte.
    const ToolRun csv = tool({QStringLiteral("journal"), path, QStringLiteral("--csv"),
                              QStringLiteral("--kind"), QStringLiteral("r")});
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    Reader reader(path);
    Filter f;
    f.kind = izmR;
    EXPECT_EQ(csv.bytes, csvBytes(reader.page(f, {}, 0, 100)));
    EXPECT_TRUE(csv.bytes.startsWith("\xEF\xBB\xBF"));
}

TEST_F(JournalTool, WrongCommandLinesAndFiles) {
    const struct {
        QStringList args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{QStringLiteral("journal")}, 2, "нужен файл"},
        {{QStringLiteral("journal"), path, QStringLiteral("--kind"), QStringLiteral("x")},
         2,
         "неизвестный вид"},
        {{QStringLiteral("journal"), path, QStringLiteral("--from"), QStringLiteral("31.02.2026")},
         2,
         "неверная дата"},
        {{QStringLiteral("journal"), path, QStringLiteral("--to")}, 2, "нужно значение"},
        {{QStringLiteral("journal"), path, QStringLiteral("--sort")}, 2, "неизвестный параметр"},
        {{QStringLiteral("journal"), dir.filePath(QStringLiteral("нет.sqlite"))}, 1, "нет.sqlite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ToolRun r = tool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("нет.sqlite"))));
    const ToolRun help = tool({QStringLiteral("--help")});
    EXPECT_TRUE(help.out.contains(
        QStringLiteral("journal ФАЙЛ [--from ДАТА] [--to ДАТА] [--kind u|r|a|p] [--csv]")));
}
