// The report's own texts and date numbers: unit texts, file names shown in
// the window, day-count date-times and the short date and long time texts.

#include "report/ReportLayout.h"

#include <gtest/gtest.h>

using namespace t5170;
using namespace t5170::report;

TEST(ReportLayout, SheetsByPositionWithTheirColumns) {
    const struct {
        TIzmType kind;
        int position;
        const char* name;
        std::size_t columns;
        const char* last;
    } cases[] = {
        {izmR, 1, "Измерение сопротивления", 5, "Размерность"},
        {izmAbs, 2, "Измерение Абсорбции", 8, "Коэффициент"},
        {izmPol, 3, "Измерение Поляризации", 8, "Коэффициент"},
        {izmU, 4, "Измерение напряжения", 3, "Напряжение"},
    };
    for (const auto& c : cases) {
        const SheetSpec& s = sheetSpec(c.kind);
        EXPECT_EQ(s.position, c.position);
        EXPECT_STREQ(s.name, c.name);
        ASSERT_EQ(s.columns.size(), c.columns);
        EXPECT_STREQ(s.columns.back().heading, c.last);
    }
}

TEST(ReportLayout, UnitTexts) {
    EXPECT_EQ(UnitText(0), QStringLiteral("КОм"));
    EXPECT_EQ(UnitText(1), QStringLiteral("МОм"));
    EXPECT_EQ(UnitText(2), QStringLiteral("ГОм"));
    EXPECT_EQ(UnitText(3), QStringLiteral("Error"));
    EXPECT_EQ(UnitText(255), QStringLiteral("Error"));
}

TEST(ReportLayout, FileNameIsWhatFollowsTheLastSeparator) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"C:\\Отчеты\\цех1.xls", "цех1.xls"},
        {"/home/op/Отчеты/цех1.xlsx", "цех1.xlsx"},
        {"/home/op\\mixed/a.xls", "a.xls"},
        {"отчет.xls", "отчет.xls"},
        {"C:\\", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileNameOf(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
}

TEST(ReportLayout, DaySerialsRoundTrip) {
    EXPECT_EQ(dateSerial(QDate(1899, 12, 30)), 0.0);
    EXPECT_EQ(dateSerial(QDate(1900, 3, 1)), 61.0);
    EXPECT_EQ(dateSerial(QDate(2026, 3, 2)), 46083.0);

    // 11:00:00 is no exact binary fraction; the nearest second is taken.
    const double t = 46083.0 + (11.0 * 3600.0) / 86400.0;
    ASSERT_TRUE(fromSerial(t));
    EXPECT_EQ(*fromSerial(t), QDateTime(QDate(2026, 3, 2), QTime(11, 0, 0)));
    // Half a second before midnight rounds into the next day.
    ASSERT_TRUE(fromSerial(46083.0 + 86399.6 / 86400.0));
    EXPECT_EQ(*fromSerial(46083.0 + 86399.6 / 86400.0), QDateTime(QDate(2026, 3, 3), QTime(0, 0)));
    EXPECT_FALSE(fromSerial(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(fromSerial(1e12));
}

TEST(ReportLayout, ShortDatesAcceptWithAndWithoutLeadingZeros) {
    const struct {
        const char* text;
        QDate date;
    } cases[] = {
        {"01.03.2026", QDate(2026, 3, 1)},
        {"1.3.2026", QDate(2026, 3, 1)},
        {"25.11.2026", QDate(2026, 11, 25)},
        {"31.02.2026", QDate()},
        {"2026-03-01", QDate()},
        {"", QDate()},
        {"12:00:00", QDate()},
        {"01.03.2026 11:00:00", QDate()},
    };
    for (const auto& c : cases) {
        const auto d = parseShortDate(QString::fromUtf8(c.text));
        EXPECT_EQ(d.value_or(QDate()), c.date) << c.text;
    }
}

TEST(ReportLayout, ShortDateAndLongTimeHaveLeadingZeros) {
    EXPECT_EQ(shortDateText(QDate(2026, 3, 1)), QStringLiteral("01.03.2026"));
    EXPECT_EQ(longTimeText(QTime(9, 5, 7)), QStringLiteral("09:05:07"));
    EXPECT_EQ(longTimeText(QTime(23, 59, 59)), QStringLiteral("23:59:59"));
}
