// Reading OOXML workbooks: the package's relationships lead from the root
// to the workbook part, and from there to the worksheets (in workbook
// order), the shared strings and the styles.

#include "sheet/xlsx/XlsxReader.h"

#include "sheet/xlsx/XlsxCommon.h"
#include "sheet/xlsx/XlsxIo.h"
#include "sheet/xlsx/XlsxOrigin.h"
#include "sheet/xlsx/XlsxXml.h"
#include "sheet/xlsx/XlsxZip.h"

#include <QDate>
#include <QFile>
#include <QTime>

#include <charconv>
#include <cmath>
#include <map>

namespace t5170::sheet {

namespace xlsx {

namespace {

using Token = XmlPull::Token;

struct Rel {
    std::string type;
    std::string target; // resolved part name, or the raw target when external
    bool external = false;
};

bool typeIs(const std::string& type, std::string_view kind) {
    // Transitional and strict packages differ in the front of the type URI;
    // the extended-properties type also contains "/officeDocument", so only
    // the last segment counts.
    const auto slash = type.rfind('/');
    return slash != std::string::npos && std::string_view(type).substr(slash + 1) == kind;
}

std::map<std::string, Rel> readRels(ZipReader& zip, const std::string& sourcePart) {
    std::map<std::string, Rel> rels;
    const auto xml = zip.readIfPresent(relsPartOf(sourcePart));
    if (!xml)
        return rels;
    XmlPull p(*xml);
    for (Token t; (t = p.next()) != Token::End;) {
        if (t != Token::StartElement || p.name() != "Relationship")
            continue;
        Rel rel;
        rel.type = p.attribute("Type");
        rel.external = p.attribute("TargetMode") == "External";
        const std::string target = p.attribute("Target");
        rel.target = rel.external ? target : resolvePartName(sourcePart, target);
        rels[p.attribute("Id")] = std::move(rel);
    }
    return rels;
}

bool truthy(std::string_view v) {
    return v == "1" || v == "true" || v == "on";
}

std::optional<double> parseNumber(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' ||
                          s.front() == '\r' || s.front() == '+'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

long parseIndex(std::string_view s, long fallback) {
    long v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && ptr == s.data() + s.size() ? v : fallback;
}

// Text of an <si> or <is> element: its <t> parts, runs included, phonetic
// hints left out. Called right after the element's start.
std::string readRichText(XmlPull& p) {
    std::string raw;
    const int depth = p.depth();
    bool inT = false;
    while (true) {
        const Token t = p.next();
        if (t == Token::End)
            throw SheetError("Файл повреждён: неверная разметка XML");
        if (t == Token::EndElement) {
            if (p.depth() == depth)
                break;
            if (p.name() == "t")
                inT = false;
        } else if (t == Token::StartElement) {
            if (p.name() == "rPh")
                p.skipElement();
            else if (p.name() == "t")
                inT = !p.selfClosing();
        } else if (inT) {
            p.appendText(raw);
        }
    }
    return decodeOoxmlEscapes(raw);
}

std::vector<QString> readSharedStrings(std::string_view xml) {
    std::vector<QString> strings;
    XmlPull p(xml);
    for (Token t; (t = p.next()) != Token::End;) {
        if (t == Token::StartElement && p.name() == "si") {
            if (p.selfClosing()) {
                p.next();
                strings.emplace_back();
            } else {
                strings.push_back(QString::fromStdString(readRichText(p)));
            }
        }
    }
    return strings;
}

// The display format of every cell style (cellXfs).
std::vector<QString> readCellFormats(std::string_view xml) {
    std::map<long, QString> numFmts;
    std::vector<QString> formats;
    XmlPull p(xml);
    std::string_view section;
    for (Token t; (t = p.next()) != Token::End;) {
        if (t == Token::StartElement) {
            if (p.depth() == 2)
                section = p.name();
            else if (p.depth() == 3 && section == "numFmts" && p.name() == "numFmt")
                numFmts[parseIndex(p.attribute("numFmtId"), -1)] =
                    formatCode(p.attribute("formatCode"));
            else if (p.depth() == 3 && section == "cellXfs" && p.name() == "xf") {
                const long id = parseIndex(p.attribute("numFmtId"), 0);
                const auto custom = numFmts.find(id);
                formats.push_back(custom != numFmts.end() ? custom->second
                                                          : builtinFormat(static_cast<int>(id)));
            }
        } else if (t == Token::EndElement && p.depth() == 2) {
            section = {};
        }
    }
    return formats;
}

// Serial day number of an ISO 8601 date, time or date-time ("d" cells).
std::optional<double> isoToSerial(const std::string& iso, bool date1904, bool* hasDate,
                                  bool* hasTime) {
    const QString s = QString::fromStdString(iso).trimmed();
    QDate date;
    QTime time;
    const auto tpos = s.indexOf(QLatin1Char('T'));
    if (s.contains(QLatin1Char('-')) && s.indexOf(QLatin1Char('-')) > 0) {
        date = QDate::fromString(s.left(tpos < 0 ? s.size() : tpos), Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        if (tpos >= 0)
            time = QTime::fromString(s.mid(tpos + 1).left(12), Qt::ISODateWithMs);
    } else {
        time = QTime::fromString(s.startsWith(QLatin1Char('T')) ? s.mid(1) : s, Qt::ISODateWithMs);
        if (!time.isValid())
            return std::nullopt;
    }
    *hasDate = date.isValid();
    *hasTime = time.isValid() && (tpos >= 0 || !date.isValid());
    double serial = 0.0;
    if (date.isValid())
        serial = static_cast<double>((date1904 ? epoch1904() : automationEpoch()).daysTo(date));
    if (time.isValid())
        serial += time.msecsSinceStartOfDay() / 86'400'000.0;
    return serial;
}

class SheetReader {
public:
    SheetReader(const std::vector<QString>& strings, const std::vector<QString>& formats,
                bool date1904, std::size_t& cellSlots, std::size_t maxSlots)
        : strings_(strings), formats_(formats), date1904_(date1904), cellSlots_(cellSlots),
          maxSlots_(maxSlots) {}

    void read(std::string_view xml, Sheet& sheet) {
        XmlPull p(xml);
        bool inData = false;
        int row = -1;
        int col = -1;
        std::size_t widthSteps = 0;
        for (Token t; (t = p.next()) != Token::End;) {
            if (t == Token::EndElement) {
                if (p.depth() == 2 && p.name() == "sheetData")
                    inData = false;
                continue;
            }
            if (t != Token::StartElement)
                continue;
            const int depth = p.depth();
            const std::string_view name = p.name();
            if (depth == 2 && name == "sheetData") {
                inData = true;
            } else if (depth == 3 && name == "col") {
                readColumn(p, sheet, widthSteps);
            } else if (inData && depth == 3 && name == "row") {
                const auto* r = p.rawAttribute("r");
                row = r ? static_cast<int>(parseIndex(*r, 0)) - 1 : row + 1;
                if (row < 0 || row >= kMaxRows)
                    throw SheetError("Файл повреждён: номер строки за пределами листа");
                col = -1;
            } else if (inData && depth == 4 && name == "c") {
                int cellRow = row < 0 ? 0 : row;
                if (const auto* r = p.rawAttribute("r")) {
                    const auto ref = parseCellRef(*r);
                    if (!ref)
                        throw SheetError("Файл повреждён: адрес ячейки за пределами листа");
                    cellRow = ref->first;
                    col = ref->second;
                } else {
                    ++col;
                }
                if (col >= kMaxCols)
                    throw SheetError("Файл повреждён: адрес ячейки за пределами листа");
                readCell(p, sheet, cellRow, col);
            }
        }
    }

private:
    void readColumn(XmlPull& p, Sheet& sheet, std::size_t& steps) {
        if (!truthy(p.attribute("customWidth")))
            return;
        const auto width = parseNumber(p.attribute("width"));
        if (!width || *width < 0)
            return;
        long lo = std::max(1L, parseIndex(p.attribute("min"), 0));
        long hi = std::min(static_cast<long>(kMaxCols), parseIndex(p.attribute("max"), lo));
        steps += hi >= lo ? static_cast<std::size_t>(hi - lo + 1) : 0;
        if (steps > 1'000'000)
            throw SheetError("Файл повреждён: слишком много описаний столбцов");
        const double chars = widthFromFile(*width);
        for (long c = lo; c <= hi; ++c)
            sheet.columnWidths[static_cast<int>(c - 1)] = chars;
    }

    void readCell(XmlPull& p, Sheet& sheet, int row, int col) {
        const std::string type = p.attribute("t");
        const long style = parseIndex(p.attribute("s"), 0);
        std::string value;
        std::optional<std::string> inlineText;
        bool hasValue = false;
        if (!p.selfClosing()) {
            const int depth = p.depth();
            while (true) {
                const Token t = p.next();
                if (t == Token::End)
                    throw SheetError("Файл повреждён: неверная разметка XML");
                if (t == Token::EndElement && p.depth() == depth)
                    break;
                if (t != Token::StartElement)
                    continue;
                if (p.name() == "v" && p.depth() == depth + 1) {
                    hasValue = true;
                    readElementText(p, value);
                } else if (p.name() == "is" && p.depth() == depth + 1) {
                    if (p.selfClosing()) {
                        p.next();
                        inlineText = std::string();
                    } else {
                        inlineText = readRichText(p);
                    }
                } else {
                    p.skipElement();
                }
            }
        } else {
            p.next();
        }

        Cell cell;
        if (type == "inlineStr" || (inlineText && type.empty())) {
            if (inlineText && !inlineText->empty()) {
                cell.kind = Cell::Kind::Text;
                cell.text = QString::fromStdString(*inlineText);
            }
        } else if (!hasValue) {
            return; // a styled empty cell, or a formula never calculated
        } else if (type == "s") {
            const long index = parseIndex(value, -1);
            if (index < 0 || static_cast<std::size_t>(index) >= strings_.size())
                throw SheetError("Файл повреждён: ссылка на несуществующую строку");
            if (!strings_[static_cast<std::size_t>(index)].isEmpty()) {
                cell.kind = Cell::Kind::Text;
                cell.text = strings_[static_cast<std::size_t>(index)];
            }
        } else if (type == "str" || type == "e") {
            const std::string text = type == "str" ? decodeOoxmlEscapes(value) : value;
            if (!text.empty()) {
                cell.kind = Cell::Kind::Text;
                cell.text = QString::fromStdString(text);
            }
        } else if (type == "b") {
            cell.kind = Cell::Kind::Number;
            cell.number = parseNumber(value).value_or(0.0) != 0.0 ? 1.0 : 0.0;
        } else if (type == "d") {
            bool hasDate = false;
            bool hasTime = false;
            const auto serial = isoToSerial(value, date1904_, &hasDate, &hasTime);
            if (!serial)
                throw SheetError("Файл повреждён: неверная дата в ячейке");
            cell.kind = Cell::Kind::Number;
            cell.number = *serial;
            cell.format = styleFormat(style);
            if (cell.format.isEmpty())
                cell.format = hasDate && hasTime ? QStringLiteral("DD.MM.YYYY HH:MM:SS")
                              : hasDate          ? QStringLiteral("DD.MM.YYYY")
                                                 : QStringLiteral("HH:MM:SS");
        } else {
            const auto number = parseNumber(value);
            if (!number) {
                if (value.find_first_not_of(" \t\r\n") == std::string::npos)
                    return;
                throw SheetError("Файл повреждён: неверное число в ячейке");
            }
            cell.kind = Cell::Kind::Number;
            cell.number = *number;
            cell.format = styleFormat(style);
        }
        if (cell.kind == Cell::Kind::Empty)
            return;
        place(sheet, row, col) = std::move(cell);
    }

    static void readElementText(XmlPull& p, std::string& out) {
        if (p.selfClosing()) {
            p.next();
            return;
        }
        const int depth = p.depth();
        while (true) {
            const Token t = p.next();
            if (t == Token::End)
                throw SheetError("Файл повреждён: неверная разметка XML");
            if (t == Token::EndElement && p.depth() == depth)
                return;
            if (t == Token::Text)
                p.appendText(out);
        }
    }

    QString styleFormat(long style) const {
        return style >= 0 && static_cast<std::size_t>(style) < formats_.size()
                   ? formats_[static_cast<std::size_t>(style)]
                   : QString();
    }

    Cell& place(Sheet& sheet, int row, int col) {
        const std::size_t have = static_cast<std::size_t>(row) < sheet.rows.size()
                                     ? sheet.rows[static_cast<std::size_t>(row)].size()
                                     : 0;
        if (static_cast<std::size_t>(col) >= have) {
            cellSlots_ += static_cast<std::size_t>(col) + 1 - have;
            if (cellSlots_ > maxSlots_)
                throw SheetError("Книга слишком велика для чтения");
        }
        return sheet.at(row, col);
    }

    const std::vector<QString>& strings_;
    const std::vector<QString>& formats_;
    bool date1904_;
    std::size_t& cellSlots_;
    std::size_t maxSlots_;
};

} // namespace

Workbook readXlsxBytes(const QByteArray& package, ReadLimits limits) {
    if (static_cast<std::size_t>(package.size()) > limits.maxPackageBytes)
        throw SheetError("Книга слишком велика для чтения");
    ZipReader zip(package, limits.zip);

    std::string workbookPart;
    for (const auto& [id, rel] : readRels(zip, "")) {
        if (!rel.external && typeIs(rel.type, "officeDocument")) {
            workbookPart = rel.target;
            break;
        }
    }
    if (workbookPart.empty() || !zip.contains(workbookPart))
        workbookPart = "xl/workbook.xml";
    if (!zip.contains(workbookPart))
        throw SheetError("Файл не является книгой .xlsx: нет части книги");

    const auto rels = readRels(zip, workbookPart);
    auto origin = std::make_shared<XlsxOrigin>();
    origin->package = package;
    origin->workbookPart = workbookPart;

    Workbook book;
    struct Entry {
        QString name;
        std::string part;
        std::string relId;
    };
    std::vector<Entry> entries;
    {
        const std::string xml = zip.read(workbookPart);
        XmlPull p(xml);
        for (Token t; (t = p.next()) != Token::End;) {
            if (t != Token::StartElement)
                continue;
            if (p.name() == "workbookPr") {
                book.date1904 = truthy(p.attribute("date1904"));
            } else if (p.name() == "sheet" && p.depth() == 3) {
                const std::string id = p.attribute("id");
                const auto rel = rels.find(id);
                // Chart and dialog sheets are not worksheets: the worksheet
                // positions skip them.
                if (rel == rels.end() || rel->second.external ||
                    !typeIs(rel->second.type, "worksheet"))
                    continue;
                entries.push_back(
                    {QString::fromStdString(p.attribute("name")), rel->second.target, id});
            }
        }
    }

    if (entries.empty())
        throw SheetError("Файл не является книгой .xlsx: в книге нет рабочих листов");

    std::vector<QString> strings;
    std::vector<QString> formats;
    for (const auto& [id, rel] : rels) {
        if (rel.external)
            continue;
        if (typeIs(rel.type, "sharedStrings")) {
            if (const auto xml = zip.readIfPresent(rel.target))
                strings = readSharedStrings(*xml);
        } else if (typeIs(rel.type, "styles")) {
            if (const auto xml = zip.readIfPresent(rel.target)) {
                formats = readCellFormats(*xml);
                origin->stylesPart = rel.target;
            }
        }
    }

    std::size_t cellSlots = 0;
    SheetReader reader(strings, formats, book.date1904, cellSlots, limits.maxCellSlots);
    for (const auto& entry : entries) {
        Sheet sheet;
        sheet.name = entry.name;
        sheet.originSheet = static_cast<int>(origin->sheets.size());
        const std::string xml = zip.read(entry.part);
        reader.read(xml, sheet);
        book.sheets.push_back(std::move(sheet));
        origin->sheets.push_back({entry.part, entry.relId});
    }
    book.xlsxOrigin = std::move(origin);
    return book;
}

} // namespace xlsx

Workbook readXlsx(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SheetError(QStringLiteral("Не удалось открыть файл %1").arg(path).toStdString());
    const xlsx::ReadLimits limits;
    if (static_cast<std::size_t>(file.size()) > limits.maxPackageBytes)
        throw SheetError("Книга слишком велика для чтения");
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SheetError(QStringLiteral("Не удалось прочитать файл %1").arg(path).toStdString());
    return xlsx::readXlsxBytes(bytes, limits);
}

} // namespace t5170::sheet
