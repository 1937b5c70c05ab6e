// The engine's viewer window, driven through the automation interface as
// the report drives it.

#include "SheetViewer.h"
#include "Automation.h"
#include "EngineHooks.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace t5170;
using namespace t5170::sheet;

namespace {

class Viewer : public testing::Test {
protected:
    void SetUp() override {
        setEngineUiFactory([this] {
            auto ui = std::make_shared<WidgetEngineUi>();
            ui_ = ui;
            return ui;
        });
        app = automation::createApplication(QStringLiteral("Excel.Application"));
        app->SheetsInNewWorkbook(4);
        book = app->WorkBooks()->add();
    }
    void TearDown() override {
        app->Quit();
        setEngineUiFactory({});
    }

    SheetViewer* viewer() const {
        const auto ui = ui_.lock();
        return ui ? ui->viewer() : nullptr;
    }
    QAbstractItemModel* model(int sheet) const { return viewer()->table(sheet)->model(); }
    QString shown(int sheet, int row, int col) const {
        return model(sheet)->index(row, col).data().toString();
    }
    static void settle() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    automation::ApplicationPtr app;
    automation::WorkbookPtr book;
    std::weak_ptr<WidgetEngineUi> ui_;
};

} // namespace

TEST_F(Viewer, VisibleShowsTabsThatFollowTheCells) {
    const auto sheet = book->WorkSheets(1);
    sheet->Name(QStringLiteral("Измерение сопротивления"));
    sheet->Columns()->Item(1)->ColumnWidth(10.0);
    sheet->Cells(1, 1)->Value(QStringLiteral("Дата"));
    app->Visible(true);
    ASSERT_NE(viewer(), nullptr);
    EXPECT_TRUE(viewer()->isVisible());
    EXPECT_EQ(viewer()->windowTitle(), QStringLiteral("Книга1"));
    ASSERT_EQ(viewer()->tabs()->count(), 4);
    EXPECT_EQ(viewer()->tabs()->tabText(0), QStringLiteral("Измерение сопротивления"));
    EXPECT_EQ(viewer()->tabs()->tabText(3), QStringLiteral("Лист4"));
    EXPECT_EQ(shown(0, 0, 0), QStringLiteral("Дата"));
    const double digit = viewer()->table(0)->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    EXPECT_NEAR(viewer()->table(0)->columnWidth(0), 10 * digit + 5, 1.0);

    // A record written while the window is open shows in the engine's
    // display formats.
    sheet->Cells(2, 1)->Value(QStringLiteral("1.3.2026"));
    sheet->Cells(2, 2)->Value(QStringLiteral("9:5:7"));
    sheet->Cells(2, 3)->Value(std::int32_t(500));
    sheet->Cells(2, 4)->Value(QStringLiteral("12,3"));
    sheet->Cells(2, 5)->Value(QStringLiteral("МОм"));
    sheet->Cells(3, 8)->Value(1.248);
    settle();
    EXPECT_EQ(model(0)->rowCount(), 3);
    EXPECT_EQ(model(0)->columnCount(), 8);
    EXPECT_EQ(shown(0, 1, 0), QStringLiteral("01.03.2026"));
    EXPECT_EQ(shown(0, 1, 1), QStringLiteral("09:05:07"));
    EXPECT_EQ(shown(0, 1, 2), QStringLiteral("500"));
    EXPECT_EQ(shown(0, 1, 3), QStringLiteral("12,3"));
    EXPECT_EQ(shown(0, 1, 4), QStringLiteral("МОм"));
    EXPECT_EQ(shown(0, 2, 7), QStringLiteral("1,248"));
    EXPECT_EQ(model(0)->index(1, 2).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
              int(Qt::AlignRight));
    EXPECT_EQ(model(0)->headerData(7, Qt::Horizontal).toString(), QStringLiteral("H"));

    // Renames and widths follow too.
    book->WorkSheets(2)->Name(QStringLiteral("Измерение Абсорбции"));
    sheet->Columns()->Item(2)->ColumnWidth(20.0);
    settle();
    EXPECT_EQ(viewer()->tabs()->tabText(1), QStringLiteral("Измерение Абсорбции"));
    EXPECT_NEAR(viewer()->table(0)->columnWidth(1), 20 * digit + 5, 1.0);

    app->Visible(false);
    EXPECT_FALSE(viewer()->isVisible());
}

TEST_F(Viewer, ABurstOfWritesIsPublishedOnce) {
    app->Visible(true);
    ASSERT_NE(viewer(), nullptr);
    QSignalSpy changed(model(0), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(model(0), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model(0), &QAbstractItemModel::modelReset);
    const auto sheet = book->WorkSheets(1);
    for (int r = 2; r <= 10'001; ++r) {
        sheet->Cells(r, 1)->Value(QStringLiteral("1.3.2026"));
        sheet->Cells(r, 3)->Value(std::int32_t(r));
    }
    EXPECT_EQ(changed.count(), 0) << "nothing is published while writes go on";
    settle();
    EXPECT_EQ(model(0)->rowCount(), 10'001);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_LE(changed.count(), 1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(shown(0, 10'000, 2), QStringLiteral("10001"));
}

TEST_F(Viewer, CloseBoxOnlyHidesAndTitleFollowsTheFile) {
    app->Visible(true);
    ASSERT_NE(viewer(), nullptr);
    SheetViewer* window = viewer();
    window->close();
    EXPECT_FALSE(window->isVisible());
    // Closed by the operator, the application is hidden, as by Visible(false);
    // shown again, the same window shows what was written meanwhile.
    book->WorkSheets(1)->Cells(1, 1)->Value(QStringLiteral("после закрытия"));
    app->Visible(true);
    settle();
    EXPECT_EQ(viewer(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(shown(0, 0, 0), QStringLiteral("после закрытия"));

    QTemporaryDir dir;
    book->SaveAs(dir.filePath(QStringLiteral("цех1.xlsx")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("цех1.xlsx"));
    book->Close();
    EXPECT_EQ(window->tabs()->count(), 0);
}
