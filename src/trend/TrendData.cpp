#include "trend/TrendData.h"

#include "core/Texts.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace t5170::trend {

namespace {

void widen(std::optional<Range>& range, double v) {
    if (!range)
        range = Range{v, v};
    else
        range = Range{std::min(range->min, v), std::max(range->max, v)};
}

} // namespace

double toMOm(double value, std::uint8_t unit) {
    switch (unit) {
    case unitKOm:
        return value * 0.001;
    case unitGOm:
        return value * 1000.0;
    default:
        return value;
    }
}

QString lineName(Line line) {
    static const char* const names[LineCount] = {
        "R, сопротивление", "R1 абсорбции",   "R2 абсорбции", "K абсорбции",
        "R1 поляризации",   "R2 поляризации", "K поляризации"};
    return QString::fromUtf8(names[static_cast<int>(line)]);
}

bool isCoefficient(Line line) {
    return line == Line::AbsK || line == Line::PolK;
}

Range logAxisRange(Range data) {
    double lo = std::floor(std::log10(data.min));
    double hi = std::ceil(std::log10(data.max));
    if (hi <= lo)
        hi = lo + 1;
    return {std::pow(10.0, lo), std::pow(10.0, hi)};
}

Range linearAxisRange(Range data) {
    double span = data.max - data.min;
    if (span <= 0)
        span = std::max(std::abs(data.max), 1.0) * 0.2;
    return {data.min - span * 0.05, data.max + span * 0.05};
}

Range timeAxisRange(Range data) {
    const double span = data.max - data.min;
    if (span <= 0)
        return {data.min - 1800e3, data.max + 1800e3};
    return {data.min - span * 0.02, data.max + span * 0.02};
}

QString hoverText(const TIzmResult& r) {
    QStringList lines{text::dateNoZeros(r.Time.date()) + QLatin1Char(' ') +
                          text::timeNoZeros(r.Time.time()),
                      text::kindCaption(r.Kind), voltageLabel(r.U)};
    if (r.Kind != izmU)
        lines << resistanceLabel({r.RkOm, r.R, r.RUnit}).trimmed();
    if (r.Kind == izmAbs || r.Kind == izmPol)
        lines << resistance2Label({r.R2kOm, r.R2, r.R2Unit}).trimmed() << koefLabel(r.Koef);
    return lines.join(QLatin1Char('\n'));
}

Added TrendData::append(const TIzmResult& r) {
    return r.Kind == izmU ? Added{} : append(r, r.Time.toMSecsSinceEpoch());
}

TIzmResult TrendData::resultOf(const Point& point) const {
    TIzmResult r = results_.at(static_cast<std::size_t>(point.result));
    if (r.Time.isNull())
        r.Time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(point.x));
    return r;
}

Added TrendData::append(const TIzmResult& r, qint64 ms) {
    Added added;
    if (r.Kind == izmU)
        return added;
    const int index = static_cast<int>(results_.size());
    results_.push_back(r);
    const double x = static_cast<double>(ms);
    const auto put = [&](Line line, double y) {
        if (!isCoefficient(line) && !(y > 0)) {
            ++added.outOfScale;
            return;
        }
        lines_[static_cast<std::size_t>(line)].push_back({x, y, index});
        added.lines.push_back(line);
        widen(time_, x);
        widen(isCoefficient(line) ? coefficient_ : resistance_, y);
    };
    const double r1 = toMOm(r.R, r.RUnit);
    switch (r.Kind) {
    case izmR:
        put(Line::R, r1);
        break;
    case izmAbs:
    case izmPol: {
        const bool abs = r.Kind == izmAbs;
        put(abs ? Line::AbsR1 : Line::PolR1, r1);
        put(abs ? Line::AbsR2 : Line::PolR2, toMOm(r.R2, r.R2Unit));
        put(abs ? Line::AbsK : Line::PolK, r.Koef / 1000.0);
        break;
    }
    case izmU:
        break;
    }
    outOfScale_ += added.outOfScale;
    return added;
}

void TrendData::clear() {
    *this = TrendData{};
}

const Point* TrendData::nearest(Line line, double x) const {
    const auto& pts = points(line);
    if (pts.empty())
        return nullptr;
    const auto it = std::lower_bound(pts.begin(), pts.end(), x,
                                     [](const Point& p, double v) { return p.x < v; });
    if (it == pts.end())
        return &pts.back();
    if (it == pts.begin())
        return &*it;
    const auto before = std::prev(it);
    return (x - before->x) <= (it->x - x) ? &*before : &*it;
}

std::vector<QPointF> thin(const std::vector<Point>& points, double from, double to, int buckets) {
    std::vector<QPointF> out;
    if (points.size() <= static_cast<std::size_t>(buckets) * 4 || !(to > from) || buckets < 1) {
        out.reserve(points.size());
        for (const Point& p : points)
            out.emplace_back(p.x, p.y);
        return out;
    }
    const auto byX = [](const Point& p, double v) { return p.x < v; };
    auto first = std::lower_bound(points.begin(), points.end(), from, byX);
    auto end =
        std::upper_bound(first, points.end(), to, [](double v, const Point& p) { return v < p.x; });
    if (first != points.begin())
        --first; // runs in from the left edge
    if (end != points.end())
        ++end; // and out to the right one
    if (static_cast<std::size_t>(end - first) <= static_cast<std::size_t>(buckets) * 4) {
        for (auto it = first; it != end; ++it)
            out.emplace_back(it->x, it->y);
        return out;
    }
    const double width = (to - from) / buckets;
    auto it = first;
    while (it != end) {
        const double bucket = std::floor((it->x - from) / width);
        auto next = it;
        auto lo = it, hi = it;
        while (next != end && std::floor((next->x - from) / width) == bucket) {
            if (next->y < lo->y)
                lo = next;
            if (next->y > hi->y)
                hi = next;
            ++next;
        }
        const auto back = std::prev(next);
        std::array<decltype(it), 4> keep{it, lo, hi, back};
        std::sort(keep.begin(), keep.end());
        for (std::size_t k = 0; k < keep.size(); ++k)
            if (k == 0 || keep[k] != keep[k - 1])
                out.emplace_back(keep[k]->x, keep[k]->y);
        it = next;
    }
    return out;
}

} // namespace t5170::trend
