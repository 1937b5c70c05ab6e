// Reading .xlsx: workbooks written by another spreadsheet application, and
// small packages that show one feature of the format each.

#include "XlsxTestUtil.h"
#include "report/ReportScan.h"
#include "sheet/Automation.h"
#include "sheet/TypedInput.h"
#include "sheet/xlsx/XlsxCommon.h"
#include "sheet/xlsx/XlsxIo.h"
#include "sheet/xlsx/XlsxOrigin.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>

using namespace t5170;
using namespace t5170::sheet;
using t5170::test::fixture;

namespace {

QString text(const Workbook& book, int sheet, int row, int col) {
    const auto c = book.sheets.at(static_cast<std::size_t>(sheet)).find(row, col);
    return c ? cellText(*c, book.date1904) : QString();
}

QStringList sheetNames(const Workbook& book) {
    QStringList names;
    for (const auto& s : book.sheets)
        names << s.name;
    return names;
}

const QStringList kReportSheets{
    QStringLiteral("Измерение сопротивления"), QStringLiteral("Измерение Абсорбции"),
    QStringLiteral("Измерение Поляризации"), QStringLiteral("Измерение напряжения")};

report::ReportScan scanFile(const QString& path) {
    const auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    app->WorkBooks()->Open(path, 0, false, 1);
    return report::scanReport(*app->WorkBooks(1));
}

} // namespace

TEST(XlsxFixtures, SheetsValuesAndFormatsAsWritten) {
    const Workbook book = readXlsx(fixture(QStringLiteral("report-three-kinds.xlsx")));
    EXPECT_EQ(sheetNames(book), kReportSheets);
    EXPECT_FALSE(book.date1904);
    ASSERT_TRUE(book.xlsxOrigin);
    EXPECT_EQ(book.xlsxOrigin->sheets.size(), 4u);

    // Row 2 of the resistance sheet: date, time, voltage, resistance, unit.
    EXPECT_EQ(text(book, 0, 1, 0), QStringLiteral("01.03.2026"));
    EXPECT_EQ(text(book, 0, 1, 1), QStringLiteral("09:05:07"));
    EXPECT_EQ(text(book, 0, 1, 2), QStringLiteral("500"));
    EXPECT_EQ(text(book, 0, 1, 3), QStringLiteral("12,3"));
    EXPECT_EQ(text(book, 0, 1, 4), QStringLiteral("МОм"));
    const auto date = book.sheets[0].find(1, 0);
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(date->kind, Cell::Kind::Number);
    EXPECT_DOUBLE_EQ(date->number, 46082.0);
    EXPECT_EQ(formatInfo(date->format).kind, FormatKind::Date);
    EXPECT_EQ(formatInfo(book.sheets[0].find(1, 1)->format).kind, FormatKind::Time);
    EXPECT_TRUE(book.sheets[0].find(1, 2)->format.isEmpty());
    // Headings are texts; the polarization sheet holds only them.
    EXPECT_EQ(text(book, 1, 0, 7), QStringLiteral("Коэффициент"));
    EXPECT_EQ(book.sheets[2].rowCount(), 1);
}

