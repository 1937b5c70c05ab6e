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

#include <zip.h>

#include <cmath>
#include <cstring>
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

// A package around one worksheet, with a few shared strings and date and
// time styles for its cells to use. Deflated, so the sheet is read as it
// inflates, in pieces.
QByteArray packageOf(const std::string& sheetXml) {
    const std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::pair<const char*, std::string> parts[] = {
        {"[Content_Types].xml",
         R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
         R"(<Default Extension="xml" ContentType="application/xml"/></Types>)"},
        {"_rels/.rels",
         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="rId1" Type=")" +
             ns + R"(officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
        {"xl/workbook.xml",
         R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
         R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
         R"(<sheets><sheet name="Лист1" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
        {"xl/_rels/workbook.xml.rels",
         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="rId1" Type=")" +
             ns + R"(worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type=")" +
             ns + R"(sharedStrings" Target="sharedStrings.xml"/><Relationship Id="rId3" Type=")" +
             ns + R"(styles" Target="styles.xml"/></Relationships>)"},
        {"xl/sharedStrings.xml",
         R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
         R"(<si><t>МОм</t></si><si><t></t></si><si><t>ГОм</t></si></sst>)"},
        {"xl/styles.xml",
         R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
         R"(<cellXfs><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="21"/>)"
         R"(<xf numFmtId="2"/></cellXfs></styleSheet>)"},
        {"xl/worksheets/sheet1.xml", sheetXml},
    };
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* z = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &error) : nullptr;
    T5170_FUZZ_CHECK(z, "cannot make a package in memory");
    if (!z)
        return {};
    zip_source_keep(buffer);
    for (const auto& [name, data] : parts) {
        zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
        const zip_int64_t index = src ? zip_file_add(z, name, src, ZIP_FL_ENC_UTF_8) : -1;
        if (index >= 0)
            zip_set_file_compression(z, zip_uint64_t(index), ZIP_CM_DEFLATE, 1);
    }
    QByteArray out;
    if (zip_close(z) == 0 && zip_source_open(buffer) == 0) {
        char chunk[1 << 16];
        for (zip_int64_t n; (n = zip_source_read(buffer, chunk, sizeof chunk)) > 0;)
            out.append(chunk, qsizetype(n));
        zip_source_close(buffer);
    } else {
        zip_discard(z);
    }
    zip_source_free(buffer);
    return out;
}

// Every stored slot of two sheets alike, empty ones and formats included.
void checkSameStore(const sheet::Sheet& x, const sheet::Sheet& y) {
    T5170_FUZZ_CHECK(x.rowCount() == y.rowCount(), "row counts differ");
    for (int r = 0; r < std::min(x.rowCount(), y.rowCount()); ++r) {
        T5170_FUZZ_CHECK(x.columnCount(r) == y.columnCount(r),
                         "cell counts differ in row " + std::to_string(r + 1));
        for (int c = 0; c < std::min(x.columnCount(r), y.columnCount(r)); ++c) {
            const std::string at = where(0, std::size_t(r), std::size_t(c));
            T5170_FUZZ_CHECK(x.kind(r, c) == y.kind(r, c), "kind differs at " + at);
            T5170_FUZZ_CHECK(sameNumber(x.number(r, c), y.number(r, c)), "number differs at " + at);
            T5170_FUZZ_CHECK(x.text(r, c) == y.text(r, c), "text differs at " + at);
            T5170_FUZZ_CHECK(x.format(r, c) == y.format(r, c), "format differs at " + at);
        }
    }
}

} // namespace

int xlsxRowsInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray package = packageOf(std::string(reinterpret_cast<const char*>(data), size));
    sheet::xlsx::ReadLimits tokens;
    tokens.maxQuickRowBytes = 0;
    const auto quick =
        attempt([&] { return sheet::xlsx::readXlsxBytes(package); }, "reading rows quickly");
    const auto slow =
        attempt([&] { return sheet::xlsx::readXlsxBytes(package, tokens); }, "reading tokens");
    T5170_FUZZ_CHECK(quick.has_value() == slow.has_value(),
                     quick ? "only token by token refuses the sheet"
                           : "only reading rows quickly refuses the sheet");
    if (quick && slow && quick->sheets.size() == 1 && slow->sheets.size() == 1)
        checkSameStore(slow->sheets[0], quick->sheets[0]);
    return 0;
}

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
