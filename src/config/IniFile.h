#pragma once
// A private-profile INI file: "[Section]" lines followed by "key=value" lines.
// Section and key names are ASCII and compared without regard to case. Every
// access opens the file afresh; nothing is cached between calls. A write
// replaces the key's line in place, or appends the key to its section, or
// appends the section to the end of the file; every other line (unknown keys,
// comments, blank lines) is kept byte for byte. Writes go to a temporary file
// in the same folder that is then renamed over the target, so a crash never
// leaves a half-written file.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>
#include <vector>

namespace t5170 {

class IniFile {
public:
    explicit IniFile(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }

    // The key's value with surrounding blanks (and one pair of matching
    // quotes) removed; nullopt when the file, the section or the key is
    // missing. The first matching section and key count.
    std::optional<QString> readValue(QStringView section, QStringView key) const;

    QString readString(QStringView section, QStringView key, const QString& def) const;
    // A value that is not a whole decimal number fitting 32 bits reads as def.
    int readInt(QStringView section, QStringView key, int def) const;
    // Read as a whole number: 0 is false, any other number true; a value that
    // is not a number reads as def.
    bool readBool(QStringView section, QStringView key, bool def) const;

    // Writes one key. Returns false when the file could not be read back or
    // written; the file on disk is then unchanged.
    bool writeString(QStringView section, QStringView key, const QString& value);
    bool writeInt(QStringView section, QStringView key, int value);
    // Written as "1" or "0".
    bool writeBool(QStringView section, QStringView key, bool value);

    // Several keys of one section in the given order, as one file change.
    using Entries = std::vector<std::pair<QString, QString>>;
    bool writeKeys(QStringView section, const Entries& entries);

    static QString boolText(bool value) {
        return value ? QStringLiteral("1") : QStringLiteral("0");
    }
    // Whole decimal number with an optional sign, fitting 32 bits.
    static std::optional<int> parseInt(QStringView text);

private:
    QString path_;
};

// The pure text operations behind IniFile, for the file's content in memory.
namespace ini {
std::optional<QString> lookup(const QByteArray& content, QStringView section, QStringView key);
QByteArray withKey(const QByteArray& content, QStringView section, QStringView key,
                   const QString& value);
} // namespace ini

} // namespace t5170
