// The t5170-report command-line tool, run as operators run it.

#include "ReportTool.h"
#include "XlsxTestUtil.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using t5170::test::fixture;

namespace {

using t5170::testing::ToolRun;

ToolRun tool(const QStringList& args) {
    return t5170::testing::runReportTool(args);
}

} // namespace

TEST(ReportTool, CatPrintsEverySheetAsTheEngineReadsIt) {
    const ToolRun r =
        tool({QStringLiteral("cat"), fixture(QStringLiteral("report-three-kinds.xlsx"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(
        r.out.startsWith(QStringLiteral("== Измерение сопротивления ==\n"
                                        "Дата\tВремя\tНапряжение\tСопротивление\tРазмерность\n"
                                        "01.03.2026\t09:05:07\t500\t12,3\tМОм\n")))
        << r.out.toStdString();
    EXPECT_TRUE(
        r.out.contains(QStringLiteral("== Измерение Поляризации ==\nДата\tВремя\tНапряжение\t")));
    EXPECT_TRUE(
        r.out.endsWith(QStringLiteral("== Измерение напряжения ==\nДата\tВремя\tНапряжение\n"
                                      "02.03.2026\t10:59:59\t230\n")))
        << r.out.toStdString();
    // The same workbook saved as .xls reads the same.
    EXPECT_EQ(tool({QStringLiteral("cat"), fixture(QStringLiteral("report-three-kinds.xls"))}).out,
              r.out);
}

TEST(ReportTool, LastShowsFreeRowsAndTheNewestRecord) {
    const ToolRun r =
        tool({QStringLiteral("last"), fixture(QStringLiteral("report-three-kinds.xlsx"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              QStringLiteral(
                  "Измерение сопротивления\tсвободная строка 5\n"
                  "Измерение Абсорбции\tсвободная строка 4\n"
                  "Измерение Поляризации\tсвободная строка 2\n"
                  "Измерение напряжения\tсвободная строка 3\n"
                  "Последняя запись: Измерение абсорбции, лист «Измерение Абсорбции», строка 3\n"
                  "  02.03.2026\n  11:00:00\n  U = 1000 Вольт\n  R = 2,5 ГОм\n"
                  "  R2 = 3,12 ГОм\n  K = 1,248\n"));

    const ToolRun gap =
        tool({QStringLiteral("last"), fixture(QStringLiteral("gap-in-column-1.xlsx"))});
    EXPECT_TRUE(
        gap.out.startsWith(QStringLiteral("Измерение сопротивления\tсвободная строка 5\n")));
    EXPECT_TRUE(gap.out.contains(QStringLiteral("строка 4\n  04.02.2026\n")));

    const ToolRun empty =
        tool({QStringLiteral("last"), fixture(QStringLiteral("empty-report.xls"))});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_TRUE(empty.out.endsWith(QStringLiteral("Последняя запись: нет\n")));
}

TEST(ReportTool, ConvertGoesBothWaysAndKeepsTheContent) {
    QTemporaryDir dir;
    const QString xlsx = dir.filePath(QStringLiteral("отчёт.xlsx"));
    const QString xls = dir.filePath(QStringLiteral("отчёт снова.xls"));
    const QString source = fixture(QStringLiteral("report-three-kinds.xls"));
    ASSERT_EQ(tool({QStringLiteral("convert"), source, xlsx}).exitCode, 0);
    ASSERT_EQ(tool({QStringLiteral("convert"), xlsx, xls}).exitCode, 0);
    EXPECT_TRUE(t5170::test::readAll(xlsx).startsWith("PK\x03\x04"));
    EXPECT_TRUE(t5170::test::readAll(xls).startsWith("\xD0\xCF\x11\xE0"));
    const QString original = tool({QStringLiteral("cat"), source}).out;
    ASSERT_FALSE(original.isEmpty());
    EXPECT_EQ(tool({QStringLiteral("cat"), xlsx}).out, original);
    EXPECT_EQ(tool({QStringLiteral("cat"), xls}).out, original);
    EXPECT_EQ(tool({QStringLiteral("last"), xls}).out, tool({QStringLiteral("last"), source}).out);
}

TEST(ReportTool, BadInputExitsWithAMessage) {
    QTemporaryDir dir;
    const QString junk = dir.filePath(QStringLiteral("junk.xls"));
    t5170::test::writeAll(junk, "это не таблица");
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{}, 2, "не задана команда"},
        {{QStringLiteral("print"), junk}, 2, "неизвестная команда"},
        {{QStringLiteral("cat")}, 2, "Использование"},
        {{QStringLiteral("convert"), junk}, 2, "Использование"},
        {{QStringLiteral("cat"), dir.filePath(QStringLiteral("нет.xlsx"))}, 1, "нет.xlsx"},
        {{QStringLiteral("cat"), junk}, 1, "junk.xls"},
        {{QStringLiteral("last"), fixture(QStringLiteral("three-sheets.xlsx"))},
         1,
         "Неправильный формат файла"},
        {{QStringLiteral("convert"), fixture(QStringLiteral("empty-report.xlsx")),
          dir.filePath(QStringLiteral("нет папки/out.xls"))},
         1,
         "out.xls"},
    };
    for (const Case& c : cases) {
        const ToolRun r = tool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    const ToolRun help = tool({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("convert ВХОД ВЫХОД")));
}

// The tool reads workbooks and nothing else: it loads neither the widgets
// nor the serial port, so it runs where neither is installed.
TEST(ReportTool, LoadsNoWidgetsSerialPortOrPrinting) {
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(T5170_BIN_DIR "/t5170-report")});
    ASSERT_TRUE(ldd.waitForFinished(60000));
    ASSERT_EQ(ldd.exitCode(), 0);
    const QString libs = QString::fromUtf8(ldd.readAllStandardOutput());
    EXPECT_TRUE(libs.contains(QStringLiteral("libQt6Core.so")));
    for (const char* lib : {"libQt6Widgets", "libQt6Gui", "libQt6SerialPort", "libQt6PrintSupport"})
        EXPECT_FALSE(libs.contains(QString::fromLatin1(lib))) << lib;
}