TEST(XlsxFixtures, ReportsScanAsOpeningShowsThem) {
    struct Case {
        const char* file;
        std::array<int, 4> nextRow; // by TIzmType: U, R, Abs, Pol
        std::optional<TIzmType> newest;
        int row;
        std::array<const char*, 6> values;
    };
    const Case cases[] = {
        {"report-three-kinds",
         {3, 5, 4, 2},
         izmAbs,
         3,
         {"1000", "2,5", "ГОм", "3,12", "ГОм", "1,248"}},
        {"gap-in-column-1", {2, 5, 2, 2}, izmR, 4, {"500", "104", "МОм", "", "", ""}},
        {"empty-report", {2, 2, 2, 2}, std::nullopt, 0, {}},
        {"report-with-extras", {2, 4, 2, 2}, izmR, 3, {"1000", "4,61", "ГОм", "", "", ""}},
    };
    for (const Case& c : cases) {
        for (const char* ext : {".xlsx", ".xls"}) {
            const QString name = QString::fromUtf8(c.file) + QString::fromUtf8(ext);
            // The engine's .xls reader does not take this one yet; the .xlsx is ours.
            if (name == QLatin1String("report-with-extras.xls"))
                continue;
            SCOPED_TRACE(name.toStdString());
            const report::ReportScan scan = scanFile(fixture(name));
            EXPECT_EQ(scan.nextRow, c.nextRow);
            ASSERT_EQ(scan.newest.has_value(), c.newest.has_value());
            if (!c.newest)
                continue;
            EXPECT_EQ(scan.newest->kind, *c.newest);
            EXPECT_EQ(scan.newest->row, c.row);
            for (std::size_t i = 0; i < 6; ++i)
                EXPECT_EQ(scan.newest->values[i], QString::fromUtf8(c.values[i])) << i;
        }
    }
    const auto labels =
        report::recordLabels(*scanFile(fixture(QStringLiteral("report-three-kinds.xlsx"))).newest);
    EXPECT_EQ(labels.type, QStringLiteral("Измерение абсорбции"));
    EXPECT_EQ(labels.date, QStringLiteral("02.03.2026"));
    EXPECT_EQ(labels.time, QStringLiteral("11:00:00"));
    EXPECT_EQ(labels.u, QStringLiteral("U = 1000 Вольт"));
    EXPECT_EQ(labels.r, QStringLiteral("R = 2,5 ГОм"));
    EXPECT_EQ(labels.r2, QStringLiteral("R2 = 3,12 ГОм"));
    EXPECT_EQ(labels.k, QStringLiteral("K = 1,248"));
}

TEST(XlsxFixtures, ThreeSheetsIsNoReportAndExtrasAreRead) {
    const Workbook three = readXlsx(fixture(QStringLiteral("three-sheets.xlsx")));
    EXPECT_EQ(sheetNames(three), kReportSheets.mid(0, 3));
    EXPECT_THROW(scanFile(fixture(QStringLiteral("three-sheets.xlsx"))), SheetError);

    const Workbook extras = readXlsx(fixture(QStringLiteral("report-with-extras.xlsx")));
    EXPECT_EQ(sheetNames(extras), kReportSheets + QStringList{QStringLiteral("Итоги")});
    EXPECT_EQ(text(extras, 0, 1, 6), QStringLiteral("Объект: двигатель М-3"));
    EXPECT_EQ(text(extras, 4, 0, 0), QStringLiteral("Всего записей"));
    // A formula never calculated has no value to show.
    EXPECT_EQ(text(extras, 4, 0, 1), QString());
}

TEST(XlsxWidths, FileWidthsCountCharactersLikeTheApplications) {
    // The file stores the cell padding with the width: 10.7109375 is a
    // column of 10 characters, a bare 10 one of 9.29.
    const std::string cols =
        "<cols><col min=\"1\" max=\"1\" width=\"10.7109375\" customWidth=\"1\"/>"
        "<col min=\"2\" max=\"3\" width=\"8.7109375\" customWidth=\"true\"/>"
        "<col min=\"4\" max=\"4\" width=\"10\" customWidth=\"1\"/>"
        "<col min=\"5\" max=\"1024\" width=\"11.52\" customWidth=\"false\"/></cols>";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("w.xlsx"));
    test::writeZip(path, test::packageParts({{{"Лист1", test::sheetXml("", cols)}}}));
    const Workbook book = readXlsx(path);
    const std::map<int, double> expected{{0, 10.0}, {1, 8.0}, {2, 8.0}, {3, 9.29}};
    EXPECT_EQ(book.sheets[0].columnWidths, expected);
}

