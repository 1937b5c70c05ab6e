// .xls reading: one bounded walk over the BIFF8 workbook stream.

#include "sheet/Formats.h"
#include "sheet/xls/CompoundFile.h"
#include "sheet/xls/XlsFile.h"
#include "sheet/xlsx/XlsxCommon.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace t5170::sheet {

namespace {

namespace rec {
constexpr quint16 Bof = 0x0809, Eof = 0x000A, FilePass = 0x002F, DateMode = 0x0022, Format = 0x041E,
                  Xf = 0x00E0, BoundSheet = 0x0085, Sst = 0x00FC, Continue = 0x003C,
                  Dimension = 0x0200, ColInfo = 0x007D, Number = 0x0203, Rk = 0x027E,
                  MulRk = 0x00BD, LabelSst = 0x00FD, Label = 0x0204, Blank = 0x0201,
                  MulBlank = 0x00BE, BoolErr = 0x0205, Formula = 0x0006, String = 0x0207,
                  RString = 0x00D6;
}

constexpr int kMaxRecordData = 8224;
constexpr int kMaxSheets = 1024;
constexpr int kMaxXfs = 65536;

[[noreturn]] void damaged(const std::string& what) {
    throw SheetError("Файл .xls повреждён: " + what);
}

quint16 u16(const char* p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char* p) {
    return qFromLittleEndian<quint32>(p);
}
double f64(const char* p) {
    return qFromLittleEndian<double>(p);
}

double rkValue(quint32 rk) {
    double v;
    if (rk & 0x2) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, 8);
    }
    return (rk & 0x1) ? v / 100.0 : v;
}

QString errorText(quint8 code) {
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    default:
        return QStringLiteral("#N/A");
    }
}

struct Record {
    quint16 type = 0;
    const char* data = nullptr;
    int size = 0;
};

class Records {
public:
    Records(const QByteArray& s, qsizetype pos) : s_(s), pos_(pos) {}
    // The next record; false at the end of the stream.
    bool next(Record& r) {
        if (pos_ >= s_.size())
            return false;
        if (s_.size() - pos_ < 4)
            damaged("обрезанная запись");
        const char* p = s_.constData() + pos_;
        r.type = u16(p);
        r.size = u16(p + 2);
        if (r.size > kMaxRecordData)
            damaged("запись длиннее допустимого");
        if (s_.size() - pos_ - 4 < r.size)
            damaged("файл обрезан");
        r.data = p + 4;
        pos_ += 4 + r.size;
        return true;
    }
    // The type of the record that follows, if any.
    std::optional<quint16> peek() const {
        if (s_.size() - pos_ < 4)
            return std::nullopt;
        return u16(s_.constData() + pos_);
    }
    qsizetype pos() const { return pos_; }

private:
    const QByteArray& s_;
    qsizetype pos_;
};

// A run of record bodies read as one (a record and its CONTINUE records).
// Unicode strings that cross into the next body resume with a fresh flag
// byte, as the format lays them out.
class Pieces {
public:
    void add(const Record& r) {
        if (r.size > 0)
            parts_.push_back({r.data, r.size});
    }
    bool atEnd() const { return part_ >= parts_.size(); }

