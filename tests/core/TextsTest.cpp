// Texts the operator sees: numbers, ranges of a resistance, labels.

#include "core/Texts.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace t5170;

namespace {

// Switches the default locale for one test and puts it back.
class DefaultLocale {
public:
    explicit DefaultLocale(const QLocale& l) { QLocale::setDefault(l); }
    ~DefaultLocale() { QLocale::setDefault(saved_); }
    DefaultLocale(const DefaultLocale&) = delete;
    DefaultLocale& operator=(const DefaultLocale&) = delete;

private:
    QLocale saved_;
};

} // namespace

TEST(Texts, GeneralTextIsPlainDecimalWithComma) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {1501 * 0.001, "1,501"}, // nearest double lies below 1.501
        {1.501, "1,501"},
        {2.0, "2"},
        {1.5, "1,5"},
        {0.1 + 0.2, "0,3"},
        {1.0 / 3.0, "0,333333333333333"},
        {2.0 / 3.0, "0,666666666666667"},
        {65535 * 0.001, "65,535"},
        {999999 * 0.001, "999,999"},
        {123456789 * 0.000001, "123,456789"},
        {2147483647 * 0.000001, "2147,483647"},
        {1234567.891, "1234567,891"}, // no group separator
        {1e15, "1000000000000000"},
        {1e20, "100000000000000000000"},
        {123456789012345678.0, "123456789012346000"}, // 15 significant digits
        {9.9999999999999999, "10"},
        {0.001, "0,001"},
        {1e-5, "0,00001"}, // never an exponent
        {1.25e-10, "0,000000000125"},
        {-2.5, "-2,5"},
        {-1000.0, "-1000"},
        {0.0, "0"},
        {-0.0, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::general(c.value), QString::fromUtf8(c.text)) << c.value;
}

TEST(Texts, RussianWhateverTheDefaultLocale) {
    const DefaultLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(text::general(1.5), QStringLiteral("1,5"));
    EXPECT_EQ(text::general(12345.5), QStringLiteral("12345,5"));
    EXPECT_EQ(resistanceLabel(rangeResistance(1500)), QStringLiteral(" R = 1,50 МОм"));
    EXPECT_EQ(text::locale().decimalPoint(), QStringLiteral(","));
}

TEST(Texts, FourCharacterText) {
    EXPECT_EQ(text::fourChar(1.001), QStringLiteral("1,00"));
    EXPECT_EQ(text::fourChar(999.999), QStringLiteral("999,"));
    EXPECT_EQ(text::fourChar(2.5), QStringLiteral("2,5")); // shorter: used whole
    EXPECT_EQ(text::fourChar(1.0), QStringLiteral("1"));
    EXPECT_EQ(text::fourChar(2147.483647), QStringLiteral("2147"));
}

TEST(Texts, ResistanceRangesAndLabels) {
    struct Case {
        std::int32_t received;
        std::int32_t stored;
        std::uint8_t unit;
        double value;
        const char* r;
        const char* r2;
    };
    const Case cases[] = {
        {0, 0, unitKOm, 0.0, "R = 0 КОм", "R2 = 0 КОм"},
        {999, 999, unitKOm, 999.0, "R = 999 КОм", "R2 = 999 КОм"},
        {-1, -1, unitKOm, -1.0, "R = -1 КОм", "R2 = -1 КОм"},
        {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min(),
         unitKOm, -2147483648.0, "R = -2147483648 КОм", "R2 = -2147483648 КОм"},
        {1000, 1001, unitMOm, 1.001, " R = 1,00 МОм", "R2 = 1,00 МОм"},
        {1001, 1001, unitMOm, 1.001, " R = 1,00 МОм", "R2 = 1,00 МОм"},
        {1234, 1234, unitMOm, 1.234, " R = 1,23 МОм", "R2 = 1,23 МОм"},
        {1500, 1501, unitMOm, 1.501, " R = 1,50 МОм", "R2 = 1,50 МОм"},
        {999990, 999991, unitMOm, 999.991, " R = 999, МОм", "R2 = 999, МОм"},
        {999999, 999999, unitMOm, 999.999, " R = 999, МОм", "R2 = 999, МОм"},
        {1000000, 1000000, unitGOm, 1.0, "R = 1 ГОм", "R2 = 1 ГОм"},
        {1000010, 1000010, unitGOm, 1.00001, "R = 1,00 ГОм", "R2 = 1,00 ГОм"},
        {2500000, 2500000, unitGOm, 2.5, "R = 2,5 ГОм", "R2 = 2,5 ГОм"},
        {123456789, 123456789, unitGOm, 123.456789, "R = 123, ГОм", "R2 = 123, ГОм"},
        {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
         unitGOm, 2147.483647, "R = 2147 ГОм", "R2 = 2147 ГОм"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.received);
        const RangedResistance r = rangeResistance(c.received);
        EXPECT_EQ(r.kOm, c.stored);
        EXPECT_EQ(r.unit, c.unit);
        EXPECT_DOUBLE_EQ(r.value, c.value);
        EXPECT_EQ(resistanceLabel(r), QString::fromUtf8(c.r));
        EXPECT_EQ(resistance2Label(r), QString::fromUtf8(c.r2));
    }
}

