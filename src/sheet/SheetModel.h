#pragma once
// In-memory workbook of the embedded spreadsheet engine: what the report's
// automation calls act upon and what the .xls and .xlsx readers and writers
// exchange.

#include <QHash>
#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace t5170::sheet {

namespace detail {
// Allocates large blocks (a sheet's cell arena) straight from the system,
// asking for transparent huge pages: tens of thousands of first-touch page
// faults become a handful, a sizeable part of opening a large report.
// Small blocks come from the usual heap.
void* allocateLarge(std::size_t bytes);
void deallocateLarge(void* p, std::size_t bytes);
// Bytes held in such blocks now (they are not in the heap's own figures).
std::size_t largeBytesInUse();
inline constexpr std::size_t kLargeBlock = std::size_t(4) << 20;

template <typename T> struct LargeBlockAllocator {
    using value_type = T;
    LargeBlockAllocator() = default;
    template <typename U> LargeBlockAllocator(const LargeBlockAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (n * sizeof(T) >= kLargeBlock)
            return static_cast<T*>(allocateLarge(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) {
        if (n * sizeof(T) >= kLargeBlock)
            deallocateLarge(p, n * sizeof(T));
        else
            std::allocator<T>().deallocate(p, n);
    }
    template <typename U> bool operator==(const LargeBlockAllocator<U>&) const { return true; }
};
} // namespace detail

// Every failure of the engine (a bad file, a closed workbook, a format limit).
class SheetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One cell as a value: what readers hand in and what callers read back.
struct Cell {
    enum class Kind : std::uint8_t { Empty, Number, Text };
    Kind kind = Kind::Empty;
    double number = 0.0;
    QString text;
    // Display format code in file form ("DD.MM.YYYY", "HH:MM:SS"); empty is General.
    QString format;
};

// A worksheet. Cells are kept packed, 16 bytes each: a report of years of
// series is mostly small numbers, dates and a few repeated unit texts, so
// texts and format codes are stored once per sheet and cells hold their
// index. Interned texts live as long as the sheet. The cells of all rows
// share one arena, so a row costs 8 bytes and no allocation of its own.
struct Sheet {
    QString name;
    // 0-based column -> width in characters (as the application shows it).
    std::map<int, double> columnWidths;

    // Identifiers of interned texts and formats; format 0 is General.
    using TextId = std::uint32_t;
    using FormatId = std::uint32_t;
    static constexpr FormatId kGeneral = 0;

    Sheet();
    Sheet(const Sheet&) = default;
    Sheet& operator=(const Sheet&) = default;
    // Moving never fails short of memory: vectors of sheets move, not copy.
    Sheet(Sheet&&) noexcept = default;
    Sheet& operator=(Sheet&&) noexcept = default;

    // --- reading (row and column 0-based) ---
    // Rows held; a row past the last holds nothing. Rows may be ragged.
    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Cells held in `row` (0 for a row past the last).
    int columnCount(int row) const;
    // The cell at (row, col), or nothing when the position was never stored
    // (past the end of its row). A position inside a row that was never
    // written is stored and empty.
    std::optional<Cell> find(int row, int col) const;
    // The cell's parts without copying it; an unstored cell is empty.
    Cell::Kind kind(int row, int col) const;
    double number(int row, int col) const;
    const QString& text(int row, int col) const;
    const QString& format(int row, int col) const;
    FormatId formatId(int row, int col) const;
    // The interned text of a text cell (textOf() gives it back); meaningless
    // for other kinds.
    TextId textId(int row, int col) const;

    // --- writing (grows the sheet as needed) ---
    void set(int row, int col, const Cell& cell);
    void setNumber(int row, int col, double value, FormatId format = kGeneral);
    void setText(int row, int col, TextId text, FormatId format = kGeneral);
    void setEmpty(int row, int col, FormatId format = kGeneral);
    TextId internText(const QString& text);
    FormatId internFormat(const QString& code);
    const QString& textOf(TextId id) const { return texts_[id]; }
    const QString& formatOf(FormatId id) const { return formats_[id]; }
    // Room for `rows` rows, and for `columns` cells in `row`, without
    // storing anything (readers that know the size ahead).
    void reserveRows(int rows);
    void reserveColumns(int row, int columns);
    // Room for `cells` cells in all.
    void reserveCells(std::size_t cells);
    // Stores empty cells up to (row, col) without changing any cell.
    void extendTo(int row, int col);

    // --- xlsx origin begin (owned by the .xlsx package code) ---
    // Index of this sheet in the package it was read from, -1 for a new sheet.
    int originSheet = -1;
    // Marks a cell as written since the file was read (storing it if needed).
    void touch(int row, int col);
    bool touched(int row, int col) const;
    bool anyTouched() const { return touchedCount_ > 0; }
    // Cells written since the file was read, by row then column.
    std::vector<std::pair<int, int>> touchedCells() const;
    bool widthsTouched = false;
    bool nameTouched = false;
    // --- xlsx origin end ---

private:
    struct Slot {
        union {
            double number;
            TextId text;
        };
        FormatId format = kGeneral;
        Cell::Kind kind = Cell::Kind::Empty;
        bool touched = false;
        Slot() : number(0.0) {}
    };
    static_assert(sizeof(Slot) == 16, "a cell is 16 bytes");

    // A row's cells: slots_[begin, begin + size), with room up to capacity.
    struct Row {
        std::uint32_t begin = 0;
        std::uint16_t size = 0;
        std::uint16_t capacity = 0;
    };
    static_assert(sizeof(Row) == 8, "a row is 8 bytes");

    const Slot* slot(int row, int col) const;
    Slot& slotAt(int row, int col);
    // Gives `row` room for `columns` cells, moving it to the arena's end
    // when it cannot grow where it is.
    void makeRoom(Row& row, std::size_t columns);
    // Packs the rows again once moved rows have left too much unused.
    void compact();

    std::vector<Row> rows_;
    std::vector<Slot, detail::LargeBlockAllocator<Slot>> slots_;
    std::size_t unused_ = 0; // slots left behind by rows that moved
    // deque: references handed out stay valid while more are interned.
    std::deque<QString> texts_;
    QHash<QString, TextId> textIds_;
    std::deque<QString> formats_;
    QHash<QString, FormatId> formatIds_;
    std::size_t touchedCount_ = 0;
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
