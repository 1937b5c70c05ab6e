#include "sheet/xlsx/XlsxCommon.h"

#include <cmath>

namespace t5170::sheet::xlsx {

std::optional<std::pair<int, int>> parseCellRef(std::string_view ref) {
    std::size_t i = 0;
    long col = 0;
    while (i < ref.size() && i < 4) {
        char c = ref[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z')
            break;
        col = col * 26 + (c - 'A' + 1);
        ++i;
    }
    if (i == 0 || col > kMaxCols)
        return std::nullopt;
    long row = 0;
    const std::size_t digits = i;
    while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9' && i - digits < 8) {
        row = row * 10 + (ref[i] - '0');
        ++i;
    }
    if (i == digits || i != ref.size() || row < 1 || row > kMaxRows)
        return std::nullopt;
    return std::make_pair(static_cast<int>(row - 1), static_cast<int>(col - 1));
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