TEST(Texts, MegaOhmAdjustmentKeepsEveryValueInItsRange) {
    for (std::int32_t k = 1000; k < 1000000; k += 10) {
        const RangedResistance r = rangeResistance(k);
        ASSERT_EQ(r.unit, unitMOm) << k;
        ASSERT_EQ(r.kOm, k + 1) << k;
        // Three significant digits: "d,dd", "dd,d" or "ddd,".
        const QString four = text::fourChar(r.value);
        ASSERT_EQ(four.size(), 4) << k;
        ASSERT_TRUE(four.contains(QLatin1Char(','))) << k;
    }
}

TEST(Texts, VoltageAndCoefficientLabels) {
    EXPECT_EQ(voltageLabel(1000), QStringLiteral("U = 1000 Вольт"));
    EXPECT_EQ(voltageLabel(85), QStringLiteral("U = 85 Вольт"));
    EXPECT_EQ(voltageLabel(65535), QStringLiteral("U = 65535 Вольт"));
    struct Case {
        std::int32_t thousandths;
        const char* text;
    };
    const Case cases[] = {{1000, "K = 1"},      {1500, "K = 1,5"}, {65535, "K = 65,535"},
                          {1, "K = 0,001"},     {0, "K = 0"},      {1234, "K = 1,234"},
                          {12345, "K = 12,345"}}; // not cut to four characters
    for (const auto& c : cases)
        EXPECT_EQ(koefLabel(c.thousandths), QString::fromUtf8(c.text)) << c.thousandths;
}

TEST(Texts, KindsAndUnits) {
    struct Case {
        TIzmType kind;
        const char* caption;
        const char* status;
    };
    const Case cases[] = {
        {izmU, "Измерение напряжения", "Идет измерение напряжения"},
        {izmR, "Измерение сопротивления", "Идет измерение сопротивления"},
        {izmAbs, "Измерение Абсорбции", "Идет измерение Абсорбции"},
        {izmPol, "Измерение поляризации", "Идет измерение поляризации"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::kindCaption(c.kind), QString::fromUtf8(c.caption));
        EXPECT_EQ(text::measuringStatus(c.kind), QString::fromUtf8(c.status));
    }
    EXPECT_EQ(text::unitName(unitKOm), QStringLiteral("КОм"));
    EXPECT_EQ(text::unitName(unitMOm), QStringLiteral("МОм"));
    EXPECT_EQ(text::unitName(unitGOm), QStringLiteral("ГОм"));
}

TEST(Texts, DatesAndTimesWithoutLeadingZeros) {
    EXPECT_EQ(text::dateNoZeros(QDate(2026, 12, 8)), QStringLiteral("8.12.2026"));
    EXPECT_EQ(text::dateNoZeros(QDate(2026, 3, 1)), QStringLiteral("1.3.2026"));
    EXPECT_EQ(text::timeNoZeros(QTime(9, 5, 3)), QStringLiteral("9:5:3"));
    EXPECT_EQ(text::timeNoZeros(QTime(0, 0, 0)), QStringLiteral("0:0:0"));
    EXPECT_EQ(text::timeNoZeros(QTime(23, 59, 59, 999)), QStringLiteral("23:59:59"));
    EXPECT_EQ(text::decimal(-2147483648LL), QStringLiteral("-2147483648"));
}

TEST(Texts, SerialLetterFromWindows1251) {
    EXPECT_EQ(text::fromCp1251(0x41), QChar(u'A'));
    EXPECT_EQ(text::fromCp1251(0xC0), QChar(u'А'));
    EXPECT_EQ(text::fromCp1251(0xFF), QChar(u'я'));
    EXPECT_EQ(text::fromCp1251(0xA8), QChar(u'Ё'));
    EXPECT_EQ(text::fromCp1251(0xB8), QChar(u'ё'));
    EXPECT_EQ(text::fromCp1251(0xB9), QChar(u'№'));
    // The whole code page against Qt's own converter, where Qt has one.
    QStringDecoder cp1251("windows-1251");
    // Debian's Qt converts through ICU, which knows the code page.
    ASSERT_TRUE(cp1251.isValid()) << "Qt has no Windows-1251 converter";
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98) // no character in the code page
            continue;
        const char c = static_cast<char>(b);
        const QString qt = cp1251.decode(QByteArrayView(&c, 1));
        ASSERT_EQ(qt.size(), 1) << b;
        EXPECT_EQ(text::fromCp1251(static_cast<std::uint8_t>(b)), qt.at(0)) << b;
    }
}
