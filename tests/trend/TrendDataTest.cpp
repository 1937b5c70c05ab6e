// The trend's data: units into mega-ohms, which line each value goes to,
// values a log scale cannot show, axis ranges and thinning for display.
#include "trend/TrendData.h"

#include "core/Texts.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace t5170;
using namespace t5170::trend;

namespace {

const QDateTime Start(QDate(2026, 12, 8), QTime(9, 0, 0));

TIzmResult result(TIzmType kind, double r, std::uint8_t unit, double r2 = 0,
                  std::uint8_t unit2 = unitMOm, int koef = 0, int minutes = 0) {
    TIzmResult x;
    x.Kind = kind;
    x.U = 1000;
    x.R = r;
    x.RUnit = unit;
    x.R2 = r2;
    x.R2Unit = unit2;
    x.Koef = koef;
    x.Time = Start.addSecs(60 * minutes);
    x.Valid = true;
    return x;
}

} // namespace

TEST(TrendUnits, EachUnitIntoMegaOhms) {
    struct Case {
        double value;
        std::uint8_t unit;
        double mOm;
    };
    const Case cases[] = {
        {999, unitKOm, 0.999}, {1, unitKOm, 0.001}, {-1, unitKOm, -0.001},
        {1.23, unitMOm, 1.23}, {999, unitMOm, 999}, {1, unitGOm, 1000},
        {2.34, unitGOm, 2340}, {0, unitGOm, 0},     {150, unitGOm, 150000},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(toMOm(c.value, c.unit), c.mOm)
            << c.value << " " << text::unitName(c.unit).toStdString();
}

TEST(TrendLines, EachKindAndQuantityHasItsLineAndLegend) {
    TrendData d;
    d.append(result(izmU, 0, unitKOm));
    EXPECT_TRUE(d.results().empty()) << "voltage has no line";
    d.append(result(izmR, 5, unitGOm, 0, unitMOm, 0, 1));
    d.append(result(izmAbs, 800, unitKOm, 1.5, unitMOm, 1875, 2));
    d.append(result(izmPol, 3, unitMOm, 2, unitGOm, 667, 3));
    const auto y = [&](Line l) {
        EXPECT_EQ(d.points(l).size(), 1u) << lineName(l).toStdString();
        return d.points(l).empty() ? NAN : d.points(l)[0].y;
    };
    EXPECT_DOUBLE_EQ(y(Line::R), 5000);
    EXPECT_DOUBLE_EQ(y(Line::AbsR1), 0.8);
    EXPECT_DOUBLE_EQ(y(Line::AbsR2), 1.5);
    EXPECT_DOUBLE_EQ(y(Line::AbsK), 1.875);
    EXPECT_DOUBLE_EQ(y(Line::PolR1), 3);
    EXPECT_DOUBLE_EQ(y(Line::PolR2), 2000);
    EXPECT_DOUBLE_EQ(y(Line::PolK), 0.667);
    EXPECT_EQ(d.points(Line::PolK)[0].result, 2) << "points lead back to their result";
    EXPECT_EQ(d.points(Line::PolK)[0].x, double(Start.addSecs(180).toMSecsSinceEpoch()));

    QStringList names;
    for (Line l : AllLines)
        names << lineName(l);
    EXPECT_EQ(names, (QStringList{"R, сопротивление", "R1 абсорбции", "R2 абсорбции", "K абсорбции",
                                  "R1 поляризации", "R2 поляризации", "K поляризации"}));
}

TEST(TrendLines, ValuesAtOrBelowZeroAreLeftOutAndCounted) {
    TrendData d;
    // "No value" of the instrument, a zero, a coefficient of zero (drawn:
    // its axis is linear), then an ordinary result.
    Added a = d.append(result(izmR, -1, unitKOm));
    EXPECT_TRUE(a.lines.empty());
    EXPECT_EQ(a.outOfScale, 1);
    a = d.append(result(izmAbs, 0, unitMOm, -1, unitKOm, 0, 1));
    EXPECT_EQ(a.outOfScale, 2);
    EXPECT_EQ(a.lines, std::vector<Line>{Line::AbsK});
    d.append(result(izmR, 10, unitMOm, 0, unitMOm, 0, 2));
    EXPECT_EQ(d.outOfScale(), 3);
    EXPECT_EQ(d.points(Line::R).size(), 1u);
    ASSERT_TRUE(d.resistanceRange());
    EXPECT_DOUBLE_EQ(d.resistanceRange()->min, 10) << "left-out values do not stretch the axis";
    ASSERT_TRUE(d.timeRange());
    EXPECT_EQ(d.timeRange()->min, double(Start.addSecs(60).toMSecsSinceEpoch()));
}

TEST(TrendRanges, AxesCoverTheSmallestAndLargestValue) {
    struct Case {
        double min, max, axisMin, axisMax;
    };
    const Case logCases[] = {
        {0.001, 150000, 0.001, 1e6},                // kilo-ohms up to beyond the giga-ohms
        {0.5, 0.5, 0.1, 1},          {1, 1, 1, 10}, // one value: at least a decade
        {12, 3400, 10, 1e4},         {999, 1001, 100, 1e4},
    };
    for (const Case& c : logCases) {
        const Range r = logAxisRange({c.min, c.max});
        EXPECT_NEAR(r.min, c.axisMin, c.axisMin * 1e-9) << c.min << ".." << c.max;
        EXPECT_NEAR(r.max, c.axisMax, c.axisMax * 1e-9) << c.min << ".." << c.max;
        EXPECT_LE(r.min, c.min);
        EXPECT_GE(r.max, c.max);
    }
    for (const Range k : {Range{1.1, 1.9}, Range{1.5, 1.5}, Range{0, 0}, Range{-2, 3}}) {
        const Range r = linearAxisRange(k);
        EXPECT_LT(r.min, k.min);
        EXPECT_GT(r.max, k.max);
    }
    const Range t = timeAxisRange({1000, 1000});
    EXPECT_LT(t.min, 1000);
    EXPECT_GT(t.max, 1000);

    TrendData d;
    d.append(result(izmAbs, 0.2, unitKOm, 40, unitGOm, 1300, 0));
    d.append(result(izmAbs, 7, unitMOm, 900, unitKOm, 2600, 30));
    ASSERT_TRUE(d.resistanceRange() && d.coefficientRange() && d.timeRange());
    EXPECT_DOUBLE_EQ(d.resistanceRange()->min, 0.0002);
    EXPECT_DOUBLE_EQ(d.resistanceRange()->max, 40000);
    EXPECT_DOUBLE_EQ(d.coefficientRange()->min, 1.3);
    EXPECT_DOUBLE_EQ(d.coefficientRange()->max, 2.6);
    EXPECT_EQ(d.timeRange()->max - d.timeRange()->min, 30 * 60e3);
}

TEST(TrendHover, TheNearestResultAsTheMainWindowWritesIt) {
    TrendData d;
    TIzmResult a = result(izmAbs, 1.5, unitMOm, 2.34, unitGOm, 1563, 0);
    a.RkOm = 1500;
    a.R2kOm = 2340000;
    TIzmResult b = result(izmAbs, 999, unitKOm, 5, unitMOm, 1200, 10);
    b.RkOm = 999;
    b.R2kOm = 5000;
    d.append(a);
    d.append(b);
    const double t0 = double(Start.toMSecsSinceEpoch());
    ASSERT_TRUE(d.nearest(Line::AbsK, t0 + 4 * 60e3));
    EXPECT_EQ(d.nearest(Line::AbsK, t0 + 4 * 60e3)->result, 0);
    EXPECT_EQ(d.nearest(Line::AbsK, t0 + 6 * 60e3)->result, 1);
    EXPECT_EQ(d.nearest(Line::AbsK, t0 + 1e9)->result, 1);
    EXPECT_EQ(d.nearest(Line::AbsK, t0 - 1e9)->result, 0);
    EXPECT_EQ(d.nearest(Line::R, t0), nullptr);
    const QStringList lines = hoverText(b).split('\n');
    EXPECT_EQ(lines.value(0), QStringLiteral("8.12.2026 9:10:0"));
    EXPECT_EQ(lines.mid(1),
              (QStringList{text::kindCaption(izmAbs), voltageLabel(1000),
                           resistanceLabel({999, 999, unitKOm}).trimmed(),
                           resistance2Label({5000, 5, unitMOm}).trimmed(), koefLabel(1200)}));
    EXPECT_TRUE(lines.at(5).contains(QStringLiteral("1,2")));
}

TEST(TrendThinning, KeepsExtremesAndEdgesWithFewerPoints) {
    std::vector<Point> pts;
    for (int i = 0; i < 100000; ++i)
        pts.push_back({double(i), 100 + std::sin(i / 50.0), i});
    pts[54321].y = 1e6; // one spike must survive
    pts[12345].y = 1e-3;
    const std::vector<QPointF> all = thin(pts, 0, 99999, 1000);
    EXPECT_LE(all.size(), 4000u);
    EXPECT_GT(all.size(), 1000u);
    EXPECT_EQ(all.front(), QPointF(0, pts[0].y));
    EXPECT_EQ(all.back(), QPointF(99999, pts.back().y));
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end(),
                               [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }));
    EXPECT_NE(std::find(all.begin(), all.end(), QPointF(54321, 1e6)), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), QPointF(12345, 1e-3)), all.end());

    // A zoomed part: its own points, and one beyond each edge.
    const std::vector<QPointF> part = thin(pts, 50000, 50999, 1000);
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(part.front().x(), 49999);
    EXPECT_EQ(part.back().x(), 51000);
    EXPECT_EQ(part.size(), 1002u) << "few enough to keep them all";

    // Few points come back as they are.
    const std::vector<Point> few(pts.begin(), pts.begin() + 50);
    EXPECT_EQ(thin(few, 0, 49, 20).size(), 50u);
    EXPECT_LE(thin(few, 0, 49, 10).size(), 40u);
}
