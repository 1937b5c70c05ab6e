#pragma once
// Small pure helpers shared by the .xlsx reader, writer and package editor.

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace t5170::sheet::xlsx {

inline constexpr int kMaxRows = 1'048'576;
inline constexpr int kMaxCols = 16'384;

// "AB12" -> (11, 27), 0-based row and column; nullopt when malformed or
// beyond the sheet's limits.
std::optional<std::pair<int, int>> parseCellRef(std::string_view ref);
// 0-based column -> "A", "AB".
std::string columnName(int col);
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
QString formatCode(std::string_view code);
QString builtinFormat(int numFmtId);
// The built-in id that shows exactly `code` the same everywhere, or -1.
int builtinFormatId(const QString& code);

} // namespace t5170::sheet::xlsx
