#include "report/ReportScan.h"

#include "report/ReportLayout.h"

#include "core/Texts.h"

namespace t5170::report {

namespace {

using automation::Error;
using automation::WorksheetPtr;

// Values each kind's record holds after its date and time.
int valueColumns(TIzmType kind) {
    return static_cast<int>(sheetSpec(kind).columns.size()) - 2;
}

QString cellText(automation::Worksheet& sheet, int row, int column) {
    return need(sheet.Cells(row, column)).Value().toText();
}

// Whether the cell's text (cellText) is empty. A number always shows as
// some text, so the free-row search, which reads every record's date, need
// not format one.
bool textIsEmpty(automation::Worksheet& sheet, int row, int column) {
    const automation::CellValue v = need(sheet.Cells(row, column)).Value();
    return v.isEmpty() || (v.isText() && v.cell().text.isEmpty());
}

} // namespace

std::array<WorksheetPtr, 4> reportSheets(automation::Workbook& book) {
    std::array<WorksheetPtr, 4> sheets;
    try {
        for (const TIzmType kind : LayoutOrder)
            sheets[kind] = book.WorkSheets(sheetSpec(kind).position);
        for (const TIzmType kind : LayoutOrder)
            need(sheets[kind]);
    } catch (const Error&) {
        throw Error("Неправильный формат файла ");
    }
    return sheets;
}

int findFreeRow(automation::Worksheet& sheet) {
    int row = 2;
    while (!textIsEmpty(sheet, row, 1))
        ++row;
    return row;
}

std::optional<ReportRecord> newestRecord(const std::array<WorksheetPtr, 4>& sheets,
                                         const std::array<int, 4>& nextRow) {
    constexpr std::array<TIzmType, 4> order{izmR, izmU, izmAbs, izmPol};
    // Date and time as a day count; a sheet without records counts as 0 but
    // is never the newest itself.
    std::array<double, 4> when{};
    for (const TIzmType kind : order) {
        if (nextRow[kind] <= 2)
            continue;
        const int last = nextRow[kind] - 1;
        automation::Worksheet& sheet = need(sheets[kind]);
        const QString dateText = cellText(sheet, last, 1);
        const std::optional<QDate> date = parseShortDate(dateText);
        if (!date)
            throw Error(QStringLiteral("«%1» в строке %2 листа «%3» не является датой")
                            .arg(dateText)
                            .arg(last)
                            .arg(sheet.Name())
                            .toStdString());
        when[kind] = dateSerial(*date) + need(sheet.Cells(last, 2)).Value().toDouble();
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
        const std::optional<QDateTime> at = fromSerial(when[kind]);
        if (!at)
            throw Error("Дата записи вне допустимого диапазона");
        record.when = *at;
        automation::Worksheet& sheet = need(sheets[kind]);
        for (int i = 0; i < valueColumns(kind); ++i)
            record.values[static_cast<std::size_t>(i)] = cellText(sheet, record.row, 3 + i);
        return record;
    }
    return std::nullopt;
}

void writeRecordRow(automation::Worksheet& sheet, int row, const TIzmResult& r) {
    automation::CellPtr held; // keeps the cell being written alive
    auto cell = [&](int column) -> automation::Cell& {
        held = sheet.Cells(row, column);
        return need(held);
    };
    if (r.Kind == izmAbs || r.Kind == izmPol) {
        cell(6).Value(text::fourChar(r.R2));
        cell(7).Value(UnitText(r.R2Unit));
        cell(8).Value(static_cast<double>(r.Koef) * 0.001);
    }
    if (r.Kind != izmU) {
        cell(4).Value(text::fourChar(r.R));
        cell(5).Value(UnitText(r.RUnit));
    }
    automation::Cell& date = cell(1);
    date.NumberFormat(DateFormat);
    date.Value(text::dateNoZeros(r.Time.date()));
    automation::Cell& time = cell(2);
    time.NumberFormat(TimeFormat);
    time.Value(text::timeNoZeros(r.Time.time()));
    cell(3).Value(static_cast<std::int32_t>(r.U));
}

ReportScan scanReport(automation::Workbook& book) {
    ReportScan scan;
    scan.sheets = reportSheets(book);
    const auto& sheets = scan.sheets;
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
    labels.date = shortDateText(record.when.date());
    labels.time = longTimeText(record.when.time());
    return labels;
}

} // namespace t5170::report
