// .xls files: our writer against our reader, an independent reader (xlrd),
// workbooks written by LibreOffice, and damaged or hostile files.

#include "sheet/xls/XlsFile.h"
#include "EngineTestUtil.h"
#include "sheet/TypedInput.h"
#include "sheet/WorkbookFile.h"
#include "sheet/xls/CompoundFile.h"
#include "sheet/xlsx/XlsxCommon.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <freexl.h>

#include <cstring>
#include <functional>
#include <map>
#include <tuple>

using namespace t5170::sheet;

namespace {

const QString kDate = QStringLiteral("DD.MM.YYYY");
const QString kTime = QStringLiteral("HH:MM:SS");

// A report as the program lays it out, with records, and a fifth sheet of
// things an operator might add.
Workbook reportShaped(bool date1904 = false) {
    Workbook b;
    b.date1904 = date1904;
    const double day = date1904 ? 46082 - 1462 : 46082; // 1.3.2026
    const QStringList names = {"Измерение сопротивления", "Измерение Абсорбции",
                               "Измерение Поляризации", "Измерение напряжения"};
    const QStringList headings = {"Дата",        "Время",           "Напряжение",  "Сопротивление",
                                  "Размерность", "Сопротивление 2", "Размерность", "Коэффициент"};
    const int columns[] = {5, 8, 8, 3};
    const double widths[] = {10, 8, 15, 15, 12, 15, 12, 12};
    for (int s = 0; s < 4; ++s) {
        Sheet sheet;
        sheet.name = names[s];
        for (int c = 0; c < columns[s]; ++c) {
            sheet.columnWidths[c] = widths[c];
            sheet.set(0, c, text(headings[c]));
        }
        for (int r = 1; r <= 3 && s != 2; ++r) {
            sheet.set(r, 0, number(day + r, kDate));
            sheet.set(r, 1, number((9 * 3600 + 5 * 60 + 7 + r) / 86400.0, kTime));
            sheet.set(r, 2, number(500 * r));
            if (columns[s] >= 5) {
                sheet.set(r, 3, number(12.3 / r));
                sheet.set(r, 4, text(r == 2 ? QStringLiteral("ГОм") : QStringLiteral("МОм")));
            }
            if (columns[s] == 8) {
                sheet.set(r, 5, number(999));
                sheet.set(r, 6, text(QStringLiteral("КОм")));
                sheet.set(r, 7, number(1.248));
            }
        }
        b.sheets.push_back(std::move(sheet));
    }
    Sheet extra;
    extra.name = QStringLiteral("Итоги [2026]").replace(u'[', u'(').replace(u']', u')');
    extra.set(0, 0, text(QStringLiteral("Café")));
    extra.set(0, 1, number(1234567890123.0));
    extra.set(0, 2, number(-0.5, QStringLiteral("0.00")));
    extra.set(1, 0, number(-536870912));
    reformat(extra, 1, 1, kDate); // a formatted empty cell
    extra.set(2, 3, number(46082.75, QStringLiteral("DD.MM.YYYY HH:MM")));
    extra.set(3, 0, number(1.5, QStringLiteral("[HH]:MM:SS")));
    extra.set(4, 255, text(QStringLiteral("последний столбец")));
    extra.columnWidths[0] = 0;    // hidden
    extra.columnWidths[1] = 20.5; // not a whole number
    extra.columnWidths[300] = 30; // past the format's columns: dropped
    b.sheets.push_back(std::move(extra));
    return b;
}

using CellKey = std::pair<int, int>;
std::map<CellKey, Cell> contentCells(const Sheet& s) {
    std::map<CellKey, Cell> out;
    for (int r = 0; r < s.rowCount(); ++r)
        for (int c = 0; c < s.columnCount(r); ++c) {
            const Cell cell = *s.find(r, c);
            if (cell.kind != Cell::Kind::Empty || !cell.format.isEmpty())
                out[{r, c}] = cell;
        }
    return out;
}

void expectSameBook(const Workbook& want, const Workbook& got) {
    EXPECT_EQ(got.date1904, want.date1904);
    ASSERT_EQ(got.sheets.size(), want.sheets.size());
    for (std::size_t i = 0; i < want.sheets.size(); ++i) {
        const Sheet& w = want.sheets[i];
        const Sheet& g = got.sheets[i];
        SCOPED_TRACE(w.name.toStdString());
        EXPECT_EQ(g.name, w.name);
        std::map<int, double> widths;
        for (const auto& [c, width] : w.columnWidths)
            if (c < kXlsMaxColumns) // stored with padding in 1/256 of a character
                widths[c] =
                    width > 0
                        ? xlsx::widthFromFile(std::round(xlsx::widthToFile(width) * 256) / 256)
                        : 0.0;
        EXPECT_EQ(g.columnWidths, widths);
        const auto wc = contentCells(w), gc = contentCells(g);
        ASSERT_EQ(gc.size(), wc.size());
        for (const auto& [key, cell] : wc) {
            auto it = gc.find(key);
            ASSERT_NE(it, gc.end()) << key.first << "," << key.second;
            EXPECT_EQ(int(it->second.kind), int(cell.kind)) << key.first << "," << key.second;
            EXPECT_EQ(it->second.number, cell.number) << key.first << "," << key.second;
            EXPECT_EQ(it->second.text, cell.text) << key.first << "," << key.second;
            EXPECT_EQ(it->second.format, cell.format) << key.first << "," << key.second;
        }
    }
}

class XlsFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }

    Workbook roundTrip(const Workbook& b, const char* name = "r.xls") {
        writeXls(b, path(name));
        return readXls(path(name));
    }
    // A file holding `stream` as its workbook stream.
    QString withStream(const QByteArray& stream, const char* name = "crafted.xls") {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        writeCompoundFile(f, QStringLiteral("Workbook"), stream);
        return path(name);
    }
};

