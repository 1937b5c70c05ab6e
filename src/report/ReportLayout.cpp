#include "report/ReportLayout.h"

#include "core/Texts.h"
#include "sheet/Formats.h"

#include <cmath>

namespace t5170::report {

namespace {

constexpr ColumnSpec ResistanceColumns[] = {
    {"Дата", 10}, {"Время", 8}, {"Напряжение", 15}, {"Сопротивление", 15}, {"Размерность", 12},
};

constexpr ColumnSpec TwoResistanceColumns[] = {
    {"Дата", 10},        {"Время", 8},
    {"Напряжение", 15},  {"Сопротивление 1", 15},
    {"Размерность", 12}, {"Сопротивление 2", 15},
    {"Размерность", 12}, {"Коэффициент", 12},
};

constexpr ColumnSpec VoltageColumns[] = {
    {"Дата", 10},
    {"Время", 8},
    {"Напряжение", 15},
};

constexpr SheetSpec Sheets[] = {
    {4, "Измерение напряжения", VoltageColumns},
    {1, "Измерение сопротивления", ResistanceColumns},
    {2, "Измерение Абсорбции", TwoResistanceColumns},
    {3, "Измерение Поляризации", TwoResistanceColumns},
};

} // namespace

const SheetSpec& sheetSpec(TIzmType kind) {
    return Sheets[kind];
}

QString UnitText(std::uint8_t code) {
    return code <= unitGOm ? text::unitName(code) : QStringLiteral("Error");
}

QString fileNameOf(const QString& path) {
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return cut < 0 ? path : path.mid(cut + 1);
}

double dateSerial(const QDate& date) {
    return static_cast<double>(sheet::automationEpoch().daysTo(date));
}

std::optional<QDateTime> fromSerial(double serial) {
    // Beyond the year 9999 and before year 100 nothing is a report date.
    if (!std::isfinite(serial) || serial < -657434.0 || serial > 2958466.0)
        return std::nullopt;
    const long long seconds = std::llround(serial * 86400.0);
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    return QDateTime(sheet::automationEpoch().addDays(days),
                     QTime(0, 0).addSecs(static_cast<int>(rest)));
}

std::optional<QDate> parseShortDate(const QString& text) {
    const QDate d = text::locale().toDate(text.trimmed(), QStringLiteral("d.M.yyyy"));
    if (!d.isValid())
        return std::nullopt;
    return d;
}

QString shortDateText(const QDate& date) {
    return text::locale().toString(date, QStringLiteral("dd.MM.yyyy"));
}

QString longTimeText(const QTime& time) {
    return text::locale().toString(time, QStringLiteral("HH:mm:ss"));
}

} // namespace t5170::report
