#pragma once
// Legacy Excel 97-2003 workbooks (BIFF8 in a compound file).
//
// Reading is our own walk over the workbook stream: sheets in tab order with
// their names, values (numbers as stored, so dates and times are exact;
// formulas by their last value), display formats and column widths. It
// checks every length and offset against the stream, refuses encrypted
// files, older BIFF versions and sizes beyond the caps below, and skips
// what it does not carry (charts, drawings, comments, chart sheets).
// (libfreexl refuses workbooks that spreadsheet applications write with a
// chart and a comment in them: freexl_open succeeds without a handle. An
// operator's report with such additions must still open, so the tests use
// freexl only as an independent reader of the files it can take.)
//
// Writing is our own: sheets with their Unicode names, numbers, texts (in
// the shared string table), the display formats as FORMAT/XF records, the
// column widths and the date system. Not carried into an .xls: formulas
// (their last values are kept), fonts, fills, borders, alignment, comments,
// charts, chart sheets and anything else beyond values, number formats and
// widths.

#include "sheet/SheetModel.h"

#include <QByteArray>
#include <QString>

namespace t5170::sheet {

// Format limits of BIFF8 and the caps the reader applies on top.
inline constexpr int kXlsMaxRows = 65536;
inline constexpr int kXlsMaxColumns = 256;
// Rows and cell slots (a row holds slots up to its last cell) that a file
// may make the reader hold, all sheets together: 32 MB of 16-byte slots
// and their rows' overhead at most, ample for 65,536 records of the
// report's eight columns.
inline constexpr qint64 kXlsMaxCells = 2 * 1024 * 1024;
inline constexpr qsizetype kXlsMaxFileBytes = 256 * 1024 * 1024;
// Longest cell text written: longer texts are not read back reliably by
// common readers (a string spanning more than one CONTINUE record).
inline constexpr int kXlsMaxTextLength = 4000;

// Reads an .xls file. Throws SheetError for anything that is not a readable
// BIFF8 workbook: truncated or damaged, encrypted, an older BIFF version,
// sizes beyond the format or the caps.
Workbook readXls(const QString& path);

// The BIFF8 workbook stream of `book`. Throws SheetError when the book does
// not fit the format: a sheet with content beyond 65,536 rows or 256
// columns, a text longer than kXlsMaxTextLength, a bad or duplicate sheet
// name, no sheets. Column widths beyond column 256 are dropped (no cell can
// be there).
QByteArray xlsStream(const Workbook& book);

// Writes `book` as an .xls file at `path` (plainly; WorkbookFile makes the
// save atomic).
void writeXls(const Workbook& book, const QString& path);

} // namespace t5170::sheet
