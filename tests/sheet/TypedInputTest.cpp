// Typed input and read-back in the program's Russian locale, both date systems.

#include "sheet/TypedInput.h"
#include "EngineTestUtil.h"

#include <cmath>
#include <iterator>

using namespace t5170::sheet;

namespace {

constexpr double kSec = 1.0 / 86400.0;

struct Typed {
    const char* input;
    bool date1904;
    Cell::Kind kind;
    double number; // for numbers
    const char* format;
};

class TypedInputTest : public ::testing::TestWithParam<Typed> {};

TEST_P(TypedInputTest, TextBecomesWhatItReadsAs) {
    const Typed& t = GetParam();
    Cell c;
    typeInto(c, QString::fromUtf8(t.input), t.date1904);
    EXPECT_EQ(int(c.kind), int(t.kind)) << t.input;
    if (t.kind == Cell::Kind::Number) {
        EXPECT_NEAR(c.number, t.number, 1e-9) << t.input;
    }
    if (t.kind == Cell::Kind::Text) {
        EXPECT_EQ(c.text, QString::fromUtf8(t.input));
    }
    EXPECT_EQ(c.format, QString::fromUtf8(t.format)) << t.input;
}

using K = Cell::Kind;
INSTANTIATE_TEST_SUITE_P(
    Russian, TypedInputTest,
    ::testing::Values(
        // Dates, with and without leading zeros, at the edges of the 1900 system.
        Typed{"1.3.2026", false, K::Number, 46082, "DD.MM.YYYY"},
        Typed{"01.03.2026", false, K::Number, 46082, "DD.MM.YYYY"},
        Typed{" 8.12.2026 ", false, K::Number, 46364, "DD.MM.YYYY"},
        Typed{"1.1.1900", false, K::Number, 1, "DD.MM.YYYY"},
        Typed{"28.2.1900", false, K::Number, 59, "DD.MM.YYYY"},
        Typed{"29.2.1900", false, K::Number, 60, "DD.MM.YYYY"},
        Typed{"1.3.1900", false, K::Number, 61, "DD.MM.YYYY"},
        Typed{"31.12.9999", false, K::Number, 2958465, "DD.MM.YYYY"},
        // The 1904 system counts from 1.1.1904 and has no 29.2.1900.
        Typed{"1.1.1904", true, K::Number, 0, "DD.MM.YYYY"},
        Typed{"1.3.2026", true, K::Number, 46082 - 1462, "DD.MM.YYYY"},
        Typed{"29.2.1900", true, K::Text, 0, ""}, Typed{"31.12.1903", true, K::Text, 0, ""},
        // Not dates.
        Typed{"31.12.1899", false, K::Text, 0, ""}, Typed{"31.4.2026", false, K::Text, 0, ""},
        Typed{"29.2.2025", false, K::Text, 0, ""}, Typed{"1.13.2026", false, K::Text, 0, ""},
        Typed{"1.3.26", false, K::Text, 0, ""}, Typed{"0.0.0", false, K::Text, 0, ""},
        Typed{"1.5", false, K::Text, 0, ""}, Typed{"1.3.2026 9:05:07", false, K::Text, 0, ""},
        // Times of day.
        Typed{"9:5:7", false, K::Number, (9 * 3600 + 5 * 60 + 7) * kSec, "HH:MM:SS"},
        Typed{"09:05:07", true, K::Number, (9 * 3600 + 5 * 60 + 7) * kSec, "HH:MM:SS"},
        Typed{"0:0:0", false, K::Number, 0, "HH:MM:SS"},
        Typed{"23:59:59", false, K::Number, 86399 * kSec, "HH:MM:SS"},
        Typed{"24:00:00", false, K::Text, 0, ""}, Typed{"9:60:00", false, K::Text, 0, ""},
        Typed{"12:30", false, K::Text, 0, ""}, Typed{"1:2:3:4", false, K::Text, 0, ""},
        // Numbers with a decimal comma; the resistance texts of the report.
        Typed{"1,5", false, K::Number, 1.5, ""}, Typed{"-1,5", false, K::Number, -1.5, ""},
        Typed{"+3", false, K::Number, 3, ""}, Typed{"999,", false, K::Number, 999, ""},
        Typed{"1,50", false, K::Number, 1.5, ""}, Typed{"12,3", false, K::Number, 12.3, ""},
        Typed{",5", false, K::Number, 0.5, ""}, Typed{"007", false, K::Number, 7, ""},
        Typed{"-0", false, K::Number, 0, ""}, Typed{" 523 ", false, K::Number, 523, ""},
        // Texts.
        Typed{"1.5.", false, K::Text, 0, ""}, Typed{"1 000", false, K::Text, 0, ""},
        Typed{"1e5", false, K::Text, 0, ""}, Typed{",", false, K::Text, 0, ""},
        Typed{"-", false, K::Text, 0, ""}, Typed{"--1", false, K::Text, 0, ""},
        Typed{"1,2,3", false, K::Text, 0, ""}, Typed{"МОм", false, K::Text, 0, ""},
        Typed{"Error", false, K::Text, 0, ""}, Typed{"   ", false, K::Text, 0, ""},
        Typed{"", false, K::Empty, 0, ""}));

TEST(TypedInput, FormatOfTheCellDecidesWhetherItChanges) {
    struct Case {
        const char* format;
        const char* input;
        const char* expectFormat;
        Cell::Kind kind;
    };
    const Case cases[] = {
        {"0.00", "1,5", "0.00", K::Number},                          // a number keeps any format
        {"dd\\.mm\\.yyyy", "2.3.2026", "dd\\.mm\\.yyyy", K::Number}, // a date keeps a date format
        {"HH:MM:SS", "2.3.2026", "DD.MM.YYYY", K::Number},           // but not a time format
        {"[HH]:MM:SS", "10:00:00", "[HH]:MM:SS", K::Number},
        {"DD.MM.YYYY", "10:00:00", "HH:MM:SS", K::Number},
        {"@", "1,5", "@", K::Text}, // a text cell takes everything as text
        {"@", "1.3.2026", "@", K::Text},
        {"DD.MM.YYYY", "", "DD.MM.YYYY", K::Empty}, // emptying keeps the format
    };
    for (const Case& c : cases) {
        Cell cell = number(7, QString::fromUtf8(c.format));
        typeInto(cell, QString::fromUtf8(c.input), false);
        EXPECT_EQ(cell.format, QString::fromUtf8(c.expectFormat)) << c.format << " " << c.input;
        EXPECT_EQ(int(cell.kind), int(c.kind)) << c.format << " " << c.input;
    }
}

struct Read {
    Cell cell;
    bool date1904;
    const char* text;
    double number; // NAN: reading as a number fails
};

class ReadBackTest : public ::testing::TestWithParam<Read> {};

TEST_P(ReadBackTest, ValueReadsAsTextAndNumber) {
    const Read& r = GetParam();
    EXPECT_EQ(cellText(r.cell, r.date1904), QString::fromUtf8(r.text));
    if (std::isnan(r.number)) {
        EXPECT_THROW(cellNumber(r.cell, r.date1904), SheetError);
    } else {
        EXPECT_NEAR(cellNumber(r.cell, r.date1904), r.number, 1e-9);
    }
}

const QString D = QStringLiteral("DD.MM.YYYY");
const QString T = QStringLiteral("HH:MM:SS");

INSTANTIATE_TEST_SUITE_P(
    Russian, ReadBackTest,
    ::testing::Values(
        Read{Cell{}, false, "", 0}, Read{text("МОм"), false, "МОм", NAN},
        Read{text("1.3.2026"), false, "1.3.2026", NAN}, Read{text("999,"), false, "999,", 999},
        Read{text("1,50"), false, "1,50", 1.5}, Read{number(1.5), false, "1,5", 1.5},
        Read{number(500), false, "500", 500}, Read{number(-0.25), false, "-0,25", -0.25},
        Read{number(1.234, "0.00"), false, "1,234", 1.234},
        // Dates read as dd.MM.yyyy and, as numbers, in days since 30.12.1899
        // whatever the system.
        Read{number(46082, D), false, "01.03.2026", 46082},
        Read{number(46082 - 1462, D), true, "01.03.2026", 46082},
        Read{number(46082.99999999, D), false, "02.03.2026", 46082.99999999},
        Read{number(1, D), false, "01.01.1900", 2}, Read{number(59, D), false, "28.02.1900", 60},
        Read{number(60, D), false, "29.02.1900", 60}, Read{number(61, D), false, "01.03.1900", 61},
        Read{number(46082, "dd\\.mm\\.yyyy"), false, "01.03.2026", 46082},
        Read{number(46082, "DD/MM/YYYY"), false, "01.03.2026", 46082},
        Read{number(-1, D), false, "-1", -1},
        // Times read as HH:mm:ss and as the fraction of a day in both systems.
        Read{number(0.3785532407407408, T), false, "09:05:07", 0.3785532407407408},
        Read{number(0.3785532407407408, T), true, "09:05:07", 0.3785532407407408},
        Read{number(0.4583217592592593, "hh:mm:ss"), false, "10:59:59", 0.4583217592592593},
        Read{number(1.5, "[HH]:MM:SS"), false, "36:00:00", 1.5},
        Read{number(46082.5, "DD.MM.YYYY HH:MM"), false, "01.03.2026 12:00:00", 46082.5}));

TEST(FormatCodes, KindOfEachCode) {
    struct Case {
        const char* code;
        FormatKind kind;
        bool elapsed;
    };
    const Case cases[] = {
        {"", FormatKind::General, false},
        {"General", FormatKind::General, false},
        {"DD.MM.YYYY", FormatKind::Date, false},
        {"dd\\.mm\\.yyyy", FormatKind::Date, false},
        {"DD/MM/YYYY", FormatKind::Date, false},
        {"[$-419]DD.MM.YYYY", FormatKind::Date, false},
        {"MMM-YY", FormatKind::Date, false},
        {"HH:MM:SS", FormatKind::Time, false},
        {"hh:mm:ss", FormatKind::Time, false},
        {"MM:SS", FormatKind::Time, false},
        {"h:mm AM/PM", FormatKind::Time, false},
        {"[HH]:MM:SS", FormatKind::Time, true},
        {"DD.MM.YYYY HH:MM", FormatKind::DateTime, false},
        {"0.00", FormatKind::Number, false},
        {"0.00E+00", FormatKind::Number, false},
        {"[Red]0.00", FormatKind::Number, false},
        {"\"d\"0", FormatKind::Number, false},
        {"0;\"dd\"", FormatKind::Number, false},
        {"@", FormatKind::Text, false},
    };
    // Asked again in the other order, while recent answers are remembered,
    // each code still gets its own.
    const std::size_t n = std::size(cases);
    for (std::size_t k = 0; k < 2 * n; ++k) {
        const Case& c = cases[k < n ? k : 2 * n - 1 - k];
        const FormatInfo info = formatInfo(QString::fromUtf8(c.code));
        EXPECT_EQ(int(info.kind), int(c.kind)) << c.code;
        EXPECT_EQ(info.elapsedHours, c.elapsed) << c.code;
    }
}

TEST(FormatCodes, RussianFormsBecomeFileForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"ДД.ММ.ГГГГ", "DD.MM.YYYY"},
        {"ЧЧ:ММ:СС", "HH:MM:SS"},
        {"дд.мм.гг", "dd.mm.yy"},
        {"[ЧЧ]:ММ:СС", "[HH]:MM:SS"},
        {"[Красный]0,00", "[Красный]0,00"},
        {"\"Дата \"ДД.ММ.ГГГГ", "\"Дата \"DD.MM.YYYY"},
        {"\\ДДД", "\\ДDD"},
        {"DD.MM.YYYY", "DD.MM.YYYY"},
        {"Основной", ""},
        {"General", ""},
    };
    for (const auto& [written, file] : cases)
        EXPECT_EQ(fileFormat(QString::fromUtf8(written)), QString::fromUtf8(file)) << written;
}

} // namespace
