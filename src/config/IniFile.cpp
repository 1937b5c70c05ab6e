#include "config/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <limits>

namespace t5170 {

namespace {

// One line of the file with its own line terminator (empty on a last line
// without one), so untouched lines are written back exactly as they were.
struct Line {
    QByteArray text;
    QByteArray eol;
};

std::vector<Line> splitLines(const QByteArray& content) {
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype nl = content.indexOf('\n', start);
        if (nl < 0) {
            lines.push_back({content.mid(start), {}});
            break;
        }
        qsizetype end = nl;
        if (end > start && content[end - 1] == '\r')
            --end;
        lines.push_back({content.mid(start, end - start), content.mid(end, nl + 1 - end)});
        start = nl + 1;
    }
    return lines;
}

// The line terminator the file already uses; a new file gets the platform's.
QByteArray fileEol(const std::vector<Line>& lines) {
    for (const Line& l : lines)
        if (!l.eol.isEmpty())
            return l.eol;
    return QByteArrayLiteral("\n");
}

QByteArray joinLines(const std::vector<Line>& lines) {
    QByteArray out;
    for (const Line& l : lines)
        out += l.text + l.eol;
    return out;
}

QByteArray parsedText(const std::vector<Line>& lines, std::size_t i) {
    QByteArray t = lines[i].text;
    if (i == 0 && t.startsWith("\xEF\xBB\xBF"))
        t.remove(0, 3);
    return t.trimmed();
}

bool sameName(const QByteArray& name, QStringView wanted) {
    return QString::fromUtf8(name).compare(wanted, Qt::CaseInsensitive) == 0;
}

// "[Name]" -> Name; nullopt for any other line.
std::optional<QByteArray> sectionName(const QByteArray& trimmed) {
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimmed.mid(1, close - 1).trimmed();
}

struct KeyLine {
    QByteArray key;
    QByteArray value;
};

std::optional<KeyLine> keyLine(const QByteArray& trimmed) {
    if (trimmed.isEmpty() || trimmed.startsWith(';'))
        return std::nullopt;
    const qsizetype eq = trimmed.indexOf('=');
    if (eq <= 0)
        return std::nullopt;
    KeyLine k{trimmed.left(eq).trimmed(), trimmed.mid(eq + 1).trimmed()};
    if (k.key.isEmpty())
        return std::nullopt;
    const QByteArray& v = k.value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        k.value = v.mid(1, v.size() - 2);
    return k;
}

// Where a section starts and ends: [header, end) with end the index of the
// next section line or the number of lines.
struct SectionSpan {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionSpan> findSection(const std::vector<Line>& lines, QStringView section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(parsedText(lines, i));
        if (!name || !sameName(*name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionName(parsedText(lines, end)))
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

QByteArray readAll(const QString& path, bool* ok) {
    QFile f(path);
    if (!f.exists()) {
        *ok = true;
        return {};
    }
    if (!f.open(QIODevice::ReadOnly)) {
        *ok = false;
        return {};
    }
    *ok = true;
    return f.readAll();
}

} // namespace

namespace ini {

std::optional<QString> lookup(const QByteArray& content, QStringView section, QStringView key) {
    const std::vector<Line> lines = splitLines(content);
    const auto span = findSection(lines, section);
    if (!span)
        return std::nullopt;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto k = keyLine(parsedText(lines, i));
        if (k && sameName(k->key, key))
            return QString::fromUtf8(k->value);
    }
    return std::nullopt;
}

QByteArray withKey(const QByteArray& content, QStringView section, QStringView key,
                   const QString& value) {
    std::vector<Line> lines = splitLines(content);
    const QByteArray eol = fileEol(lines);
    const QByteArray newLine = key.toUtf8() + '=' + value.toUtf8();

    if (const auto span = findSection(lines, section)) {
        for (std::size_t i = span->header + 1; i < span->end; ++i) {
            const auto k = keyLine(parsedText(lines, i));
            if (k && sameName(k->key, key)) {
                lines[i].text = newLine;
                if (lines[i].eol.isEmpty())
                    lines[i].eol = eol;
                return joinLines(lines);
            }
        }
        // Behind the section's last non-blank line, so blank lines that
        // separate it from the next section stay where they are.
        std::size_t at = span->end;
        while (at > span->header + 1 && parsedText(lines, at - 1).isEmpty())
            --at;
        if (lines[at - 1].eol.isEmpty())
            lines[at - 1].eol = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{newLine, eol});
    } else {
        if (!lines.empty()) {
            if (lines.back().eol.isEmpty())
                lines.back().eol = eol;
            if (!parsedText(lines, lines.size() - 1).isEmpty())
                lines.push_back({{}, eol});
        }
        lines.push_back({'[' + section.toUtf8() + ']', eol});
        lines.push_back({newLine, eol});
    }
    return joinLines(lines);
}

} // namespace ini

std::optional<QString> IniFile::readValue(QStringView section, QStringView key) const {
    bool ok = false;
    const QByteArray content = readAll(path_, &ok);
    if (!ok)
        return std::nullopt;
    return ini::lookup(content, section, key);
}

QString IniFile::readString(QStringView section, QStringView key, const QString& def) const {
    return readValue(section, key).value_or(def);
}

std::optional<int> IniFile::parseInt(QStringView text) {
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    const bool negative = text[0] == QLatin1Char('-');
    if (text[0] == QLatin1Char('+') || negative)
        i = 1;
    if (i == text.size())
        return std::nullopt;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        v = v * 10 + (c.unicode() - '0');
        if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(v);
}

int IniFile::readInt(QStringView section, QStringView key, int def) const {
    const auto value = readValue(section, key);
    if (!value)
        return def;
    return parseInt(*value).value_or(def);
}

bool IniFile::readBool(QStringView section, QStringView key, bool def) const {
    return readInt(section, key, def ? 1 : 0) != 0;
}

bool IniFile::writeString(QStringView section, QStringView key, const QString& value) {
    return writeKeys(section, {{key.toString(), value}});
}

bool IniFile::writeInt(QStringView section, QStringView key, int value) {
    return writeString(section, key, QString::number(value));
}

bool IniFile::writeBool(QStringView section, QStringView key, bool value) {
    return writeString(section, key, boolText(value));
}

bool IniFile::writeKeys(QStringView section, const Entries& entries) {
    bool ok = false;
    QByteArray content = readAll(path_, &ok);
    if (!ok)
        return false; // rewriting a file we cannot read would lose its content
    for (const auto& [key, value] : entries)
        content = ini::withKey(content, section, key, value);
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(content) != content.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace t5170
