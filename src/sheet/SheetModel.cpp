#include "sheet/SheetModel.h"

#include "sheet/Formats.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <new>

namespace t5170::sheet {

void checkSheetName(const QString& name) {
    const auto bad = [&name](const char* why) {
        throw SheetError("Недопустимое имя листа «" + name.left(64).toStdString() + "»: " + why);
    };
    if (name.isEmpty())
        bad("имя пусто");
    if (name.size() > 31)
        bad("длиннее 31 знака");
    for (QChar c : name)
        if (QStringView(u":\\/?*[]").contains(c))
            bad("знаки : \\ / ? * [ ] недопустимы");
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        bad("апостроф в начале или в конце");
}

bool sameSheetName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

void checkSheetNames(const Workbook& book) {
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        checkSheetName(book.sheets[i].name);
        for (std::size_t j = 0; j < i; ++j)
            if (sameSheetName(book.sheets[i].name, book.sheets[j].name))
                throw SheetError("Два листа с одинаковым именем «" +
                                 book.sheets[i].name.toStdString() + "»");
    }
}

} // namespace t5170::sheet

namespace t5170::sheet {

namespace detail {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
std::atomic<std::size_t> largeInUse{0};
} // namespace

std::size_t largeBytesInUse() {
    return largeInUse.load(std::memory_order_relaxed);
}

void* allocateLarge(std::size_t bytes) {
    // One huge page more than asked, so that the block can start on a
    // huge-page boundary; the ends are given back.
    const std::size_t mapped = bytes + kHugePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const std::uintptr_t tail = aligned + bytes;
    const std::uintptr_t end = start + mapped;
    if (end > tail)
        munmap(reinterpret_cast<void*>(tail), end - tail);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
#endif
    largeInUse.fetch_add(bytes, std::memory_order_relaxed);
    return reinterpret_cast<void*>(aligned);
}

void deallocateLarge(void* p, std::size_t bytes) {
    munmap(p, bytes);
    largeInUse.fetch_sub(bytes, std::memory_order_relaxed);
}

} // namespace detail

namespace {
const QString kNoText;
constexpr auto kMaxColumns = static_cast<std::size_t>(MaxColumns);
} // namespace

Sheet::Sheet() {
    formats_.emplace_back();
    formatIds_.insert(QString(), kGeneral);
}

int Sheet::columnCount(int row) const {
    if (row < 0 || row >= rowCount())
        return 0;
    return rows_[static_cast<std::size_t>(row)].size;
}

const Sheet::Slot* Sheet::slot(int row, int col) const {
    if (row < 0 || col < 0 || row >= rowCount())
        return nullptr;
    const Row& r = rows_[static_cast<std::size_t>(row)];
    return col < r.size ? &slots_[r.begin + static_cast<std::size_t>(col)] : nullptr;
}

Sheet::Slot& Sheet::slotAt(int row, int col) {
    extendTo(row, col);
    return slots_[rows_[static_cast<std::size_t>(row)].begin + static_cast<std::size_t>(col)];
}

void Sheet::makeRoom(Row& row, std::size_t columns) {
    if (columns <= row.capacity)
        return;
    if (columns > kMaxColumns)
        throw SheetError("Ячейка за пределами листа");
    if (row.begin + row.capacity == slots_.size()) {
        // The last row of the arena grows in place.
        slots_.resize(row.begin + columns);
    } else {
        const std::size_t capacity = std::min<std::size_t>(
            kMaxColumns, std::max<std::size_t>(columns, std::size_t(row.capacity) * 2));
        const std::size_t begin = slots_.size();
        if (begin + capacity > std::numeric_limits<std::uint32_t>::max())
            throw SheetError("Лист слишком велик");
        slots_.resize(begin + capacity);
        std::copy_n(slots_.begin() + row.begin, row.size, slots_.begin() + begin);
        unused_ += row.capacity;
        row.begin = static_cast<std::uint32_t>(begin);
        columns = capacity;
    }
    row.capacity = static_cast<std::uint16_t>(columns);
    if (unused_ > 4096 && unused_ > slots_.size() / 2)
        compact();
}

void Sheet::compact() {
    std::size_t total = 0;
    for (const Row& r : rows_)
        total += r.size;
    decltype(slots_) packed;
    packed.reserve(total);
    for (Row& r : rows_) {
        const auto begin = static_cast<std::uint32_t>(packed.size());
        packed.insert(packed.end(), slots_.begin() + r.begin, slots_.begin() + r.begin + r.size);
        r.begin = begin;
        r.capacity = r.size;
    }
    slots_ = std::move(packed);
    unused_ = 0;
}

