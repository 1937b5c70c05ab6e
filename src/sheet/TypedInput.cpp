#include "sheet/TypedInput.h"

#include "sheet/Formats.h"

#include "core/Texts.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace t5170::sheet {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// 31.12.9999, the last day either system can hold (as a 1900 serial).
constexpr double kLastSerial1900 = 2958465.0;
constexpr double kDays1900To1904 = 1462.0; // 30.12.1899 .. 1.1.1904

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Reads 1..maxDigits decimal digits at `pos`.
std::optional<int> readDigits(const QString& s, qsizetype& pos, int minDigits, int maxDigits) {
    int value = 0;
    int count = 0;
    while (pos < s.size() && isDigit(s[pos]) && count < maxDigits) {
        value = value * 10 + (s[pos].unicode() - u'0');
        ++pos;
        ++count;
    }
    if (count < minDigits || (pos < s.size() && isDigit(s[pos])))
        return std::nullopt;
    return value;
}

bool expect(const QString& s, qsizetype& pos, QChar c) {
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

struct DayMonthYear {
    int day, month, year;
};

std::optional<DayMonthYear> parseDayMonthYear(const QString& s) {
    qsizetype pos = 0;
    auto d = readDigits(s, pos, 1, 2);
    if (!d || !expect(s, pos, u'.'))
        return std::nullopt;
    auto m = readDigits(s, pos, 1, 2);
    if (!m || !expect(s, pos, u'.'))
        return std::nullopt;
    auto y = readDigits(s, pos, 4, 4);
    if (!y || pos != s.size())
        return std::nullopt;
    return DayMonthYear{*d, *m, *y};
}

bool isTimeFormat(FormatKind k) {
    return k == FormatKind::Time || k == FormatKind::DateTime;
}
bool isDateFormat(FormatKind k) {
    return k == FormatKind::Date || k == FormatKind::DateTime;
}

QChar latinFormatLetter(QChar c) {
    switch (c.unicode()) {
    case u'Д':
        return u'D';
    case u'д':
        return u'd';
    case u'М':
        return u'M';
    case u'м':
        return u'm';
    case u'Г':
        return u'Y';
    case u'г':
        return u'y';
    case u'Ч':
        return u'H';
    case u'ч':
        return u'h';
    case u'С':
        return u'S';
    case u'с':
        return u's';
    default:
        return c;
    }
}

FormatInfo judgeFormat(const QString& code) {
    if (code.compare(u"General", Qt::CaseInsensitive) == 0)
        return {};
    bool date = false, time = false, month = false, digits = false, text = false, elapsed = false;
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = code[i];
        if (c == u'"') {
            const qsizetype close = code.indexOf(u'"', i + 1);
            i = close < 0 ? n : close;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i; // the next character is shown literally or as padding
        } else if (c == u';') {
            break; // the first section decides
        } else if (c == u'[') {
            const qsizetype close = code.indexOf(u']', i + 1);
            const QString inner = code.mid(i + 1, (close < 0 ? n : close) - i - 1).toLower();
            const bool allSame =
                !inner.isEmpty() && inner.count(inner.front()) == inner.size() &&
                (inner.front() == u'h' || inner.front() == u'm' || inner.front() == u's');
            if (allSame) {
                time = true;
                elapsed = elapsed || inner.front() == u'h';
            }
            i = close < 0 ? n : close;
        } else {
            switch (c.toLower().unicode()) {
            case u'd':
            case u'y':
                date = true;
                break;
            case u'h':
            case u's':
                time = true;
                break;
            case u'm':
                month = true;
                break;
            case u'a':
                if (code.mid(i, 5).compare(u"AM/PM", Qt::CaseInsensitive) == 0) {
                    time = true;
                    i += 4;
                } else if (code.mid(i, 3).compare(u"A/P", Qt::CaseInsensitive) == 0) {
                    time = true;
                    i += 2;
                }
                break;
            case u'0':
            case u'#':
            case u'?':
                digits = true;
                break;
            case u'@':
                text = true;
                break;
            default:
                break;
            }
        }
    }
    const bool hasDate = date || (month && !time);
    if (hasDate && time)
        return {FormatKind::DateTime, elapsed};
    if (hasDate)
        return {FormatKind::Date, false};
    if (time)
        return {FormatKind::Time, elapsed};
    if (text && !digits)
        return {FormatKind::Text, false};
    return {FormatKind::Number, false};
}

} // namespace

