// Figures of the embedded engine on a report of 60,000 records, for .xls and
// .xlsx: opening it and finding the free rows and the newest record as the
// report does, saving it, adding one record, and the peak memory with it
// open; and, where LibreOffice is installed, the time its headless mode
// takes to convert the same files.
//
// Run: build/bin/bench_report [--records N] [--runs N] [--no-libreoffice]

#include "ReportBook.h"
#include "report/ReportScan.h"
#include "sheet/Automation.h"
#include "sheet/TypedInput.h"
#include "sheet/WorkbookFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace t5170;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

template <typename F> double timeMs(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

// The report's opening: the workbook, its four free rows and the newest record.
int openAndScan(const QString& path) {
    const auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    app->WorkBooks()->Open(path, 0, false, 1);
    const report::ReportScan scan = report::scanReport(*app->WorkBooks(1));
    if (!scan.newest)
        std::fprintf(stderr, "no newest record in %s\n", qPrintable(path));
    app->Quit();
    return scan.nextRow[izmAbs];
}

// One record of the absorption sheet, written as the report writes it.
void addRecord(automation::Worksheet& sheet, int row) {
    TIzmResult r;
    r.Kind = izmAbs;
    r.U = 1000;
    r.R = 2.5;
    r.RUnit = unitGOm;
    r.R2 = 3.12;
    r.R2Unit = unitGOm;
    r.Koef = 1248;
    r.Time = QDateTime(QDate(2026, 3, 3), QTime(11, 0, 1));
    r.Valid = true;
    report::writeRecordRow(sheet, row, r);
}

// Mean time of one add, over `count` adds after the book's last row.
double addTimeUs(const QString& path, int count) {
    const auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    app->WorkBooks()->Open(path, 0, false, 1);
    const auto sheet = app->WorkBooks(1)->WorkSheets(2);
    const int first = report::findFreeRow(*sheet);
    addRecord(*sheet, first); // warm
    const double ms = timeMs([&] {
        for (int i = 1; i <= count; ++i)
            addRecord(*sheet, first + i);
    });
    app->Quit();
    return ms * 1000.0 / count;
}

long peakRssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return -1;
}

// Peak memory of a fresh process that opens `path` and scans it.
long rssOfOpening(const QString& path) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--rss"), path});
    p.waitForFinished(120000);
    return p.readAllStandardOutput().trimmed().toLong();
}

// LibreOffice converting `path` headless; nothing when it is not there.
std::optional<double> libreOfficeMs(const QString& path, const QString& outDir,
                                    const QString& profile, int runs) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        return std::nullopt;
    const QString target =
        path.endsWith(QLatin1String(".xls")) ? QStringLiteral("xlsx") : QStringLiteral("xls");
    auto once = [&] {
        QProcess p;
        p.start(soffice,
                {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                 QStringLiteral("--headless"), QStringLiteral("--convert-to"), target,
                 QStringLiteral("--outdir"), outDir, path});
        p.waitForFinished(600000);
    };
    once(); // the first run sets up the profile
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(timeMs(once));
    return median(times);
}

