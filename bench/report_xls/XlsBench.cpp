// .xls figures of the embedded engine on a report of 60,000 records:
// writing it, opening it and finding the free rows and the newest record
// through the automation calls as the report does, and adding one record.
// Run: build/bin/bench_report_xls
// Peak memory with the workbook open: build/bin/bench_report_xls --rss
// (writes the workbook in one process, opens it in another and prints that
// process's peak resident size).

#include "ReportBook.h"
#include "sheet/Automation.h"
#include "sheet/TypedInput.h"
#include "sheet/WorkbookFile.h"
#include "sheet/xls/XlsFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace t5170;

namespace {

constexpr int kRecords = 60000;

struct Files {
    QTemporaryDir dir;
    QString big = dir.filePath(QStringLiteral("big.xls"));
    QString small = dir.filePath(QStringLiteral("small.xls"));
    Files() {
        sheet::saveWorkbook(bench::reportBook(kRecords), big);
        sheet::saveWorkbook(bench::reportBook(0), small);
    }
};

Files& files() {
    static Files f;
    return f;
}

// The report's opening: free rows by scanning column 1, then the newest record.
int openAndScan(const QString& path) {
    auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    auto book = app->WorkBooks()->Open(path, 0, false, 1);
    int total = 0;
    for (int i = 1; i <= 4; ++i) {
        auto sheet = book->WorkSheets(i);
        int row = 2;
        while (!sheet->Cells(row, 1)->Value().toText().isEmpty())
            ++row;
        total += row;
        if (row > 2) {
            benchmark::DoNotOptimize(sheet->Cells(row - 1, 1)->Value().toText());
            benchmark::DoNotOptimize(sheet->Cells(row - 1, 2)->Value().toDouble());
            for (int c = 3; c <= 8; ++c)
                benchmark::DoNotOptimize(sheet->Cells(row - 1, c)->Value().toText());
        }
    }
    app->Quit();
    return total;
}

void BM_SaveXls60k(benchmark::State& state) {
    const sheet::Workbook b = bench::reportBook(kRecords);
    QTemporaryDir dir;
    for (auto _ : state)
        sheet::saveWorkbook(b, dir.filePath(QStringLiteral("out.xls")));
}
BENCHMARK(BM_SaveXls60k)->Unit(benchmark::kMillisecond);

void BM_OpenScanXls60k(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(openAndScan(files().big));
}
BENCHMARK(BM_OpenScanXls60k)->Unit(benchmark::kMillisecond);

// One record as the report adds it, on an open workbook.
void addRecord(benchmark::State& state, const QString& path) {
    auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    auto book = app->WorkBooks()->Open(path, 0, false, 1);
    auto sheet = book->WorkSheets(2);
    int row = 2;
    while (!sheet->Cells(row, 1)->Value().toText().isEmpty())
        ++row;
    for (auto _ : state) {
        auto cell = [&](int c) { return sheet->Cells(row, c); };
        cell(6)->Value(QStringLiteral("2,25"));
        cell(7)->Value(QStringLiteral("ГОм"));
        cell(8)->Value(1.248);
        cell(4)->Value(QStringLiteral("1,5"));
        cell(5)->Value(QStringLiteral("МОм"));
        cell(1)->NumberFormat(QStringLiteral("ДД.ММ.ГГГГ"));
        cell(1)->Value(QStringLiteral("1.3.2026"));
        cell(2)->NumberFormat(QStringLiteral("ЧЧ:ММ:СС"));
        cell(2)->Value(QStringLiteral("9:5:7"));
        cell(3)->Value(std::int32_t(1000));
        ++row;
    }
    app->Quit();
}

void BM_AddRecordTo60k(benchmark::State& state) {
    addRecord(state, files().big);
}
BENCHMARK(BM_AddRecordTo60k)->Unit(benchmark::kMicrosecond);

void BM_AddRecordToEmpty(benchmark::State& state) {
    addRecord(state, files().small);
}
BENCHMARK(BM_AddRecordToEmpty)->Unit(benchmark::kMicrosecond);

} // namespace

long peakRssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return -1;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--write")) {
        sheet::saveWorkbook(bench::reportBook(kRecords), args[2]);
        return 0;
    }
    if (args.size() == 3 && args[1] == QStringLiteral("--open")) {
        const int rows = openAndScan(args[2]);
        std::printf("opened and scanned (%d rows): peak RSS %ld kB\n", rows, peakRssKb());
        return 0;
    }
    if (args.size() == 2 && args[1] == QStringLiteral("--rss")) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("big.xls"));
        const QString self = QCoreApplication::applicationFilePath();
        if (QProcess::execute(self, {QStringLiteral("--write"), file}) != 0)
            return 1;
        return QProcess::execute(self, {QStringLiteral("--open"), file});
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
