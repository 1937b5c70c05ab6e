#pragma once
// Values as the operator types and reads them in the program's Russian
// locale, and the date systems of workbook files.
//
// Typed input (a text written to a cell):
// - d.m.yyyy, with or without leading zeros, a real date from 1.1.1900
//   (1.1.1904 in the 1904 system) to 31.12.9999, 29.2.1900 included in the
//   1900 system -> a date serial; the cell gets the date format unless it
//   already has a date format;
// - h:m:s, hours 0-23, minutes and seconds 0-59, one or two digits each ->
//   a fraction of a day; the cell gets the time format unless it already has
//   a time format;
// - an optional sign, digits and a decimal comma ("-1,5", "+3", ",5",
//   "999,") -> that number; the format is kept;
// - anything else (among them "1.5", "12:30", "1 000", "1e5") stays text, as
//   does every text in a cell formatted as text ("@"). Blanks around a
//   value are ignored when it is recognised; an empty text empties the cell.
//
// Serial numbers: 1900 system, serial 1 is 1.1.1900 and serial 60 the
// fictitious 29.2.1900, so from 1.3.1900 on a serial is the days since
// 30.12.1899; 1904 system, serial 0 is 1.1.1904.

#include "sheet/SheetModel.h"

#include <QDate>
#include <QString>

#include <optional>

namespace t5170::sheet {

// The display formats the report writes, in file form.
inline const QString kDateFormat = QStringLiteral("DD.MM.YYYY");
inline const QString kTimeFormat = QStringLiteral("HH:MM:SS");

enum class FormatKind { General, Number, Text, Date, Time, DateTime };

struct FormatInfo {
    FormatKind kind = FormatKind::General;
    bool elapsedHours = false; // [h]: hours beyond a day are shown
};

// What a file-form format code displays, judged by its first section:
// d and y make a date, h and s (and AM/PM, [h], [m], [s]) a time, m alone a
// month; quoted text, escapes and bracketed colours and locales are skipped.
// "DD.MM.YYYY", "dd\.mm\.yyyy" and "DD/MM/YYYY" are dates, "HH:MM:SS" and
// "[HH]:MM:SS" times.
FormatInfo formatInfo(const QString& code);

// A display format as written through NumberFormat, in the Russian form or
// in file form, to file form: Д, М, Г, Ч, С become D, M, Y, H, S (case kept)
// outside quotes and escapes; "Основной" and "General" become "" (General).
QString fileFormat(const QString& written);

// Serial of a date in a date system; nullopt outside the system's range.
std::optional<double> dateSerial(const QDate& date, bool date1904);
// Serial of day.month.year, accepting 29.2.1900 in the 1900 system.
std::optional<double> dateSerial(int day, int month, int year, bool date1904);
// Days since 30.12.1899 (the automation date) of a serial holding a date.
double automationDate(double serial, bool date1904);

// The recognisers of typed input, on the text without surrounding blanks.
std::optional<double> parseNumber(const QString& text);
std::optional<double> parseTime(const QString& text); // fraction of a day

// Writes `text` into `cell` as typed (see above).
void typeInto(Cell& cell, const QString& text, bool date1904);

// A cell read as text and as a number; see CellValue in Automation.h.
QString cellText(const Cell& cell, bool date1904);
double cellNumber(const Cell& cell, bool date1904); // throws SheetError
// cellText of the cell at (row, col) of `sheet`, without copying it out.
QString cellText(const Sheet& sheet, int row, int col, bool date1904);

// Date text dd.MM.yyyy of a serial's day (rounded to the second), or nullopt
// outside 1.1.1900 (1.1.1904) .. 31.12.9999.
std::optional<QString> serialDateText(double serial, bool date1904);
// HH:mm:ss of a number of days (rounded to the second); with elapsedHours
// the hours run past 23.
std::optional<QString> serialTimeText(double serial, bool elapsedHours);

} // namespace t5170::sheet