// Offsets of the records of `type` in a workbook stream.
std::vector<qsizetype> recordsOf(const QByteArray& s, quint16 type) {
    std::vector<qsizetype> out;
    for (qsizetype p = 0; p + 4 <= s.size();) {
        const quint16 t = qFromLittleEndian<quint16>(s.constData() + p);
        const quint16 n = qFromLittleEndian<quint16>(s.constData() + p + 2);
        if (t == type)
            out.push_back(p);
        p += 4 + n;
    }
    return out;
}

TEST_F(XlsFile, ReportRoundTripKeepsEverything) {
    for (bool date1904 : {false, true}) {
        SCOPED_TRACE(date1904 ? "1904" : "1900");
        const Workbook b = reportShaped(date1904);
        const Workbook got = roundTrip(b);
        expectSameBook(b, got);
        EXPECT_EQ(cellText(*got.sheets[0].find(1, 0), got.date1904), QStringLiteral("02.03.2026"));
        EXPECT_EQ(cellText(*got.sheets[0].find(1, 1), got.date1904), QStringLiteral("09:05:08"));
    }
}

TEST_F(XlsFile, LongStringTableSpansContinueRecords) {
    Workbook b;
    Sheet s;
    s.name = QStringLiteral("Строки");
    for (int i = 0; i < 3000; ++i)
        s.set(i, 0, text(QStringLiteral("Запись №%1 — сопротивление").arg(i)));
    s.set(0, 1, text(QString(kXlsMaxTextLength, u'Ж')));
    s.set(1, 1, text(QString(kXlsMaxTextLength, u'z')));
    s.set(2, 1, text(QStringLiteral("Запись №7 — сопротивление"))); // a shared repeat
    b.sheets.push_back(s);
    const QByteArray stream = xlsStream(b);
    EXPECT_GE(recordsOf(stream, 0x003C).size(), 10u); // CONTINUE records
    expectSameBook(b, roundTrip(b));

    s.set(3, 1, text(QString(kXlsMaxTextLength + 1, u'Ж')));
    b.sheets[0] = s;
    EXPECT_THROW(writeXls(b, path("long.xls")), SheetError);
}