    std::optional<quint8> byte() {
        if (atEnd())
            return std::nullopt;
        const quint8 b = quint8(parts_[part_].first[off_]);
        advance(1);
        return b;
    }
    std::optional<quint32> uint(int bytes) {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i) {
            auto b = byte();
            if (!b)
                return std::nullopt;
            v |= quint32(*b) << (8 * i);
        }
        return v;
    }
    bool skip(qint64 n) {
        while (n > 0) {
            if (atEnd())
                return false;
            const qint64 step = std::min<qint64>(n, parts_[part_].second - off_);
            advance(int(step));
            n -= step;
        }
        return true;
    }
    // A string of `cch` characters after its header (`wide` from the flags);
    // `continued`: the characters begin in a new body, after a flag byte.
    std::optional<QString> chars(int cch, bool wide, bool continued) {
        QString out;
        out.reserve(cch);
        while (out.size() < cch) {
            if (atEnd())
                return std::nullopt;
            if (off_ == 0 && (!out.isEmpty() || continued)) {
                continued = false;
                auto flags = byte(); // the continued run's own flag byte
                if (!flags)
                    return std::nullopt;
                wide = *flags & 0x01;
                continue;
            }
            const char* p = parts_[part_].first + off_;
            const int avail = parts_[part_].second - off_;
            const int want = int(cch - out.size());
            if (wide) {
                const int n = std::min(want, avail / 2);
                if (n == 0)
                    return std::nullopt; // a character split across records
                out.append(QStringView(reinterpret_cast<const char16_t*>(p), n));
                advance(2 * n);
            } else {
                const int n = std::min(want, avail);
                out.append(QLatin1StringView(p, n));
                advance(n);
            }
        }
        return out;
    }
    // A whole unicode string with a `lenBytes`-byte length.
    std::optional<QString> string(int lenBytes) {
        const std::size_t headerPart = part_;
        auto cch = uint(lenBytes);
        auto flags = byte();
        if (!cch || !flags)
            return std::nullopt;
        std::optional<quint32> runs, ext;
        if (*flags & 0x08)
            runs = uint(2);
        if (*flags & 0x04)
            ext = uint(4);
        if (((*flags & 0x08) && !runs) || ((*flags & 0x04) && !ext))
            return std::nullopt;
        auto s = chars(int(*cch), *flags & 0x01, off_ == 0 && part_ != headerPart);
        if (!s || (runs && !skip(qint64(*runs) * 4)) || (ext && !skip(*ext)))
            return std::nullopt;
        return s;
    }

private:
    void advance(int n) {
        off_ += n;
        if (off_ >= parts_[part_].second) {
            ++part_;
            off_ = 0;
        }
    }

    std::vector<std::pair<const char*, int>> parts_;
    std::size_t part_ = 0;
    int off_ = 0;
};

std::optional<QString> recordString(const Record& r, int offset, int lenBytes) {
    if (r.size < offset)
        return std::nullopt;
    Record tail{r.type, r.data + offset, r.size - offset};
    Pieces p;
    p.add(tail);
    return p.string(lenBytes);
}

struct SheetEntry {
    QString name;
    quint32 offset = 0;
    bool worksheet = false;
};

struct Globals {
    bool date1904 = false;
    std::vector<QString> xfFormat; // per XF: its format code, "" for General
    std::vector<QString> strings;  // the shared string table
    std::vector<SheetEntry> sheets;
    qsizetype end = 0;
};

Globals readGlobals(const QByteArray& stream) {
    Globals g;
    Records records(stream, 0);
    Record r;
    if (!records.next(r) || r.type != rec::Bof || r.size < 4)
        damaged("нет начала книги");
    if (u16(r.data) != 0x0600 || u16(r.data + 2) != 0x0005)
        throw SheetError("Формат файла .xls не поддерживается (нужна версия Excel 97 и новее)");

    std::map<int, QString> formats;
    std::vector<int> xfFormatId;
    bool ended = false;
    while (!ended && records.next(r)) {
        switch (r.type) {
        case rec::FilePass:
            throw SheetError("Файл защищён паролем");
        case rec::DateMode:
            if (r.size >= 2)
                g.date1904 = u16(r.data) == 1;
            break;
        case rec::Format: {
            auto code = recordString(r, 2, 2);
            if (!code)
                damaged("неверный формат ячеек");
            formats[u16(r.data)] = *code;
            break;
        }
        case rec::Xf:
            if (r.size < 4)
                damaged("неверная запись XF");
            if (int(xfFormatId.size()) >= kMaxXfs)
                damaged("слишком много записей XF");
            xfFormatId.push_back(u16(r.data + 2));
            break;
        case rec::BoundSheet: {
            if (r.size < 8)
                damaged("неверный список листов");
            if (int(g.sheets.size()) >= kMaxSheets)
                damaged("слишком много листов");
            auto name = recordString(r, 6, 1);
            if (!name)
                damaged("неверное имя листа");
            g.sheets.push_back({*name, u32(r.data), quint8(r.data[5]) == 0});
            break;
        }
        case rec::Sst: {
            if (r.size < 8)
                damaged("неверная таблица строк");
            Pieces p;
            p.add({r.type, r.data + 8, r.size - 8});
            while (records.peek() == rec::Continue) {
                records.next(r);
                p.add(r);
            }
            // The claimed count is not trusted: read what is there.
            while (!p.atEnd()) {
                auto s = p.string(2);
                if (!s)
                    damaged("неверная таблица строк");
                g.strings.push_back(std::move(*s));
            }
            break;
        }
        case rec::Eof:
            ended = true;
            break;
        default:
            break;
        }
    }
    if (!ended)
        damaged("файл обрезан");
    if (g.sheets.empty())
        damaged("в книге нет листов");
    g.end = records.pos();

    g.xfFormat.reserve(xfFormatId.size());
    for (int id : xfFormatId) {
        auto it = formats.find(id);
        QString code = it != formats.end() ? it->second : builtinFormat(id);
        if (code.compare(u"General", Qt::CaseInsensitive) == 0)
            code.clear();
        g.xfFormat.push_back(code);
    }
    return g;
}

