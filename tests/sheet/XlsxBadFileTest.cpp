// Files that are not sound workbooks: each is refused with SheetError,
// without reading more than the caps allow.

#include "XlsxTestUtil.h"
#include "sheet/WorkbookFile.h"
#include "sheet/xls/CompoundFile.h"
#include "sheet/xlsx/XlsxIo.h"
#include "sheet/xlsx/XlsxReader.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

using namespace t5170;
using namespace t5170::sheet;

namespace {

class BadXlsx : public testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    QString package(const QString& name, const std::string& sheetData,
                    const std::string& before = {}) {
        const QString p = path(name);
        test::writeZip(p, test::packageParts({{{"Лист1", test::sheetXml(sheetData, before)}}}));
        return p;
    }

    // Rewrites the uncompressed size that the local and central headers of
    // entry `name` declare.
    static void declareSize(QByteArray& zip, const QByteArray& name, quint32 size) {
        auto patch = [&](const char* signature, int nameLengthAt, int nameAt, int sizeAt) {
            for (qsizetype at = zip.indexOf(signature); at >= 0;
                 at = zip.indexOf(signature, at + 4)) {
                const auto len =
                    quint16(uchar(zip[at + nameLengthAt]) | uchar(zip[at + nameLengthAt + 1]) << 8);
                if (zip.mid(at + nameAt, len) != name)
                    continue;
                for (int i = 0; i < 4; ++i)
                    zip[at + sizeAt + i] = char((size >> (8 * i)) & 0xFF);
            }
        };
        patch("PK\x03\x04", 26, 30, 22);
        patch("PK\x01\x02", 28, 46, 24);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(BadXlsx, NotAZipOrCutShort) {
    const QByteArray good = test::readAll(test::fixture(QStringLiteral("report-three-kinds.xlsx")));
    ASSERT_FALSE(good.isEmpty());
    QByteArray random(4096, '\0');
    QRandomGenerator gen(5170);
    for (auto& b : random)
        b = char(gen.bounded(256));
    const std::pair<const char*, QByteArray> cases[] = {
        {"random bytes", random},
        {"zip signature then noise", QByteArray("PK\x03\x04", 4) + random},
        {"empty zip", QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')},
        {"cut to half", good.left(good.size() / 2)},
        {"cut before the directory end", good.left(good.size() - 10)},
        {"damaged middle",
         [&] {
             QByteArray b = good;
             // Every part's data, the container's directory kept.
             for (qsizetype i = 100; i < b.indexOf("PK\x01\x02"); ++i)
                 b[i] = char(~b[i]);
             return b;
         }()},
    };
    for (const auto& [what, bytes] : cases) {
        const QString p = path(QStringLiteral("bad.xlsx"));
        test::writeAll(p, bytes);
        EXPECT_THROW(readXlsx(p), SheetError) << what;
        EXPECT_THROW(openWorkbook(p), SheetError) << what;
    }
}

TEST_F(BadXlsx, AWorksheetThatInflatesWrongIsDamage) {
    // The worksheet is inflated in pieces as it is read: a checksum or a
    // size that does not match what comes out is found all the same.
    std::string data;
    for (int r = 1; r <= 3000; ++r)
        data +=
            "<row r=\"" + std::to_string(r) + "\"><c><v>" + std::to_string(r) + "</v></c></row>";
    const QString p = package(QStringLiteral("good.xlsx"), data);
    ASSERT_NO_THROW(readXlsx(p));
    const QByteArray good = test::readAll(p);
    const QByteArray name("xl/worksheets/sheet1.xml");
    auto patchCrc = [&](QByteArray zip) {
        // Local header: CRC at 14, name length at 26, name at 30; central
        // header: CRC at 16, name length at 28, name at 46.
        for (const auto& [signature, crcAt, lengthAt, nameAt] :
             {std::tuple{"PK\x03\x04", 14, 26, 30}, std::tuple{"PK\x01\x02", 16, 28, 46}})
            for (qsizetype at = zip.indexOf(signature); at >= 0;
                 at = zip.indexOf(signature, at + 4))
                if (zip.mid(at + nameAt, quint16(uchar(zip[at + lengthAt]) |
                                                 uchar(zip[at + lengthAt + 1]) << 8)) == name)
                    zip[at + crcAt] = char(zip[at + crcAt] ^ 0x5A);
        return zip;
    };
    QByteArray shorter = good;
    declareSize(shorter, name, quint32(data.size())); // less than the whole part
    const std::pair<const char*, QByteArray> cases[] = {
        {"checksum", patchCrc(good)},
        {"declared size", shorter},
    };
    for (const auto& [what, bytes] : cases) {
        test::writeAll(path(QStringLiteral("bad.xlsx")), bytes);
        EXPECT_THROW(readXlsx(path(QStringLiteral("bad.xlsx"))), SheetError) << what;
    }
}

TEST_F(BadXlsx, BrokenParts) {
    const std::pair<const char*, std::string> cases[] = {
        {"unclosed element", "<row r=\"1\"><c r=\"A1\"><v>1</v></row>"},
        {"shared string that is not there", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c></row>"},
        {"row beyond the sheet", "<row r=\"1048577\"><c><v>1</v></c></row>"},
        {"column beyond the sheet", "<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"},
        {"cell reference that is no reference", "<row r=\"1\"><c r=\"1A\"><v>1</v></c></row>"},
        {"number that is no number", "<row r=\"1\"><c r=\"A1\"><v>12abc</v></c></row>"},
        {"attribute without quotes", "<row r=1><c r=\"A1\"><v>1</v></c></row>"},
    };
    for (const auto& [what, data] : cases)
        EXPECT_THROW(readXlsx(package(QStringLiteral("broken.xlsx"), data)), SheetError) << what;

    // No workbook part at all.
    test::writeZip(path(QStringLiteral("noworkbook.xlsx")), {{"[Content_Types].xml", "<Types/>"}});
    EXPECT_THROW(readXlsx(path(QStringLiteral("noworkbook.xlsx"))), SheetError);
}

TEST_F(BadXlsx, HugeClaimsCostNothingAndHugeContentIsRefused) {
    // A sheet that claims every cell of the grid but holds two reads as the two.
    const QString claimed = package(QStringLiteral("claimed.xlsx"),
                                    "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                                    "<row r=\"1048576\"><c r=\"B1048576\"><v>2</v></c></row>",
                                    "<dimension ref=\"A1:XFD1048576\"/>");
    const Workbook book = readXlsx(claimed);
    EXPECT_EQ(book.sheets[0].rowCount(), 1048576);
    EXPECT_EQ(book.sheets[0].columnCount(1048575), 2);

    // Cells in the last column of many rows would each cost a whole row.
    std::string wide;
    for (int r = 1; r <= 300; ++r)
        wide += "<row r=\"" + std::to_string(r) + "\"><c r=\"XFD" + std::to_string(r) +
                "\"><v>1</v></c></row>";
    EXPECT_THROW(readXlsx(package(QStringLiteral("wide.xlsx"), wide)), SheetError);

    // Too many entries in the container.
    test::Parts many = test::packageParts({{{"Лист1", test::sheetXml("")}}});
    for (int i = 0; i < 10'001; ++i)
        many.emplace_back("junk/" + std::to_string(i), "");
    test::writeZip(path(QStringLiteral("many.xlsx")), many, 0);
    EXPECT_THROW(readXlsx(path(QStringLiteral("many.xlsx"))), SheetError);
}

TEST_F(BadXlsx, ZipBombsStopAtTheCaps) {
    // 64 MiB of one repeated row inflate from a few hundred kilobytes.
    std::string rows;
    rows.reserve(64u << 20);
    const std::string row = "<row><c><v>1</v></c></row>";
    while (rows.size() < (64u << 20))
        rows += row;
    test::Parts parts = test::packageParts({{{"Лист1", test::sheetXml(rows)}}});
    const QString bomb = path(QStringLiteral("bomb.xlsx"));
    test::writeZip(bomb, parts, 9);
    const QByteArray bytes = test::readAll(bomb);
    ASSERT_LT(bytes.size(), 1 << 20);

    // Within lower caps the honest bomb is refused by its declared size...
    xlsx::ReadLimits small;
    small.zip.maxPartBytes = 8u << 20;
    small.zip.maxTotalBytes = 8u << 20;
    EXPECT_THROW(xlsx::readXlsxBytes(bytes, small), SheetError);

    // ...and one whose headers understate the size by what comes out.
    QByteArray lying = bytes;
    declareSize(lying, "xl/worksheets/sheet1.xml", 1000);
    EXPECT_THROW(xlsx::readXlsxBytes(lying, {}), SheetError);

    // Headers that claim more than the caps are refused before inflating.
    QByteArray claiming = bytes;
    declareSize(claiming, "xl/worksheets/sheet1.xml", 0xFFFFFFF0u);
    EXPECT_THROW(xlsx::readXlsxBytes(claiming, {}), SheetError);

    // Many rows each worth a cell are refused by the cell budget.
    xlsx::ReadLimits cells;
    cells.maxCellSlots = 100'000;
    EXPECT_THROW(xlsx::readXlsxBytes(bytes, cells), SheetError);
}

TEST_F(BadXlsx, PasswordProtectedWorkbooks) {
    // A workbook saved with a password is a compound file holding the
    // encrypted package, not a zip.
    const QString encrypted = path(QStringLiteral("password.xlsx"));
    {
        QFile f(encrypted);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        writeCompoundFile(f, QStringLiteral("EncryptedPackage"), QByteArray(8192, 'x'));
    }
    EXPECT_THROW(openWorkbook(encrypted), SheetError);

    // A zip whose entries are encrypted.
    int error = 0;
    const QString zipped = path(QStringLiteral("zipcrypto.xlsx"));
    test::writeZip(
        zipped, test::packageParts(
                    {{{"Лист1", test::sheetXml("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")}}}));
    zip_t* z = zip_open(QFile::encodeName(zipped).constData(), 0, &error);
    ASSERT_NE(z, nullptr);
    const zip_int64_t index = zip_name_locate(z, "xl/worksheets/sheet1.xml", 0);
    ASSERT_EQ(
        zip_file_set_encryption(z, static_cast<zip_uint64_t>(index), ZIP_EM_AES_256, "пароль"), 0)
        << "libzip cannot encrypt entries";
    ASSERT_EQ(zip_close(z), 0);
    EXPECT_THROW(readXlsx(zipped), SheetError);
}
