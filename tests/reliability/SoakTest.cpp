// A long periodic series at full speed with the report open and records
// added automatically: one row per complete result, nothing else growing,
// and the link still answering at the end. T5170_SOAK_RESULTS sets the
// length (2,000 by default; scripts/soak runs 100,000 and prints figures).

#include "Memory.h"
#include "SoakRig.h"

#include "InstrumentCore.h"
#include "core/Texts.h"
#include "sheet/TypedInput.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace t5170::testing {
namespace {

int envInt(const char* name, int def) {
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : def;
}

struct Sample {
    std::uint64_t results;
    std::int64_t rss;
    std::int64_t heap;
    qint64 ms;
};

// Runs until the series has ended, sampling memory every `every` results.
std::vector<Sample> runSeries(SoakRig& rig, std::uint64_t until, std::uint64_t every) {
    std::vector<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    std::uint64_t next = rig.completes;
    const bool ended = rig.runUntil([&] {
        if (rig.completes >= next) {
            samples.push_back({rig.completes, residentBytes(), heapInUse(), clock.elapsed()});
            next = rig.completes + every;
        }
        return !rig.series.isRunning() && rig.completes >= until;
    });
    samples.push_back({rig.completes, residentBytes(), heapInUse(), clock.elapsed()});
    EXPECT_TRUE(ended) << "the series stalled after " << rig.completes << " results";
    return samples;
}

void print(const char* phase, const std::vector<Sample>& s) {
    std::printf("%s\n  %10s %10s %12s %10s\n", phase, "results", "RSS MiB", "heap MiB", "s");
    for (const Sample& x : s)
        std::printf("  %10llu %10.1f %12.1f %10.1f\n", static_cast<unsigned long long>(x.results),
                    double(x.rss) / (1 << 20), x.heap < 0 ? -1.0 : double(x.heap) / (1 << 20),
                    double(x.ms) / 1000);
}

// A line bench/run puts into its table.
void figure(const QString& what, const QString& goal, const QString& measured) {
    std::printf("figure\t%s\t%s\t%s\n", qPrintable(what), qPrintable(goal), qPrintable(measured));
}

// Rows of a sheet as the report counts them: from row 2 down to the first
// empty cell in column 1.
int rowsOn(const automation::WorksheetPtr& sheet) {
    int row = 2;
    while (!sheet->Cells(row, 1)->Value().isEmpty())
        ++row;
    return row - 2;
}

TEST(Soak, LongSeriesWithReportKeepsOneRowPerResultAndFlatMemory) {
    const int n = envInt("T5170_SOAK_RESULTS", 2000);
    constexpr quint64 seed = 5170;
    SoakRig rig;
    rig.sim.setSeed(seed);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.runUntil([&] { return rig.connected; }));
    rig.report.CreateReport();
    ASSERT_TRUE(rig.report.IsOpen);
    const int firstRow = rig.report.NextRow[izmR];
    ASSERT_EQ(firstRow, 2);

    // With the report: every result becomes a row.
    rig.startSeries(izmR, n);
    const auto withReport = runSeries(rig, std::uint64_t(n), std::max(1, n / 10));
    print("series, report open, records added automatically", withReport);
    ASSERT_EQ(rig.completes, std::uint64_t(n));
    EXPECT_EQ(rig.sim.resultsSent(), std::uint64_t(n));
    EXPECT_EQ(rig.finished, std::uint64_t(n));
    EXPECT_EQ(rig.startButtonEnabled, 1) << "the series ended once";
    EXPECT_EQ(rig.sim.counters().startsIgnored, 0u) << "a start code came during a measurement";
    EXPECT_EQ(rig.sim.missingAcks(), 0u);
    EXPECT_EQ(rig.sim.counters().unexpectedAcks, 0u);
    EXPECT_TRUE(rig.dialogs.errors.empty()) << rig.dialogs.errorTexts().join('\n').toStdString();
    EXPECT_EQ(rig.report.NextRow[izmR], firstRow + n);
    EXPECT_EQ(rowsOn(rig.report.sheets()[izmR]), n);
    for (TIzmType other : {izmU, izmAbs, izmPol})
        EXPECT_EQ(rowsOn(rig.report.sheets()[other]), 0);

    // Row k holds the k-th result the instrument sent, in order.
    sim::ResultGenerator expected(seed);
    int wrong = 0;
    for (int row = firstRow; row < firstRow + n && wrong < 5; ++row) {
        const sim::Result r = expected.next(sim::kindResistance, rig.sim.testVoltage());
        const RangedResistance rr = rangeResistance(r.kOm);
        const auto& sheet = rig.report.sheets()[izmR];
        // The four-character text is typed into the cell ("986," becomes 986).
        const double u = sheet->Cells(row, 3)->Value().toDouble();
        const double res = sheet->Cells(row, 4)->Value().toDouble();
        const double want = sheet::parseNumber(text::fourChar(rr.value)).value_or(-1);
        if (u != r.volts || res != want) {
            ++wrong;
            ADD_FAILURE() << "row " << row << ": U " << u << ", R " << res << " instead of "
                          << r.volts << ", " << want;
        }
    }

