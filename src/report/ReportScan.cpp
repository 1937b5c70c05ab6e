#include "ReportScan.h"

#include <QDate>
#include <QTime>

#include <cmath>

namespace t5170::report {

namespace {

using automation::WorksheetPtr;
using sheet::SheetError;

// Values each kind's record holds after its date and time.
int valueColumns(TIzmType kind) {
    switch (kind) {
    case izmU:
        return 1;
    case izmR:
        return 3;
    case izmAbs:
    case izmPol:
        return 6;
    }
    return 0;
}

const QDate& automationEpoch() {
    static const QDate epoch(1899, 12, 30);
    return epoch;
}

} // namespace

int findFreeRow(automation::Worksheet& sheet) {
    int row = 2;
    while (!sheet.Cells(row, 1)->Value().toText().isEmpty())
        ++row;
    return row;
}

std::optional<ReportRecord> newestRecord(const std::array<WorksheetPtr, 4>& sheets,
                                         const std::array<int, 4>& nextRow) {
    constexpr std::array<TIzmType, 4> order{izmR, izmU, izmAbs, izmPol};
    std::array<double, 4> when{};
    for (const TIzmType kind : order) {
        if (nextRow[kind] <= 2)
            continue;
        const int last = nextRow[kind] - 1;
        automation::Worksheet& sheet = *sheets[kind];
        const QString dateText = sheet.Cells(last, 1)->Value().toText();
        // The short date format, with or without leading zeros.
        const QDate date = QDate::fromString(dateText.trimmed(), QStringLiteral("d.M.yyyy"));
        if (!date.isValid())
            throw SheetError(QStringLiteral("«%1» в строке %2 листа «%3» не является датой")
                                 .arg(dateText)
                                 .arg(last)
                                 .arg(sheet.Name())
                                 .toStdString());
        const double time = sheet.Cells(last, 2)->Value().toDouble();
        when[kind] = static_cast<double>(automationEpoch().daysTo(date)) + time;
    }
    for (const TIzmType kind : order) {
        if (nextRow[kind] <= 2)
            continue;
        bool newest = true;
        for (const TIzmType other : order)
            if (other != kind && !(when[kind] > when[other]))
                newest = false;
        if (!newest)
            continue;
        ReportRecord record;
        record.kind = kind;
        record.row = nextRow[kind] - 1;
        record.dateTime = when[kind];
        for (int i = 0; i < valueColumns(kind); ++i)
            record.values[static_cast<std::size_t>(i)] =
                sheets[kind]->Cells(record.row, 3 + i)->Value().toText();
        return record;
    }
    return std::nullopt;
}

std::array<WorksheetPtr, 4> reportSheets(automation::Workbook& book) {
    std::array<WorksheetPtr, 4> sheets;
    try {
        for (const TIzmType kind : {izmR, izmAbs, izmPol, izmU})
            sheets[kind] = book.WorkSheets(reportSheetPosition(kind));
    } catch (const SheetError&) {
        throw SheetError("Неправильный формат файла ");
    }
    return sheets;
}

ReportScan scanReport(automation::Workbook& book) {
    const auto sheets = reportSheets(book);
    ReportScan scan;
    for (const TIzmType kind : {izmU, izmR, izmAbs, izmPol})
        scan.nextRow[kind] = findFreeRow(*sheets[kind]);
    scan.newest = newestRecord(sheets, scan.nextRow);
    return scan;
}

QString lastRecordCaption(TIzmType kind) {
    switch (kind) {
    case izmU:
        return QStringLiteral("Измерение напряжения");
    case izmR:
        return QStringLiteral("Измерение сопротивления");
    case izmAbs:
        return QStringLiteral("Измерение абсорбции");
    case izmPol:
        return QStringLiteral("Измерение поляризации");
    }
    return {};
}

RecordLabels recordLabels(const ReportRecord& record) {
    RecordLabels labels;
    const auto& v = record.values;
    labels.type = lastRecordCaption(record.kind);
    labels.u = QStringLiteral("U = ") + v[0] + QStringLiteral(" Вольт");
    if (record.kind != izmU)
        labels.r = QStringLiteral("R = ") + v[1] + QLatin1Char(' ') + v[2];
    if (record.kind == izmAbs || record.kind == izmPol) {
        labels.r2 = QStringLiteral("R2 = ") + v[3] + QLatin1Char(' ') + v[4];
        labels.k = QStringLiteral("K = ") + v[5];
    }
    // Whole seconds, carried into the day when they round up to midnight.
    const double days = std::floor(record.dateTime);
    qint64 seconds = std::llround((record.dateTime - days) * 86400.0);
    qint64 wholeDays = static_cast<qint64>(days);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++wholeDays;
    }
    labels.date = automationEpoch().addDays(wholeDays).toString(QStringLiteral("dd.MM.yyyy"));
    labels.time =
        QTime(0, 0).addSecs(static_cast<int>(seconds)).toString(QStringLiteral("HH:mm:ss"));
    return labels;
}

} // namespace t5170::report
