// Workbook files of either format from hostile sources: read or refused with
// the engine's own error, and a workbook read survives being written again.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "sheet/TypedInput.h"
#include "sheet/WorkbookFile.h"
#include "sheet/xls/XlsFile.h"
#include "sheet/xlsx/XlsxIo.h"
#include "sheet/xlsx/XlsxReader.h"

#include <QFile>

#include <cmath>
#include <exception>
#include <optional>

namespace t5170::fuzz {

namespace {

using sheet::Cell;
using sheet::SheetError;
using sheet::Workbook;

std::string where(std::size_t s, std::size_t r, std::size_t c) {
    return "sheet " + std::to_string(s + 1) + " row " + std::to_string(r + 1) + " column " +
           std::to_string(c + 1);
}

std::string names(const Workbook& book) {
    std::string out = "[";
    for (const auto& s : book.sheets)
        out += (out.size() > 1 ? ", \"" : "\"") + s.name.toStdString() + '"';
    return out + ']';
}

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// An empty text and an empty cell are the same to every reader.
Cell::Kind kindOf(const std::optional<Cell>& c) {
    if (!c || (c->kind == Cell::Kind::Text && c->text.isEmpty()))
        return Cell::Kind::Empty;
    return c->kind;
}

// Values, what their formats display, sheet names and the date system agree.
void checkSame(const Workbook& a, const Workbook& b, const char* how) {
    const std::string prefix = std::string(how) + ": ";
    T5170_FUZZ_CHECK(a.sheets.size() == b.sheets.size(),
                     prefix + "sheets " + names(a) + " became " + names(b));
    T5170_FUZZ_CHECK(a.date1904 == b.date1904, prefix + "date system differs");
    for (std::size_t s = 0; s < a.sheets.size() && s < b.sheets.size(); ++s) {
        const auto& x = a.sheets[s];
        const auto& y = b.sheets[s];
        T5170_FUZZ_CHECK(x.name == y.name, prefix + "name of sheet " + std::to_string(s + 1) +
                                               " \"" + x.name.toStdString() + "\" became \"" +
                                               y.name.toStdString() + '"');
        const std::size_t rows = std::size_t(std::max(x.rowCount(), y.rowCount()));
        for (std::size_t r = 0; r < rows; ++r) {
            const auto cols = std::size_t(std::max(x.columnCount(int(r)), y.columnCount(int(r))));
            for (std::size_t c = 0; c < cols; ++c) {
                const std::optional<Cell> p = x.find(int(r), int(c));
                const std::optional<Cell> q = y.find(int(r), int(c));
                const Cell::Kind k = kindOf(p);
                T5170_FUZZ_CHECK(k == kindOf(q),
                                 prefix + "kind of the cell at " + where(s, r, c) + " differs");
                if (k != kindOf(q) || k == Cell::Kind::Empty)
                    continue;
                if (k == Cell::Kind::Text) {
                    T5170_FUZZ_CHECK(p->text == q->text,
                                     prefix + "text at " + where(s, r, c) + " differs");
                    continue;
                }
                T5170_FUZZ_CHECK(sameNumber(p->number, q->number),
                                 prefix + "number at " + where(s, r, c) + " differs");
                T5170_FUZZ_CHECK(sheet::formatInfo(p->format).kind ==
                                     sheet::formatInfo(q->format).kind,
                                 prefix + "format \"" + p->format.toStdString() + "\" at " +
                                     where(s, r, c) + " became \"" + q->format.toStdString() + '"');
            }
        }
    }
}

// Runs `f`; a SheetError is a refusal, any other exception a broken promise.
template <typename F> std::optional<Workbook> attempt(F&& f, const char* what) {
    try {
        return f();
    } catch (const SheetError&) {
        return std::nullopt;
    } catch (const std::exception& e) {
        fail(std::string(what) + " threw something other than the engine's error: " + e.what());
    } catch (...) {
        fail(std::string(what) + " threw something other than an exception");
    }
    return std::nullopt;
}

// Writes `book` with `write`, reads the file back and compares. A workbook
// the writer refuses (a format limit) is no finding.
template <typename W>
void roundTrip(const Workbook& book, const QString& suffix, W&& write, const char* how) {
    const QString path = scratchFile(nullptr, 0, suffix);
    bool written = false;
    try {
        write(book, path);
        written = true;
    } catch (const SheetError&) {
    } catch (const std::exception& e) {
        fail(std::string(how) +
             ": the writer threw something other than the engine's error: " + e.what());
    }
    if (written) {
        const auto back = attempt([&] { return sheet::openWorkbook(path); }, "reading back");
        T5170_FUZZ_CHECK(back.has_value(), std::string(how) + ": the file written does not open");
        if (back)
            checkSame(book, *back, how);
    }
    QFile::remove(path);
}

} // namespace

int xlsInput(const std::uint8_t* data, std::size_t size) {
    const QString path = scratchFile(data, size, QStringLiteral(".xls"));
    const auto book = attempt([&] { return sheet::openWorkbook(path); }, "opening");
    QFile::remove(path);
    if (book)
        roundTrip(*book, QStringLiteral("-out.xls"), sheet::writeXls, ".xls written again");
    return 0;
}

int xlsxInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto book = attempt([&] { return sheet::xlsx::readXlsxBytes(bytes); }, "reading");
    if (book) {
        roundTrip(*book, QStringLiteral("-out.xlsx"), sheet::writeXlsx, ".xlsx edited");
        // Without its origin the workbook is written afresh from the model.
        Workbook fresh = *book;
        fresh.xlsxOrigin.reset();
        for (auto& s : fresh.sheets)
            s.originSheet = -1;
        roundTrip(fresh, QStringLiteral("-new.xlsx"), sheet::writeXlsx, ".xlsx written afresh");
    }
    return 0;
}

} // namespace t5170::fuzz
