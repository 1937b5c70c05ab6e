#include "sheet/xlsx/XlsxEdit.h"

#include "sheet/xlsx/XlsxCommon.h"
#include "sheet/xlsx/XlsxDeflate.h"
#include "sheet/xlsx/XlsxOrigin.h"
#include "sheet/xlsx/XlsxStyles.h"
#include "sheet/xlsx/XlsxXml.h"
#include "sheet/xlsx/XlsxZip.h"

#include <QFile>

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace t5170::sheet::xlsx {

namespace {

using Token = XmlPull::Token;

long toLong(std::string_view s, long fallback) {
    long v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && ptr == s.data() + s.size() ? v : fallback;
}

std::string numberText(double v) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

bool truthy(std::string_view v) {
    return v == "1" || v == "true" || v == "on";
}

// A written cell. `base` is the style the cell had, -1 for a new one.
std::string cellXml(const std::string& pfx, int row, int col, const std::optional<Cell>& cell,
                    int base, StyleEditor& styles) {
    const std::string ref = cellRef(row, col);
    std::string out;
    if (!cell || cell->kind == Cell::Kind::Empty ||
        (cell->kind == Cell::Kind::Text && cell->text.isEmpty())) {
        // Clearing a value keeps the cell's formatting.
        if (base > 0)
            out = "<" + pfx + "c r=\"" + ref + "\" s=\"" + std::to_string(base) + "\"/>";
        return out;
    }
    out = "<" + pfx + "c r=\"" + ref + "\"";
    if (cell->kind == Cell::Kind::Number) {
        const int style = styles.styleFor(base, cell->format);
        if (style > 0)
            out += " s=\"" + std::to_string(style) + "\"";
        if (!std::isfinite(cell->number))
            out += " t=\"e\"><" + pfx + "v>#NUM!</" + pfx + "v></" + pfx + "c>";
        else
            out += "><" + pfx + "v>" + numberText(cell->number) + "</" + pfx + "v></" + pfx + "c>";
        return out;
    }
    if (base > 0)
        out += " s=\"" + std::to_string(base) + "\"";
    const std::string text = cell->text.toStdString();
    const bool preserve = text.front() == ' ' || text.back() == ' ' ||
                          text.find_first_of("\t\n") != std::string::npos;
    out += " t=\"inlineStr\"><" + pfx + "is><" + pfx + "t";
    if (preserve)
        out += " xml:space=\"preserve\"";
    out += ">";
    appendXmlEscaped(out, text);
    out += "</" + pfx + "t></" + pfx + "is></" + pfx + "c>";
    return out;
}

struct ColDef {
    long min = 0;
    long max = 0;
    std::string raw;
    // Local name and the whole attribute text (name="value").
    std::vector<std::pair<std::string, std::string>> attrs;
    std::optional<double> customWidth; // file units
};

std::string colXml(const std::string& pfx, const ColDef* from, long min, long max,
                   std::optional<double> width) {
    std::string out = "<" + pfx + "col";
    bool haveMin = false, haveMax = false, haveWidth = false, haveCustom = false;
    if (from) {
        for (const auto& [name, text] : from->attrs) {
            if (name == "min") {
                out += " min=\"" + std::to_string(min) + "\"";
                haveMin = true;
            } else if (name == "max") {
                out += " max=\"" + std::to_string(max) + "\"";
                haveMax = true;
            } else if (name == "width" && width) {
                out += " width=\"" + numberText(*width) + "\"";
                haveWidth = true;
            } else if (name == "customWidth" && width) {
                out += " customWidth=\"1\"";
                haveCustom = true;
            } else {
                out += " " + text;
            }
        }
    }
    if (!haveMin)
        out += " min=\"" + std::to_string(min) + "\"";
    if (!haveMax)
        out += " max=\"" + std::to_string(max) + "\"";
    if (width && !haveWidth)
        out += " width=\"" + numberText(*width) + "\"";
    if (width && !haveCustom)
        out += " customWidth=\"1\"";
    out += "/>";
    return out;
}

std::optional<std::string> newColsXml(const std::string& pfx, const std::vector<ColDef>& cols,
                                      const Sheet& sheet) {
    std::map<long, double> changes; // 1-based column -> file width
    for (const auto& [col, chars] : sheet.columnWidths) {
        if (col < 0 || col >= kMaxCols)
            continue;
        const long c = col + 1;
        std::optional<double> current;
        for (const auto& d : cols)
            if (d.min <= c && c <= d.max && d.customWidth)
                current = widthFromFile(*d.customWidth);
        if (!current || std::abs(*current - chars) > 0.004)
            changes[c] = widthToFile(chars);
    }
    if (changes.empty())
        return std::nullopt;
    std::vector<std::pair<long, std::string>> out;
    std::set<long> placed;
    for (const auto& d : cols) {
        auto it = changes.lower_bound(d.min);
        if (it == changes.end() || it->first > d.max) {
            out.emplace_back(d.min, d.raw);
            continue;
        }
        long cur = d.min;
        for (; it != changes.end() && it->first <= d.max; ++it) {
            if (cur < it->first)
                out.emplace_back(cur, colXml(pfx, &d, cur, it->first - 1, std::nullopt));
            out.emplace_back(it->first, colXml(pfx, &d, it->first, it->first, it->second));
            placed.insert(it->first);
            cur = it->first + 1;
        }
        if (cur <= d.max)
            out.emplace_back(cur, colXml(pfx, &d, cur, d.max, std::nullopt));
    }
    for (const auto& [c, width] : changes)
        if (!placed.count(c))
            out.emplace_back(c, colXml(pfx, nullptr, c, c, width));
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string xml = "<" + pfx + "cols>";
    for (const auto& [c, text] : out)
        xml += text;
    xml += "</" + pfx + "cols>";
    return xml;
}

} // namespace

SheetEdit editSheetXml(std::string_view xml, const Sheet& sheet, StyleEditor& styles,
                       bool editWidths) {
    SheetEdits e = sheetXmlEdits(xml, sheet, styles, editWidths);
    SheetEdit out;
    out.replacedFormula = e.replacedFormula;
    out.xml = e.edits.empty() ? std::string(xml) : applyEdits(xml, std::move(e.edits));
    return out;
}

SheetEdits sheetXmlEdits(std::string_view xml, const Sheet& sheet, StyleEditor& styles,
                         bool editWidths) {
    std::map<int, std::vector<int>> touched;
    int minRow = kMaxRows, minCol = kMaxCols, maxRow = -1, maxCol = -1;
    for (const auto& [r, c] : sheet.touchedCells()) {
        if (r < 0 || c < 0 || r >= kMaxRows || c >= kMaxCols)
            throw SheetError("Ячейка за пределами листа");
        touched[r].push_back(c);
        if (sheet.kind(r, c) != Cell::Kind::Empty) {
            minRow = std::min(minRow, r);
            minCol = std::min(minCol, c);
            maxRow = std::max(maxRow, r);
            maxCol = std::max(maxCol, c);
        }
    }

    SheetEdits result;
    std::vector<TextEdit>& edits = result.edits;
    std::string pfx;
    std::optional<XmlPull::Span> dimValue;
    std::string dimRef;
    std::optional<std::size_t> colsBegin, colsEnd;
    std::vector<ColDef> cols;
    std::size_t colBegin = 0;
    std::optional<std::size_t> sheetDataBegin;
    bool sheetDataSelfClosing = false;
    bool inData = false;
    auto pending = touched.begin();

    auto newRow = [&](int r, const std::vector<int>& columns) {
        std::string body;
        for (const int c : columns)
            body += cellXml(pfx, r, c, sheet.find(r, c), -1, styles);
        if (body.empty())
            return std::string();
        return "<" + pfx + "row r=\"" + std::to_string(r + 1) + "\">" + body + "</" + pfx + "row>";
    };

    struct CellState {
        int col;
        std::size_t begin, end;
        int style;
        bool hasRef;
        std::size_t nameEnd;
        bool formula = false;
        bool blocking = false;
    };
    struct RowState {
        bool rebuild = false;
        int number = -1;
        std::size_t begin = 0, startEnd = 0, nameEnd = 0;
        bool selfClosing = false, hasRef = false;
        std::optional<XmlPull::Span> spans;
        const std::vector<int>* columns = nullptr;
    } row;
    std::vector<CellState> cells;
    int cellCol = -1;

    auto rebuildRow = [&](std::size_t rowEnd) {
        std::string start(xml.substr(row.begin, row.startEnd - row.begin));
        if (row.selfClosing) {
            while (!start.empty() &&
                   (start.back() == '>' || start.back() == '/' || start.back() == ' ' ||
                    start.back() == '\t' || start.back() == '\n' || start.back() == '\r'))
                start.pop_back();
            start += '>';
        }
        // Spans are a hint that no longer holds once cells are added.
        if (row.spans) {
            std::size_t b = row.spans->begin - row.begin;
            const std::size_t e = row.spans->end - row.begin;
            while (b > 0 && (start[b - 1] == ' ' || start[b - 1] == '\t' || start[b - 1] == '\n' ||
                             start[b - 1] == '\r'))
                --b;
            start.erase(b, e - b);
        }
        if (!row.hasRef)
            start.insert(row.nameEnd - row.begin, " r=\"" + std::to_string(row.number + 1) + "\"");

        std::vector<std::pair<int, std::string>> parts;
        std::set<int> wanted(row.columns->begin(), row.columns->end());
        for (const auto& c : cells) {
            if (wanted.count(c.col)) {
                if (c.blocking)
                    throw SheetError(
                        QStringLiteral("Ячейка %1 листа «%2» входит в общую формулу: "
                                       "запись в неё не сохранить")
                            .arg(QString::fromStdString(cellRef(row.number, c.col)), sheet.name)
                            .toStdString());
                result.replacedFormula |= c.formula;
                parts.emplace_back(c.col, cellXml(pfx, row.number, c.col,
                                                  sheet.find(row.number, c.col), c.style, styles));
                wanted.erase(c.col);
            } else {
                std::string raw(xml.substr(c.begin, c.end - c.begin));
                if (!c.hasRef)
                    raw.insert(c.nameEnd - c.begin, " r=\"" + cellRef(row.number, c.col) + "\"");
                parts.emplace_back(c.col, std::move(raw));
            }
        }
        for (const int c : wanted)
            parts.emplace_back(c,
                               cellXml(pfx, row.number, c, sheet.find(row.number, c), -1, styles));
        std::stable_sort(parts.begin(), parts.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string text = std::move(start);
        for (const auto& [c, part] : parts)
            text += part;
        text += "</" + pfx + "row>";
        edits.push_back({row.begin, rowEnd, std::move(text)});
    };

    XmlPull p(xml);
    for (Token t; (t = p.next()) != Token::End;) {
        const int depth = p.depth();
        const std::string_view name = p.name();
        if (t == Token::StartElement) {
            if (depth == 1) {
                pfx = std::string(p.prefix());
            } else if (depth == 2 && name == "dimension") {
                dimValue = p.attributeValueSpan("ref");
                dimRef = p.attribute("ref");
            } else if (depth == 2 && name == "cols") {
                colsBegin = p.begin();
            } else if (depth == 3 && colsBegin && !colsEnd && name == "col") {
                ColDef d;
                d.min = std::max(1L, toLong(p.attribute("min"), 1));
                d.max = std::min(static_cast<long>(kMaxCols), toLong(p.attribute("max"), d.min));
                for (const auto& a : p.attributes())
                    d.attrs.emplace_back(std::string(a.name),
                                         std::string(xml.substr(a.begin, a.end - a.begin)));
                if (truthy(p.attribute("customWidth")))
                    if (const double w = std::atof(p.attribute("width").c_str()); w > 0)
                        d.customWidth = w;
                colBegin = p.begin();
                cols.push_back(std::move(d));
            } else if (depth == 2 && name == "sheetData") {
                sheetDataBegin = p.begin();
                sheetDataSelfClosing = p.selfClosing();
                inData = !p.selfClosing();
            } else if (inData && depth == 3 && name == "row") {
                const auto* r = p.rawAttribute("r");
                const int number = r ? static_cast<int>(toLong(*r, 0)) - 1 : row.number + 1;
                if (number < 0 || number >= kMaxRows)
                    throw SheetError("Файл повреждён: номер строки за пределами листа");
                while (pending != touched.end() && pending->first < number) {
                    if (auto text = newRow(pending->first, pending->second); !text.empty())
                        edits.push_back({p.begin(), p.begin(), std::move(text)});
                    ++pending;
                }
                row = RowState{};
                row.number = number;
                row.hasRef = r != nullptr;
                if (pending != touched.end() && pending->first == number) {
                    row.rebuild = true;
                    row.begin = p.begin();
                    row.startEnd = p.end();
                    row.nameEnd = p.nameEnd();
                    row.selfClosing = p.selfClosing();
                    row.spans = p.attributeSpan("spans");
                    row.columns = &pending->second;
                    ++pending;
                } else {
                    if (!r) {
                        // Rows are numbered explicitly from here on, so
                        // rows inserted above cannot shift this one.
                        edits.push_back({p.nameEnd(), p.nameEnd(),
                                         " r=\"" + std::to_string(number + 1) + "\""});
                    }
                    // A row that stays as it is: no need to look inside.
                    p.skipFlatElement();
                }
                cells.clear();
                cellCol = -1;
            } else if (inData && depth == 4 && name == "c" && row.rebuild) {
                const auto* r = p.rawAttribute("r");
                if (r) {
                    const auto ref = parseCellRef(*r);
                    if (!ref)
                        throw SheetError("Файл повреждён: адрес ячейки за пределами листа");
                    cellCol = ref->second;
                } else {
                    ++cellCol;
                }
                cells.push_back({cellCol, p.begin(), p.end(),
                                 static_cast<int>(toLong(p.attribute("s"), 0)), r != nullptr,
                                 p.nameEnd()});
            } else if (inData && depth == 5 && name == "f" && row.rebuild && !cells.empty()) {
                cells.back().formula = true;
                const std::string kind = p.attribute("t");
                if ((kind == "shared" || kind == "array") &&
                    p.attribute("ref").find(':') != std::string::npos)
                    cells.back().blocking = true;
            }
        } else if (t == Token::EndElement) {
            if (depth == 2 && name == "cols") {
                colsEnd = p.end();
            } else if (depth == 3 && colsBegin && !colsEnd && name == "col" && !cols.empty()) {
                cols.back().raw = std::string(xml.substr(colBegin, p.end() - colBegin));
            } else if (inData && depth == 4 && name == "c" && row.rebuild && !cells.empty()) {
                cells.back().end = p.end();
            } else if (inData && depth == 3 && name == "row" && row.rebuild) {
                rebuildRow(p.end());
                row.rebuild = false;
            } else if (depth == 2 && name == "sheetData") {
                std::string rest;
                for (; pending != touched.end(); ++pending)
                    rest += newRow(pending->first, pending->second);
                if (sheetDataSelfClosing) {
                    if (!rest.empty())
                        edits.push_back(
                            {p.begin(), p.end(),
                             "<" + pfx + "sheetData>" + rest + "</" + pfx + "sheetData>"});
                } else if (!rest.empty()) {
                    edits.push_back({p.begin(), p.begin(), std::move(rest)});
                }
                inData = false;
            }
        }
    }
    if (!sheetDataBegin)
        throw SheetError("Файл повреждён: в листе нет данных");

    if (dimValue && maxRow >= 0) {
        const auto colon = dimRef.find(':');
        const auto first = parseCellRef(std::string_view(dimRef).substr(0, colon));
        const auto last =
            parseCellRef(colon == std::string::npos ? std::string_view(dimRef)
                                                    : std::string_view(dimRef).substr(colon + 1));
        if (first && last) {
            const int r0 = std::min(first->first, minRow), c0 = std::min(first->second, minCol);
            const int r1 = std::max(last->first, maxRow), c1 = std::max(last->second, maxCol);
            const std::string ref = cellRef(r0, c0) + ":" + cellRef(r1, c1);
            if (ref != dimRef)
                edits.push_back({dimValue->begin, dimValue->end, ref});
        }
    }

    if (editWidths) {
        if (auto text = newColsXml(pfx, cols, sheet)) {
            if (colsBegin && colsEnd)
                edits.push_back({*colsBegin, *colsEnd, std::move(*text)});
            else
                edits.push_back({*sheetDataBegin, *sheetDataBegin, std::move(*text)});
        }
    }

    return result;
}

namespace {

// Renames the <sheet> elements whose names changed.
std::optional<std::string> renameSheets(const std::string& xml, const Workbook& book,
                                        const XlsxOrigin& origin) {
    std::map<std::string, const Sheet*> byRel;
    for (const Sheet& s : book.sheets)
        if (s.nameTouched)
            byRel[origin.sheets[static_cast<std::size_t>(s.originSheet)].relId] = &s;
    if (byRel.empty())
        return std::nullopt;
    std::vector<TextEdit> edits;
    XmlPull p(xml);
    for (Token t; (t = p.next()) != Token::End;) {
        if (t != Token::StartElement || p.depth() != 3 || p.name() != "sheet")
            continue;
        const auto it = byRel.find(p.attribute("id"));
        const auto span = p.attributeValueSpan("name");
        if (it == byRel.end() || !span)
            continue;
        const std::string name = it->second->name.toStdString();
        if (name == p.attribute("name"))
            continue;
        std::string escaped;
        appendXmlEscaped(escaped, name);
        edits.push_back({span->begin, span->end, std::move(escaped)});
    }
    if (edits.empty())
        return std::nullopt;
    return applyEdits(xml, std::move(edits));
}

// Removes the elements named `element` whose attribute `attr` satisfies `match`.
template <typename Match>
std::string removeElements(const std::string& xml, std::string_view element, std::string_view attr,
                           Match match) {
    std::vector<TextEdit> edits;
    XmlPull p(xml);
    std::size_t begin = 0;
    bool removing = false;
    for (Token t; (t = p.next()) != Token::End;) {
        if (t == Token::StartElement && p.depth() == 2 && p.name() == element) {
            begin = p.begin();
            removing = match(p.attribute(attr));
        } else if (t == Token::EndElement && p.depth() == 2 && p.name() == element && removing) {
            edits.push_back({begin, p.end(), {}});
            removing = false;
        }
    }
    return applyEdits(xml, std::move(edits));
}

// Inserts `text` before the root element's end tag.
std::string appendToRoot(const std::string& xml, const std::string& text) {
    XmlPull p(xml);
    for (Token t; (t = p.next()) != Token::End;) {
        if (t == Token::StartElement && p.depth() == 1 && p.selfClosing()) {
            // An empty root written as <Root/>: open it.
            std::string open = xml.substr(p.begin(), p.end() - p.begin());
            open.erase(open.rfind('/'));
            return xml.substr(0, p.begin()) + open + ">" + text + "</" + std::string(p.qname()) +
                   ">" + xml.substr(p.end());
        }
        if (t == Token::EndElement && p.depth() == 1) {
            std::string out = xml;
            out.insert(p.begin(), text);
            return out;
        }
    }
    throw SheetError("Файл повреждён: неверная разметка XML");
}

bool endsWithType(const std::string& type, std::string_view kind) {
    const auto slash = type.rfind('/');
    return slash != std::string::npos && std::string_view(type).substr(slash + 1) == kind;
}

std::string toLowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

[[noreturn]] void zipFailure(zip_t* archive, const QString& path) {
    const QString detail = QString::fromUtf8(zip_strerror(archive));
    zip_discard(archive);
    throw SheetError(
        QStringLiteral("Не удалось записать файл %1: %2").arg(path, detail).toStdString());
}

// Writes a new container holding every entry of `package` in its order:
// the `replaced` parts freshly compressed, the `removed` ones left out, and
// every other entry with its stored bytes exactly as they were.
// A part compressed beforehand (XlsxDeflate.h), handed to libzip as it is:
// its stat says deflated, with size and checksum, so nothing is redone.
struct PrecompressedSource {
    const DeflatedPart* part;
    std::size_t offset = 0;
    zip_error_t error;
};

zip_int64_t precompressed(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* s = static_cast<PrecompressedSource*>(state);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        s->offset = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(len), s->part->data.size() - s->offset);
        std::memcpy(data, s->part->data.data() + s->offset, n);
        s->offset += n;
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        if (len < sizeof(zip_stat_t)) {
            zip_error_set(&s->error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC |
                    ZIP_STAT_ENCRYPTION_METHOD;
        st->size = s->part->size;
        st->comp_size = s->part->data.size();
        st->comp_method = ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        st->crc = s->part->crc;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&s->error);
        delete s;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

void writePackage(const QByteArray& package, const std::map<std::string, std::string>& replaced,
                  const std::map<std::string, DeflatedPart>& recompressed,
                  const std::set<std::string>& removed, const QString& outPath) {
    std::map<std::string, const std::string*> byName; // lower case
    for (const auto& [part, data] : replaced)
        byName[toLowerAscii(part)] = &data;
    std::map<std::string, const DeflatedPart*> deflatedByName;
    for (const auto& [part, data] : recompressed)
        deflatedByName[toLowerAscii(part)] = &data;
    std::set<std::string> gone;
    for (const auto& part : removed)
        gone.insert(toLowerAscii(part));

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(
        package.constData(), static_cast<zip_uint64_t>(package.size()), 0, &error);
    zip_t* from = buffer ? zip_open_from_source(buffer, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!from) {
        if (buffer)
            zip_source_free(buffer);
        throw SheetError("Файл книги повреждён: сохранить её правкой нельзя");
    }
    const std::unique_ptr<zip_t, decltype(&zip_discard)> fromGuard(from, &zip_discard);

    int code = 0;
    zip_t* to = zip_open(QFile::encodeName(outPath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!to)
        throw SheetError(QStringLiteral("Не удалось записать файл %1").arg(outPath).toStdString());
    auto addData = [&](const std::string& name, const std::string& data) {
        zip_source_t* source = zip_source_buffer(to, data.data(), data.size(), 0);
        const zip_int64_t index =
            source ? zip_file_add(to, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            zipFailure(to, outPath);
        }
        // A new entry, so the level holds (libzip's default is its slowest).
        zip_set_file_compression(to, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6);
    };
    auto addDeflated = [&](const std::string& name, const DeflatedPart& part, zip_flags_t flags) {
        auto* state = new PrecompressedSource{&part, 0, {}};
        zip_error_init(&state->error);
        zip_source_t* source = zip_source_function(to, precompressed, state);
        if (!source) {
            zip_error_fini(&state->error);
            delete state;
            zipFailure(to, outPath);
        }
        if (zip_file_add(to, name.c_str(), source, flags) < 0) {
            zip_source_free(source);
            zipFailure(to, outPath);
        }
    };
    std::set<std::string> written;
    const zip_int64_t count = zip_get_num_entries(from, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* raw = zip_get_name(from, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (!raw)
            zipFailure(to, outPath);
        const std::string name(raw);
        std::string key = toLowerAscii(name);
        while (!key.empty() && key.front() == '/')
            key.erase(0, 1);
        if (gone.count(key))
            continue;
        if (const auto it = byName.find(key); it != byName.end()) {
            addData(name, *it->second);
            written.insert(key);
            continue;
        }
        if (const auto it = deflatedByName.find(key); it != deflatedByName.end()) {
            addDeflated(name, *it->second, ZIP_FL_ENC_RAW);
            continue;
        }
        zip_source_t* source =
            zip_source_zip(to, from, static_cast<zip_uint64_t>(i), ZIP_FL_COMPRESSED, 0, -1);
        if (!source || zip_file_add(to, name.c_str(), source, ZIP_FL_ENC_RAW) < 0) {
            if (source)
                zip_source_free(source);
            zipFailure(to, outPath);
        }
    }
    for (const auto& [key, data] : byName)
        if (!written.count(key))
            addData(key, *data);
    if (zip_close(to) != 0)
        zipFailure(to, outPath);
}

} // namespace

void editXlsxPackage(const Workbook& book, const XlsxOrigin& origin, const QString& outPath) {
    if (book.sheets.size() != origin.sheets.size())
        throw SheetError("Листы книги не совпадают с листами её файла: сохраните её как .xls");
    for (std::size_t i = 0; i < book.sheets.size(); ++i)
        if (book.sheets[i].originSheet != static_cast<int>(i))
            throw SheetError("Листы книги не совпадают с листами её файла: сохраните её как .xls");
    checkSheetNames(book);

    ZipReader zip(origin.package);
    std::map<std::string, std::string> replaced; // part -> new content
    std::map<std::string, DeflatedPart> recompressed;
    std::set<std::string> removed;

    StyleEditor styles(origin.stylesPart.empty() ? std::string() : zip.read(origin.stylesPart));
    bool formulaReplaced = false;
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        const Sheet& sheet = book.sheets[i];
        if (!sheet.anyTouched() && !sheet.widthsTouched)
            continue;
        const std::string& part = origin.sheets[i].part;
        if (auto stored = zip.deflated(part)) {
            // Only what follows the first change is compressed again.
            const InflatedPart xml =
                inflateNotingBlocks(stored->compressed, stored->size, stored->crc);
            SheetEdits edit = sheetXmlEdits(xml.text(), sheet, styles, sheet.widthsTouched);
            formulaReplaced |= edit.replacedFormula;
            if (!edit.edits.empty())
                recompressed[part] = deflateEdited(stored->compressed, xml, std::move(edit.edits));
            continue;
        }
        const std::string xml = zip.read(part);
        SheetEdit edit = editSheetXml(xml, sheet, styles, sheet.widthsTouched);
        formulaReplaced |= edit.replacedFormula;
        if (edit.xml != xml)
            replaced[part] = std::move(edit.xml);
    }
    if (auto xml = renameSheets(zip.read(origin.workbookPart), book, origin))
        replaced[origin.workbookPart] = std::move(*xml);

    const std::string relsPart = relsPartOf(origin.workbookPart);
    std::optional<std::string> rels;
    std::optional<std::string> types;
    auto relsXml = [&]() -> std::string& {
        if (!rels)
            rels = zip.read(relsPart);
        return *rels;
    };
    auto typesXml = [&]() -> std::string& {
        if (!types)
            types = zip.read("[Content_Types].xml");
        return *types;
    };

    if (styles.changed()) {
        std::string part = origin.stylesPart;
        if (styles.created()) {
            const auto slash = origin.workbookPart.rfind('/');
            const std::string dir = slash == std::string::npos
                                        ? std::string()
                                        : origin.workbookPart.substr(0, slash + 1);
            part = dir + "styles.xml";
            for (int n = 2; zip.contains(part); ++n)
                part = dir + "styles" + std::to_string(n) + ".xml";
            std::set<std::string> ids;
            {
                XmlPull p(relsXml());
                for (Token t; (t = p.next()) != Token::End;)
                    if (t == Token::StartElement && p.name() == "Relationship")
                        ids.insert(p.attribute("Id"));
            }
            std::string id = "rId1";
            for (int n = 1; ids.count(id); ++n)
                id = "rId" + std::to_string(n);
            relsXml() = appendToRoot(
                relsXml(), "<Relationship Id=\"" + id +
                               "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                               "relationships/styles\" Target=\"" +
                               part.substr(dir.size()) + "\"/>");
            typesXml() = appendToRoot(
                typesXml(), "<Override PartName=\"/" + part +
                                "\" ContentType=\"application/vnd.openxmlformats-officedocument."
                                "spreadsheetml.styles+xml\"/>");
        }
        replaced[part] = styles.result();
    }

    // The calculation chain lists the formula cells; one overwritten by a
    // value would make it wrong, and the applications rebuild a missing one.
    if (formulaReplaced) {
        std::string calcChain;
        {
            XmlPull p(relsXml());
            for (Token t; (t = p.next()) != Token::End;)
                if (t == Token::StartElement && p.name() == "Relationship" &&
                    endsWithType(p.attribute("Type"), "calcChain"))
                    calcChain = resolvePartName(origin.workbookPart, p.attribute("Target"));
        }
        if (!calcChain.empty()) {
            removed.insert(calcChain);
            relsXml() =
                removeElements(relsXml(), "Relationship", "Type", [](const std::string& type) {
                    return endsWithType(type, "calcChain");
                });
            const std::string partName = toLowerAscii("/" + calcChain);
            typesXml() =
                removeElements(typesXml(), "Override", "PartName", [&](const std::string& name) {
                    return toLowerAscii(name) == partName;
                });
        }
    }
    if (rels)
        replaced[relsPart] = std::move(*rels);
    if (types)
        replaced["[Content_Types].xml"] = std::move(*types);

    writePackage(origin.package, replaced, recompressed, removed, outPath);
}

} // namespace t5170::sheet::xlsx