FormatInfo formatInfo(const QString& code) {
    if (code.isEmpty())
        return {};
    // A workbook uses a handful of codes, and every typed write and every
    // read of a number asks about one: the last few answers are kept.
    struct Known {
        QString code;
        FormatInfo info;
    };
    thread_local std::array<Known, 4> known;
    thread_local std::size_t next = 0;
    for (const Known& k : known)
        if (k.code == code)
            return k.info;
    const FormatInfo info = judgeFormat(code);
    known[next] = {code, info};
    next = (next + 1) % known.size();
    return info;
}

QString fileFormat(const QString& written) {
    const QString trimmed = written.trimmed();
    if (trimmed.compare(u"Основной", Qt::CaseInsensitive) == 0 ||
        trimmed.compare(u"General", Qt::CaseInsensitive) == 0)
        return {};
    QString out;
    out.reserve(written.size());
    const qsizetype n = written.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = written[i];
        if (c == u'"') {
            const qsizetype close = written.indexOf(u'"', i + 1);
            const qsizetype end = close < 0 ? n : close + 1;
            out += written.mid(i, end - i);
            i = end - 1;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            out += written.mid(i, 2);
            ++i;
        } else if (c == u'[') {
            // Elapsed hours, minutes or seconds are translated; colours and
            // locales are not.
            const qsizetype close = written.indexOf(u']', i + 1);
            const qsizetype end = close < 0 ? n : close + 1;
            QString part = written.mid(i, end - i);
            const QString inner = part.mid(1, part.size() - (close < 0 ? 1 : 2));
            bool elapsed = !inner.isEmpty();
            for (QChar x : inner)
                elapsed = elapsed && QStringView(u"ЧчМмСсHhMmSs").contains(x);
            if (elapsed)
                for (QChar& x : part)
                    x = latinFormatLetter(x);
            out += part;
            i = end - 1;
        } else {
            out += latinFormatLetter(c);
        }
    }
    return out;
}

std::optional<double> dateSerial(const QDate& date, bool date1904) {
    if (!date.isValid() || date > QDate(9999, 12, 31))
        return std::nullopt;
    if (date1904) {
        const qint64 days = epoch1904().daysTo(date);
        return days < 0 ? std::nullopt : std::optional<double>(double(days));
    }
    if (date < QDate(1900, 1, 1))
        return std::nullopt;
    qint64 days = automationEpoch().daysTo(date);
    if (date < QDate(1900, 3, 1))
        --days; // serial 60 is the fictitious 29.2.1900
    return double(days);
}

std::optional<double> dateSerial(int day, int month, int year, bool date1904) {
    if (!date1904 && day == 29 && month == 2 && year == 1900)
        return 60.0;
    return dateSerial(QDate(year, month, day), date1904);
}

double automationDate(double serial, bool date1904) {
    if (date1904)
        return serial + kDays1900To1904;
    if (serial >= 1.0 && serial < 60.0)
        return serial + 1.0; // before the fictitious day the two counts differ
    return serial;
}

std::optional<double> parseNumber(const QString& input) {
    const QString s = input.trimmed();
    qsizetype pos = 0;
    QByteArray c;
    c.reserve(s.size() + 1);
    if (pos < s.size() && (s[pos] == u'-' || s[pos] == u'+')) {
        if (s[pos] == u'-')
            c += '-';
        ++pos;
    }
    int digits = 0;
    while (pos < s.size() && isDigit(s[pos])) {
        c += char(s[pos].unicode());
        ++pos;
        ++digits;
    }
    if (pos < s.size() && s[pos] == u',') {
        c += '.';
        ++pos;
        while (pos < s.size() && isDigit(s[pos])) {
            c += char(s[pos].unicode());
            ++pos;
            ++digits;
        }
    }
    if (digits == 0 || pos != s.size())
        return std::nullopt;
    bool ok = false;
    const double v = c.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v == 0.0 ? 0.0 : v; // no negative zero
}

std::optional<double> parseTime(const QString& input) {
    const QString s = input.trimmed();
    qsizetype pos = 0;
    auto h = readDigits(s, pos, 1, 2);
    if (!h || !expect(s, pos, u':'))
        return std::nullopt;
    auto m = readDigits(s, pos, 1, 2);
    if (!m || !expect(s, pos, u':'))
        return std::nullopt;
    auto sec = readDigits(s, pos, 1, 2);
    if (!sec || pos != s.size() || *h > 23 || *m > 59 || *sec > 59)
        return std::nullopt;
    return (*h * 3600 + *m * 60 + *sec) / kSecondsPerDay;
}

