// BIFF8 workbook stream writer. Record layouts follow the published BIFF8
// format; the conventional globals are written although the readers we test
// with need only part of them.

#include "sheet/xls/CompoundFile.h"
#include "sheet/xls/XlsFile.h"
#include "sheet/xlsx/XlsxCommon.h"

#include <QFile>
#include <QHash>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <vector>

namespace t5170::sheet {

namespace {

constexpr int kMaxRecordData = 8224;
constexpr int kFirstCustomFormat = 164;
constexpr int kFirstCustomXf = 16;
constexpr int kDefaultCellXf = 15;
constexpr int kMaxXf = 4000;

namespace rec {
constexpr quint16 Bof = 0x0809, Eof = 0x000A, InterfaceHdr = 0x00E1, Mms = 0x00C1,
                  InterfaceEnd = 0x00E2, WriteAccess = 0x005C, Codepage = 0x0042, Dsf = 0x0161,
                  TabId = 0x013D, FnGroupCount = 0x009C, WindowProtect = 0x0019, Protect = 0x0012,
                  Password = 0x0013, Prot4Rev = 0x01AF, Prot4RevPass = 0x01BC, Window1 = 0x003D,
                  Backup = 0x0040, HideObj = 0x008D, DateMode = 0x0022, Precision = 0x000E,
                  RefreshAll = 0x01B7, BookBool = 0x00DA, Font = 0x0031, Format = 0x041E,
                  Xf = 0x00E0, Style = 0x0293, BoundSheet = 0x0085, Country = 0x008C, Sst = 0x00FC,
                  Continue = 0x003C, ExtSst = 0x00FF, DefColWidth = 0x0055, ColInfo = 0x007D,
                  Dimension = 0x0200, Row = 0x0208, Number = 0x0203, Rk = 0x027E, LabelSst = 0x00FD,
                  Blank = 0x0201, Window2 = 0x023E;
}

class Out {
public:
    QByteArray b;