// One feature of the format per case: the text each cell reads as.
TEST(XlsxPackages, CellKindsStringsAndStyles) {
    const std::string styles =
        "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<numFmts count=\"1\"><numFmt numFmtId=\"170\" formatCode=\"dd\\.mm\\.yyyy;@\"/></numFmts>"
        "<cellXfs count=\"5\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"21\"/>"
        "<xf numFmtId=\"170\"/><xf numFmtId=\"2\"/></cellXfs>"
        "<dxfs count=\"1\"><dxf><numFmt numFmtId=\"171\" "
        "formatCode=\"0.000\"/></dxf></dxfs></styleSheet>";
    const std::string sst =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"3\" "
        "uniqueCount=\"3\">"
        "<si><t>МОм</t></si>"
        "<si><r><rPr><b/></rPr><t>Сопро</t></r><r><t xml:space=\"preserve\">тивление 1</t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>фонетика</t></rPh></si>"
        "<si><t>строка_x000D_вторая &amp; &lt;третья&gt;</t></si></sst>";
    const std::string data =
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
        "<c r=\"C1\" t=\"s\"><v>2</v></c></row>"
        "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>46082</v></c><c r=\"B2\" "
        "s=\"2\"><v>0.37855324074074074</v></c>"
        "<c r=\"C2\" s=\"3\"><v>46083</v></c><c r=\"D2\" s=\"4\"><v>1.5</v></c>"
        "<c r=\"E2\" t=\"b\"><v>1</v></c><c r=\"F2\" t=\"e\"><v>#DIV/0!</v></c></row>"
        "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>Строка &#1072;</t></is></c>"
        "<c r=\"B3\"><f>1+2</f><v>3</v></c><c r=\"C3\" "
        "t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c>"
        "<c r=\"D3\" t=\"d\"><v>2026-03-01T09:05:07</v></c><c r=\"E3\" s=\"1\"/>"
        "<c r=\"F3\"><v>  -2.5E-3 </v></c></row>"
        // Cells and rows without references follow the one before.
        "<row><c><v>7</v></c><c t=\"inlineStr\"><is><t>далее</t></is></c></row>";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kinds.xlsx"));
    test::writeZip(path, test::packageParts({{{"Данные", test::sheetXml(data)}}, sst, styles}));
    const Workbook book = readXlsx(path);

    struct Expect {
        int row, col;
        const char* text;
    };
    const Expect expected[] = {
        {0, 0, "МОм"},
        {0, 1, "Сопротивление 1"},
        {0, 2, "строка\rвторая & <третья>"},
        {1, 0, "01.03.2026"}, // built-in short date
        {1, 1, "09:05:07"},   // built-in h:mm:ss
        {1, 2, "02.03.2026"}, // custom date code with escapes and a text section
        {1, 3, "1,5"},        // 0.00 shows as the number itself
        {1, 4, "1"},          // a boolean is a number
        {1, 5, "#DIV/0!"},    // an error value reads as its text
        {2, 0, "Строка а"},
        {2, 1, "3"}, // a formula's last value
        {2, 2, "ab"},
        {2, 3, "01.03.2026 09:05:07"},
        {2, 4, ""}, // styled but empty
        {2, 5, "-0,0025"},
        {3, 0, "7"},
        {3, 1, "далее"},
    };
    for (const Expect& e : expected)
        EXPECT_EQ(text(book, 0, e.row, e.col), QString::fromUtf8(e.text)) << e.row << "," << e.col;
    EXPECT_EQ(book.sheets[0].find(1, 3)->format, QStringLiteral("0.00"));
}

// Every stored slot of two sheets: kind, value, text and format.
void expectSameStore(const Sheet& want, const Sheet& got) {
    ASSERT_EQ(got.rowCount(), want.rowCount());
    for (int r = 0; r < want.rowCount(); ++r) {
        ASSERT_EQ(got.columnCount(r), want.columnCount(r)) << "row " << r;
        for (int c = 0; c < want.columnCount(r); ++c) {
            EXPECT_EQ(int(got.kind(r, c)), int(want.kind(r, c))) << r << "," << c;
            EXPECT_EQ(got.number(r, c), want.number(r, c)) << r << "," << c;
            EXPECT_EQ(got.text(r, c), want.text(r, c)) << r << "," << c;
            EXPECT_EQ(got.format(r, c), want.format(r, c)) << r << "," << c;
        }
    }
}

// The same rows with an empty comment after each row's start tag (not
// those inside comments and processing instructions), which makes the
// reader take each cell token by token.
std::string tokenByToken(std::string xml) {
    for (std::size_t at = 0; at < xml.size(); ++at) {
        if (xml.compare(at, 4, "<!--") == 0)
            at = xml.find("-->", at);
        else if (xml.compare(at, 2, "<?") == 0)
            at = xml.find("?>", at);
        else if (xml.compare(at, 7, "row r=\"") == 0)
            xml.insert(at = xml.find('>', at) + 1, "<!---->");
    }
    return xml;
}

