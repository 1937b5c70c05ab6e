#include "sheet/ui/SheetPrint.h"

#include "sheet/Formats.h"
#include "sheet/TypedInput.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <cmath>

namespace t5170::sheet {

namespace {

// A column is not widened beyond this for a long text.
constexpr double kWidestColumnChars = 40.0;

bool isFilled(const Sheet& s, int row, int col) {
    const Cell::Kind kind = s.kind(row, col);
    return kind == Cell::Kind::Number || (kind == Cell::Kind::Text && !s.text(row, col).isEmpty());
}

// Rows and columns up to the last one holding a value.
std::pair<int, int> usedExtent(const Sheet& sheet) {
    int rows = 0;
    int cols = 0;
    for (int r = 0; r < sheet.rowCount(); ++r) {
        for (int c = sheet.columnCount(r); c-- > 0;) {
            if (isFilled(sheet, r, c)) {
                rows = r + 1;
                cols = std::max(cols, c + 1);
                break;
            }
        }
    }
    return {rows, cols};
}

class SheetPainter {
public:
    SheetPainter(QPainter& painter, QPrinter& printer, bool date1904)
        : painter_(painter), printer_(printer), date1904_(date1904) {
        body_ = painter.font();
        body_.setPointSizeF(9);
        bold_ = body_;
        bold_.setBold(true);
        title_ = bold_;
        title_.setPointSizeF(13);
        const QFontMetricsF fm(body_, &printer);
        digit_ = fm.horizontalAdvance(QLatin1Char('0'));
        rowHeight_ = fm.height() * 1.5;
        pad_ = digit_ * 0.4;
    }

    int pages() const { return pages_; }

    void print(const Sheet& sheet) {
        const auto [rows, cols] = usedExtent(sheet);
        if (rows == 0)
            return;
        // Column widths as the sheet sets them, widened where a value would
        // not fit (paper has no "####"), then narrowed together to fit the page.
        widths_.assign(static_cast<std::size_t>(cols), 0.0);
        const QFontMetricsF bodyMetrics(body_, &printer_);
        const QFontMetricsF boldMetrics(bold_, &printer_);
        const double widest = kWidestColumnChars * digit_;
        for (int c = 0; c < cols; ++c) {
            const auto it = sheet.columnWidths.find(c);
            widths_[static_cast<std::size_t>(c)] =
                (it != sheet.columnWidths.end() && it->second > 0 ? it->second
                                                                  : DefaultColumnWidth) *
                digit_;
        }
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < sheet.columnCount(r); ++c) {
                if (!isFilled(sheet, r, c))
                    continue;
                const double need = (r == 0 ? boldMetrics : bodyMetrics)
                                        .horizontalAdvance(cellText(*sheet.find(r, c), date1904_));
                auto& width = widths_[static_cast<std::size_t>(c)];
                width = std::max(width, std::min(need + digit_ * 0.5, widest));
            }
        }
        double total = 0.0;
        for (double& w : widths_) {
            w += 2 * pad_;
            total += w;
        }
        // A table wider than the page is printed smaller as a whole, so
        // that every value still fits its column.
        scale_ = std::min(1.0, printer_.width() / total);
        pageWidth_ = printer_.width() / scale_;
        pageHeight_ = printer_.height() / scale_;

        startPage(sheet.name, false);
        for (int r = 0; r < rows; ++r) {
            if (y_ + rowHeight_ > pageHeight_) {
                startPage(sheet.name, true);
                if (r > 0)
                    printRow(sheet, 0);
            }
            printRow(sheet, r);
        }
    }

private:
    void startPage(const QString& name, bool continued) {
        if (pages_ > 0 && !printer_.newPage())
            throw SheetError("Ошибка печати: не удалось начать новую страницу");
        ++pages_;
        y_ = 0.0;
        painter_.resetTransform();
        painter_.scale(scale_, scale_);
        painter_.setFont(title_);
        const QFontMetricsF fm(title_, &printer_);
        const QString text = continued ? name + QStringLiteral(" (продолжение)") : name;
        painter_.drawText(QRectF(0, 0, pageWidth_, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          fm.elidedText(text, Qt::ElideRight, pageWidth_));
        y_ = fm.height() * 1.6;
    }

    void printRow(const Sheet& sheet, int r) {
        painter_.setFont(r == 0 ? bold_ : body_);
        const QFontMetricsF fm(r == 0 ? bold_ : body_, &printer_);
        double x = 0.0;
        for (std::size_t c = 0; c < widths_.size(); ++c) {
            const QRectF box(x, y_, widths_[c], rowHeight_);
            painter_.drawRect(box);
            if (const auto cell = sheet.find(r, static_cast<int>(c));
                cell && isFilled(sheet, r, static_cast<int>(c))) {
                const QRectF inner = box.adjusted(pad_, 0, -pad_, 0);
                const Qt::Alignment align =
                    (cell->kind == Cell::Kind::Number ? Qt::AlignRight : Qt::AlignLeft) |
                    Qt::AlignVCenter;
                painter_.drawText(inner, align,
                                  fm.elidedText(cellText(*cell, date1904_), Qt::ElideRight,
                                                std::max(0.0, inner.width())));
            }
            x += widths_[c];
        }
        y_ += rowHeight_;
    }

    QPainter& painter_;
    QPrinter& printer_;
    bool date1904_;
    QFont body_, bold_, title_;
    double digit_ = 1.0, rowHeight_ = 1.0, pad_ = 0.0;
    std::vector<double> widths_;
    double y_ = 0.0;
    double scale_ = 1.0, pageWidth_ = 1.0, pageHeight_ = 1.0;
    int pages_ = 0;
};

} // namespace

int renderWorkbook(const Workbook& book, const QString& title, QPrinter& printer) {
    const bool any = std::any_of(book.sheets.begin(), book.sheets.end(),
                                 [](const Sheet& s) { return usedExtent(s).first > 0; });
    if (!any)
        return 0;
    printer.setDocName(title.isEmpty() ? QStringLiteral("Книга") : title);
    QPainter painter;
    if (!painter.begin(&printer))
        throw SheetError("Не удалось начать печать: принтер недоступен");
    SheetPainter sheets(painter, printer, book.date1904);
    try {
        for (const Sheet& sheet : book.sheets)
            sheets.print(sheet);
    } catch (...) {
        printer.abort();
        painter.end();
        throw;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        throw SheetError("Ошибка печати");
    return sheets.pages();
}

void printWorkbook(const Workbook& book, const QString& title, QWidget* parent) {
    const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
    QPrinter printer(QPrinter::HighResolution);
    if (!defaultPrinter.isNull()) {
        printer.setPrinterName(defaultPrinter.printerName());
    } else {
        // No printer configured: the operator picks one, or a PDF file.
        QPrintDialog dialog(&printer, parent);
        dialog.setWindowTitle(QStringLiteral("Печать"));
        if (dialog.exec() != QDialog::Accepted)
            throw SheetError("Печать отменена");
    }
    renderWorkbook(book, title, printer);
}

} // namespace t5170::sheet
