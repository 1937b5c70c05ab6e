// Printing a workbook, rendered to PDF files.

#include "sheet/ui/SheetPrint.h"
#include "XlsxTestUtil.h"
#include "sheet/TypedInput.h"

#include <QApplication>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

using namespace t5170;
using namespace t5170::sheet;

namespace {

Cell text(const QString& t) {
    Cell c;
    c.kind = Cell::Kind::Text;
    c.text = t;
    return c;
}

Cell number(double v, const QString& format = {}) {
    Cell c;
    c.kind = Cell::Kind::Number;
    c.number = v;
    c.format = format;
    return c;
}

Workbook reportBook(int records) {
    Workbook book;
    for (const char* name : {"Измерение сопротивления", "Пустой лист", "Измерение напряжения"}) {
        Sheet s;
        s.name = QString::fromUtf8(name);
        book.sheets.push_back(s);
    }
    Sheet& r = book.sheets[0];
    const char* headings[] = {"Дата", "Время", "Напряжение", "Сопротивление", "Размерность"};
    for (int c = 0; c < 5; ++c) {
        r.set(0, c, text(QString::fromUtf8(headings[c])));
        r.columnWidths[c] = c < 2 ? 10 : 15;
    }
    for (int i = 1; i <= records; ++i) {
        r.set(i, 0, number(46082, kDateFormat));
        r.set(i, 1, number((9 * 3600 + 5 * 60 + 7) / 86400.0, kTimeFormat));
        r.set(i, 2, number(500 + i));
        r.set(i, 3, text(QStringLiteral("12,3")));
        r.set(i, 4, text(QStringLiteral("МОм")));
    }
    Sheet& u = book.sheets[2];
    u.set(0, 0, text(QStringLiteral("Дата")));
    u.set(1, 0, number(46083, kDateFormat));
    return book;
}

// Page objects of a PDF as Qt writes it.
int pdfPages(const QByteArray& pdf) {
    int n = 0;
    auto it = QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))
                  .globalMatch(QString::fromLatin1(pdf));
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

QString pdfText(const QString& path) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return {};
    QProcess p;
    p.start(tool, {QStringLiteral("-layout"), path, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

class Printing : public testing::Test {
protected:
    int render(const Workbook& book, const QString& file) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(file));
        return renderWorkbook(book, QStringLiteral("Книга1"), printer);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Printing, EachSheetWithContentIsATitledTable) {
    const int pages = render(reportBook(3), QStringLiteral("short.pdf"));
    EXPECT_EQ(pages, 2) << "the empty sheet is left out";
    const QString pdf = dir.filePath(QStringLiteral("short.pdf"));
    EXPECT_EQ(pdfPages(test::readAll(pdf)), 2);
    const QString textOut = pdfText(pdf);
    ASSERT_FALSE(textOut.isEmpty()) << "pdftotext (poppler-utils) gave no text";
    for (const char* expected : {"Измерение сопротивления", "Измерение напряжения", "Сопротивление",
                                 "01.03.2026", "09:05:07", "503", "12,3", "МОм", "02.03.2026"})
        EXPECT_TRUE(textOut.contains(QString::fromUtf8(expected))) << expected;
    EXPECT_FALSE(textOut.contains(QStringLiteral("Пустой лист")));
}

TEST_F(Printing, LongSheetsContinueWithTheirHeadings) {
    const int pages = render(reportBook(300), QStringLiteral("long.pdf"));
    const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
    EXPECT_GT(pages, 3);
    EXPECT_EQ(pdfPages(test::readAll(pdf)), pages);
    const QString textOut = pdfText(pdf);
    ASSERT_FALSE(textOut.isEmpty()) << "pdftotext (poppler-utils) gave no text";
    // Every page of the long sheet repeats its title and heading row.
    EXPECT_EQ(textOut.count(QStringLiteral("Размерность")), pages - 1);
    EXPECT_EQ(textOut.count(QStringLiteral("(продолжение)")), pages - 2);
    EXPECT_TRUE(textOut.contains(QStringLiteral("800")));
}

TEST_F(Printing, NothingToPrintSendsNothing) {
    Workbook empty;
    empty.sheets.resize(2);
    EXPECT_EQ(render(empty, QStringLiteral("empty.pdf")), 0);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("empty.pdf"))));
}

TEST_F(Printing, WithoutAPrinterTheDialogAsksAndCancelFails) {
    // The test machine has no print system, as the test command sets it up.
    ASSERT_TRUE(QPrinterInfo::defaultPrinter().isNull()) << "needs a machine without a printer";
    bool dialogShown = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            dialogShown = true;
            dialog->close();
        }
    });
    EXPECT_THROW(printWorkbook(reportBook(1), QStringLiteral("Книга1")), SheetError);
    EXPECT_TRUE(dialogShown);
}