void Sheet::extendTo(int row, int col) {
    if (row < 0 || col < 0)
        throw SheetError("Ячейка за пределами листа");
    if (rows_.size() <= static_cast<std::size_t>(row))
        rows_.resize(static_cast<std::size_t>(row) + 1);
    Row& r = rows_[static_cast<std::size_t>(row)];
    const auto need = static_cast<std::size_t>(col) + 1;
    if (need <= r.size)
        return;
    makeRoom(r, need);
    // Slots past the size may hold what a moved or shrunk row left there.
    std::fill(slots_.begin() + r.begin + r.size, slots_.begin() + r.begin + need, Slot());
    r.size = static_cast<std::uint16_t>(need);
}

std::optional<Cell> Sheet::find(int row, int col) const {
    const Slot* s = slot(row, col);
    if (!s)
        return std::nullopt;
    Cell c;
    c.kind = s->kind;
    if (s->kind == Cell::Kind::Number)
        c.number = s->number;
    else if (s->kind == Cell::Kind::Text)
        c.text = texts_[s->text];
    c.format = formats_[s->format];
    return c;
}

Cell::Kind Sheet::kind(int row, int col) const {
    const Slot* s = slot(row, col);
    return s ? s->kind : Cell::Kind::Empty;
}

double Sheet::number(int row, int col) const {
    const Slot* s = slot(row, col);
    return s && s->kind == Cell::Kind::Number ? s->number : 0.0;
}

const QString& Sheet::text(int row, int col) const {
    const Slot* s = slot(row, col);
    return s && s->kind == Cell::Kind::Text ? texts_[s->text] : kNoText;
}

const QString& Sheet::format(int row, int col) const {
    const Slot* s = slot(row, col);
    return s ? formats_[s->format] : kNoText;
}

Sheet::TextId Sheet::textId(int row, int col) const {
    const Slot* s = slot(row, col);
    return s && s->kind == Cell::Kind::Text ? s->text : 0;
}

Sheet::FormatId Sheet::formatId(int row, int col) const {
    const Slot* s = slot(row, col);
    return s ? s->format : kGeneral;
}

void Sheet::set(int row, int col, const Cell& cell) {
    const FormatId format = internFormat(cell.format);
    switch (cell.kind) {
    case Cell::Kind::Empty:
        setEmpty(row, col, format);
        break;
    case Cell::Kind::Number:
        setNumber(row, col, cell.number, format);
        break;
    case Cell::Kind::Text:
        setText(row, col, internText(cell.text), format);
        break;
    }
}

void Sheet::setNumber(int row, int col, double value, FormatId format) {
    Slot& s = slotAt(row, col);
    s.kind = Cell::Kind::Number;
    s.number = value;
    s.format = format;
}

void Sheet::setText(int row, int col, TextId text, FormatId format) {
    Slot& s = slotAt(row, col);
    s.kind = Cell::Kind::Text;
    s.text = text;
    s.format = format;
}

void Sheet::setEmpty(int row, int col, FormatId format) {
    Slot& s = slotAt(row, col);
    s.kind = Cell::Kind::Empty;
    s.number = 0.0;
    s.format = format;
}

Sheet::TextId Sheet::internText(const QString& text) {
    const auto it = textIds_.constFind(text);
    if (it != textIds_.constEnd())
        return *it;
    const auto id = static_cast<TextId>(texts_.size());
    texts_.push_back(text);
    textIds_.insert(text, id);
    return id;
}

Sheet::FormatId Sheet::internFormat(const QString& code) {
    const auto it = formatIds_.constFind(code);
    if (it != formatIds_.constEnd())
        return *it;
    const auto id = static_cast<FormatId>(formats_.size());
    formats_.push_back(code);
    formatIds_.insert(code, id);
    return id;
}

void Sheet::reserveRows(int rows) {
    if (rows > 0)
        rows_.reserve(static_cast<std::size_t>(rows));
}

void Sheet::reserveColumns(int row, int columns) {
    if (row < 0 || columns <= 0)
        return;
    if (rows_.size() <= static_cast<std::size_t>(row))
        rows_.resize(static_cast<std::size_t>(row) + 1);
    makeRoom(rows_[static_cast<std::size_t>(row)],
             std::min<std::size_t>(static_cast<std::size_t>(columns), kMaxColumns));
}

void Sheet::reserveCells(std::size_t cells) {
    slots_.reserve(cells);
}

void Sheet::touch(int row, int col) {
    Slot& s = slotAt(row, col);
    if (!s.touched) {
        s.touched = true;
        ++touchedCount_;
    }
}

bool Sheet::touched(int row, int col) const {
    const Slot* s = slot(row, col);
    return s && s->touched;
}

std::vector<std::pair<int, int>> Sheet::touchedCells() const {
    std::vector<std::pair<int, int>> out;
    out.reserve(touchedCount_);
    for (std::size_t r = 0; r < rows_.size() && out.size() < touchedCount_; ++r)
        for (std::size_t c = 0; c < rows_[r].size; ++c)
            if (slots_[rows_[r].begin + c].touched)
                out.emplace_back(static_cast<int>(r), static_cast<int>(c));
    return out;
}

} // namespace t5170::sheet
