#pragma once
// Facts of the workbook formats that the engine, its files and its window
// share: the grid's limits, the default column width, the date systems'
// day zero and the built-in number formats. The .xls file's smaller limits
// are in xls/XlsFile.h.

#include <QDate>
#include <QString>

#include <string>

namespace t5170::sheet {

// The grid of a worksheet: rows 1..MaxRows, columns 1..MaxColumns.
inline constexpr int MaxRows = 1'048'576;
inline constexpr int MaxColumns = 16'384;

// Letters of a 0-based column: 0 -> "A", 27 -> "AB".
std::string columnName(int col);

// Width of a column that was never given one, in characters of the default
// font's digits.
inline constexpr double DefaultColumnWidth = 8.43;

// Day zero of the automation date, 30.12.1899: from 1.3.1900 on also the
// 1900 date system's (which counts a fictitious 29.2.1900).
QDate automationEpoch();
// Day zero of the 1904 date system, 1.1.1904.
QDate epoch1904();

// The code a built-in number format id stands for (the ids a file uses
// without defining them), "" for an id that is not built in. Those whose
// look depends on the system's locale (the short date, date and time, and
// the East Asian dates) are given in their Russian form.
QString builtinFormat(int id);
// The built-in id that shows exactly `code` the same everywhere, or -1 (0
// for General, "").
int builtinFormatId(const QString& code);

} // namespace t5170::sheet
