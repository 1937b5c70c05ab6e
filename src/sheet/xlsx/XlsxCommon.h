#pragma once
// Small pure helpers shared by the .xlsx reader, writer and package editor.

#include "sheet/Formats.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace t5170::sheet::xlsx {

inline constexpr int kMaxRows = MaxRows;
inline constexpr int kMaxCols = MaxColumns;

// "AB12" -> (11, 27), 0-based row and column; nullopt when malformed or
// beyond the sheet's limits. Inline: every cell of a sheet being read has one.
inline std::optional<std::pair<int, int>> parseCellRef(std::string_view ref) {
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
// A cell's number as the file writes it, spaces and a leading '+' around
// it allowed; nullopt for anything else and for infinities and NaN.
std::optional<double> parseNumber(std::string_view s);
using sheet::columnName;
std::string cellRef(int row, int col);

// Column widths. The file stores a width with the cell padding of the
// default font (5 px over a 7 px digit); the model and the screen count
// characters. These follow the OOXML conversion formulas, so a width of
// 10 characters is stored as 10.7109375 and reads back as 10.
double widthFromFile(double fileWidth);
double widthToFile(double characters);

// Number format codes are kept as the file writes them (the engine reads
// their kind with formatInfo); "General" is "". Built-in ids become the
// codes they stand for; those whose look depends on the system's locale
// (short date, date and time) become the Russian form.
// The built-in formats are in sheet/Formats.h.
QString formatCode(std::string_view code);

} // namespace t5170::sheet::xlsx
