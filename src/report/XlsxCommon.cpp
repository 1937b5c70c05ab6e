#include "XlsxCommon.h"

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

std::string columnName(int col) {
    std::string out;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        out.insert(out.begin(), static_cast<char>('A' + (n - 1) % 26));
    return out;
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

namespace {

struct Builtin {
    int id;
    const char* code;
    bool fixed; // looks the same in every locale
};

constexpr Builtin kBuiltins[] = {
    {1, "0", true},
    {2, "0.00", true},
    {3, "#,##0", true},
    {4, "#,##0.00", true},
    {9, "0%", true},
    {10, "0.00%", true},
    {11, "0.00E+00", true},
    {12, "# ?/?", true},
    {13, "# ?\?/??", true},
    {14, "DD.MM.YYYY", false},
    {15, "d-mmm-yy", true},
    {16, "d-mmm", true},
    {17, "mmm-yy", true},
    {18, "h:mm AM/PM", true},
    {19, "h:mm:ss AM/PM", true},
    {20, "h:mm", true},
    {21, "h:mm:ss", true},
    {22, "DD.MM.YYYY h:mm", false},
    {37, "#,##0 ;(#,##0)", true},
    {38, "#,##0 ;[Red](#,##0)", true},
    {39, "#,##0.00;(#,##0.00)", true},
    {40, "#,##0.00;[Red](#,##0.00)", true},
    {45, "mm:ss", true},
    {46, "[h]:mm:ss", true},
    {47, "mmss.0", true},
    {48, "##0.0E+0", true},
    {49, "@", true},
};

} // namespace

QString builtinFormat(int id) {
    for (const auto& b : kBuiltins)
        if (b.id == id)
            return QString::fromLatin1(b.code);
    // East Asian date formats.
    if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return QStringLiteral("DD.MM.YYYY");
    return {};
}

int builtinFormatId(const QString& code) {
    if (code.isEmpty())
        return 0;
    for (const auto& b : kBuiltins)
        if (b.fixed && code == QLatin1String(b.code))
            return b.id;
    return -1;
}

} // namespace t5170::sheet::xlsx