TEST(XlsxPackages, RowsReadTheSameStraightFromTheTextAsTokenByToken) {
    // Rows as writers lay them out, and shapes that must not be taken from
    // the text: CDATA, a comment or processing instruction that hides an
    // end tag, formulas, rich text, an element that is not a cell, an end
    // tag with a space.
    const std::string data =
        R"(<row r="1"><c r="A1" s="1"><v>46082</v></c><c r="B1" t="s"><v>0</v></c>)"
        R"(<c r="C1" t="inlineStr"><is><t>МОм &amp; &#1052;</t></is></c></row>)"
        R"(<row r="2"><c r='A2' t='inlineStr'><is><t xml:space="preserve"> края </t></is></c>)"
        R"(<c r="B2" s="1"/><c r="C2" s="1"></c><c r="D2" t="s"><is><t>не значение</t></is></c>)"
        R"(<c r="E2"><is><t>без типа</t></is></c><c r="F2" t="inlineStr"><is><t></t></is></c>)"
        R"(<c r="G2" t="inlineStr"><is><t>МОм &amp; &#1052;</t></is></c></row>)"
        "<row r=\"3\">\n  <c r=\"A3\"><v>1</v></c>\n  <c><v>2</v></c>\n"
        "  <c r=\"E3\" r=\"F3\" s=\"1\" s=\"9\"><v>3</v></c>\n</row>"
        R"(<row r="4"><c r="A4" cm="1" t="n"><v>  -2.5E-3 </v></c><c r="B4"><f>1+2</f><v>3</v></c>)"
        R"(<c r="C4" t="str"><v>a_x000D_b</v></c><c r="D4" t="b"><v>1</v></c>)"
        R"(<c r="E4" t="e"><v>#N/A</v></c><c r="F4" t="d"><v>2026-03-01T09:05:07</v></c></row>)"
        R"(<row r="5"><c r="A5"><v><![CDATA[12]]></v></c><c r="B5"><v>1</v></c></row>)"
        R"(<row r="6"><c r="A6"><v>1</v></c><!-- </row><row r="9"><c r="A9"><v>9</v></c> -->)"
        R"(<c r="B6"><v>2</v></c></row>)"
        R"(<row r="7"><c r="A7"><v>1</v></c><?pi </row>?><c r="B7"><v>2</v></c></row>)"
        R"(<row r="8"><c r="A8" t="inlineStr"><is><r><t>Со</t></r><r><t>ставной</t></r></is></c>)"
        R"(<cx/><c r="C8"><v>4</v></c></row>)"
        R"(<row r="10"><c r="A10"><v>5</v></c></row ><row r="11"><c r="B11"><v>6</v></c></row>)";
    const std::string sst =
        R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        "<si><t>общая</t></si></sst>";
    const std::string styles =
        R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        R"(<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="14"/></cellXfs></styleSheet>)";
    const std::string prefixed =
        R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        R"(<x:sheetData><x:row r="1"><x:c r="A1"><x:v>5</x:v></x:c><x:c r="B1" t="inlineStr">)"
        R"(<x:is><x:t>п</x:t></x:is></x:c><c r="C1"><v>7</v></c></x:row></x:sheetData></x:worksheet>)";
    QTemporaryDir dir;
    const QString quick = dir.filePath(QStringLiteral("quick.xlsx"));
    const QString slow = dir.filePath(QStringLiteral("slow.xlsx"));
    test::writeZip(
        quick,
        test::packageParts({{{"Лист1", test::sheetXml(data)}, {"Лист2", prefixed}}, sst, styles}));
    test::writeZip(slow, test::packageParts({{{"Лист1", test::sheetXml(tokenByToken(data))},
                                              {"Лист2", tokenByToken(prefixed)}},
                                             sst,
                                             styles}));
    const Workbook got = readXlsx(quick);
    const Workbook want = readXlsx(slow);
    for (std::size_t i = 0; i < 2; ++i)
        expectSameStore(want.sheets[i], got.sheets[i]);

    struct Expect {
        int sheet, row, col;
        const char* text;
    };
    const Expect expected[] = {
        {0, 0, 0, "01.03.2026"}, {0, 0, 1, "общая"},     {0, 0, 2, "МОм & М"},
        {0, 1, 0, " края "},     {0, 1, 3, ""},          {0, 1, 4, "без типа"},
        {0, 1, 6, "МОм & М"},    {0, 2, 0, "1"},         {0, 2, 1, "2"},
        {0, 2, 4, "03.01.1900"}, {0, 2, 5, ""},          {0, 3, 0, "-0,0025"},
        {0, 3, 2, "a\rb"},       {0, 4, 0, "12"},        {0, 5, 1, "2"},
        {0, 6, 1, "2"},          {0, 7, 0, "Составной"}, {0, 7, 2, "4"},
        {0, 9, 0, "5"},          {0, 10, 1, "6"},        {1, 0, 0, "5"},
        {1, 0, 1, "п"},          {1, 0, 2, "7"},
    };
    for (const Expect& e : expected)
        EXPECT_EQ(text(got, e.sheet, e.row, e.col), QString::fromUtf8(e.text))
            << e.sheet << ":" << e.row << "," << e.col;
    // The first of repeated attributes counts; the comment hid no row.
    EXPECT_EQ(got.sheets[0].find(2, 4)->format, QStringLiteral("DD.MM.YYYY"));
    EXPECT_FALSE(got.sheets[0].find(8, 0));
}