TEST_F(XlsFile, FormatLimitsAreErrors) {
    Workbook rows;
    rows.sheets.resize(1);
    rows.sheets[0].name = QStringLiteral("Лист1");
    rows.sheets[0].set(kXlsMaxRows - 1, 0, number(1));
    const Workbook got = roundTrip(rows);
    EXPECT_EQ(got.sheets[0].rowCount(), kXlsMaxRows);
    rows.sheets[0].set(kXlsMaxRows, 0, number(2));
    EXPECT_THROW(xlsStream(rows), SheetError);

    Workbook cols;
    cols.sheets.resize(1);
    cols.sheets[0].name = QStringLiteral("Лист1");
    cols.sheets[0].set(0, kXlsMaxColumns - 1, number(1));
    EXPECT_NO_THROW(xlsStream(cols));
    reformat(cols.sheets[0], 0, kXlsMaxColumns, kDate);
    EXPECT_THROW(xlsStream(cols), SheetError);

    EXPECT_THROW(xlsStream(Workbook{}), SheetError);
    const QString badNames[] = {QString(), QString(32, u'a'), QStringLiteral("a/b"),
                                QStringLiteral("'a")};
    for (const QString& name : badNames) {
        Workbook b;
        b.sheets.resize(1);
        b.sheets[0].name = name;
        EXPECT_THROW(xlsStream(b), SheetError) << name.toStdString();
    }
    Workbook dup;
    dup.sheets.resize(2);
    dup.sheets[0].name = QStringLiteral("Отчёт");
    dup.sheets[1].name = QStringLiteral("ОТЧЁТ");
    EXPECT_THROW(xlsStream(dup), SheetError);
}

// What xlrd, a reader independent of ours, makes of a file.
std::optional<QJsonObject> xlrdDump(const QString& file) {
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return std::nullopt;
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(T5170_TEST_SUPPORT_DIR "/xls_dump.py"), file});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        const QByteArray err = p.readAllStandardError();
        if (err.contains("No module named 'xlrd'"))
            return std::nullopt;
        ADD_FAILURE() << "xlrd failed: " << err.toStdString();
        return QJsonObject{};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

TEST_F(XlsFile, IndependentReaderSeesTheSameWorkbook) {
    for (bool date1904 : {false, true}) {
        SCOPED_TRACE(date1904 ? "1904" : "1900");
        const Workbook b = reportShaped(date1904);
        writeXls(b, path("interop.xls"));
        const auto dump = xlrdDump(path("interop.xls"));
        // scripts/install-deps installs python3-xlrd, the independent reader.
        ASSERT_TRUE(dump.has_value()) << "python3-xlrd did not read the file";
        EXPECT_EQ(dump->value("datemode").toInt(), date1904 ? 1 : 0);
        const QJsonArray sheets = dump->value("sheets").toArray();
        ASSERT_EQ(sheets.size(), qsizetype(b.sheets.size()));
        for (std::size_t i = 0; i < b.sheets.size(); ++i) {
            const Sheet& want = b.sheets[i];
            const QJsonObject got = sheets[qsizetype(i)].toObject();
            SCOPED_TRACE(want.name.toStdString());
            EXPECT_EQ(got.value("name").toString(), want.name);
            const QJsonObject widths = got.value("widths").toObject();
            for (const auto& [c, w] : want.columnWidths) {
                if (c >= kXlsMaxColumns) {
                    EXPECT_FALSE(widths.contains(QString::number(c)));
                    continue;
                }
                // xlrd reports hidden columns with their stored width.
                // Other readers see the stored width, which includes the cell
                // padding as in files of other spreadsheet applications.
                EXPECT_NEAR(widths.value(QString::number(c)).toDouble(),
                            w > 0 ? xlsx::widthToFile(w) : 0.0, 1.0 / 256)
                    << c;
            }
            std::map<CellKey, QJsonArray> cells;
            for (const auto& v : got.value("cells").toArray()) {
                const QJsonArray a = v.toArray();
                cells[{a[0].toInt(), a[1].toInt()}] = a;
            }
            int valued = 0;
            for (const auto& [key, cell] : contentCells(want)) {
                if (cell.kind == Cell::Kind::Empty)
                    continue;
                ++valued;
                auto it = cells.find(key);
                ASSERT_NE(it, cells.end()) << key.first << "," << key.second;
                const QJsonArray& a = it->second;
                if (cell.kind == Cell::Kind::Text) {
                    EXPECT_EQ(a[2].toString(), QStringLiteral("text"));
                    EXPECT_EQ(a[3].toString(), cell.text);
                } else {
                    EXPECT_EQ(a[2].toString(), QStringLiteral("number"));
                    EXPECT_EQ(a[3].toDouble(), cell.number);
                }
                EXPECT_EQ(a[4].toString(), cell.format) << key.first << "," << key.second;
            }
            EXPECT_EQ(int(cells.size()), valued);
        }
    }
}

