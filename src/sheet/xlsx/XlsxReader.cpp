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

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <unordered_map>

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

long parseIndex(std::string_view s, long fallback) {
    long v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && ptr == s.data() + s.size() ? v : fallback;
}

// The _xHHHH_ escapes of a rich text's decoded parts, undone.
void finishRichText(std::string& out) {
    if (out.find("_x") != std::string::npos)
        out = decodeOoxmlEscapes(out);
}

// Text of an <si> or <is> element: its <t> parts, runs included, phonetic
// hints left out, into `out` (cleared first). Called right after the
// element's start.
void readRichText(XmlPull& p, std::string& out) {
    out.clear();
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
            p.appendText(out);
        }
    }
    finishRichText(out);
}

std::string readRichText(XmlPull& p) {
    std::string out;
    readRichText(p, out);
    return out;
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

// Reads one worksheet into the model. Built once per sheet: it keeps which
// shared string and which cell style became which of the sheet's interned
// texts and formats, so that a cell costs a lookup, not a QString.
class SheetReader {
public:
    SheetReader(const std::vector<QString>& strings, const std::vector<QString>& formats,
                bool date1904, std::size_t& cellSlots, const ReadLimits& limits, Sheet& sheet)
        : strings_(strings), formats_(formats), date1904_(date1904), cellSlots_(cellSlots),
          maxSlots_(limits.maxCellSlots), sheet_(sheet), textIds_(strings.size(), kUnset),
          formatIds_(formats.size(), kUnset), maxQuickRowBytes_(limits.maxQuickRowBytes),
          quick_(limits.maxQuickRowBytes > 0) {}

    void read(XmlPull& p) {
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
            if (depth == 4 && inData && name == "c") {
                const int cellRow = place(p.rawAttribute("r"), row, col);
                readCell(p, cellRow, col);
            } else if (depth == 3 && inData && name == "row") {
                const auto* r = p.rawAttribute("r");
                row = r ? static_cast<int>(parseIndex(*r, 0)) - 1 : row + 1;
                if (row < 0 || row >= kMaxRows)
                    throw SheetError("Файл повреждён: номер строки за пределами листа");
                if (row > 0)
                    lastRowCells_ = std::min(64, sheet_.columnCount(row - 1));
                col = -1;
                // "1:8": the row's cells come in one allocation.
                spanHint_ = 0;
                if (const auto* spans = p.rawAttribute("spans")) {
                    const auto colon = spans->find(':');
                    if (colon != std::string_view::npos)
                        spanHint_ = static_cast<int>(
                            std::clamp(parseIndex(spans->substr(colon + 1), 0), 0L, 64L));
                }
                if (quick_ && !p.selfClosing())
                    readRowQuickly(p, row);
            } else if (depth == 2 && name == "dimension") {
                // "A1:H60001": room for the rows at once. Only a hint, and
                // a file may lie, so it is capped.
                if (const auto* ref = p.rawAttribute("ref")) {
                    const auto colon = ref->find(':');
                    if (const auto last = parseCellRef(
                            colon == std::string_view::npos ? *ref : ref->substr(colon + 1))) {
                        const int rows = std::min(last->first + 1, 200'000);
                        sheet_.reserveRows(rows);
                        sheet_.reserveCells(std::min<std::size_t>(
                            {std::size_t(rows) * std::size_t(std::min(last->second + 1, 64)),
                             std::size_t(1) << 20, maxSlots_ - std::min(maxSlots_, cellSlots_)}));
                    }
                }
            } else if (depth == 2 && name == "sheetData") {
                inData = true;
            } else if (depth == 3 && name == "col") {
                readColumn(p, widthSteps);
            }
        }
    }

private:
    static constexpr std::uint32_t kUnset = 0xFFFFFFFFu;
    enum class Type { Number, Shared, Inline, Str, Error, Bool, Date };

    // The row of the cell whose reference is `ref` (the row being read and
    // the next column without one), its column into `col`.
    static int place(const std::string_view* ref, int row, int& col) {
        int cellRow = row < 0 ? 0 : row;
        if (ref) {
            const auto at = parseCellRef(*ref);
            if (!at)
                throw SheetError("Файл повреждён: адрес ячейки за пределами листа");
            cellRow = at->first;
            col = at->second;
        } else {
            ++col;
        }
        if (col >= kMaxCols)
            throw SheetError("Файл повреждён: адрес ячейки за пределами листа");
        return cellRow;
    }

    // Reads the row just started straight from the text after its start
    // tag when it only holds cells of the shapes writers use; otherwise
    // leaves it to be read token by token, which stores the cells taken so
    // far again, the same way.
    void readRowQuickly(XmlPull& p, int row) {
        prefix_ = p.prefix(); // the start tag's views end with readAhead()
        while (true) {
            const std::string_view ahead = p.ahead();
            std::size_t closeBegin = 0, closeEnd = 0;
            switch (readRowText(ahead, row, closeBegin, closeEnd)) {
            case RowText::Read:
                p.endElementAt(closeBegin, closeEnd);
                return;
            case RowText::Other:
                return;
            case RowText::Cut:
                if (ahead.size() > maxQuickRowBytes_) {
                    quick_ = false; // rows this long are not worth looking at twice
                    return;
                }
                if (!p.readAhead())
                    return;
            }
        }
    }

    enum class RowText { Read, Cut, Other };
    // The cells at the start of `text` up to the row's end tag, which lies
    // at [closeBegin, closeEnd): <c .../>, <c ...></c>, <c ...><v>text</v></c>
    // and <c ...><is><t>text</t></is></c>, with whitespace between cells.
    // Read when the row ended so; Cut when the text ended first; Other at
    // anything else, which could even be a comment hiding an end tag.
    RowText readRowText(std::string_view text, int row, std::size_t& closeBegin,
                        std::size_t& closeEnd) {
        const char* d = text.data();
        const std::size_t n = text.size();
        const std::string_view pfx = prefix_;
        std::size_t i = 0;
        bool cut = false; // a comparison ran into the end of the text
        // The few bytes compared here are cheaper in a loop than in memcmp.
        auto same = [d](std::size_t at, std::string_view s) {
            for (const char c : s)
                if (d[at++] != c)
                    return false;
            return true;
        };
        // "<" [ "/" ] prefix name ">" at i, stepping over it.
        auto tag = [&](bool close, std::string_view name) {
            const std::size_t len = 1 + close + pfx.size() + name.size() + 1;
            if (n - i < len) {
                cut = true;
                return false;
            }
            if (d[i] != '<' || (close && d[i + 1] != '/') || !same(i + 1 + close, pfx) ||
                !same(i + 1 + close + pfx.size(), name) || d[i + len - 1] != '>')
                return false;
            i += len;
            return true;
        };
        // <t xml:space="preserve">, as texts with spaces at their ends are written.
        auto preservedT = [&]() {
            constexpr std::string_view kAttr = R"( xml:space="preserve">)";
            const std::size_t len = 2 + pfx.size() + kAttr.size();
            if (n - i < len) {
                cut = true;
                return false;
            }
            if (d[i] != '<' || !same(i + 1, pfx) || d[i + 1 + pfx.size()] != 't' ||
                !same(i + 2 + pfx.size(), kAttr))
                return false;
            i += len;
            return true;
        };
        // Plain text up to the next tag.
        auto plain = [&]() {
            const std::size_t from = i;
            while (i < n && d[i] != '<')
                ++i;
            return text.substr(from, i - from);
        };
        auto other = [&] { return cut ? RowText::Cut : RowText::Other; };
        int col = -1;
        while (true) {
            while (i < n && isXmlSpace(d[i]))
                ++i;
            closeBegin = i;
            if (tag(true, "row")) {
                closeEnd = i;
                return RowText::Read;
            }
            if (n - i < 3 + pfx.size())
                return RowText::Cut;
            if (d[i] != '<' || !same(i + 1, pfx) || d[i + 1 + pfx.size()] != 'c')
                return other();
            i += 2 + pfx.size();
            if (d[i] != '>' && d[i] != '/' && !isXmlSpace(d[i]))
                return RowText::Other; // another element whose name starts with c
            std::string_view ref, style, type;
            bool hasRef = false, hasStyle = false, hasType = false;
            bool selfClosing = false;
            while (true) {
                while (i < n && isXmlSpace(d[i]))
                    ++i;
                if (i >= n)
                    return RowText::Cut;
                if (d[i] == '>') {
                    ++i;
                    break;
                }
                if (d[i] == '/') {
                    if (i + 1 >= n)
                        return RowText::Cut;
                    if (d[i + 1] != '>')
                        return RowText::Other;
                    i += 2;
                    selfClosing = true;
                    break;
                }
                const std::size_t nameBegin = i;
                while (i < n && d[i] != '=' && d[i] != ':' && !isXmlSpace(d[i]) && d[i] != '>' &&
                       d[i] != '/')
                    ++i;
                if (i + 1 >= n)
                    return RowText::Cut;
                if (d[i] != '=' || (d[i + 1] != '"' && d[i + 1] != '\''))
                    return RowText::Other;
                const char name = i - nameBegin == 1 ? d[nameBegin] : '\0';
                const char quote = d[i + 1];
                const std::size_t valueBegin = i + 2;
                i = valueBegin;
                while (i < n && d[i] != quote)
                    ++i;
                if (i >= n)
                    return RowText::Cut;
                const std::string_view value = text.substr(valueBegin, i - valueBegin);
                ++i;
                // The first of a name counts, as for any start tag.
                if (name == 'r' && !hasRef) {
                    ref = value;
                    hasRef = true;
                } else if (name == 's' && !hasStyle) {
                    style = value;
                    hasStyle = true;
                } else if (name == 't' && !hasType) {
                    type = value;
                    hasType = true;
                }
            }
            // Only a whole cell is stored: a cut one is read again.
            std::string_view raw;
            bool inlineText = false;
            if (selfClosing || tag(true, "c")) {
                // no value: raw stays without data
            } else if (tag(false, "v")) {
                raw = plain();
                if (!tag(true, "v") || !tag(true, "c"))
                    return other();
            } else if (tag(false, "is")) {
                if (!tag(false, "t") && !preservedT())
                    return other();
                raw = plain();
                inlineText = true;
                if (!tag(true, "t") || !tag(true, "is") || !tag(true, "c"))
                    return other();
            } else {
                return other();
            }
            storeQuick(hasRef ? &ref : nullptr, hasType ? &type : nullptr,
                       hasStyle ? &style : nullptr, row, col, raw, inlineText);
        }
    }

    // A cell readRowText() took whole: `raw` is its <v> or, when `inlineText`,
    // its inline text, as written; without data for a cell with neither.
    void storeQuick(const std::string_view* ref, const std::string_view* rawType,
                    const std::string_view* rawStyle, int row, int& col, std::string_view raw,
                    bool inlineText) {
        const int cellRow = place(ref, row, col);
        const CellTag cell = cellOf(rawType, rawStyle);
        if (inlineText) {
            storeInline(cellRow, col, cell, raw);
        } else if (raw.data()) {
            value_.clear();
            appendXmlDecoded(value_, raw);
            store(cellRow, col, cell, true, false);
        } else {
            store(cellRow, col, cell, false, false);
        }
    }

    struct CellTag {
        Type type;
        bool typed;
        long style;
    };
    static CellTag cellOf(const std::string_view* rawType, const std::string_view* rawStyle) {
        return {typeOf(rawType), rawType && !rawType->empty(),
                rawStyle ? parseIndex(*rawStyle, 0) : 0};
    }

    void readColumn(XmlPull& p, std::size_t& steps) {
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
            sheet_.columnWidths[static_cast<int>(c - 1)] = chars;
    }

    static Type typeOf(const std::string_view* raw) {
        if (!raw || raw->empty() || *raw == "n")
            return Type::Number;
        if (*raw == "s")
            return Type::Shared;
        if (*raw == "inlineStr")
            return Type::Inline;
        if (*raw == "str")
            return Type::Str;
        if (*raw == "e")
            return Type::Error;
        if (*raw == "b")
            return Type::Bool;
        if (*raw == "d")
            return Type::Date;
        return Type::Number;
    }

    void readCell(XmlPull& p, int row, int col) {
        // Views into the parser's buffer end with the next token: take what
        // the start tag says now.
        const CellTag cell = cellOf(p.rawAttribute("t"), p.rawAttribute("s"));
        value_.clear();
        bool hasInline = false;
        bool hasValue = false;
        if (!p.selfClosing()) {
            const int depth = p.depth();
            hasValue = p.plainChildText("v", value_);
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
                    readElementText(p, value_);
                } else if (p.name() == "is" && p.depth() == depth + 1) {
                    hasInline = true;
                    if (p.selfClosing()) {
                        p.next();
                        inline_.clear();
                    } else {
                        readRichText(p, inline_);
                    }
                } else {
                    p.skipElement();
                }
            }
        } else {
            p.next();
        }
        store(row, col, cell, hasValue, hasInline);
    }

    // Writers that put every text inline repeat the few unit texts of a
    // report thousands of times, most often the same one as in the row
    // before: each column remembers its last text as written.
    void storeInline(int row, int col, const CellTag& cell, std::string_view raw) {
        if (cell.typed && cell.type != Type::Inline)
            return; // without a <v>, a typed cell holds nothing
        const auto c = static_cast<std::size_t>(col);
        if (lastInline_.size() <= c)
            lastInline_.resize(c + 1);
        auto& last = lastInline_[c];
        if (!last.known || last.raw != raw) {
            inline_.clear();
            appendXmlDecoded(inline_, raw);
            finishRichText(inline_);
            last = {std::string(raw), inlineId(), true};
        }
        if (last.id != kUnset) {
            reserve(row, col);
            sheet_.setText(row, col, last.id);
        }
    }

    // The interned text of inline_, kUnset for an empty one.
    Sheet::TextId inlineId() {
        if (inline_.empty())
            return kUnset;
        auto [it, fresh] = inlineIds_.try_emplace(inline_, 0);
        if (fresh)
            it->second = sheet_.internText(QString::fromStdString(inline_));
        return it->second;
    }

    // Stores a cell read: its value in value_ when it has one, its inline
    // text in inline_.
    void store(int row, int col, const CellTag& cell, bool hasValue, bool hasInline) {
        const auto [type, typed, style] = cell;
        if (type == Type::Inline || (hasInline && !typed)) {
            if (const Sheet::TextId id = hasInline ? inlineId() : kUnset; id != kUnset) {
                reserve(row, col);
                sheet_.setText(row, col, id);
            }
        } else if (!hasValue) {
            return; // a styled empty cell, or a formula never calculated
        } else if (type == Type::Shared) {
            const long index = parseIndex(value_, -1);
            if (index < 0 || static_cast<std::size_t>(index) >= strings_.size())
                throw SheetError("Файл повреждён: ссылка на несуществующую строку");
            const auto i = static_cast<std::size_t>(index);
            if (strings_[i].isEmpty())
                return;
            if (textIds_[i] == kUnset)
                textIds_[i] = sheet_.internText(strings_[i]);
            reserve(row, col);
            sheet_.setText(row, col, textIds_[i]);
        } else if (type == Type::Str || type == Type::Error) {
            const std::string text = type == Type::Str ? decodeOoxmlEscapes(value_) : value_;
            if (!text.empty())
                setText(row, col, QString::fromStdString(text));
        } else if (type == Type::Bool) {
            reserve(row, col);
            sheet_.setNumber(row, col, parseNumber(value_).value_or(0.0) != 0.0 ? 1.0 : 0.0);
        } else if (type == Type::Date) {
            bool hasDate = false;
            bool hasTime = false;
            const auto serial = isoToSerial(value_, date1904_, &hasDate, &hasTime);
            if (!serial)
                throw SheetError("Файл повреждён: неверная дата в ячейке");
            Sheet::FormatId format = styleFormat(style);
            if (format == Sheet::kGeneral)
                format =
                    sheet_.internFormat(hasDate && hasTime ? QStringLiteral("DD.MM.YYYY HH:MM:SS")
                                        : hasDate          ? QStringLiteral("DD.MM.YYYY")
                                                           : QStringLiteral("HH:MM:SS"));
            reserve(row, col);
            sheet_.setNumber(row, col, *serial, format);
        } else {
            const auto number = parseNumber(value_);
            if (!number) {
                if (value_.find_first_not_of(" \t\r\n") == std::string::npos)
                    return;
                throw SheetError("Файл повреждён: неверное число в ячейке");
            }
            const Sheet::FormatId format = styleFormat(style);
            reserve(row, col);
            sheet_.setNumber(row, col, *number, format);
        }
    }

    void setText(int row, int col, const QString& text) {
        reserve(row, col);
        sheet_.setText(row, col, sheet_.internText(text));
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

    Sheet::FormatId styleFormat(long style) {
        if (style < 0 || static_cast<std::size_t>(style) >= formats_.size())
            return Sheet::kGeneral;
        auto& id = formatIds_[static_cast<std::size_t>(style)];
        if (id == kUnset)
            id = sheet_.internFormat(formats_[static_cast<std::size_t>(style)]);
        return id;
    }

    // Counts the slots a cell makes the sheet store against the cap.
    void reserve(int row, int col) {
        const auto have = static_cast<std::size_t>(sheet_.columnCount(row));
        // A row's cells in one allocation: as many as its spans say, or as
        // the row before held.
        if (have == 0) {
            const int hint = std::max(spanHint_, lastRowCells_);
            if (col < hint)
                sheet_.reserveColumns(row, hint);
        }
        if (static_cast<std::size_t>(col) >= have) {
            cellSlots_ += static_cast<std::size_t>(col) + 1 - have;
            if (cellSlots_ > maxSlots_)
                throw SheetError("Книга слишком велика для чтения");
        }
    }

    const std::vector<QString>& strings_;
    const std::vector<QString>& formats_;
    bool date1904_;
    std::size_t& cellSlots_;
    std::size_t maxSlots_;
    Sheet& sheet_;
    std::vector<Sheet::TextId> textIds_;
    std::vector<Sheet::FormatId> formatIds_;
    std::string value_;
    std::string inline_;
    std::unordered_map<std::string, Sheet::TextId> inlineIds_;
    struct LastInline {
        std::string raw;
        Sheet::TextId id = kUnset;
        bool known = false;
    };
    std::vector<LastInline> lastInline_;
    std::string prefix_; // of the row being read
    std::size_t maxQuickRowBytes_;
    bool quick_;
    int spanHint_ = 0;
    int lastRowCells_ = 0;
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
    book.sheets.reserve(entries.size());
    for (const auto& entry : entries) {
        Sheet sheet;
        sheet.name = entry.name;
        sheet.originSheet = static_cast<int>(origin->sheets.size());
        // Worksheets are the large parts: read them as they inflate.
        XmlPull p(zip.stream(entry.part));
        SheetReader(strings, formats, book.date1904, cellSlots, limits, sheet).read(p);
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
