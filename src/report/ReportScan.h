#pragma once
// A report's records through the automation interface, read and written the
// one way there is: the free row of each kind's sheet, the newest record of
// the whole report, and a record's row. Opening a report in the program,
// `t5170-report last` and the benchmarks all read and write them with it.

#include "core/Measurement.h"
#include "sheet/Automation.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

namespace t5170::report {

// The object an automation call returned; throws Error when it returned
// none.
template <class T> T& need(const std::shared_ptr<T>& object) {
    if (!object)
        throw automation::Error("Объект автоматизации не задан");
    return *object;
}

// The sheets of a report workbook by kind (indexed by TIzmType), each at
// its layout position; throws Error ("Неправильный формат файла ") when the
// workbook has fewer than four.
std::array<automation::WorksheetPtr, 4> reportSheets(automation::Workbook& book);

// The first row from row 2 down whose column-1 cell reads as an empty text:
// where the next record goes. Rows below a gap are not looked at.
int findFreeRow(automation::Worksheet& sheet);

// A kind's newest record, the one in the row above its sheet's free row.
struct ReportRecord {
    TIzmType kind = izmU;
    int row = 0; // 1-based
    // Column 1 read as a date plus column 2 read as a time of day, to the
    // nearest second.
    QDateTime when;
    // Columns 3.. of the row as texts, as the interface converts them; as
    // many as the kind's sheet has (1 for voltage, 3 for resistance, 6 for
    // absorption and polarization).
    std::array<QString, 6> values;
};

// The record whose date and time is later than those of every other kind's
// newest record; nothing when no sheet holds a record or the latest is
// shared. `sheets` and `nextRow` are indexed by TIzmType. Reads, in the
// order resistance, voltage, absorption, polarization, each last record's
// date and time cells, then the newest record's values from column 3 on.
// Throws Error when a last record has no short date in column 1 or no
// number in column 2, or when the newest one's date is out of range.
std::optional<ReportRecord> newestRecord(const std::array<automation::WorksheetPtr, 4>& sheets,
                                         const std::array<int, 4>& nextRow);

// Writes `r` into `row` of its kind's sheet: the values from column 4 on
// (those the kind has), then the date and the time with their display
// formats, then the voltage.
void writeRecordRow(automation::Worksheet& sheet, int row, const TIzmResult& r);

struct ReportScan {
    std::array<automation::WorksheetPtr, 4> sheets{}; // by TIzmType
    std::array<int, 4> nextRow{};                     // by TIzmType
    std::optional<ReportRecord> newest;
};
// Free rows (found in the order voltage, resistance, absorption,
// polarization) and the newest record.
ReportScan scanReport(automation::Workbook& book);

// Caption of a record's kind in the last-record area. Unlike the window's
// own result captions and the sheet names, "абсорбции" is in lower case.
QString lastRecordCaption(TIzmType kind);

// The last-record labels as the main window shows a record: type, "U = ...
// Вольт", "R = ... unit", "R2 = ... unit", "K = ...", date (dd.MM.yyyy)
// and time (HH:mm:ss). Labels a kind does not show are empty.
struct RecordLabels {
    QString type, u, r, r2, k, date, time;
};
RecordLabels recordLabels(const ReportRecord& record);

} // namespace t5170::report