void typeInto(Cell& cell, const QString& text, bool date1904) {
    if (text.isEmpty()) {
        cell.kind = Cell::Kind::Empty;
        cell.number = 0.0;
        cell.text.clear();
        return;
    }
    auto setNumber = [&cell](double v) {
        cell.kind = Cell::Kind::Number;
        cell.number = v;
        cell.text.clear();
    };
    const FormatInfo current = formatInfo(cell.format);
    if (current.kind != FormatKind::Text) {
        const QString t = text.trimmed();
        if (auto dmy = parseDayMonthYear(t)) {
            if (auto serial = dateSerial(dmy->day, dmy->month, dmy->year, date1904)) {
                setNumber(*serial);
                if (!isDateFormat(current.kind))
                    cell.format = kDateFormat;
                return;
            }
        } else if (auto time = parseTime(t)) {
            setNumber(*time);
            if (!isTimeFormat(current.kind))
                cell.format = kTimeFormat;
            return;
        } else if (auto number = parseNumber(t)) {
            setNumber(*number);
            return;
        }
    }
    cell.kind = Cell::Kind::Text;
    cell.number = 0.0;
    cell.text = text;
}

std::optional<QString> serialDateText(double serial, bool date1904) {
    if (!std::isfinite(serial) || serial < 0.0 || serial > kLastSerial1900 + 1.0)
        return std::nullopt;
    const auto seconds = std::llround(serial * kSecondsPerDay);
    const auto days = seconds / 86400;
    QDate date;
    if (date1904) {
        date = epoch1904().addDays(days);
    } else if (days == 0) {
        return std::nullopt; // 0.1.1900 is no date
    } else if (days == 60) {
        return QStringLiteral("29.02.1900");
    } else {
        // Before the fictitious 29.2.1900 the serials count one day more.
        date = automationEpoch().addDays(days < 60 ? days + 1 : days);
    }
    if (!date.isValid() || date > QDate(9999, 12, 31))
        return std::nullopt;
    return date.toString(u"dd.MM.yyyy");
}

std::optional<QString> serialTimeText(double serial, bool elapsedHours) {
    if (!std::isfinite(serial) || serial < 0.0 || serial > kLastSerial1900 + 1.0)
        return std::nullopt;
    auto seconds = std::llround(serial * kSecondsPerDay);
    if (!elapsedHours)
        seconds %= 86400;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return QString::fromLatin1(buf);
}

namespace {

// How a number shows in a cell of the display format `code`.
QString numberText(double number, const QString& code, bool date1904) {
    const FormatInfo info = formatInfo(code);
    std::optional<QString> shown;
    switch (info.kind) {
    case FormatKind::Date:
        shown = serialDateText(number, date1904);
        break;
    case FormatKind::Time:
        shown = serialTimeText(number, info.elapsedHours);
        break;
    case FormatKind::DateTime:
        if (auto d = serialDateText(number, date1904))
            shown = *d + u' ' + *serialTimeText(number, false);
        break;
    default:
        break;
    }
    return shown ? *shown : text::general(number);
}

} // namespace

QString cellText(const Cell& cell, bool date1904) {
    switch (cell.kind) {
    case Cell::Kind::Empty:
        return {};
    case Cell::Kind::Text:
        return cell.text;
    case Cell::Kind::Number:
        break;
    }
    return numberText(cell.number, cell.format, date1904);
}

QString cellText(const Sheet& sheet, int row, int col, bool date1904) {
    switch (sheet.kind(row, col)) {
    case Cell::Kind::Empty:
        return {};
    case Cell::Kind::Text:
        return sheet.text(row, col);
    case Cell::Kind::Number:
        break;
    }
    return numberText(sheet.number(row, col), sheet.format(row, col), date1904);
}

double cellNumber(const Cell& cell, bool date1904) {
    switch (cell.kind) {
    case Cell::Kind::Empty:
        return 0.0;
    case Cell::Kind::Number: {
        const FormatKind k = formatInfo(cell.format).kind;
        return isDateFormat(k) ? automationDate(cell.number, date1904) : cell.number;
    }
    case Cell::Kind::Text:
        break;
    }
    if (auto v = parseNumber(cell.text))
        return *v;
    throw SheetError(
        QStringLiteral("Значение «%1» не является числом").arg(cell.text.left(64)).toStdString());
}

} // namespace t5170::sheet