// freexl, another independent reader, on the files it can open: every
// value it sees is the one we read. Dates and times come from it as texts.
void expectFreexlAgrees(const QString& file) {
    SCOPED_TRACE(file.toStdString());
    const Workbook ours = readXls(file);
    const void* h = nullptr;
    ASSERT_EQ(freexl_open(QFile::encodeName(file).constData(), &h), FREEXL_OK);
    ASSERT_NE(h, nullptr);
    unsigned int count = 0;
    freexl_get_info(h, FREEXL_BIFF_SHEET_COUNT, &count);
    ASSERT_EQ(count, ours.sheets.size());
    for (unsigned short i = 0; i < count; ++i) {
        const Sheet& sheet = ours.sheets[i];
        const char* name = nullptr;
        freexl_get_worksheet_name(h, i, &name);
        EXPECT_EQ(QString::fromUtf8(name), sheet.name);
        freexl_select_active_worksheet(h, i);
        unsigned int rows = 0;
        unsigned short cols = 0;
        freexl_worksheet_dimensions(h, &rows, &cols);
        for (unsigned int r = 0; r < rows; ++r)
            for (unsigned short c = 0; c < cols; ++c) {
                FreeXL_CellValue v;
                ASSERT_EQ(freexl_get_cell_value(h, r, c, &v), FREEXL_OK);
                const Cell got = sheet.find(int(r), c).value_or(Cell{});
                const QString where = QStringLiteral("%1,%2").arg(r).arg(c);
                switch (v.type) {
                case FREEXL_CELL_INT:
                    EXPECT_EQ(got.number, v.value.int_value) << where.toStdString();
                    break;
                case FREEXL_CELL_DOUBLE:
                    EXPECT_EQ(got.number, v.value.double_value) << where.toStdString();
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    EXPECT_EQ(got.text, QString::fromUtf8(v.value.text_value))
                        << where.toStdString();
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_TIME:
                case FREEXL_CELL_DATETIME: {
                    QString shown = QString::fromLatin1(v.value.text_value);
                    if (v.type != FREEXL_CELL_TIME)
                        shown.replace(0, 10,
                                      QDate::fromString(shown.left(10), u"yyyy-MM-dd")
                                          .toString(u"dd.MM.yyyy"));
                    EXPECT_EQ(cellText(got, ours.date1904), shown) << where.toStdString();
                    break;
                }
                default:
                    EXPECT_EQ(int(got.kind), int(Cell::Kind::Empty)) << where.toStdString();
                }
            }
    }
    freexl_close(h);
}

TEST_F(XlsFile, FreexlReadsWhatWeRead) {
    for (const char* name :
         {"report-three-kinds.xls", "gap-in-column-1.xls", "empty-report.xls", "three-sheets.xls"})
        expectFreexlAgrees(fixture(name));
    for (bool date1904 : {false, true}) {
        Workbook b = reportShaped(date1904);
        reformat(b.sheets[4], 3, 0, QStringLiteral("HH:MM:SS")); // freexl shows no [h]
        writeXls(b, path("ours.xls"));
        expectFreexlAgrees(path("ours.xls"));
    }
}

