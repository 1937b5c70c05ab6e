#pragma once
// Texts, numbers and dates as the operator sees them. The program always
// speaks Russian (decimal comma, day.month.year, 24-hour time) whatever the
// machine's locale, so the window, the reports and their round trip agree.

#include "core/Measurement.h"

#include <QChar>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

namespace t5170::text {

// The program's locale: Russian, Russia.
const QLocale& locale();

// Plain decimal: minus sign when negative, no leading zeros, no grouping.
QString decimal(long long value);

// General text: at most 15 significant digits in plain decimal notation (never
// an exponent), no group separator, trailing zeros and a bare separator
// dropped, decimal comma. 1.5 -> "1,5", 2.0 -> "2", 1.501 -> "1,501".
QString general(double value);

// The general text cut to its first four characters.
QString fourChar(double value);

// Date and time texts the program builds itself: no leading zeros
// (8.12.2026, 9:5:3).
QString dateNoZeros(const QDate& date);
QString timeNoZeros(const QTime& time);

// A character the instrument sends (the serial number's letter) in its
// Windows-1251 code page.
QChar fromCp1251(std::uint8_t byte);

// "КОм", "МОм", "ГОм" for unit codes 0, 1, 2.
QString unitName(std::uint8_t unit);

// Caption of a result's kind as the latest-result group shows it
// ("Измерение сопротивления", "Измерение Абсорбции", ...).
QString kindCaption(TIzmType kind);

// Status text when a measurement of this kind is started
// ("Идет измерение сопротивления", ...).
QString measuringStatus(TIzmType kind);

} // namespace t5170::text

namespace t5170 {

// A resistance as received (kilo-ohms) placed in its range: below 1000 kilo-ohms,
// below 1000000 (mega-ohms; a multiple of 10 is raised by one so the text always
// shows three significant digits), or giga-ohms.
struct RangedResistance {
    std::int32_t kOm = 0; // after the mega-ohm adjustment
    double value = 0.0;   // in `unit`
    std::uint8_t unit = unitKOm;
};
RangedResistance rangeResistance(std::int32_t kOm);

// Label texts of the latest-result group.
QString voltageLabel(std::int32_t volts);           // "U = 1000 Вольт"
QString resistanceLabel(const RangedResistance& r); // "R = 999 КОм", " R = 1,23 МОм", "R = 1 ГОм"
QString resistance2Label(const RangedResistance& r); // "R2 = ..." in all three forms
QString koefLabel(std::int32_t thousandths);         // "K = 1,5"

} // namespace t5170
