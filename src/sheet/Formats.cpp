#include "sheet/Formats.h"

namespace t5170::sheet {

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
    // The published table reads "mmss.0"; spreadsheet applications show
    // minutes, a colon and seconds with tenths.
    {47, "mm:ss.0", true},
    {48, "##0.0E+0", true},
    {49, "@", true},
};

} // namespace

std::string columnName(int col) {
    std::string out;
    for (int n = col + 1; n > 0; n = (n - 1) / 26)
        out.insert(out.begin(), static_cast<char>('A' + (n - 1) % 26));
    return out;
}

QDate automationEpoch() {
    return QDate(1899, 12, 30);
}

QDate epoch1904() {
    return QDate(1904, 1, 1);
}

QString builtinFormat(int id) {
    for (const auto& b : kBuiltins)
        if (b.id == id)
            return QString::fromLatin1(b.code);
    // East Asian dates.
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

} // namespace t5170::sheet