TEST_F(XlsFile, LibreOfficeReportsReadAsWritten) {
    const Workbook b = readXls(fixture("report-three-kinds.xls"));
    ASSERT_EQ(b.sheets.size(), 4u);
    EXPECT_FALSE(b.date1904);
    const QStringList names = {"Измерение сопротивления", "Измерение Абсорбции",
                               "Измерение Поляризации", "Измерение напряжения"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(b.sheets[std::size_t(i)].name, names[i]);
    const std::map<int, double> leading = {{0, 10}, {1, 8}, {2, 15}, {3, 15}, {4, 12}};
    for (const auto& [c, w] : leading)
        EXPECT_DOUBLE_EQ(b.sheets[0].columnWidths.at(c), xlsx::widthFromFile(w)) << c;
    // Record rows by sheet: resistance 2-4, absorption 2-3, polarization none, voltage 2.
    const int rows[] = {4, 3, 1, 2};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(b.sheets[std::size_t(i)].rowCount(), rows[i]) << i;
    // The newest record, on the absorption sheet, as the report reads it.
    const Sheet& absorption = b.sheets[1];
    const char* expected[] = {"02.03.2026", "11:00:00", "1000", "2,5",
                              "ГОм",        "3,12",     "ГОм",  "1,248"};
    ASSERT_EQ(absorption.columnCount(2), 8);
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(cellText(*absorption.find(2, c), false), QString::fromUtf8(expected[c])) << c;
    EXPECT_NEAR(cellNumber(*absorption.find(2, 1), false), 11.0 / 24, 1e-12);
    EXPECT_EQ(cellText(*b.sheets[0].find(1, 1), false), QStringLiteral("09:05:07"));
    EXPECT_EQ(cellText(*b.sheets[3].find(1, 1), false), QStringLiteral("10:59:59"));
}

TEST_F(XlsFile, OtherLibreOfficeWorkbooks) {
    const Workbook gap = readXls(fixture("gap-in-column-1.xls"));
    const auto& s = gap.sheets[0];
    ASSERT_EQ(s.rowCount(), 9);
    EXPECT_TRUE(!s.find(4, 0) || s.find(4, 0)->kind == Cell::Kind::Empty);
    EXPECT_EQ(cellText(*s.find(3, 0), false), QStringLiteral("04.02.2026"));
    EXPECT_EQ(cellText(*s.find(5, 0), false), QStringLiteral("06.02.2026"));

    EXPECT_EQ(readXls(fixture("three-sheets.xls")).sheets.size(), 3u);

    const Workbook empty = readXls(fixture("empty-report.xls"));
    ASSERT_EQ(empty.sheets.size(), 4u);
    for (const Sheet& sh : empty.sheets)
        EXPECT_EQ(sh.rowCount(), 1) << sh.name.toStdString();

    const Workbook extras = readXls(fixture("report-with-extras.xls"));
    ASSERT_EQ(extras.sheets.size(), 5u);
    EXPECT_EQ(extras.sheets[4].name, QStringLiteral("Итоги"));
    // The formula's last value is kept.
    ASSERT_TRUE(extras.sheets[4].find(0, 1).has_value());
    EXPECT_EQ(extras.sheets[4].find(0, 1)->number, 2.0);
    EXPECT_EQ(extras.sheets[0].find(1, 6)->text, QStringLiteral("Объект: двигатель М-3"));
}

TEST_F(XlsFile, LibreOfficeWorkbooksSurviveOurSave) {
    for (const char* name : {"report-three-kinds.xls", "report-with-extras.xls",
                             "gap-in-column-1.xls", "empty-report.xls", "three-sheets.xls"}) {
        SCOPED_TRACE(name);
        const Workbook original = readXls(fixture(name));
        expectSameBook(original, roundTrip(original));
    }
}

TEST_F(XlsFile, LargeWorkbookNeedsMoreAllocationTables) {
    // 60,000 records of eight columns: a workbook stream of about 9 MB, past
    // the 109 allocation-table sectors the header can list.
    Workbook b;
    Sheet s;
    s.name = QStringLiteral("Измерение Абсорбции");
    for (int r = 0; r < 60000; ++r) {
        const Cell row[] = {number(46082 + r / 100, kDate),
                            number((r % 86400) / 86400.0, kTime),
                            number(1000),
                            number(1.5 + r),
                            text(QStringLiteral("МОм")),
                            number(2.25 + r),
                            text(QStringLiteral("ГОм")),
                            number(1.001 * r)};
        for (int c = 0; c < 8; ++c)
            s.set(r, c, row[c]);
    }
    b.sheets.push_back(std::move(s));
    writeXls(b, path("big.xls"));
    const QByteArray head = readAll(path("big.xls")).left(512);
    EXPECT_GT(qFromLittleEndian<quint32>(head.constData() + 0x48), 0u); // DIFAT sectors
    expectSameBook(b, readXls(path("big.xls")));
}

TEST_F(XlsFile, SmallStreamsAreReadFromTheMiniStream) {
    // LibreOffice keeps the document summary, a few hundred bytes, in the
    // mini stream.
    const QByteArray summary = readCompoundStream(readAll(fixture("report-three-kinds.xls")),
                                                  QStringLiteral("\x05SummaryInformation"));
    ASSERT_GE(summary.size(), 2);
    EXPECT_LT(summary.size(), 4096);
    EXPECT_EQ(quint8(summary[0]), 0xFE);
    EXPECT_EQ(quint8(summary[1]), 0xFF);
}

TEST_F(XlsFile, StreamSectorsInAnyOrderReadTheSame) {
    // Writers that grow a file place the stream's sectors between others;
    // the chain, not the position, decides their order.
    const Workbook b = reportShaped();
    writeXls(b, path("ordered.xls"));
    const QByteArray file = readAll(path("ordered.xls"));
    constexpr qsizetype kSector = 512;
    // Our writer lays the stream first, in sectors 0..n-1.
    const quint32 dirStart = qFromLittleEndian<quint32>(file.constData() + 0x30);
    const quint32 n = dirStart;
    ASSERT_GE(n, 8u);
    auto fatEntry = [](QByteArray& f, quint32 sector) {
        const quint32 fatSector =
            qFromLittleEndian<quint32>(f.constData() + 0x4C + 4 * (sector / 128));
        return f.data() + kSector * (fatSector + 1) + 4 * (sector % 128);
    };
    struct Order {
        const char* what;
        std::function<quint32(quint32)> place; // logical sector -> where it lies
    };
    const Order orders[] = {
        {"reversed", [n](quint32 k) { return n - 1 - k; }},
        {"halves swapped", [n](quint32 k) { return (k + n / 2) % n; }},
        {"every other",
         [n](quint32 k) { return k < (n + 1) / 2 ? 2 * k : 2 * (k - (n + 1) / 2) + 1; }},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.what);
        QByteArray moved = file;
        for (quint32 k = 0; k < n; ++k) {
            const quint32 at = order.place(k);
            std::memcpy(moved.data() + kSector * (at + 1), file.constData() + kSector * (k + 1),
                        kSector);
            qToLittleEndian<quint32>(k + 1 < n ? order.place(k + 1) : 0xFFFFFFFE,
                                     fatEntry(moved, at));
        }
        // The workbook stream is the directory's second entry.
        qToLittleEndian<quint32>(order.place(0),
                                 moved.data() + kSector * (dirStart + 1) + 128 + 0x74);
        writeBytes(path("moved.xls"), moved);
        expectSameBook(b, readXls(path("moved.xls")));
        EXPECT_EQ(readCompoundStream(moved, QStringLiteral("Workbook")),
                  xlsStream(b).leftJustified(4096, '\0'));
    }
}

