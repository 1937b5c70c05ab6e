// Telling file formats apart, and atomic saves.

#include "sheet/WorkbookFile.h"
#include "EngineTestUtil.h"
#include "sheet/xls/XlsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace t5170::sheet;

namespace {

Workbook oneCell(const QString& value, int rows = 1) {
    Workbook b;
    b.sheets.resize(1);
    b.sheets[0].name = QStringLiteral("Лист1");
    for (int r = 0; r < rows; ++r)
        b.sheets[0].set(r, 0, text(value));
    return b;
}

class WorkbookFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QStringList entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QString firstText(const QString& file) {
        return openWorkbook(file).sheets.at(0).find(0, 0).value().text;
    }
};

TEST_F(WorkbookFile, FormatFollowsTheContentOnOpen) {
    writeXls(oneCell(QStringLiteral("xls")), path("report.xlsx")); // a misleading name
    EXPECT_EQ(detectFormat(path("report.xlsx")), FileFormat::Xls);
    EXPECT_EQ(firstText(path("report.xlsx")), QStringLiteral("xls"));

    writeBytes(path("zip.xls"), QByteArray("PK\x03\x04", 4) + QByteArray(100, 'x'));
    EXPECT_EQ(detectFormat(path("zip.xls")), FileFormat::Xlsx);

    const std::pair<const char*, QByteArray> refused[] = {
        {"text.xls", QByteArray("Дата;Время\n1.3.2026;9:05:07\n")},
        {"empty.xls", QByteArray()},
        {"short.xls", QByteArray("\xD0\xCF\x11", 3)},
        {"pdf.xls", QByteArray("%PDF-1.4\n")},
    };
    for (const auto& [name, bytes] : refused) {
        writeBytes(path(name), bytes);
        EXPECT_THROW(detectFormat(path(name)), SheetError) << name;
        EXPECT_THROW(openWorkbook(path(name)), SheetError) << name;
    }
    EXPECT_THROW(openWorkbook(path("missing.xls")), SheetError);
    EXPECT_THROW(openWorkbook(dir.path()), SheetError);
}

