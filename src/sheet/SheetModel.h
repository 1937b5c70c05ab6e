#pragma once
// In-memory workbook of the embedded spreadsheet engine: what the report's
// automation calls act upon and what the .xls and .xlsx readers and writers
// exchange.

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace t5170::sheet {

// Every failure of the engine (a bad file, a closed workbook, a format limit).
class SheetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Cell {
    enum class Kind : std::uint8_t { Empty, Number, Text };
    Kind kind = Kind::Empty;
    double number = 0.0;
    QString text;
    // Display format code in file form ("DD.MM.YYYY", "HH:MM:SS"); empty is General.
    QString format;
};

struct Sheet {
    QString name;
    // rows[r][c], both 0-based; rows and columns may be ragged.
    std::vector<std::vector<Cell>> rows;
    // 0-based column -> width in characters (as the application shows it).
    std::map<int, double> columnWidths;

    const Cell* find(int row, int col) const {
        if (row < 0 || col < 0 || row >= static_cast<int>(rows.size()))
            return nullptr;
        const auto& r = rows[static_cast<std::size_t>(row)];
        return col < static_cast<int>(r.size()) ? &r[static_cast<std::size_t>(col)] : nullptr;
    }
    Cell& at(int row, int col) {
        if (rows.size() <= static_cast<std::size_t>(row))
            rows.resize(static_cast<std::size_t>(row) + 1);
        auto& r = rows[static_cast<std::size_t>(row)];
        if (r.size() <= static_cast<std::size_t>(col))
            r.resize(static_cast<std::size_t>(col) + 1);
        return r[static_cast<std::size_t>(col)];
    }

    // --- xlsx origin begin (owned by the .xlsx package code) ---
    // Index of this sheet in the package it was read from, -1 for a new sheet.
    int originSheet = -1;
    // Cells (0-based row, column) written since the file was read.
    std::set<std::pair<int, int>> touched;
    bool widthsTouched = false;
    bool nameTouched = false;
    // --- xlsx origin end ---
};

struct XlsxOrigin; // the package an .xlsx workbook was read from

struct Workbook {
    std::vector<Sheet> sheets;
    // Serial day 0 is 31.12.1899 (1900 system) or 1.1.1904.
    bool date1904 = false;
    // Set when the workbook was read from an .xlsx package, so that saving it
    // again as .xlsx edits that package instead of rebuilding it.
    std::shared_ptr<const XlsxOrigin> xlsxOrigin;
};

// Throws SheetError when `name` cannot name a sheet: empty, longer than 31
// characters, holding one of : \ / ? * [ ], or starting or ending with an
// apostrophe.
void checkSheetName(const QString& name);
// checkSheetName for every sheet, and no two names equal ignoring case.
void checkSheetNames(const Workbook& book);
// Whether two sheet names clash (equal ignoring case).
bool sameSheetName(const QString& a, const QString& b);

} // namespace t5170::sheet
