#include "core/Texts.h"

#include <array>
#include <cmath>

namespace t5170::text {

const QLocale& locale() {
    static const QLocale ru(QLocale::Russian, QLocale::Russia);
    return ru;
}

QString decimal(long long value) {
    return QString::number(value);
}

QString general(double value) {
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0.0)
        return QStringLiteral("0"); // also -0.0
    // Round to 15 significant digits in scientific form (correctly rounded,
    // carries included), then lay the digits out in plain decimal ourselves:
    // Qt's own 'g' switches to exponents and groups thousands.
    const QString sci = QString::number(std::fabs(value), 'e', 14); // d.dddddddddddddde±XX
    const qsizetype ePos = sci.indexOf(QLatin1Char('e'));
    QString digits = sci.left(ePos);
    digits.remove(1, 1); // the point after the first digit
    const int exponent = sci.mid(ePos + 1).toInt();
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);

    QString intPart;
    QString fraction;
    if (exponent >= 0) {
        const qsizetype intLen = exponent + 1;
        if (digits.size() <= intLen) {
            intPart = digits + QString(intLen - digits.size(), QLatin1Char('0'));
        } else {
            intPart = digits.left(intLen);
            fraction = digits.mid(intLen);
        }
    } else {
        intPart = QStringLiteral("0");
        fraction = QString(-exponent - 1, QLatin1Char('0')) + digits;
    }
    QString result;
    if (value < 0)
        result += QLatin1Char('-');
    result += intPart;
    if (!fraction.isEmpty())
        result += locale().decimalPoint() + fraction;
    return result;
}

QString fourChar(double value) {
    return general(value).left(4);
}

QString dateNoZeros(const QDate& date) {
    return QStringLiteral("%1.%2.%3").arg(date.day()).arg(date.month()).arg(date.year());
}

QString timeNoZeros(const QTime& time) {
    return QStringLiteral("%1:%2:%3").arg(time.hour()).arg(time.minute()).arg(time.second());
}

QString unitName(std::uint8_t unit) {
    switch (unit) {
    case unitKOm:
        return QStringLiteral("КОм");
    case unitMOm:
        return QStringLiteral("МОм");
    case unitGOm:
        return QStringLiteral("ГОм");
    default:
        return {};
    }
}

QString kindCaption(TIzmType kind) {
    switch (kind) {
    case izmU:
        return QStringLiteral("Измерение напряжения");
    case izmR:
        return QStringLiteral("Измерение сопротивления");
    case izmAbs:
        return QStringLiteral("Измерение Абсорбции");
    case izmPol:
        return QStringLiteral("Измерение поляризации");
    }
    return {};
}

QString measuringStatus(TIzmType kind) {
    switch (kind) {
    case izmU:
        return QStringLiteral("Идет измерение напряжения");
    case izmR:
        return QStringLiteral("Идет измерение сопротивления");
    case izmAbs:
        return QStringLiteral("Идет измерение Абсорбции");
    case izmPol:
        return QStringLiteral("Идет измерение поляризации");
    }
    return {};
}

QChar fromCp1251(std::uint8_t byte) {
    // Upper half of Windows-1251; 0x98 has no character and maps to U+0098 as
    // Windows itself does.
    static constexpr std::array<char16_t, 64> upper = {
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
        0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
        0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
        0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
        0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
        0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
        0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
        0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    };
    if (byte < 0x80)
        return QChar(byte);
    if (byte >= 0xC0) // А..я in order
        return QChar(static_cast<char16_t>(0x0410 + (byte - 0xC0)));
    return QChar(upper[byte - 0x80]);
}

} // namespace t5170::text

namespace t5170 {

RangedResistance rangeResistance(std::int32_t kOm) {
    RangedResistance r;
    if (kOm < 1000) {
        r.kOm = kOm;
        r.value = kOm;
        r.unit = unitKOm;
    } else if (kOm < 1000000) {
        // A multiple of 10 would lose its third significant digit in the
        // four-character text (1500 -> "1,5"); one kilo-ohm more keeps it
        // ("1,50") and never leaves the range (999990 -> 999991).
        r.kOm = (kOm % 10 == 0) ? kOm + 1 : kOm;
        r.value = r.kOm * 0.001;
        r.unit = unitMOm;
    } else {
        r.kOm = kOm;
        r.value = kOm * 0.000001;
        r.unit = unitGOm;
    }
    return r;
}

namespace {

QString rangedText(const QString& name, const RangedResistance& r, bool blankBeforeMOm) {
    switch (r.unit) {
    case unitMOm:
        return (blankBeforeMOm ? QStringLiteral(" ") : QString()) + name + QStringLiteral(" = ") +
               text::fourChar(r.value) + QStringLiteral(" МОм");
    case unitGOm:
        return name + QStringLiteral(" = ") + text::fourChar(r.value) + QStringLiteral(" ГОм");
    default:
        return name + QStringLiteral(" = ") + text::decimal(r.kOm) + QStringLiteral(" КОм");
    }
}

} // namespace

QString voltageLabel(std::int32_t volts) {
    return QStringLiteral("U = ") + text::decimal(volts) + QStringLiteral(" Вольт");
}

QString resistanceLabel(const RangedResistance& r) {
    return rangedText(QStringLiteral("R"), r, true);
}

QString resistance2Label(const RangedResistance& r) {
    return rangedText(QStringLiteral("R2"), r, false);
}

QString koefLabel(std::int32_t thousandths) {
    return QStringLiteral("K = ") + text::general(thousandths * 0.001);
}

} // namespace t5170
