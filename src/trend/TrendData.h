#pragma once
// Results as lines over time: one line per kind and quantity, resistances in
// mega-ohms for a logarithmic axis, coefficients for a linear one. The exact
// values stay here; what a chart draws may be a thinned copy.

#include "core/Measurement.h"

#include <QPointF>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace t5170::trend {

// A resistance in its unit (ResUnit) in mega-ohms: kilo-ohms ×0.001,
// giga-ohms ×1000.
double toMOm(double value, std::uint8_t unit);

// The lines, in the legend's order.
enum class Line { R, AbsR1, AbsR2, AbsK, PolR1, PolR2, PolK };
inline constexpr int LineCount = 7;
inline constexpr std::array<Line, LineCount> AllLines{
    Line::R, Line::AbsR1, Line::AbsR2, Line::AbsK, Line::PolR1, Line::PolR2, Line::PolK};
// "R, сопротивление", "R1 абсорбции", ...
QString lineName(Line line);
// Resistance lines go on the log axis, coefficients on the linear one.
bool isCoefficient(Line line);

// One point of a line: x milliseconds since the epoch, y mega-ohms or K.
// `result` is the index of the result it comes from.
struct Point {
    double x = 0;
    double y = 0;
    int result = 0;
};

struct Range {
    double min = 0;
    double max = 0;
};

// Powers of ten around [min, max] (both > 0), at least one decade wide.
Range logAxisRange(Range data);
// The time axis: [min, max] in milliseconds, a margin of 2 % of the span;
// a single moment gets half an hour either side.
Range timeAxisRange(Range data);
// [min, max] with a margin of 5 % of its span; an empty span is widened.
Range linearAxisRange(Range data);

// A result as the main window writes it: date and time, kind, then its
// values' labels, one a line.
QString hoverText(const TIzmResult& result);

// What appending one result changed: the lines that got a point, and how
// many of its values were out of the log scale.
struct Added {
    std::vector<Line> lines;
    int outOfScale = 0;
};

class TrendData {
public:
    // Voltage results have no line and are skipped.
    Added append(const TIzmResult& result);
    // The same at `ms` since the epoch; the result's Time may be null.
    Added append(const TIzmResult& result, qint64 ms);
    void clear();

    const std::vector<TIzmResult>& results() const { return results_; }
    const std::vector<Point>& points(Line line) const {
        return lines_[static_cast<std::size_t>(line)];
    }
    // Resistances of zero or below: left out, counted.
    int outOfScale() const { return outOfScale_; }

    // Over every point shown; none while there is none.
    std::optional<Range> timeRange() const { return time_; }
    std::optional<Range> resistanceRange() const { return resistance_; }
    std::optional<Range> coefficientRange() const { return coefficient_; }

    // The point of `line` nearest to time `x`; none on an empty line.
    const Point* nearest(Line line, double x) const;
    // The result of a point, its Time set from the point where it was null.
    TIzmResult resultOf(const Point& point) const;

private:
    std::vector<TIzmResult> results_;
    std::array<std::vector<Point>, LineCount> lines_;
    int outOfScale_ = 0;
    std::optional<Range> time_, resistance_, coefficient_;
};

// At most about `buckets` × 4 points of `points` for drawing [from, to]:
// per bucket of time its first, lowest, highest and last point, in time
// order, plus the nearest point on either side so the line runs to the
// edges. Fewer points than that come back unchanged.
std::vector<QPointF> thin(const std::vector<Point>& points, double from, double to, int buckets);

} // namespace t5170::trend