void row(const char* figure, const QString& value, const char* goal, bool ok) {
    std::printf("%-52s %14s   %-22s %s\n", figure, qPrintable(value), goal, ok ? "ok" : "MISSED");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--rss")) {
        openAndScan(args[2]);
        std::printf("%ld\n", peakRssKb());
        return 0;
    }
    int records = 60000;
    int runs = 5;
    bool libreOffice = true;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--records") && i + 1 < args.size())
            records = args[++i].toInt();
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--no-libreoffice"))
            libreOffice = false;
    }

    QTemporaryDir dir;
    const QString xls = dir.filePath(QStringLiteral("report.xls"));
    const QString xlsx = dir.filePath(QStringLiteral("report.xlsx"));
    const QString emptyXlsx = dir.filePath(QStringLiteral("empty.xlsx"));
    const sheet::Workbook book = bench::reportBook(records);
    std::vector<double> saveXls, saveXlsx, saveEdited;
    for (int i = 0; i < runs; ++i) {
        saveXls.push_back(timeMs([&] { sheet::saveWorkbook(book, xls); }));
        saveXlsx.push_back(timeMs([&] { sheet::saveWorkbook(book, xlsx); }));
    }
    sheet::saveWorkbook(bench::reportBook(0), emptyXlsx);
    {
        // Saving an opened .xlsx edits its package: one record added.
        const auto a = automation::createApplication(QStringLiteral("Excel.Application"));
        const QString edited = dir.filePath(QStringLiteral("edited.xlsx"));
        QFile::copy(xlsx, edited);
        a->WorkBooks()->Open(edited, 0, false, 1);
        addRecord(*a->WorkBooks(1)->WorkSheets(2), records + 2);
        for (int i = 0; i < runs; ++i)
            saveEdited.push_back(timeMs([&] { a->WorkBooks(1)->Save(); }));
        a->Quit();
    }

    std::vector<double> openXls, openXlsx;
    for (int i = 0; i < runs; ++i) {
        openXls.push_back(timeMs([&] { openAndScan(xls); }));
        openXlsx.push_back(timeMs([&] { openAndScan(xlsx); }));
    }
    const double addBig = addTimeUs(xlsx, 2000);
    const double addEmpty = addTimeUs(emptyXlsx, 2000);
    const long rssXls = rssOfOpening(xls);
    const long rssXlsx = rssOfOpening(xlsx);

    std::optional<double> loXls, loXlsx;
    if (libreOffice) {
        QTemporaryDir out;
        loXls = libreOfficeMs(xls, out.path(), out.filePath(QStringLiteral("profile")), 3);
        loXlsx = libreOfficeMs(xlsx, out.path(), out.filePath(QStringLiteral("profile")), 3);
    }

    std::printf("Report of %d records (absorption sheet, 8 columns); medians of %d runs\n", records,
                runs);
    std::printf("files: .xls %lld bytes, .xlsx %lld bytes\n\n", QFile(xls).size(),
                QFile(xlsx).size());
    auto ms = [](double v) { return QString::number(v, 'f', 1) + QStringLiteral(" ms"); };
    row("open + free rows + newest record, .xls", ms(median(openXls)), "< 1000 ms",
        median(openXls) < 1000);
    row("open + free rows + newest record, .xlsx", ms(median(openXlsx)), "< 1000 ms",
        median(openXlsx) < 1000);
    row("  .xlsx / .xls", QString::number(median(openXlsx) / median(openXls), 'f', 2), "<= 1.3",
        median(openXlsx) / median(openXls) <= 1.3);
    row("save as .xls", ms(median(saveXls)), "< 1000 ms", median(saveXls) < 1000);
    row("save as .xlsx (new package)", ms(median(saveXlsx)), "< 1000 ms", median(saveXlsx) < 1000);
    row("save opened .xlsx with one record added (edit)", ms(median(saveEdited)), "< 150 ms",
        median(saveEdited) < 150);
    row("add one record, 60,000-row book", QString::number(addBig, 'f', 2) + QStringLiteral(" us"),
        "", true);
    row("add one record, empty book", QString::number(addEmpty, 'f', 2) + QStringLiteral(" us"), "",
        true);
    row("  ratio", QString::number(addBig / addEmpty, 'f', 2), "< 2", addBig / addEmpty < 2);
    row("peak RSS with it open, .xls",
        QString::number(rssXls / 1024.0, 'f', 1) + QStringLiteral(" MiB"), "<= 40 MiB",
        rssXls > 0 && rssXls <= 40 * 1024);
    row("peak RSS with it open, .xlsx",
        QString::number(rssXlsx / 1024.0, 'f', 1) + QStringLiteral(" MiB"), "<= 40 MiB",
        rssXlsx > 0 && rssXlsx <= 40 * 1024);
    if (loXls && loXlsx) {
        row("LibreOffice headless converting the .xls", ms(*loXls), "", true);
        row("LibreOffice headless converting the .xlsx", ms(*loXlsx), "", true);
        row("  LibreOffice / engine, .xls", QString::number(*loXls / median(openXls), 'f', 1),
            ">= 10", *loXls / median(openXls) >= 10);
        row("  LibreOffice / engine, .xlsx", QString::number(*loXlsx / median(openXlsx), 'f', 1),
            ">= 10", *loXlsx / median(openXlsx) >= 10);
    } else {
        std::printf("LibreOffice not measured (%s)\n",
                    libreOffice
                        ? "soffice not installed: T5170_EXTRA_PACKAGES=libreoffice-calc-nogui "
                          "scripts/install-deps"
                        : "--no-libreoffice");
    }
    return 0;
}