// Builds one sheet, holding the whole file to the cell budget. It keeps
// which format and which shared string became which of the sheet's interned
// ones, so a cell costs a lookup.
class SheetBuilder {
public:
    SheetBuilder(Sheet& sheet, const Globals& g, qint64& budget)
        : s_(sheet), g_(g), budget_(budget), formats_(g.xfFormat.size(), kUnset),
          strings_(g.strings.size(), kUnset) {}

    void number(quint32 row, quint32 col, quint16 xf, double v) {
        const Sheet::FormatId format = place(row, col, xf);
        s_.setNumber(int(row), int(col), v, format);
    }
    void text(quint32 row, quint32 col, quint16 xf, const QString& t) {
        const Sheet::FormatId format = place(row, col, xf);
        if (t.isEmpty())
            s_.setEmpty(int(row), int(col), format);
        else
            s_.setText(int(row), int(col), s_.internText(t), format);
    }
    // A text of the shared-string table (index checked by the caller).
    void sharedText(quint32 row, quint32 col, quint16 xf, quint32 index) {
        const Sheet::FormatId format = place(row, col, xf);
        if (g_.strings[index].isEmpty()) {
            s_.setEmpty(int(row), int(col), format);
            return;
        }
        if (strings_[index] == kUnset)
            strings_[index] = s_.internText(g_.strings[index]);
        s_.setText(int(row), int(col), strings_[index], format);
    }
    void blank(quint32 row, quint32 col, quint16 xf) {
        // A blank only matters for its format.
        if (xf < g_.xfFormat.size() && !g_.xfFormat[xf].isEmpty()) {
            const Sheet::FormatId format = place(row, col, xf);
            s_.setEmpty(int(row), int(col), format);
        }
    }

private:
    static constexpr std::uint32_t kUnset = 0xFFFFFFFFu;

    // Counts what the cell at row, col makes the sheet store against the
    // budget; the format of `xf`.
    Sheet::FormatId place(quint32 row, quint32 col, quint16 xf) {
        if (row >= quint32(kXlsMaxRows) || col >= quint32(kXlsMaxColumns))
            damaged("ячейка вне листа «" + s_.name.toStdString() + "»");
        qint64 grow = 0;
        const auto rows = quint32(s_.rowCount());
        if (row >= rows)
            grow += qint64(row) + 1 - qint64(rows);
        const qint64 have = s_.columnCount(int(row));
        if (col >= have)
            grow += qint64(col) + 1 - have;
        budget_ -= grow;
        if (budget_ < 0)
            throw SheetError("Книга .xls слишком велика: более " + std::to_string(kXlsMaxCells) +
                             " ячеек");
        if (xf >= formats_.size())
            return Sheet::kGeneral;
        if (formats_[xf] == kUnset)
            formats_[xf] = s_.internFormat(g_.xfFormat[xf]);
        return formats_[xf];
    }

