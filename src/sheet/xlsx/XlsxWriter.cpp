// Writing .xlsx: a workbook read from a package edits that package
// (XlsxEdit.cpp); any other is written from the model with libxlsxwriter.

#include "sheet/TypedInput.h"
#include "sheet/xlsx/XlsxCommon.h"
#include "sheet/xlsx/XlsxEdit.h"
#include "sheet/xlsx/XlsxIo.h"
#include "sheet/xlsx/XlsxOrigin.h"

#include <QFile>
#include <QRegularExpression>

#include <xlsxwriter.h>

#include <map>
#include <memory>

namespace t5170::sheet {

namespace xlsx {

namespace {

// Days between the 1900 and 1904 date systems' day zero.
constexpr double k1904Offset = 1462.0;

struct WorkbookCloser {
    void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};

// The library writes "_xHHHH_" as it is, which readers take for an escaped
// character: escape its underscore.
QByteArray cellString(const QString& text) {
    static const QRegularExpression escape(QStringLiteral("_(x[0-9A-Fa-f]{4}_)"));
    if (!text.contains(QLatin1String("_x")))
        return text.toUtf8();
    QString escaped = text;
    escaped.replace(escape, QStringLiteral("_x005F_\\1"));
    return escaped.toUtf8();
}

[[noreturn]] void fail(const QString& what, lxw_error error) {
    throw SheetError(
        QStringLiteral("%1: %2").arg(what, QString::fromUtf8(lxw_strerror(error))).toStdString());
}

} // namespace

void writeNewXlsx(const Workbook& book, const QString& outPath) {
    checkSheetNames(book);
    const QByteArray path = QFile::encodeName(outPath);
    // Rows go out in order, so the library need not hold the sheets in memory.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new_opt(path.constData(), &options));
    if (!wb)
        throw SheetError(QStringLiteral("Не удалось создать файл %1").arg(outPath).toStdString());

    std::map<QString, lxw_format*> formats;
    auto formatFor = [&](const QString& code) -> lxw_format* {
        if (code.isEmpty())
            return nullptr;
        auto& f = formats[code];
        if (!f) {
            f = workbook_add_format(wb.get());
            if (!f)
                throw SheetError("Недостаточно памяти для записи книги");
            format_set_num_format(f, code.toUtf8().constData());
        }
        return f;
    };

    for (const Sheet& sheet : book.sheets) {
        const QByteArray name = sheet.name.toUtf8();
        if (const lxw_error e = workbook_validate_sheet_name(wb.get(), name.constData());
            e != LXW_NO_ERROR)
            fail(QStringLiteral("Недопустимое имя листа «%1»").arg(sheet.name), e);
        lxw_worksheet* ws = workbook_add_worksheet(wb.get(), name.constData());
        if (!ws)
            throw SheetError(
                QStringLiteral("Недопустимое имя листа «%1»").arg(sheet.name).toStdString());
        for (const auto& [col, width] : sheet.columnWidths) {
            if (const lxw_error e = worksheet_set_column(
                    ws, static_cast<lxw_col_t>(col), static_cast<lxw_col_t>(col), width, nullptr);
                e != LXW_NO_ERROR)
                fail(QStringLiteral("Ширина столбца листа «%1»").arg(sheet.name), e);
        }
        for (int r = 0; r < sheet.rowCount(); ++r) {
            for (int c = 0; c < sheet.columnCount(r); ++c) {
                const Cell::Kind cellKind = sheet.kind(r, c);
                lxw_error e = LXW_NO_ERROR;
                if (cellKind == Cell::Kind::Number) {
                    double value = sheet.number(r, c);
                    const QString& format = sheet.format(r, c);
                    // The library writes the 1900 date system only.
                    const FormatKind kind = formatInfo(format).kind;
                    if (book.date1904 && (kind == FormatKind::Date || kind == FormatKind::DateTime))
                        value += k1904Offset;
                    e = worksheet_write_number(ws, static_cast<lxw_row_t>(r),
                                               static_cast<lxw_col_t>(c), value, formatFor(format));
                } else if (cellKind == Cell::Kind::Text && !sheet.text(r, c).isEmpty()) {
                    e = worksheet_write_string(ws, static_cast<lxw_row_t>(r),
                                               static_cast<lxw_col_t>(c),
                                               cellString(sheet.text(r, c)).constData(), nullptr);
                }
                if (e != LXW_NO_ERROR)
                    fail(QStringLiteral("Ячейка %1 листа «%2»")
                             .arg(QString::fromStdString(cellRef(r, c)), sheet.name),
                         e);
            }
        }
    }
    const lxw_error e = workbook_close(wb.release());
    if (e != LXW_NO_ERROR)
        fail(QStringLiteral("Не удалось записать файл %1").arg(outPath), e);
}

} // namespace xlsx

void writeXlsx(const Workbook& book, const QString& outPath) {
    if (book.xlsxOrigin)
        xlsx::editXlsxPackage(book, *book.xlsxOrigin, outPath);
    else
        xlsx::writeNewXlsx(book, outPath);
}

} // namespace t5170::sheet
