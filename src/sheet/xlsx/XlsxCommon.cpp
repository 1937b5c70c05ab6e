#include "sheet/xlsx/XlsxCommon.h"

#include <cmath>

namespace t5170::sheet::xlsx {

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
