#pragma once
// The report workbook's fixed layout and the small texts and date numbers
// the report operations build. Pure functions, no automation calls.

#include "core/Measurement.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>
#include <span>

namespace t5170::report {

// One headed column of a report sheet.
struct ColumnSpec {
    const char* heading; // UTF-8
    int width;           // characters
};

// Sheet of a kind: its position in the workbook (1-based), tab name and
// columns. Sheets are always addressed by position.
struct SheetSpec {
    int position;
    const char* name; // UTF-8
    std::span<const ColumnSpec> columns;
};

const SheetSpec& sheetSpec(TIzmType kind);

// Kinds in the order the layout is written and the order sheets are bound
// to positions 1..4.
inline constexpr std::array<TIzmType, 4> LayoutOrder{izmR, izmAbs, izmPol, izmU};

// Display formats the record cells get, in the spreadsheet's Russian form.
inline const QString DateFormat = QStringLiteral("ДД.ММ.ГГГГ");
inline const QString TimeFormat = QStringLiteral("ЧЧ:ММ:СС");

// "КОм", "МОм", "ГОм" for unit codes 0..2, "Error" for any other code.
QString UnitText(std::uint8_t code);

// A path with everything up to and including its last separator ('\' or
// '/') removed; a path without one is returned whole.
QString fileNameOf(const QString& path);

// Day-count date-times: whole days since 30.12.1899 plus the time of day as
// a fraction of a day.
double dateSerial(const QDate& date);
// Nearest whole second; an out-of-range value gives nothing.
std::optional<QDateTime> fromSerial(double serial);

// A date text in the short date format (dd.MM.yyyy; days and months may
// also be written without their leading zero). Nothing for any other text.
std::optional<QDate> parseShortDate(const QString& text);

// Short date (dd.MM.yyyy) and long time (HH:mm:ss) texts, in the program's
// locale whatever the machine's.
QString shortDateText(const QDate& date);
QString longTimeText(const QTime& time);

} // namespace t5170::report