quint32 crc32(const QByteArray& data) {
    quint32 crc = 0xFFFFFFFF;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A valid zip archive holding one stored (uncompressed) file.
QByteArray storedZip(const QByteArray& name, const QByteArray& data) {
    auto le = [](QByteArray& out, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    const quint32 crc = crc32(data);
    QByteArray zip;
    le(zip, 0x04034b50, 4);
    for (quint32 v : {20u, 0u, 0u, 0u, 0u})
        le(zip, v, 2);
    le(zip, crc, 4);
    le(zip, quint32(data.size()), 4);
    le(zip, quint32(data.size()), 4);
    le(zip, quint32(name.size()), 2);
    le(zip, 0, 2);
    zip += name + data;
    const quint32 central = quint32(zip.size());
    le(zip, 0x02014b50, 4);
    for (quint32 v : {20u, 20u, 0u, 0u, 0u, 0u})
        le(zip, v, 2);
    le(zip, crc, 4);
    le(zip, quint32(data.size()), 4);
    le(zip, quint32(data.size()), 4);
    le(zip, quint32(name.size()), 2);
    for (int i = 0; i < 4; ++i)
        le(zip, 0, 2);
    le(zip, 0, 4);
    le(zip, 0, 4);
    zip += name;
    const quint32 centralSize = quint32(zip.size()) - central;
    le(zip, 0x06054b50, 4);
    for (quint32 v : {0u, 0u, 1u, 1u})
        le(zip, v, 2);
    le(zip, centralSize, 4);
    le(zip, central, 4);
    le(zip, 0, 2);
    return zip;
}

TEST_F(WorkbookFile, ZipThatIsNoWorkbookIsRefused) {
    // "PK" leads to the .xlsx reader, which must refuse an archive of notes.
    writeBytes(path("notes.xlsx"), storedZip("notes.txt", "Замеры цеха 1\n"));
    EXPECT_EQ(detectFormat(path("notes.xlsx")), FileFormat::Xlsx);
    EXPECT_THROW(openWorkbook(path("notes.xlsx")), SheetError);
}

TEST_F(WorkbookFile, FormatFollowsTheNameOnSave) {
    const std::pair<const char*, FileFormat> cases[] = {
        {"r.xlsx", FileFormat::Xlsx},   {"R.XLSX", FileFormat::Xlsx},
        {"r.XlSx", FileFormat::Xlsx},   {"r.xls", FileFormat::Xls},
        {"r", FileFormat::Xls},         {"r.xlsx.bak", FileFormat::Xls},
        {"отчёт.xls", FileFormat::Xls}, {"/tmp/a.xlsx/b", FileFormat::Xls},
    };
    for (const auto& [name, format] : cases)
        EXPECT_EQ(formatForName(QString::fromUtf8(name)), format) << name;

    saveWorkbook(oneCell(QStringLiteral("без расширения")), path("report"));
    EXPECT_EQ(detectFormat(path("report")), FileFormat::Xls);
    EXPECT_EQ(firstText(path("report")), QStringLiteral("без расширения"));
}

TEST_F(WorkbookFile, SaveReplacesTheFileAndLeavesNothingBehind) {
    saveWorkbook(oneCell(QStringLiteral("первый")), path("r.xls"));
    saveWorkbook(oneCell(QStringLiteral("второй")), path("r.xls"));
    EXPECT_EQ(firstText(path("r.xls")), QStringLiteral("второй"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("r.xls")});
}

TEST_F(WorkbookFile, FailedSaveKeepsThePreviousFile) {
    saveWorkbook(oneCell(QStringLiteral("сохранено")), path("r.xls"));
    const QByteArray before = readAll(path("r.xls"));

    // The format's limit, found while writing.
    EXPECT_THROW(saveWorkbook(oneCell(QStringLiteral("x"), kXlsMaxRows + 1), path("r.xls")),
                 SheetError);
    // A writer that dies half-way, after writing part of the file.
    EXPECT_THROW(writeAtomically(path("r.xls"),
                                 [](const QString& temp) {
                                     QFile f(temp);
                                     ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                                     f.write("partial");
                                     f.close();
                                     throw std::runtime_error("disk full");
                                 }),
                 SheetError);
    EXPECT_EQ(readAll(path("r.xls")), before);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("r.xls")});
    EXPECT_EQ(firstText(path("r.xls")), QStringLiteral("сохранено"));
}

TEST_F(WorkbookFile, UnwritableTargetsFailCleanly) {
    // A folder where the file should be: the rename cannot replace it.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("r.xls")));
    EXPECT_THROW(saveWorkbook(oneCell(QStringLiteral("x")), path("r.xls")), SheetError);
    EXPECT_TRUE(QFileInfo(path("r.xls")).isDir());
    EXPECT_EQ(entries(), QStringList{QStringLiteral("r.xls")});

    EXPECT_THROW(saveWorkbook(oneCell(QStringLiteral("x")), path("нет/r.xls")), SheetError);
    EXPECT_THROW(saveWorkbook(oneCell(QStringLiteral("x")), QString()), SheetError);
}

TEST_F(WorkbookFile, SaveKeepsPermissionsAndFollowsLinks) {
    saveWorkbook(oneCell(QStringLiteral("1")), path("r.xls"));
    ASSERT_EQ(::chmod(QFile::encodeName(path("r.xls")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(path("r.xls"), path("link.xls")));
    saveWorkbook(oneCell(QStringLiteral("2")), path("link.xls"));
    EXPECT_TRUE(QFileInfo(path("link.xls")).isSymLink());
    EXPECT_EQ(firstText(path("r.xls")), QStringLiteral("2"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path("r.xls")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