class BadXls : public XlsFile {
protected:
    QByteArray good() { return xlsStream(reportShaped()); }
    void expectRefused(const QString& file, const char* why, const char* messagePart = "") {
        try {
            openWorkbook(file);
            ADD_FAILURE() << why << ": opened";
        } catch (const SheetError& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QString::fromUtf8(messagePart)))
                << why << ": " << e.what();
        }
    }
};

TEST_F(BadXls, TruncatedCopiesAreRefusedOrReadWhole) {
    const QByteArray whole = readAll(fixture("report-three-kinds.xls"));
    const Workbook original = readXls(fixture("report-three-kinds.xls"));
    for (qsizetype len :
         {qsizetype(0), qsizetype(7), qsizetype(8), qsizetype(100), qsizetype(511), qsizetype(512),
          qsizetype(1024), whole.size() / 2, whole.size() - 513, whole.size() - 1}) {
        SCOPED_TRACE(len);
        writeBytes(path("cut.xls"), whole.left(len));
        try {
            // Cutting only unused padding may leave a readable file; then it
            // must read as the original.
            expectSameBook(original, openWorkbook(path("cut.xls")));
        } catch (const SheetError&) {
        }
    }
    writeBytes(path("half.xls"), whole.left(whole.size() / 2));
    expectRefused(path("half.xls"), "half a file");
}

