// The sheet's packed cell store: interning, stored and unstored positions,
// ragged rows, the record of written cells, and cells changing kind.

#include "sheet/SheetModel.h"
#include "EngineTestUtil.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

using namespace t5170::sheet;

namespace {

const QString kDate = QStringLiteral("DD.MM.YYYY");
const QString kTime = QStringLiteral("HH:MM:SS");

TEST(SheetModel, TextsAndFormatsAreInternedOncePerSheet) {
    Sheet s;
    const Sheet::TextId mohm = s.internText(QStringLiteral("МОм"));
    const Sheet::FormatId date = s.internFormat(kDate);
    struct Case {
        const char* what;
        bool same;
        bool expected;
    };
    const Case cases[] = {
        {"the same text again", s.internText(QStringLiteral("МОм")) == mohm, true},
        {"a text differing in case", s.internText(QStringLiteral("мОм")) == mohm, false},
        {"another text", s.internText(QStringLiteral("ГОм")) == mohm, false},
        {"the empty text", s.internText(QString()) == mohm, false},
        {"the same format again", s.internFormat(QStringLiteral("DD.MM.YYYY")) == date, true},
        {"another format", s.internFormat(kTime) == date, false},
        {"General is format 0", s.internFormat(QString()) == Sheet::kGeneral, true},
        {"an empty code is General", s.internFormat(QStringLiteral("")) == Sheet::kGeneral, true},
        {"a format is never General", date == Sheet::kGeneral, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.same, c.expected) << c.what;
    EXPECT_EQ(s.textOf(mohm), QStringLiteral("МОм"));
    EXPECT_EQ(s.formatOf(date), kDate);
    EXPECT_EQ(s.formatOf(Sheet::kGeneral), QString());

    // Cells written with equal values share the interned ones.
    s.set(0, 0, text(QStringLiteral("ГОм")));
    s.set(5, 3, text(QStringLiteral("ГОм")));
    s.set(1, 0, number(46082, kDate));
    s.set(1, 1, number(0.5, kTime));
    EXPECT_EQ(s.textId(0, 0), s.textId(5, 3));
    EXPECT_EQ(s.textId(0, 0), s.internText(QStringLiteral("ГОм")));
    EXPECT_EQ(s.formatId(1, 0), date);
    EXPECT_NE(s.formatId(1, 1), date);

    // A text handed out stays valid while many more are interned.
    const QString& first = s.textOf(mohm);
    for (int i = 0; i < 1000; ++i)
        s.internText(QString::number(i));
    EXPECT_EQ(first, QStringLiteral("МОм"));
    EXPECT_EQ(s.textOf(s.internText(QStringLiteral("999"))), QStringLiteral("999"));
}

TEST(SheetModel, StoredEmptyCellsDifferFromPositionsNeverStored) {
    Sheet s;
    s.set(2, 3, number(7, kDate));
    s.set(0, 0, text(QStringLiteral("Дата")));
    s.extendTo(4, 1);
    struct Case {
        int row, col;
        bool stored;
        Cell::Kind kind;
    };
    const Case cases[] = {
        {2, 3, true, Cell::Kind::Number},  {0, 0, true, Cell::Kind::Text},
        {2, 0, true, Cell::Kind::Empty},   {2, 2, true, Cell::Kind::Empty},
        {4, 1, true, Cell::Kind::Empty},   {2, 4, false, Cell::Kind::Empty},
        {1, 0, false, Cell::Kind::Empty},  {0, 1, false, Cell::Kind::Empty},
        {5, 0, false, Cell::Kind::Empty},  {-1, 0, false, Cell::Kind::Empty},
        {0, -1, false, Cell::Kind::Empty}, {70000, 300, false, Cell::Kind::Empty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.row << "," << c.col);
        const std::optional<Cell> found = s.find(c.row, c.col);
        ASSERT_EQ(found.has_value(), c.stored);
        EXPECT_EQ(s.kind(c.row, c.col), c.kind);
        if (found) {
            EXPECT_EQ(found->kind, c.kind);
        }
        if (c.kind == Cell::Kind::Empty) {
            // The cheap reads of an empty or unstored cell read as nothing.
            EXPECT_EQ(s.number(c.row, c.col), 0.0);
            EXPECT_TRUE(s.text(c.row, c.col).isEmpty());
            EXPECT_EQ(s.formatId(c.row, c.col), Sheet::kGeneral);
            EXPECT_TRUE(s.format(c.row, c.col).isEmpty());
        }
    }
    const Cell dated = *s.find(2, 3);
    EXPECT_EQ(dated.number, 7.0);
    EXPECT_EQ(dated.format, kDate);
    EXPECT_TRUE(dated.text.isEmpty());
    EXPECT_EQ(s.find(0, 0)->text, QStringLiteral("Дата"));

    // A formatted empty cell keeps its format; an empty one stores General.
    s.set(3, 0, Cell{Cell::Kind::Empty, 0.0, {}, kTime});
    EXPECT_EQ(s.find(3, 0)->format, kTime);
    EXPECT_EQ(s.kind(3, 0), Cell::Kind::Empty);
}

TEST(SheetModel, RowsAreRaggedAndOnlyGrow) {
    Sheet s;
    EXPECT_EQ(s.rowCount(), 0);
    EXPECT_EQ(s.columnCount(0), 0);
    s.set(0, 7, number(1));
    s.set(3, 1, number(2));
    s.setNumber(1, 2, 3.0);
    s.set(3, 0, number(4)); // inside row 3: no growth
    s.reserveRows(100);     // room only
    s.reserveColumns(3, 50);
    const std::vector<int> columns = {8, 3, 0, 2};
    ASSERT_EQ(s.rowCount(), 4);
    for (int r = 0; r < s.rowCount(); ++r)
        EXPECT_EQ(s.columnCount(r), columns[std::size_t(r)]) << r;
    EXPECT_EQ(s.columnCount(4), 0);
    EXPECT_EQ(s.columnCount(-1), 0);
    EXPECT_EQ(s.number(0, 7), 1.0);
    EXPECT_EQ(s.number(3, 0), 4.0);
    EXPECT_EQ(s.number(3, 1), 2.0);
}

TEST(SheetModel, TouchedCellsAreListedOnceInRowOrder) {
    Sheet s;
    EXPECT_FALSE(s.anyTouched());
    EXPECT_TRUE(s.touchedCells().empty());
    s.set(0, 0, text(QStringLiteral("прочитано"))); // a read value, not a write
    const std::vector<std::pair<int, int>> writes = {{4, 0}, {2, 3}, {2, 1}, {4, 0},
                                                     {0, 9}, {2, 3}, {7, 2}};
    for (const auto& [r, c] : writes)
        s.touch(r, c);
    const std::vector<std::pair<int, int>> expected = {{0, 9}, {2, 1}, {2, 3}, {4, 0}, {7, 2}};
    EXPECT_EQ(s.touchedCells(), expected);
    EXPECT_TRUE(s.anyTouched());
    for (const auto& [r, c] : expected) {
        EXPECT_TRUE(s.touched(r, c)) << r << "," << c;
        EXPECT_TRUE(s.find(r, c).has_value()) << "a touched cell is stored";
    }
    EXPECT_FALSE(s.touched(0, 0));
    EXPECT_FALSE(s.touched(2, 2));
    EXPECT_FALSE(s.touched(9, 9));

    // Writing a value over a touched cell keeps the mark.
    s.set(2, 1, number(5));
    EXPECT_TRUE(s.touched(2, 1));
    EXPECT_EQ(s.touchedCells(), expected);

    // A copy carries the marks; the original goes on alone.
    const Sheet copy = s;
    s.touch(8, 0);
    EXPECT_EQ(copy.touchedCells(), expected);
    EXPECT_EQ(s.touchedCells().size(), expected.size() + 1);
}

TEST(SheetModel, ACellChangesKindAndBack) {
    Sheet s;
    const Sheet::FormatId date = s.internFormat(kDate);
    s.set(1, 1, Cell{Cell::Kind::Text, 0.0, QStringLiteral("МОм"), kDate});
    const Sheet::TextId mohm = s.textId(1, 1);

    s.setNumber(1, 1, 46082.0, s.formatId(1, 1));
    EXPECT_EQ(s.kind(1, 1), Cell::Kind::Number);
    EXPECT_EQ(s.number(1, 1), 46082.0);
    EXPECT_TRUE(s.text(1, 1).isEmpty()) << "a number has no text";
    EXPECT_TRUE(s.find(1, 1)->text.isEmpty());
    EXPECT_EQ(s.formatId(1, 1), date);

    s.set(1, 1, text(QStringLiteral("МОм")));
    EXPECT_EQ(s.kind(1, 1), Cell::Kind::Text);
    EXPECT_EQ(s.textId(1, 1), mohm) << "the text is interned once";
    EXPECT_EQ(s.number(1, 1), 0.0) << "a text has no number";
    EXPECT_EQ(s.find(1, 1)->number, 0.0);
    EXPECT_EQ(s.formatId(1, 1), Sheet::kGeneral) << "set() stores the cell's own format";

    s.setNumber(1, 1, -0.25);
    s.setEmpty(1, 1, date);
    const Cell emptied = *s.find(1, 1);
    EXPECT_EQ(emptied.kind, Cell::Kind::Empty);
    EXPECT_EQ(emptied.number, 0.0);
    EXPECT_EQ(emptied.format, kDate);
}

} // namespace