    Sheet& s_;
    const Globals& g_;
    qint64& budget_;
    std::vector<Sheet::FormatId> formats_;
    std::vector<Sheet::TextId> strings_;
};

// Reads the worksheet substream at `offset` into `sheet`; returns where it ends.
qsizetype readSheet(const QByteArray& stream, qsizetype offset, const Globals& g, Sheet& sheet,
                    qint64& budget) {
    Records records(stream, offset);
    Record r;
    if (!records.next(r) || r.type != rec::Bof || r.size < 4 || u16(r.data) != 0x0600)
        damaged("нет начала листа «" + sheet.name.toStdString() + "»");
    SheetBuilder b(sheet, g, budget);
    const std::string label = "«" + sheet.name.toStdString() + "»";
    int depth = 1;
    // A formula whose text result follows in a STRING record.
    bool pendingText = false;
    quint32 pendingRow = 0, pendingCol = 0;
    quint16 pendingXf = 0;
    while (depth > 0) {
        if (!records.next(r))
            damaged("лист " + label + " обрезан");
        if (r.type == rec::Bof) {
            ++depth; // an embedded chart: skipped
            continue;
        }
        if (r.type == rec::Eof) {
            --depth;
            continue;
        }
        if (depth != 1)
            continue;
        if (r.type != rec::String && r.type != rec::Continue)
            pendingText = false;
        switch (r.type) {
        case rec::Dimension:
            if (r.size < 12 || u32(r.data + 4) > quint32(kXlsMaxRows) ||
                u16(r.data + 10) > kXlsMaxColumns)
                damaged("лист " + label + " заявляет недопустимые размеры");
            break;
        case rec::ColInfo: {
            if (r.size < 10)
                break;
            const int first = u16(r.data);
            const int last = std::min<int>(u16(r.data + 2), kXlsMaxColumns - 1);
            const bool hidden = u16(r.data + 8) & 0x0001;
            for (int c = first; c <= last; ++c)
                // Stored with the cell padding, like .xlsx widths: 2560 is a
                // column the operator sees as 9,29 characters wide.
                sheet.columnWidths[c] = hidden ? 0.0 : xlsx::widthFromFile(u16(r.data + 4) / 256.0);
            break;
        }
        case rec::Number:
            if (r.size < 14)
                damaged("неверная ячейка на листе " + label);
            b.number(u16(r.data), u16(r.data + 2), u16(r.data + 4), f64(r.data + 6));
            break;
        case rec::Rk:
            if (r.size < 10)
                damaged("неверная ячейка на листе " + label);
            b.number(u16(r.data), u16(r.data + 2), u16(r.data + 4), rkValue(u32(r.data + 6)));
            break;
        case rec::LabelSst: {
            if (r.size < 10)
                damaged("неверная ячейка на листе " + label);
            const quint32 index = u32(r.data + 6);
            if (index >= g.strings.size())
                damaged("ссылка на несуществующую строку на листе " + label);
            b.sharedText(u16(r.data), u16(r.data + 2), u16(r.data + 4), index);
            break;
        }
        case rec::Label:
        case rec::RString: {
            auto t = recordString(r, 6, 2);
            if (r.size < 6 || !t)
                damaged("неверная ячейка на листе " + label);
            b.text(u16(r.data), u16(r.data + 2), u16(r.data + 4), std::move(*t));
            break;
        }
        case rec::Blank:
            if (r.size < 6)
                damaged("неверная ячейка на листе " + label);
            b.blank(u16(r.data), u16(r.data + 2), u16(r.data + 4));
            break;
        case rec::BoolErr: {
            if (r.size < 8)
                damaged("неверная ячейка на листе " + label);
            const quint8 value = quint8(r.data[6]);
            if (r.data[7])
                b.text(u16(r.data), u16(r.data + 2), u16(r.data + 4), errorText(value));
            else
                b.number(u16(r.data), u16(r.data + 2), u16(r.data + 4), value ? 1.0 : 0.0);
            break;
        }
        case rec::MulRk:
        case rec::MulBlank: {
            const int item = r.type == rec::MulRk ? 6 : 2;
            if (r.size < 6 + item || (r.size - 6) % item != 0)
                damaged("неверная группа ячеек на листе " + label);
            const quint32 row = u16(r.data), first = u16(r.data + 2);
            const int count = (r.size - 6) / item;
            if (u16(r.data + r.size - 2) != first + quint32(count) - 1)
                damaged("неверная группа ячеек на листе " + label);
            for (int i = 0; i < count; ++i) {
                const char* p = r.data + 4 + i * item;
                if (r.type == rec::MulRk)
                    b.number(row, first + quint32(i), u16(p), rkValue(u32(p + 2)));
                else
                    b.blank(row, first + quint32(i), u16(p));
            }
            break;
        }
        case rec::Formula: {
            // Formulas are kept by their last value.
            if (r.size < 20)
                damaged("неверная формула на листе " + label);
            const quint32 row = u16(r.data), col = u16(r.data + 2);
            const quint16 xf = u16(r.data + 4);
            if (u16(r.data + 12) != 0xFFFF) {
                b.number(row, col, xf, f64(r.data + 6));
                break;
            }
            switch (quint8(r.data[6])) {
            case 0: // text, in the STRING record that follows
                pendingText = true;
                pendingRow = row;
                pendingCol = col;
                pendingXf = xf;
                break;
            case 1:
                b.number(row, col, xf, r.data[8] ? 1.0 : 0.0);
                break;
            case 2:
                b.text(row, col, xf, errorText(quint8(r.data[8])));
                break;
            default:
                b.blank(row, col, xf);
                break;
            }
            break;
        }
        case rec::String:
            if (pendingText) {
                Pieces p;
                p.add(r);
                while (records.peek() == rec::Continue) {
                    records.next(r);
                    p.add(r);
                }
                auto t = p.string(2);
                if (!t)
                    damaged("неверный текст формулы на листе " + label);
                b.text(pendingRow, pendingCol, pendingXf, std::move(*t));
                pendingText = false;
            }
            break;
        default:
            break;
        }
    }
    return records.pos();
}

} // namespace

