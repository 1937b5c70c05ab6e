#pragma once
// Reading a report workbook back: the free row of each kind's sheet and the
// newest record of the whole report, through the automation interface, the
// way opening a report shows them. Shared by the report and the
// t5170-report tool.

#include "Automation.h"
#include "Protocol.h"

#include <QString>

#include <array>
#include <optional>

namespace t5170::report {

// Position (1-based) of a kind's sheet in a report workbook.
constexpr int reportSheetPosition(TIzmType kind) {
    switch (kind) {
    case izmR:
        return 1;
    case izmAbs:
        return 2;
    case izmPol:
        return 3;
    case izmU:
        return 4;
    }
    return 0;
}

// The first row from row 2 down whose column-1 cell reads as an empty text:
// where the next record goes. Rows below a gap are not looked at.
int findFreeRow(automation::Worksheet& sheet);

// A kind's newest record, the one in the row above its sheet's free row.
struct ReportRecord {
    TIzmType kind = izmU;
    int row = 0; // 1-based
    // Column 1 read as a date plus column 2 read as a number: days since
    // 30.12.1899 and the time of day as a fraction.
    double dateTime = 0.0;
    // Columns 3.. of the row as texts, as the interface converts them; as
    // many as the kind's sheet has (1 for voltage, 3 for resistance, 6 for
    // absorption and polarization).
    std::array<QString, 6> values;
};

// The record whose date and time is later than those of every other kind;
// nothing when no sheet holds a record or the latest is shared. `sheets`
// and `nextRow` are indexed by TIzmType. Throws SheetError when a sheet's
// last record has no date in column 1 or no number in column 2.
std::optional<ReportRecord> newestRecord(const std::array<automation::WorksheetPtr, 4>& sheets,
                                         const std::array<int, 4>& nextRow);

// The sheets of a report workbook by kind; throws SheetError ("Неправильный
// формат файла ") when it has fewer than four.
std::array<automation::WorksheetPtr, 4> reportSheets(automation::Workbook& book);

struct ReportScan {
    std::array<int, 4> nextRow{}; // by TIzmType
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