TEST(XlsxPackages, RowsAcrossTheReadBufferAndOneTooLongToTakeWhole) {
    // The worksheet inflates in pieces of 64 KiB: rows are cut at every
    // piece's end, and one row is longer than a piece.
    std::string data;
    auto row = [&data](int r, int cells) {
        data += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 0; c < cells; ++c)
            data += "<c r=\"" + xlsx::cellRef(r - 1, 2 * c) + "\" t=\"inlineStr\"><is><t>т" +
                    std::to_string(c % 7) + "</t></is></c><c><v>" + std::to_string(r * 10 + c) +
                    "</v></c>";
        data += "</row>";
    };
    for (int r = 1; r <= 3000; ++r)
        row(r, r == 1500 ? 1000 : 3);
    QTemporaryDir dir;
    const QString quick = dir.filePath(QStringLiteral("quick.xlsx"));
    const QString slow = dir.filePath(QStringLiteral("slow.xlsx"));
    test::writeZip(quick, test::packageParts({{{"Лист1", test::sheetXml(data)}}}));
    test::writeZip(slow, test::packageParts({{{"Лист1", test::sheetXml(tokenByToken(data))}}}));
    const Workbook got = readXlsx(quick);
    expectSameStore(readXlsx(slow).sheets[0], got.sheets[0]);
    ASSERT_EQ(got.sheets[0].rowCount(), 3000);
    EXPECT_EQ(got.sheets[0].columnCount(1499), 2000);
    EXPECT_EQ(text(got, 0, 1499, 1999), QStringLiteral("15999"));
    EXPECT_EQ(text(got, 0, 2999, 4), QStringLiteral("т2"));
    EXPECT_EQ(text(got, 0, 2999, 5), QStringLiteral("30002"));
}