    qsizetype begin(quint16 type) {
        const qsizetype at = b.size();
        u16(type);
        u16(0);
        return at;
    }
    void end(qsizetype at) {
        const qsizetype len = b.size() - at - 4;
        Q_ASSERT(len <= kMaxRecordData);
        qToLittleEndian<quint16>(quint16(len), b.data() + at + 2);
    }
    void u8(quint8 v) { b.append(char(v)); }
    void u16(quint16 v) {
        char t[2];
        qToLittleEndian(v, t);
        b.append(t, 2);
    }
    void u32(quint32 v) {
        char t[4];
        qToLittleEndian(v, t);
        b.append(t, 4);
    }
    void f64(double v) {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        char t[8];
        qToLittleEndian(bits, t);
        b.append(t, 8);
    }
    void utf16(QStringView s) {
        for (QChar c : s)
            u16(c.unicode());
    }
    void record(quint16 type, std::initializer_list<quint16> words) {
        const auto at = begin(type);
        for (quint16 w : words)
            u16(w);
        end(at);
    }
};

bool isLatin1(QStringView s) {
    for (QChar c : s)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

bool hasContent(const Sheet& s, int r, int c) {
    return s.kind(r, c) != Cell::Kind::Empty || s.formatId(r, c) != Sheet::kGeneral;
}

constexpr quint32 kUnset = 0xFFFFFFFF;

// What the globals need from the cells: the shared strings and the formats.
struct Tables {
    QHash<QString, quint32> stringIndex;
    std::vector<const QString*> strings;
    quint32 stringRefs = 0;
    QHash<QString, int> formatXf; // format code -> XF index
    std::vector<const QString*> formats;
    // Per sheet: its interned text -> shared string index, its interned
    // format -> XF index (kUnset for those no cell uses).
    std::vector<std::vector<quint32>> sheetStrings;
    std::vector<std::vector<quint32>> sheetXfs;
};

struct UsedRange {
    int firstRow = -1, lastRow = -1, firstCol = -1, lastCol = -1;
};

UsedRange usedRange(const Sheet& sheet) {
    UsedRange u;
    for (int r = 0; r < sheet.rowCount(); ++r) {
        const int cols = sheet.columnCount(r);
        for (int c = 0; c < cols; ++c) {
            if (!hasContent(sheet, r, c))
                continue;
            if (u.firstRow < 0)
                u.firstRow = r;
            u.lastRow = r;
            u.firstCol = u.firstCol < 0 ? c : std::min(u.firstCol, c);
            u.lastCol = std::max(u.lastCol, c);
        }
    }
    return u;
}

std::string sheetLabel(const Sheet& s) {
    return "«" + s.name.toStdString() + "»";
}

// The entry for `id` in a per-sheet map, grown as needed.
quint32& entry(std::vector<quint32>& map, quint32 id) {
    if (map.size() <= id)
        map.resize(std::size_t(id) + 1, kUnset);
    return map[id];
}

Tables collect(const Workbook& book, std::vector<UsedRange>& ranges) {
    Tables t;
    for (const Sheet& sheet : book.sheets) {
        const UsedRange u = usedRange(sheet);
        if (u.lastRow >= kXlsMaxRows)
            throw SheetError("Лист " + sheetLabel(sheet) +
                             ": в файле .xls помещается не более 65 536 строк "
                             "(сохраните книгу в формате .xlsx)");
        if (u.lastCol >= kXlsMaxColumns)
            throw SheetError("Лист " + sheetLabel(sheet) +
                             ": в файле .xls помещается не более 256 столбцов "
                             "(сохраните книгу в формате .xlsx)");
        ranges.push_back(u);
        auto& strings = t.sheetStrings.emplace_back();
        auto& xfs = t.sheetXfs.emplace_back();
        for (int r = 0; r < sheet.rowCount(); ++r) {
            const int cols = sheet.columnCount(r);
            for (int c = 0; c < cols; ++c) {
                const Sheet::FormatId f = sheet.formatId(r, c);
                if (f != Sheet::kGeneral && entry(xfs, f) == kUnset) {
                    const QString& code = sheet.formatOf(f);
                    auto it = t.formatXf.constFind(code);
                    if (it == t.formatXf.constEnd()) {
                        if (code.size() > 255)
                            throw SheetError("Лист " + sheetLabel(sheet) +
                                             ": формат ячейки длиннее 255 знаков");
                        if (int(t.formats.size()) >= kMaxXf)
                            throw SheetError("Слишком много разных форматов для файла .xls");
                        it = t.formatXf.insert(code, kFirstCustomXf + int(t.formats.size()));
                        t.formats.push_back(&code);
                    }
                    xfs[f] = quint32(*it);
                }
                if (sheet.kind(r, c) != Cell::Kind::Text)
                    continue;
                const Sheet::TextId id = sheet.textId(r, c);
                const QString& text = sheet.textOf(id);
                if (text.isEmpty())
                    continue;
                ++t.stringRefs;
                quint32& index = entry(strings, id);
                if (index != kUnset)
                    continue;
                if (text.size() > kXlsMaxTextLength)
                    throw SheetError("Лист " + sheetLabel(sheet) + ": текст ячейки длиннее " +
                                     std::to_string(kXlsMaxTextLength) +
                                     " знаков не помещается в файл .xls");
                auto it = t.stringIndex.constFind(text);
                if (it == t.stringIndex.constEnd()) {
                    it = t.stringIndex.insert(text, quint32(t.strings.size()));
                    t.strings.push_back(&text);
                }
                index = *it;
            }
        }
    }
    return t;
}

void writeBof(Out& o, quint16 type) {
    const auto at = o.begin(rec::Bof);
    o.u16(0x0600);
    o.u16(type);
    o.u16(0x0DBB); // build
    o.u16(0x07CC); // year
    o.u32(0);      // file history
    o.u32(0x06);   // lowest version that can read it
    o.end(at);
}

void writeFont(Out& o) {
    const auto at = o.begin(rec::Font);
    o.u16(200);    // 10 pt
    o.u16(0);      // plain
    o.u16(0x7FFF); // automatic colour
    o.u16(400);    // normal weight
    o.u16(0);
    o.u8(0);
    o.u8(0);
    o.u8(0);
    o.u8(0);
    const QString name = QStringLiteral("Arial");
    o.u8(quint8(name.size()));
    o.u8(1);
    o.utf16(name);
    o.end(at);
}

void writeXf(Out& o, quint16 font, quint16 format, bool style, quint8 used) {
    const auto at = o.begin(rec::Xf);
    o.u16(font);
    o.u16(format);
    o.u16(style ? 0xFFF5 : 0x0001); // style XF, or a locked cell XF on style 0
    o.u8(0x20);                     // bottom aligned
    o.u8(0);
    o.u8(0);
    o.u8(used);
    o.u32(0);
    o.u32(0);
    o.u16(0x20C0); // automatic pattern colours
    o.end(at);
}

// The shared string table, split into CONTINUE records as the format
// requires: never inside a string's header, a continued run of characters
// starting with its own flag byte.
void writeSst(Out& o, const Tables& t) {
    const quint32 unique = quint32(t.strings.size());
    const quint32 perBucket = std::max<quint32>(8, (unique + 127) / 128);
    struct Bucket {
        quint32 streamPos;
        quint16 recordOffset;
    };
    std::vector<Bucket> buckets;

    qsizetype recStart = o.begin(rec::Sst);
    o.u32(t.stringRefs);
    o.u32(unique);
    auto room = [&] { return kMaxRecordData - (o.b.size() - recStart - 4); };
    auto nextRecord = [&] {
        o.end(recStart);
        recStart = o.begin(rec::Continue);
    };
    for (quint32 i = 0; i < unique; ++i) {
        const QString& s = *t.strings[i];
        const bool narrow = isLatin1(s);
        const int width = narrow ? 1 : 2;
        const quint8 flags = narrow ? 0x00 : 0x01;
        if (room() < 3 + width)
            nextRecord();
        if (i % perBucket == 0)
            buckets.push_back({quint32(o.b.size()), quint16(o.b.size() - recStart)});
        o.u16(quint16(s.size()));
        o.u8(flags);
        qsizetype done = 0;
        for (;;) {
            const qsizetype fit = std::min<qsizetype>(room() / width, s.size() - done);
            if (narrow) {
                for (qsizetype k = 0; k < fit; ++k)
                    o.u8(quint8(s[done + k].unicode()));
            } else {
                o.utf16(QStringView(s).mid(done, fit));
            }
            done += fit;
            if (done == s.size())
                break;
            nextRecord();
            o.u8(flags);
        }
    }
    o.end(recStart);

    const auto at = o.begin(rec::ExtSst);
    o.u16(quint16(perBucket));
    for (const Bucket& b : buckets) {
        o.u32(b.streamPos);
        o.u16(b.recordOffset);
        o.u16(0);
    }
    o.end(at);
}

void writeSheet(Out& o, const Sheet& sheet, const UsedRange& u, const std::vector<quint32>& strings,
                const std::vector<quint32>& xfs, bool first) {
    writeBof(o, 0x0010);
    o.record(rec::DefColWidth, {8});

    // Widths, as runs of equal widths over consecutive columns.
    int runFirst = -1, runLast = -1;
    quint16 runWidth = 0;
    auto flush = [&] {
        if (runFirst < 0)
            return;
        const auto at = o.begin(rec::ColInfo);
        o.u16(quint16(runFirst));
        o.u16(quint16(runLast));
        o.u16(runWidth);
        o.u16(kDefaultCellXf);
        o.u16(runWidth == 0 ? 0x0001 : 0x0000); // hidden when zero wide
        o.u16(0);
        o.end(at);
        runFirst = -1;
    };
    for (const auto& [col, width] : sheet.columnWidths) {
        if (col < 0 || col >= kXlsMaxColumns)
            continue;
        const double stored = width > 0.0 ? xlsx::widthToFile(width) : 0.0;
        const auto w = quint16(std::clamp(std::lround(stored * 256.0), 0L, 65535L));
        if (runFirst >= 0 && col == runLast + 1 && w == runWidth) {
            runLast = col;
            continue;
        }
        flush();
        runFirst = runLast = col;
        runWidth = w;
    }
    flush();

    {
        const auto at = o.begin(rec::Dimension);
        const bool empty = u.firstRow < 0;
        o.u32(empty ? 0 : quint32(u.firstRow));
        o.u32(empty ? 0 : quint32(u.lastRow + 1));
        o.u16(empty ? 0 : quint16(u.firstCol));
        o.u16(empty ? 0 : quint16(u.lastCol + 1));
        o.u16(0);
        o.end(at);
    }

    auto xfOf = [&xfs](Sheet::FormatId f) -> quint16 {
        return f == Sheet::kGeneral ? kDefaultCellXf : quint16(xfs[f]);
    };
    const int rowCount = u.firstRow < 0 ? 0 : u.lastRow + 1;
    for (int block = 0; block < rowCount; block += 32) {
        const int blockEnd = std::min(rowCount, block + 32);
        for (int r = block; r < blockEnd; ++r) {
            const int cols = sheet.columnCount(r);
            int first = -1, last = -1;
            for (int c = 0; c < cols; ++c)
                if (hasContent(sheet, r, c)) {
                    first = first < 0 ? c : first;
                    last = c;
                }
            if (first < 0)
                continue;
            const auto at = o.begin(rec::Row);
            o.u16(quint16(r));
            o.u16(quint16(first));
            o.u16(quint16(last + 1));
            o.u16(0x00FF); // default height
            o.u16(0);
            o.u16(0);
            o.u16(0x0100);
            o.u16(kDefaultCellXf);
            o.end(at);
        }
        for (int r = block; r < blockEnd; ++r) {
            const int cols = sheet.columnCount(r);
            for (int c = 0; c < cols; ++c) {
                if (!hasContent(sheet, r, c))
                    continue;
                const quint16 xf = xfOf(sheet.formatId(r, c));
                const Cell::Kind kind = sheet.kind(r, c);
                if (kind == Cell::Kind::Number) {
                    const double v = sheet.number(r, c);
                    const bool whole =
                        std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < double(1 << 29);
                    const auto at = o.begin(whole ? rec::Rk : rec::Number);
                    o.u16(quint16(r));
                    o.u16(quint16(c));
                    o.u16(xf);
                    if (whole)
                        o.u32((quint32(qint32(v)) << 2) | 0x2);
                    else
                        o.f64(v);
                    o.end(at);
                } else if (kind == Cell::Kind::Text && !sheet.text(r, c).isEmpty()) {
                    const auto at = o.begin(rec::LabelSst);
                    o.u16(quint16(r));
                    o.u16(quint16(c));
                    o.u16(xf);
                    o.u32(strings[sheet.textId(r, c)]);
                    o.end(at);
                } else {
                    const auto at = o.begin(rec::Blank);
                    o.u16(quint16(r));
                    o.u16(quint16(c));
                    o.u16(xf);
                    o.end(at);
                }
            }
        }
    }

    {
        const auto at = o.begin(rec::Window2);
        o.u16(first ? 0x06B6 : 0x00B6);
        o.u16(0);
        o.u16(0);
        o.u16(0x40);
        o.u16(0);
        o.u16(0);
        o.u16(0);
        o.u32(0);
        o.end(at);
    }
    o.record(rec::Eof, {});
}

} // namespace

QByteArray xlsStream(const Workbook& book) {
    if (book.sheets.empty())
        throw SheetError("В книге нет ни одного листа");
    if (book.sheets.size() > 4000)
        throw SheetError("Слишком много листов для файла .xls");
    checkSheetNames(book);
    std::vector<UsedRange> ranges;
    const Tables t = collect(book, ranges);

    Out g;
    writeBof(g, 0x0005);
    g.record(rec::InterfaceHdr, {0x04B0});
    g.record(rec::Mms, {0x0000});
    g.record(rec::InterfaceEnd, {});
    {
        const auto at = g.begin(rec::WriteAccess);
        const QByteArray user("T5170");
        g.u16(quint16(user.size()));
        g.u8(0);
        g.b.append(user);
        g.b.append(QByteArray(112 - 3 - user.size(), ' '));
        g.end(at);
    }
    g.record(rec::Codepage, {0x04B0});
    g.record(rec::Dsf, {0});
    {
        const auto at = g.begin(rec::TabId);
        for (std::size_t i = 0; i < book.sheets.size() && i < 4000; ++i)
            g.u16(quint16(i + 1));
        g.end(at);
    }
    g.record(rec::FnGroupCount, {0x000E});
    g.record(rec::WindowProtect, {0});
    g.record(rec::Protect, {0});
    g.record(rec::Password, {0});
    g.record(rec::Prot4Rev, {0});
    g.record(rec::Prot4RevPass, {0});
    g.record(rec::Window1, {0, 0, 0x3A5C, 0x23BE, 0x0038, 0, 0, 1, 0x0258});
    g.record(rec::Backup, {0});
    g.record(rec::HideObj, {0});
    g.record(rec::DateMode, {quint16(book.date1904 ? 1 : 0)});
    g.record(rec::Precision, {1});
    g.record(rec::RefreshAll, {0});
    g.record(rec::BookBool, {0});
    for (int i = 0; i < 4; ++i)
        writeFont(g);
    for (std::size_t i = 0; i < t.formats.size(); ++i) {
        const auto at = g.begin(rec::Format);
        const QString& code = *t.formats[i];
        g.u16(quint16(kFirstCustomFormat + int(i)));
        g.u16(quint16(code.size()));
        g.u8(1);
        g.utf16(code);
        g.end(at);
    }
    // Style XFs 0-14, the default cell XF 15, then one cell XF per format.
    writeXf(g, 0, 0, true, 0x00);
    for (int i = 1; i < 15; ++i)
        writeXf(g, i <= 2 ? 1 : (i <= 4 ? 2 : 0), 0, true, 0xF4);
    writeXf(g, 0, 0, false, 0x00);
    for (std::size_t i = 0; i < t.formats.size(); ++i)
        writeXf(g, 0, quint16(kFirstCustomFormat + int(i)), false, 0x04);
    {
        const auto at = g.begin(rec::Style);
        g.u16(0x8000); // built-in style on XF 0
        g.u8(0);       // Normal
        g.u8(0xFF);
        g.end(at);
    }
    std::vector<qsizetype> offsetAt;
    for (const Sheet& sheet : book.sheets) {
        const auto at = g.begin(rec::BoundSheet);
        offsetAt.push_back(g.b.size());
        g.u32(0); // patched below
        g.u8(0);  // visible
        g.u8(0);  // worksheet
        g.u8(quint8(sheet.name.size()));
        g.u8(1);
        g.utf16(sheet.name);
        g.end(at);
    }
    g.record(rec::Country, {7, 7});
    writeSst(g, t);
    g.record(rec::Eof, {});

    Out s;
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        qToLittleEndian<quint32>(quint32(g.b.size() + s.b.size()), g.b.data() + offsetAt[i]);
        writeSheet(s, book.sheets[i], ranges[i], t.sheetStrings[i], t.sheetXfs[i], i == 0);
    }
    g.b.append(s.b);
    return g.b;
}

void writeXls(const Workbook& book, const QString& path) {
    const QByteArray stream = xlsStream(book);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw SheetError("Невозможно создать файл " + path.toStdString() + ": " +
                         file.errorString().toStdString());
    writeCompoundFile(file, QStringLiteral("Workbook"), stream);
    if (!file.flush())
        throw SheetError("Ошибка записи файла " + path.toStdString() + ": " +
                         file.errorString().toStdString());
}

} // namespace t5170::sheet
