// The automation calls the report makes, with the effects it relies on.

#include "sheet/Automation.h"
#include "EngineTestUtil.h"
#include "sheet/EngineHooks.h"

#include <QTemporaryDir>

#include <cmath>
#include <utility>
#include <vector>

using namespace t5170::automation;
using t5170::sheet::SheetError;

namespace {

ApplicationPtr newApp() {
    return createApplication(QStringLiteral("Excel.Application"));
}

// An application with one new four-sheet workbook, as the report creates it.
struct Fixture {
    ApplicationPtr app = newApp();
    WorkbookPtr book;
    Fixture() {
        app->SheetsInNewWorkbook(4);
        app->WorkBooks()->add();
        book = app->WorkBooks(1);
    }
};

TEST(Automation, CreatedOnlyUnderItsName) {
    EXPECT_NO_THROW(createApplication(QStringLiteral("excel.application")));
    for (const char* name : {"Word.Application", "", "Excel"})
        EXPECT_THROW(createApplication(QString::fromUtf8(name)), SheetError) << name;
}

TEST(Automation, NewInstanceHasNoWorkbooks) {
    auto app = newApp();
    EXPECT_EQ(app->WorkBooks()->Count(), 0);
    EXPECT_THROW(app->WorkBooks(1), SheetError);
}

TEST(Automation, NewWorkbookHasTheRequestedSheets) {
    auto app = newApp();
    app->WorkBooks()->add(); // three sheets by default
    app->SheetsInNewWorkbook(4);
    app->WorkBooks()->add();
    EXPECT_EQ(app->WorkBooks()->Count(), 2);
    EXPECT_THROW(app->WorkBooks(1)->WorkSheets(4), SheetError);
    auto book = app->WorkBooks(2);
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(book->WorkSheets(i)->Name(), QStringLiteral("Лист%1").arg(i));
    for (int bad : {0, 5, -1})
        EXPECT_THROW(book->WorkSheets(bad), SheetError) << bad;
    EXPECT_THROW(app->WorkBooks(3), SheetError);
    EXPECT_THROW(app->WorkBooks(0), SheetError);
    for (int bad : {0, 256, -4})
        EXPECT_THROW(app->SheetsInNewWorkbook(bad), SheetError) << bad;
}

TEST(Automation, OneWorkbookMeansNoSecond) {
    Fixture f;
    EXPECT_NO_THROW(f.app->WorkBooks(1));
    EXPECT_THROW(f.app->WorkBooks(2), SheetError);
}

TEST(Automation, SheetNamesAreCheckedWhenWritten) {
    Fixture f;
    auto sheet = f.book->WorkSheets(1);
    sheet->Name(QStringLiteral("Измерение сопротивления"));
    EXPECT_EQ(sheet->Name(), QStringLiteral("Измерение сопротивления"));
    EXPECT_TRUE(f.book->WorkSheets(1)->Name() == sheet->Name());

    const QString bad[] = {QString(),
                           QString(32, u'Я'),
                           QStringLiteral("a:b"),
                           QStringLiteral("a\\b"),
                           QStringLiteral("a/b"),
                           QStringLiteral("a?b"),
                           QStringLiteral("a*b"),
                           QStringLiteral("a[b"),
                           QStringLiteral("a]b"),
                           QStringLiteral("'a"),
                           QStringLiteral("a'"),
                           QStringLiteral("ЛИСТ2")};
    for (const QString& name : bad) {
        EXPECT_THROW(sheet->Name(name), SheetError) << name.toStdString();
        EXPECT_EQ(sheet->Name(), QStringLiteral("Измерение сопротивления"));
    }
    EXPECT_NO_THROW(sheet->Name(QString(31, u'Я')));
    EXPECT_NO_THROW(f.book->WorkSheets(2)->Name(QStringLiteral("лист2"))); // its own name, recased
}

TEST(Automation, ColumnWidths) {
    Fixture f;
    auto sheet = f.book->WorkSheets(1);
    auto column = sheet->Columns()->Item(3);
    EXPECT_DOUBLE_EQ(column->ColumnWidth(), 8.43);
    column->ColumnWidth(15);
    EXPECT_DOUBLE_EQ(sheet->Columns()->Item(3)->ColumnWidth(), 15.0);
    EXPECT_DOUBLE_EQ(sheet->Columns()->Item(2)->ColumnWidth(), 8.43);
    for (double bad : {-1.0, 255.5, double(NAN)})
        EXPECT_THROW(column->ColumnWidth(bad), SheetError) << bad;
    EXPECT_DOUBLE_EQ(column->ColumnWidth(), 15.0);
    for (int bad : {0, 16385})
        EXPECT_THROW(sheet->Columns()->Item(bad), SheetError) << bad;
}

TEST(Automation, CellsWithinTheGrid) {
    Fixture f;
    auto sheet = f.book->WorkSheets(1);
    EXPECT_NO_THROW(sheet->Cells(1048576, 16384)->Value(QStringLiteral("угол")));
    EXPECT_EQ(sheet->Cells(1048576, 16384)->Value().toText(), QStringLiteral("угол"));
    for (auto [r, c] : {std::pair{0, 1}, {1, 0}, {1048577, 1}, {1, 16385}})
        EXPECT_THROW(sheet->Cells(r, c), SheetError) << r << "," << c;
}

TEST(Automation, ReportRecordReadsBackAsTheReportExpects) {
    Fixture f;
    auto sheet = f.book->WorkSheets(2);
    auto cell = [&](int c) { return sheet->Cells(2, c); };
    cell(6)->Value(QStringLiteral("999,"));
    cell(7)->Value(QStringLiteral("ГОм"));
    cell(8)->Value(1.248);
    cell(4)->Value(QStringLiteral("1,50"));
    cell(5)->Value(QStringLiteral("МОм"));
    cell(1)->NumberFormat(QStringLiteral("ДД.ММ.ГГГГ"));
    cell(1)->Value(QStringLiteral("1.3.2026"));
    cell(2)->NumberFormat(QStringLiteral("ЧЧ:ММ:СС"));
    cell(2)->Value(QStringLiteral("9:5:7"));
    cell(3)->Value(std::int32_t(1000));

    EXPECT_EQ(cell(1)->NumberFormat(), QStringLiteral("DD.MM.YYYY"));
    EXPECT_EQ(cell(2)->NumberFormat(), QStringLiteral("HH:MM:SS"));
    EXPECT_EQ(cell(1)->Value().toText(), QStringLiteral("01.03.2026"));
    EXPECT_DOUBLE_EQ(cell(1)->Value().toDouble(), 46082.0);
    EXPECT_EQ(cell(2)->Value().toText(), QStringLiteral("09:05:07"));
    EXPECT_NEAR(cell(2)->Value().toDouble(), (9 * 3600 + 5 * 60 + 7) / 86400.0, 1e-12);
    EXPECT_EQ(cell(3)->Value().toText(), QStringLiteral("1000"));
    EXPECT_TRUE(cell(4)->Value().isNumber());
    EXPECT_EQ(cell(4)->Value().toText(), QStringLiteral("1,5"));
    EXPECT_EQ(cell(6)->Value().toText(), QStringLiteral("999"));
    EXPECT_DOUBLE_EQ(cell(6)->Value().toDouble(), 999.0);
    EXPECT_EQ(cell(5)->Value().toText(), QStringLiteral("МОм"));
    EXPECT_THROW(cell(5)->Value().toDouble(), SheetError);
    EXPECT_EQ(cell(8)->Value().toText(), QStringLiteral("1,248"));
    // The row below is empty: empty text, zero.
    EXPECT_TRUE(sheet->Cells(3, 1)->Value().isEmpty());
    EXPECT_EQ(sheet->Cells(3, 1)->Value().toText(), QString());
    EXPECT_EQ(sheet->Cells(3, 1)->Value().toDouble(), 0.0);

    EXPECT_THROW(cell(8)->Value(double(INFINITY)), SheetError);
    EXPECT_THROW(cell(8)->Value(double(NAN)), SheetError);
    EXPECT_EQ(cell(8)->Value().toText(), QStringLiteral("1,248"));
    cell(8)->Value(QString());
    EXPECT_TRUE(cell(8)->Value().isEmpty());
}

TEST(Automation, ClosedWorkbookRefusesEveryCall) {
    Fixture f;
    auto sheet = f.book->WorkSheets(1);
    auto cell = sheet->Cells(1, 1);
    auto column = sheet->Columns()->Item(1);
    f.book->Close();
    EXPECT_EQ(f.app->WorkBooks()->Count(), 0);
    EXPECT_THROW(f.app->WorkBooks(1), SheetError);
    EXPECT_THROW(f.book->WorkSheets(1), SheetError);
    EXPECT_THROW(f.book->Save(), SheetError);
    EXPECT_THROW(f.book->SaveAs(QStringLiteral("/tmp/x.xls")), SheetError);
    EXPECT_THROW(f.book->Close(), SheetError);
    EXPECT_THROW(f.book->PrintOut(), SheetError);
    EXPECT_THROW(sheet->Name(QStringLiteral("x")), SheetError);
    EXPECT_THROW(sheet->Cells(1, 1), SheetError);
    EXPECT_THROW(cell->Value(QStringLiteral("x")), SheetError);
    EXPECT_THROW(cell->Value(), SheetError);
    EXPECT_THROW(column->ColumnWidth(3), SheetError);
    // The application goes on.
    EXPECT_NO_THROW(f.app->WorkBooks()->add());
}

TEST(Automation, NothingAnswersAfterQuit) {
    Fixture f;
    auto books = f.app->WorkBooks();
    auto sheet = f.book->WorkSheets(1);
    auto cell = sheet->Cells(1, 1);
    f.app->Quit();
    EXPECT_THROW(f.app->WorkBooks(), SheetError);
    EXPECT_THROW(f.app->WorkBooks(1), SheetError);
    EXPECT_THROW(f.app->DisplayAlerts(false), SheetError);
    EXPECT_THROW(f.app->Visible(true), SheetError);
    EXPECT_THROW(f.app->SheetsInNewWorkbook(4), SheetError);
    EXPECT_THROW(f.app->Quit(), SheetError);
    EXPECT_THROW(books->add(), SheetError);
    EXPECT_THROW(books->Count(), SheetError);
    EXPECT_THROW(f.book->Close(), SheetError);
    EXPECT_THROW(sheet->Name(), SheetError);
    EXPECT_THROW(cell->Value(std::int32_t(1)), SheetError);
}

TEST(Automation, SaveNeedsAFileAndOpenFindsItAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Fixture f;
    EXPECT_THROW(f.book->Save(), SheetError); // never saved under a name
    auto sheet = f.book->WorkSheets(1);
    sheet->Name(QStringLiteral("Измерение сопротивления"));
    sheet->Columns()->Item(1)->ColumnWidth(10);
    sheet->Cells(1, 1)->Value(QStringLiteral("Дата"));
    const QString path = dir.filePath(QStringLiteral("цех1.xls"));
    f.book->SaveAs(path);
    sheet->Cells(2, 1)->Value(QStringLiteral("1.3.2026"));
    f.book->Save();
    f.app->Quit();

    auto app = newApp();
    auto book = app->WorkBooks()->Open(path, 0, false, 1);
    EXPECT_TRUE(app->WorkBooks(1) != nullptr);
    auto s = book->WorkSheets(1);
    EXPECT_EQ(s->Name(), QStringLiteral("Измерение сопротивления"));
    EXPECT_DOUBLE_EQ(s->Columns()->Item(1)->ColumnWidth(), 10.0);
    EXPECT_EQ(s->Cells(1, 1)->Value().toText(), QStringLiteral("Дата"));
    EXPECT_EQ(s->Cells(2, 1)->Value().toText(), QStringLiteral("01.03.2026"));
    EXPECT_NO_THROW(book->WorkSheets(4));
    EXPECT_THROW(book->WorkSheets(5), SheetError);

    // Read-only: Save refuses, Save As works.
    auto ro = app->WorkBooks()->Open(path, 0, true, 1);
    EXPECT_THROW(ro->Save(), SheetError);
    EXPECT_NO_THROW(ro->SaveAs(dir.filePath(QStringLiteral("copy.xls"))));
    EXPECT_NO_THROW(ro->Save());

    EXPECT_THROW(app->WorkBooks()->Open(dir.filePath(QStringLiteral("нет.xls"))), SheetError);
    EXPECT_THROW(app->WorkBooks()->Open(QString()), SheetError);
    EXPECT_EQ(app->WorkBooks()->Count(), 2);
}

// A ui that records what the engine asks of it.
struct RecordingUi : t5170::sheet::EngineUi {
    QStringList log;
    std::shared_ptr<const t5170::sheet::Workbook> shown;
    bool failShow = false;
    void show(std::shared_ptr<const t5170::sheet::Workbook> book, const QString& title) override {
        if (failShow)
            throw SheetError("no display");
        shown = book;
        log << (QStringLiteral("show ") + (book ? title : QStringLiteral("-")));
    }
    void hide() noexcept override {
        shown.reset();
        log << QStringLiteral("hide");
    }
    void changed(int sheet, int row, int column) noexcept override {
        log << QStringLiteral("changed %1 %2 %3").arg(sheet).arg(row).arg(column);
    }
    void print(const t5170::sheet::Workbook& book, const QString& title) override {
        log << QStringLiteral("print %1 %2").arg(title).arg(book.sheets.size());
    }
};

class WithUi : public ::testing::Test {
protected:
    std::shared_ptr<RecordingUi> ui = std::make_shared<RecordingUi>();
    void SetUp() override {
        t5170::sheet::setEngineUiFactory([ui = ui] { return ui; });
    }
    void TearDown() override { t5170::sheet::setEngineUiFactory({}); }
};

TEST_F(WithUi, VisibleShowsTheWorkbookLiveAndHides) {
    Fixture f;
    auto sheet = f.book->WorkSheets(2);
    sheet->Cells(1, 1)->Value(QStringLiteral("до показа")); // hidden: no news
    f.app->Visible(true);
    ASSERT_TRUE(ui->shown);
    EXPECT_EQ(ui->shown->sheets.size(), 4u);
    EXPECT_EQ(ui->shown->sheets[1].text(0, 0), QStringLiteral("до показа"));
    sheet->Cells(3, 2)->Value(std::int32_t(5));
    sheet->Columns()->Item(1)->ColumnWidth(10);
    sheet->Name(QStringLiteral("Другое"));
    EXPECT_EQ(ui->shown->sheets[1].number(2, 1), 5.0); // the live model
    f.app->Visible(false);
    sheet->Cells(4, 1)->Value(std::int32_t(6));
    f.app->Visible(true);
    f.book->Close(); // the window stays, empty
    f.app->Quit();
    EXPECT_EQ(ui->log, (QStringList{"show Книга1", "changed 1 2 1", "changed 1 -1 -1",
                                    "changed 1 -1 -1", "hide", "show Книга1", "show -", "hide"}));
}

TEST_F(WithUi, WritesAreRecordedForSavingOnlyWhatChanged) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.xls"));
    {
        Fixture f;
        f.book->SaveAs(path);
    }
    auto app = newApp();
    auto book = app->WorkBooks()->Open(path);
    app->Visible(true); // the window sees the engine's model
    ASSERT_TRUE(ui->shown);
    const auto& sheets = ui->shown->sheets;
    for (const auto& s : sheets)
        EXPECT_TRUE(s.touchedCells().empty() && !s.widthsTouched && !s.nameTouched);
    auto sheet = book->WorkSheets(2);
    sheet->Cells(3, 4)->Value(QStringLiteral("x"));
    sheet->Cells(5, 1)->NumberFormat(QStringLiteral("ДД.ММ.ГГГГ"));
    sheet->Cells(6, 6)->Value(); // reads change nothing
    sheet->Columns()->Item(2)->ColumnWidth(9);
    book->WorkSheets(3)->Name(QStringLiteral("Новое"));
    book->WorkSheets(1)->Name(QStringLiteral("Лист1")); // the same name: no change
    EXPECT_EQ(sheets[1].touchedCells(), (std::vector<std::pair<int, int>>{{2, 3}, {4, 0}}));
    EXPECT_TRUE(sheets[1].widthsTouched);
    EXPECT_FALSE(sheets[1].nameTouched);
    EXPECT_TRUE(sheets[2].nameTouched);
    EXPECT_TRUE(sheets[2].touchedCells().empty());
    EXPECT_FALSE(sheets[0].nameTouched);
    EXPECT_FALSE(sheets[0].widthsTouched);
}

TEST_F(WithUi, WindowFollowsTheFirstWorkbook) {
    auto app = newApp();
    app->Visible(true);
    app->WorkBooks()->add();
    app->WorkBooks()->add();
    app->WorkBooks(1)->Close();
    EXPECT_EQ(ui->log, (QStringList{"show -", "show Книга1", "show Книга2"}));
}

TEST_F(WithUi, FailedShowLeavesTheWindowHidden) {
    Fixture f;
    ui->failShow = true;
    EXPECT_THROW(f.app->Visible(true), SheetError);
    f.book->WorkSheets(1)->Cells(1, 1)->Value(std::int32_t(1));
    EXPECT_TRUE(ui->log.isEmpty());
}

TEST_F(WithUi, PrintOutGoesToTheUi) {
    Fixture f;
    f.book->PrintOut();
    EXPECT_EQ(ui->log, QStringList{QStringLiteral("print Книга1 4")});
}

TEST(Automation, PrintOutWithoutUiFails) {
    Fixture f;
    EXPECT_THROW(f.book->PrintOut(), SheetError);
    EXPECT_NO_THROW(f.app->Visible(true)); // nothing to show it on, but no failure
}

} // namespace
