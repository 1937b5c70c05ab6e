#pragma once
// Helpers of the .xlsx tests: packages built part by part, zip entries read
// back raw, report-shaped workbooks and the independent reader (openpyxl).

#include "sheet/SheetModel.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zip.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace t5170::test {

inline QString fixture(const QString& name) {
    return QStringLiteral(T5170_FIXTURES_DIR "/") + name;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Parts in the order they go into the zip.
using Parts = std::vector<std::pair<std::string, std::string>>;

// A zip of `parts`, written to `path`.
inline void writeZip(const QString& path, const Parts& parts, int level = 6) {
    QFile::remove(path);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, data] : parts) {
        zip_source_t* src = zip_source_buffer(z, data.data(), data.size(), 0);
        ASSERT_NE(src, nullptr);
        const zip_int64_t index = zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                                 static_cast<zip_uint32_t>(level));
    }
    ASSERT_EQ(zip_close(z), 0);
}

struct ZipEntry {
    std::string name;
    QByteArray data; // inflated
    QByteArray raw;  // as stored
};

inline std::vector<ZipEntry> readZip(const QString& path) {
    std::vector<ZipEntry> out;
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!z)
        return out;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        ZipEntry e;
        e.name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
        for (const zip_flags_t flags : {zip_flags_t(0), zip_flags_t(ZIP_FL_COMPRESSED)}) {
            zip_stat_t st;
            zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
            zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), flags);
            QByteArray bytes;
            char buf[65536];
            zip_int64_t got = 0;
            while (f && (got = zip_fread(f, buf, sizeof buf)) > 0)
                bytes.append(buf, static_cast<qsizetype>(got));
            if (f)
                zip_fclose(f);
            (flags ? e.raw : e.data) = bytes;
        }
        out.push_back(std::move(e));
    }
    zip_discard(z);
    return out;
}

inline std::map<std::string, QByteArray> zipParts(const QString& path) {
    std::map<std::string, QByteArray> out;
    for (auto& e : readZip(path))
        out[e.name] = e.data;
    return out;
}

// A minimal package: the worksheets' XML (names "Лист1".. unless given),
// with optional shared strings, styles and workbook properties.
struct PackageContent {
    std::vector<std::pair<std::string, std::string>> sheets; // name, sheet XML
    std::string sharedStrings;                               // <sst> part, or empty
    std::string styles;                                      // <styleSheet> part, or empty
    std::string workbookPr;                                  // e.g. date1904="1"
};

inline std::string sheetXml(const std::string& sheetData, const std::string& before = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
           before + "<sheetData>" + sheetData + "</sheetData></worksheet>";
}

inline Parts packageParts(const PackageContent& content) {
    const std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    std::string rels = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::string sheets;
    Parts parts;
    for (std::size_t i = 0; i < content.sheets.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        types += "<Override PartName=\"/xl/worksheets/sheet" + n +
                 ".xml\" "
                 "ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + ns +
                "worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        sheets += "<sheet name=\"" + content.sheets[i].first + "\" sheetId=\"" + n +
                  "\" r:id=\"rId" + n + "\"/>";
        parts.emplace_back("xl/worksheets/sheet" + n + ".xml", content.sheets[i].second);
    }
    if (!content.sharedStrings.empty()) {
        types += "<Override PartName=\"/xl/sharedStrings.xml\" "
                 "ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
        rels += "<Relationship Id=\"rIdS\" Type=\"" + ns +
                "sharedStrings\" Target=\"sharedStrings.xml\"/>";
        parts.emplace_back("xl/sharedStrings.xml", content.sharedStrings);
    }
    if (!content.styles.empty()) {
        types += "<Override PartName=\"/xl/styles.xml\" "
                 "ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
        rels += "<Relationship Id=\"rIdT\" Type=\"" + ns + "styles\" Target=\"styles.xml\"/>";
        parts.emplace_back("xl/styles.xml", content.styles);
    }
    types += "</Types>";
    rels += "</Relationships>";
    const std::string workbook =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<workbookPr " +
        content.workbookPr + "/><sheets>" + sheets + "</sheets></workbook>";
    Parts all{
        {"[Content_Types].xml", types},
        {"_rels/.rels", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                        "<Relationship Id=\"rId2\" Type=\"" +
                            ns +
                            "extended-properties\" Target=\"docProps/app.xml\"/>"
                            "<Relationship Id=\"rId1\" Type=\"" +
                            ns +
                            "officeDocument\" Target=\"xl/workbook.xml\"/>"
                            "</Relationships>"},
        {"docProps/app.xml", "<Properties/>"},
        {"xl/workbook.xml", workbook},
        {"xl/_rels/workbook.xml.rels", rels}};
    all.insert(all.end(), parts.begin(), parts.end());
    return all;
}

// The path of the independent reader's script.
inline QString openpyxlDump() {
    return QStringLiteral(T5170_TEST_SUPPORT_DIR "/openpyxl_dump.py");
}

// Runs the openpyxl dump of `path`; the JSON it prints, or null on failure.
inline QJsonDocument dumpWithOpenpyxl(const QString& path, QString* error = nullptr) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {openpyxlDump(), path});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(p.readAllStandardError());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput());
}

} // namespace t5170::test