TEST(XlsxNumbers, PlainDecimalsReadAsTheGeneralConversionReadsThem) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"46082", 46082.0},
        {"0.001388888888888889", 0.001388888888888889},
        {"-1.5", -1.5},
        {"1.", 1.0},
        {".5", 0.5},
        {"9007199254740992", 9007199254740992.0},
        {"9007199254740993", 9007199254740992.0}, // past 2^53: rounded to even
        {"0.0000000000000000000001", 1e-22},
        {"0.00000000000000000000001", 1e-23},
        {"123456789012345678901234", 123456789012345678901234.0},
        {"2.5E-3", 0.0025},
        {"  -2.5 ", -2.5},
        {"+7", 7.0},
        {"", std::nullopt},
        {".", std::nullopt},
        {"-", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1,5", std::nullopt},
        {"1e999", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto got = xlsx::parseNumber(c.text);
        ASSERT_EQ(got.has_value(), c.value.has_value()) << c.text;
        if (got) {
            EXPECT_EQ(*got, *c.value) << c.text;
        }
    }
    EXPECT_TRUE(std::signbit(*xlsx::parseNumber("-0")));

    // Random decimals of every length around the limits, bit for bit.
    std::mt19937_64 random(20261211);
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + int(random() % 20);
        std::string text;
        for (int d = 0; d < digits; ++d)
            text += char('0' + random() % 10);
        const int point = int(random() % (digits + 2)); // digits + 1: none
        if (point <= digits)
            text.insert(std::size_t(point), ".");
        if (random() % 2)
            text.insert(0, "-");
        double want = 0.0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), want);
        ASSERT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
        const auto got = xlsx::parseNumber(text);
        ASSERT_TRUE(got.has_value()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(want)) << text;
    }
}

TEST(XlsxPackages, DateSystem1904) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("1904.xlsx"));
    const std::string styles =
        "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
    // 1.3.2026 is day 44620 of the 1904 system.
    test::writeZip(
        path,
        test::packageParts(
            {{{"Лист1", test::sheetXml("<row r=\"1\"><c r=\"A1\" s=\"1\"><v>44620</v></c></row>")}},
             {},
             styles,
             "date1904=\"true\""}));
    const Workbook book = readXlsx(path);
    EXPECT_TRUE(book.date1904);
    EXPECT_EQ(text(book, 0, 0, 0), QStringLiteral("01.03.2026"));
}

TEST(XlsxPackages, RelationshipsAsOtherWritersSpellThem) {
    // Absolute and parent-relative targets, a prefixed main namespace, a
    // chart sheet between worksheets, and the document relationship after
    // one whose type also contains "/officeDocument".
    const std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const test::Parts parts{
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"a\" Type=\"" +
             ns +
             "extended-properties\" Target=\"docProps/app.xml\"/>"
             "<Relationship Id=\"b\" Type=\"" +
             ns +
             "officeDocument\" Target=\"/book/main%20part.xml\"/>"
             "</Relationships>"},
        {"docProps/app.xml", "<Properties/>"},
        {"book/main part.xml",
         "<x:workbook xmlns:x=\"" + main + "\" xmlns:r=\"" + ns.substr(0, ns.size() - 1) +
             "\">"
             "<x:sheets><x:sheet name=\"Первый\" sheetId=\"1\" r:id=\"s1\"/>"
             "<x:sheet name=\"Диаграмма\" sheetId=\"2\" r:id=\"c1\"/>"
             "<x:sheet name=\"Второй\" sheetId=\"3\" r:id=\"s2\"/></x:sheets></x:workbook>"},
        {"book/_rels/main part.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"s1\" Type=\"" +
             ns +
             "worksheet\" Target=\"/sheets/one.xml\"/>"
             "<Relationship Id=\"c1\" Type=\"" +
             ns +
             "chartsheet\" Target=\"chart.xml\"/>"
             "<Relationship Id=\"s2\" Type=\"" +
             ns +
             "worksheet\" Target=\"../sheets/./two.xml\"/>"
             "</Relationships>"},
        {"sheets/one.xml", "<x:worksheet xmlns:x=\"" + main +
                               "\"><x:sheetData><x:row r=\"1\">"
                               "<x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>один</x:t></x:is></x:c>"
                               "</x:row></x:sheetData></x:worksheet>"},
        {"sheets/two.xml",
         "<x:worksheet xmlns:x=\"" + main +
             "\"><x:sheetData><x:row r=\"2\">"
             "<x:c r=\"B2\"><x:v>2</x:v></x:c></x:row></x:sheetData></x:worksheet>"},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rels.xlsx"));
    test::writeZip(path, parts);
    const Workbook book = readXlsx(path);
    EXPECT_EQ(sheetNames(book), (QStringList{QStringLiteral("Первый"), QStringLiteral("Второй")}));
    EXPECT_EQ(text(book, 0, 0, 0), QStringLiteral("один"));
    EXPECT_EQ(text(book, 1, 1, 1), QStringLiteral("2"));
}
