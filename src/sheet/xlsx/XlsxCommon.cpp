#include "sheet/xlsx/XlsxCommon.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace t5170::sheet::xlsx {

namespace {

// A plain decimal ("46082", "-1.5", "0.001388888888888889"): with at most
// 2^53 as its digits and at most 22 of them after the point, both parts are
// exact doubles and one division rounds correctly, to what the general
// conversion gives. Most values of a report are such.
std::optional<double> shortDecimal(std::string_view s) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const std::size_t n = s.size();
    std::size_t i = 0;
    const bool negative = n > 0 && s[0] == '-';
    if (negative)
        ++i;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    bool point = false;
    for (; i < n; ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            if (++digits > 19)
                return std::nullopt; // could overflow
            mantissa = mantissa * 10 + std::uint64_t(c - '0');
            fraction += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || mantissa > (std::uint64_t(1) << 53) || fraction > 22)
        return std::nullopt;
    const double v = static_cast<double>(mantissa) / kPow10[fraction];
    return negative ? -v : v;
}

} // namespace

std::optional<double> parseNumber(std::string_view s) {
    if (const auto v = shortDecimal(s))
        return v;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' ||
                          s.front() == '\r' || s.front() == '+'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string cellRef(int row, int col) {
    return columnName(col) + std::to_string(row + 1);
}

namespace {
constexpr double kDigitPx = 7.0;
constexpr double kPaddingPx = 5.0;
} // namespace

double widthFromFile(double fileWidth) {
    if (!(fileWidth > 0.0))
        return 0.0;
    // Pixels the column takes, then characters to two decimals.
    const double px =
        std::trunc(((256.0 * fileWidth + std::trunc(128.0 / kDigitPx)) / 256.0) * kDigitPx);
    if (px <= kPaddingPx)
        return std::trunc(px / (kDigitPx + kPaddingPx) * 100.0 + 0.5) / 100.0;
    return std::trunc((px - kPaddingPx) / kDigitPx * 100.0 + 0.5) / 100.0;
}

double widthToFile(double characters) {
    if (!(characters > 0.0))
        return 0.0;
    double px;
    if (characters < 1.0)
        px = std::trunc(characters * (kDigitPx + kPaddingPx) + 0.5);
    else
        px = std::trunc(characters * kDigitPx + 0.5) + kPaddingPx;
    return std::trunc(px / kDigitPx * 256.0) / 256.0;
}

QString formatCode(std::string_view code) {
    const QString text = QString::fromUtf8(code.data(), static_cast<qsizetype>(code.size()));
    if (text.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
        return {};
    return text;
}

} // namespace t5170::sheet::xlsx