Workbook readXls(const QString& path) {
    QFile file(path);
    // Unbuffered: the stream's sectors are read straight into the stream.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw SheetError("Невозможно открыть файл: " + file.errorString().toStdString());
    if (file.size() > kXlsMaxFileBytes)
        throw SheetError("Файл .xls слишком велик");
    const QByteArray stream = readCompoundStream(file, QStringLiteral("Workbook"));
    file.close();
    const Globals g = readGlobals(stream);

    Workbook book;
    book.date1904 = g.date1904;
    // Sheets are read in stream order and must not overlap, so a crafted list
    // of offsets cannot make the walk cover the stream again and again.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < g.sheets.size(); ++i)
        order.push_back(i);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return g.sheets[a].offset < g.sheets[b].offset;
    });
    std::vector<std::optional<Sheet>> sheets(g.sheets.size());
    qint64 budget = kXlsMaxCells;
    qsizetype readTo = g.end;
    for (std::size_t i : order) {
        const SheetEntry& e = g.sheets[i];
        if (qsizetype(e.offset) < readTo || qsizetype(e.offset) >= stream.size())
            damaged("неверное положение листа «" + e.name.toStdString() + "»");
        if (!e.worksheet)
            continue; // chart and macro sheets are not carried
        Sheet sheet;
        sheet.name = e.name;
        readTo = readSheet(stream, e.offset, g, sheet, budget);
        sheets[i] = std::move(sheet);
    }
    for (auto& s : sheets)
        if (s)
            book.sheets.push_back(std::move(*s));
    if (book.sheets.empty())
        damaged("в книге нет листов");
    return book;
}

} // namespace t5170::sheet