    // Without adding records the same series must not grow anything.
    rig.autoAdd = false;
    const std::uint64_t before = rig.completes;
    rig.startSeries(izmR, n);
    const auto withoutRows = runSeries(rig, before + std::uint64_t(n), std::max(1, n / 10));
    print("series, report open, nothing added", withoutRows);
    EXPECT_EQ(rig.completes, before + std::uint64_t(n));
    EXPECT_EQ(rowsOn(rig.report.sheets()[izmR]), n);
    if (!underAddressSanitizer() && withoutRows.size() > 2) {
        // From the first sample on (buffers and caches are warm by then).
        const std::int64_t grown = withoutRows.back().heap - withoutRows[1].heap;
        const std::uint64_t results = withoutRows.back().results - withoutRows[1].results;
        std::printf("heap growth without records: %lld bytes over %llu results\n",
                    static_cast<long long>(grown), static_cast<unsigned long long>(results));
        figure(QStringLiteral("Soak: heap growth over %1 results with nothing added").arg(results),
               QStringLiteral("flat (0)"), QStringLiteral("%1 bytes").arg(grown));
        EXPECT_LT(grown, std::max<std::int64_t>(256 * 1024, std::int64_t(results) * 8));
    }
    if (!underAddressSanitizer() && withReport.size() > 2) {
        const double perRow = double(withReport.back().heap - withReport[1].heap) /
                              double(withReport.back().results - withReport[1].results);
        std::printf("heap per record: %.0f bytes\n", perRow);
        figure(QStringLiteral("Soak: heap per report record"), QStringLiteral("—"),
               QStringLiteral("%1 bytes").arg(perRow, 0, 'f', 0));
        figure(QStringLiteral("Soak: resident memory after %1 results added").arg(n),
               QStringLiteral("—"),
               QStringLiteral("%1 MiB (%2 MiB at start)")
                   .arg(double(withReport.back().rss) / (1 << 20), 0, 'f', 1)
                   .arg(double(withReport.front().rss) / (1 << 20), 0, 'f', 1));
        figure(QStringLiteral("Soak: results per second, report open, records added"),
               QStringLiteral("—"),
               QStringLiteral("%1").arg(double(n) * 1000 /
                                            double(std::max<qint64>(1, withReport.back().ms)),
                                        0, 'f', 0));
    }

    // Still answering: one more measurement of another kind lands in the
    // report, and the report saves and reads back whole.
    rig.autoAdd = true;
    rig.startOne(izmAbs);
    ASSERT_TRUE(rig.runUntil([&] { return rig.completes == before + std::uint64_t(n) + 1; }));
    EXPECT_EQ(rowsOn(rig.report.sheets()[izmAbs]), 1);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    if (n + 1 > 65535) {
        // An .xls sheet ends at row 65,536: the save is refused, the records stay.
        rig.dialogs.saveNames = {dir.filePath(QStringLiteral("soak.xls"))};
        rig.report.SaveReportAs();
        EXPECT_EQ(rig.dialogs.errorTexts(),
                  QStringList({QStringLiteral("Невозможно сохранить отчет")}));
        EXPECT_TRUE(rig.report.IsOpen);
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("soak.xls"))));
        rig.dialogs.errors.clear();
    }
    const QString path = dir.filePath(QStringLiteral("soak.xlsx"));
    rig.dialogs.saveNames = {path};
    rig.report.SaveReportAs();
    ASSERT_TRUE(rig.dialogs.errors.empty()) << rig.dialogs.errorTexts().join('\n').toStdString();
    EXPECT_TRUE(rig.report.IsSaved);
    auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    auto book = app->WorkBooks()->Open(path);
    const QString resistanceSheet = rig.report.sheets()[izmR]->Name();
    int found = 0;
    for (int i = 1; i <= 4; ++i) {
        auto sheet = book->WorkSheets(i);
        if (sheet->Name() == resistanceSheet) {
            EXPECT_EQ(rowsOn(sheet), n);
            ++found;
        }
    }
    EXPECT_EQ(found, 1);
    app->Quit();
    figure(QStringLiteral("Soak: report rows per 0x5E sent, %1 results").arg(n),
           QStringLiteral("exactly 1"),
           QStringLiteral("%1 rows / %2 sent").arg(rowsOn(rig.report.sheets()[izmR])).arg(n));
}

} // namespace
} // namespace t5170::testing