TEST_F(BadXls, NotSpreadsheets) {
    QRandomGenerator rng(5170);
    QByteArray noise(10000, '\0');
    for (char& c : noise)
        c = char(rng.bounded(256));
    writeBytes(path("noise.xls"), noise);
    expectRefused(path("noise.xls"), "random bytes", "не является");

    writeBytes(path("signed.xls"), QByteArray(kCompoundSignature, 8) + noise);
    expectRefused(path("signed.xls"), "random bytes after the signature");

    writeBytes(path("empty.xls"), QByteArray());
    expectRefused(path("empty.xls"), "empty file");

    // A compound file without a workbook stream.
    {
        QFile f(path("other.doc"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        writeCompoundFile(f, QStringLiteral("WordDocument"), noise);
    }
    expectRefused(path("other.doc"), "a compound file of another kind");
}

TEST_F(BadXls, CraftedStreamsAreRefused) {
    const QByteArray base = good();
    const qsizetype bofEnd = 4 + 16;
    struct Case {
        const char* what;
        QByteArray stream;
        const char* message;
    };
    std::vector<Case> cases;

    QByteArray filepass = base;
    filepass.insert(bofEnd, QByteArray::fromHex("2f0006000100aaaabbbb"));
    cases.push_back({"encrypted (FILEPASS)", filepass, "паролем"});

    const qsizetype dim = recordsOf(base, 0x0200).front();
    QByteArray hugeRows = base;
    qToLittleEndian<quint32>(0xFFFFFFFF, hugeRows.data() + dim + 4 + 4);
    cases.push_back({"a sheet claiming 4 billion rows", hugeRows, "размеры"});

    // One cell past the format's last column.
    QByteArray wide = base;
    const qsizetype rk = recordsOf(base, 0x027E).front();
    qToLittleEndian<quint16>(300, wide.data() + rk + 4 + 2);
    cases.push_back({"a cell past column 256", wide, "вне листа"});

    QByteArray biff5 = base;
    qToLittleEndian<quint16>(0x0500, biff5.data() + 4);
    cases.push_back({"Excel 95", biff5, "не поддерживается"});

    QByteArray noSheetEof = base.left(base.size() - 4);
    cases.push_back({"last sheet without its end", noSheetEof, "обрезан"});

    QByteArray badOffset = base;
    const qsizetype bound = recordsOf(base, 0x0085).front();
    qToLittleEndian<quint32>(quint32(base.size() + 10), badOffset.data() + bound + 4);
    cases.push_back({"sheet offset past the stream", badOffset, "повреждён"});

    QByteArray overlong = base;
    qToLittleEndian<quint16>(9000, overlong.data() + recordsOf(base, 0x00FC).front() + 2);
    cases.push_back({"a record longer than allowed", overlong, "повреждён"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectRefused(withStream(c.stream), c.what, c.message);
    }
}

TEST_F(BadXls, CellsBeyondTheBudgetAreRefused) {
    // Two cells a row, the second moved to the last column: every row then
    // needs 256 slots, 8,200 rows more than the reader holds.
    Workbook b;
    b.sheets.resize(1);
    b.sheets[0].name = QStringLiteral("Лист1");
    for (int r = 0; r < 8200; ++r) {
        b.sheets[0].set(r, 0, number(r));
        b.sheets[0].set(r, 1, number(r));
    }
    QByteArray stream = xlsStream(b);
    for (qsizetype at : recordsOf(stream, 0x027E))
        if (qFromLittleEndian<quint16>(stream.constData() + at + 4 + 2) == 1)
            qToLittleEndian<quint16>(255, stream.data() + at + 4 + 2);
    expectRefused(withStream(stream), "cells spread over the whole width", "слишком велика");
    // The same rows without the move open.
    EXPECT_NO_THROW(openWorkbook(withStream(xlsStream(b), "fine.xls")));
}

TEST_F(BadXls, LoopingSectorChainIsRefused) {
    writeXls(reportShaped(), path("loop.xls"));
    QByteArray file = readAll(path("loop.xls"));
    // The first allocation-table sector: point the workbook stream's first
    // sector at itself.
    const quint32 fatSector = qFromLittleEndian<quint32>(file.constData() + 0x4C);
    qToLittleEndian<quint32>(0, file.data() + 512 * (fatSector + 1));
    writeBytes(path("loop.xls"), file);
    expectRefused(path("loop.xls"), "a looping chain", "повреждён");
}

TEST_F(BadXls, RandomDamageNeverCrashes) {
    QRandomGenerator rng(42);
    writeXls(reportShaped(), path("ours.xls"));
    const QByteArray sources[] = {readAll(path("ours.xls")),
                                  readAll(fixture("report-with-extras.xls"))};
    int refused = 0, opened = 0;
    for (const QByteArray& source : sources) {
        for (int round = 0; round < 150; ++round) {
            QByteArray damaged = source;
            const int flips = 1 + int(rng.bounded(8));
            for (int k = 0; k < flips; ++k)
                damaged[qsizetype(rng.bounded(quint32(damaged.size())))] = char(rng.bounded(256));
            writeBytes(path("damaged.xls"), damaged);
            try {
                const Workbook b = openWorkbook(path("damaged.xls"));
                ++opened;
                // Whatever was read is a workbook we can handle further.
                try {
                    xlsStream(b);
                } catch (const SheetError&) {
                }
            } catch (const SheetError&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(opened, 0);
}

} // namespace
