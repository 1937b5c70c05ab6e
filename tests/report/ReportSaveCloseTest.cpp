// Saving, closing, showing and printing the report from the main window's
// menu and buttons.

#include "ReportHarness.h"
#include "sheet/EngineHooks.h"
#include "sheet/ui/SheetViewer.h"

#include <QCloseEvent>
#include <QFileInfo>

using namespace t5170;
using namespace t5170::testing;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The engine's window and printing, recorded instead of shown.
class RecordingUi : public sheet::EngineUi {
public:
    int shows = 0, hides = 0;
    std::vector<int> printedSheets;
    void show(std::shared_ptr<const sheet::Workbook>, const QString&) override { ++shows; }
    void hide() noexcept override { ++hides; }
    void changed(int, int, int) noexcept override {}
    void print(const sheet::Workbook& book, const QString&) override {
        printedSheets.push_back(int(book.sheets.size()));
    }
};

} // namespace

TEST_F(ReportWindow, SaveRightAfterCreateAsksForAName) {
    form->N2->trigger();
    const QString file = path(u8("цех1.xls"));
    dialogs.saveNames = {file};
    form->Save->trigger();

    EXPECT_EQ(dialogs.saveAsked, 1);
    EXPECT_EQ(status(), u8("Отчет сохранен"));
    EXPECT_EQ(form->LabRepName->text(), u8("цех1.xls"));
    EXPECT_TRUE(rep().HasFile);
    EXPECT_TRUE(rep().IsSaved);
    EXPECT_TRUE(rep().IsOpen);

    // A later Save writes to the same file without a dialog.
    feed(resultBytes(izmR, 500, 12345));
    form->ButAddTek->click();
    EXPECT_FALSE(rep().IsSaved);
    form->Save->trigger();
    EXPECT_EQ(dialogs.saveAsked, 1);
    EXPECT_TRUE(rep().IsSaved);
    Workbook saved(file);
    EXPECT_EQ(saved.text(1, 2, 4), u8("12,3"));
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ReportWindow, SaveAsWritesTheFormatTheNameCallsFor) {
    const struct {
        const char* name;
        QByteArray magic;
    } cases[] = {
        {"отчет.xls", QByteArray::fromHex("d0cf11e0a1b11ae1")},
        {"отчет.xlsx", QByteArray("PK\x03\x04")},
    };
    form->N2->trigger();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.saveNames = {path(u8(c.name))};
        form->SaveaS->trigger();
        EXPECT_TRUE(fileBytes(path(u8(c.name))).startsWith(c.magic));
        EXPECT_EQ(form->LabRepName->text(), u8(c.name));
    }
}

TEST_F(ReportWindow, CancellingTheSaveDialogChangesNothing) {
    form->N2->trigger();
    form->setStatusText(u8("до"));
    dialogs.saveNames = {QString(), QString()};
    form->SaveaS->trigger();
    form->Save->trigger();
    EXPECT_EQ(dialogs.saveAsked, 2);
    EXPECT_EQ(status(), u8("до"));
    EXPECT_FALSE(rep().IsSaved);
    EXPECT_FALSE(rep().HasFile);
    EXPECT_EQ(form->LabRepName->text(), u8("нет"));
    EXPECT_TRUE(dialogs.errors.empty());
}

// Mend: a save that fails tells the operator, and changes nothing else.
TEST_F(ReportWindow, AFailedSaveIsReportedAndChangesNothing) {
    const QString first = path(u8("первый.xls"));
    const struct {
        const char* what;
        const char* fail; // call made to fail, or nullptr for a real failure
        QString saveAs;   // "" = Save to the report's own file
        bool hasFileBefore;
    } cases[] = {
        {"SaveAs refused", "SaveAs", path(u8("b.xls")), false},
        {"alerts refused before SaveAs", "DisplayAlerts", path(u8("b.xls")), false},
        {"SaveAs into a folder that does not exist", nullptr, path(u8("нет/b.xls")), false},
        {"SaveAs onto a folder", nullptr, dir.path(), false},
        {"Save refused", "Save", QString(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& p = failing();
        form->N2->trigger();
        if (c.hasFileBefore) {
            dialogs.saveNames = {first};
            form->SaveaS->trigger();
            ASSERT_TRUE(rep().HasFile);
        }
        feed(resultBytes(izmR, 500, 12345));
        form->ButAddTek->click();
        const QByteArray before = fileBytes(first);
        const QString name = form->LabRepName->text();
        form->setStatusText(u8("до"));
        dialogs.errors.clear();
        if (c.fail)
            p.failAt(u8(c.fail));

        if (c.saveAs.isEmpty()) {
            form->Save->trigger();
        } else {
            dialogs.saveNames = {c.saveAs};
            form->SaveaS->trigger();
        }

        EXPECT_EQ(dialogs.errors,
                  (std::vector<Box>{{u8("Ошибка"), u8("Невозможно сохранить отчет"), u8("до")}}));
        EXPECT_EQ(status(), u8("до"));
        EXPECT_EQ(form->LabRepName->text(), name);
        EXPECT_FALSE(rep().IsSaved);
        EXPECT_EQ(rep().HasFile, c.hasFileBefore);
        EXPECT_TRUE(rep().IsOpen);
        EXPECT_EQ(fileBytes(first), before);
        EXPECT_FALSE(QFileInfo::exists(path(u8("b.xls"))));

        dialogs.answers = {false};
        form->Close->trigger();
    }
}

TEST_F(ReportWindow, ClosingSavedAndModifiedReports) {
    const QString file = path(u8("r.xls"));
    const struct {
        const char* what;
        bool saveFirst; // saved under a name before the record is added
        bool modified;  // a record added after that
        std::deque<bool> answers;
        std::deque<QString> saveNames; // null: cancelled
        int questions;
        int recordsInFile; // -1: no file
    } cases[] = {
        {"saved: no question", true, false, {}, {}, 0, 0},
        {"modified, No: changes lost", true, true, {false}, {}, 1, 0},
        {"modified, Yes: saved to its file", true, true, {true}, {}, 1, 1},
        {"never saved, Yes, dialog cancelled", false, true, {true}, {QString()}, 1, -1},
        {"never saved, Yes, saved under a name", false, true, {true}, {file}, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(file);
        form->N2->trigger();
        if (c.saveFirst) {
            dialogs.saveNames = {file};
            form->SaveaS->trigger();
        }
        if (c.modified) {
            feed(resultBytes(izmU, 230));
            form->ButAddTek->click();
        }
        dialogs.questions.clear();
        dialogs.answers = c.answers;
        dialogs.saveNames = c.saveNames;

        form->Close->trigger();

        EXPECT_EQ(int(dialogs.questions.size()), c.questions);
        EXPECT_FALSE(rep().IsOpen);
        EXPECT_EQ(status(), u8("Отчет закрыт"));
        EXPECT_EQ(reportTexts(), QStringList(6, u8("нет")));
        EXPECT_EQ(valueLabelsShown(), (std::vector<bool>{false, false, false, false}));
        EXPECT_FALSE(rep().application());
        if (c.recordsInFile < 0) {
            EXPECT_FALSE(QFileInfo::exists(file));
        } else {
            Workbook saved(file);
            EXPECT_EQ(saved.freeRow(4), 2 + c.recordsInFile);
        }
        EXPECT_TRUE(dialogs.unexpected.isEmpty()) << dialogs.unexpected.join(',').toStdString();
        EXPECT_TRUE(dialogs.errors.empty());
    }
}

TEST_F(ReportWindow, AFailedSaveInTheClosePromptIsToldAndTheCloseGoesOn) {
    auto& p = failing();
    form->N2->trigger();
    dialogs.saveNames = {path(u8("r.xls"))};
    form->SaveaS->trigger();
    feed(resultBytes(izmU, 230));
    form->ButAddTek->click();
    p.failAt(u8("Save"));
    dialogs.answers = {true};

    form->Close->trigger();

    EXPECT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors.at(0).text, u8("Невозможно сохранить отчет"));
    EXPECT_FALSE(rep().IsOpen);
    EXPECT_EQ(status(), u8("Отчет закрыт"));
    EXPECT_EQ(p.count(u8("Quit")), 1);
}

TEST_F(ReportWindow, AFailingCloseStillClosesAndEndsTheApplication) {
    for (const char* call : {"DisplayAlerts", "Close"}) {
        SCOPED_TRACE(call);
        auto& p = failing();
        form->N2->trigger();
        p.failAt(u8(call));
        dialogs.answers = {false};
        dialogs.errors.clear();
        form->Close->trigger();
        EXPECT_FALSE(rep().IsOpen);
        EXPECT_EQ(status(), u8("Отчет закрыт"));
        EXPECT_EQ(reportTexts(), QStringList(6, u8("нет")));
        EXPECT_TRUE(dialogs.errors.empty()); // silent, as before
        EXPECT_EQ(p.count(u8("Quit")), 1);
        EXPECT_FALSE(rep().application());
        EXPECT_FALSE(rep().workbook());
    }
}

TEST_F(ReportWindow, CommandsWithoutAReport) {
    auto& p = failing();
    const struct {
        const char* what;
        std::function<void()> run;
        const char* status;
    } cases[] = {
        {"Save", [&] { form->Save->trigger(); }, "Сначало откройте отчет"},
        {"Save as", [&] { form->SaveaS->trigger(); }, "Сначало откройте отчет"},
        {"Show", [&] { form->ButShow->click(); }, "Сначало откройте отчет"},
        {"Print", [&] { form->ButtonPrint->click(); }, "Сначало откройте отчет"},
        {"Close", [&] { form->Close->trigger(); }, "до"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        form->setStatusText(u8("до"));
        c.run();
        EXPECT_EQ(status(), u8(c.status));
    }
    EXPECT_EQ(p.callCount(), 0);
    EXPECT_EQ(dialogs.saveAsked, 0);
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_TRUE(topLevel.empty());
    EXPECT_EQ(reportTexts(), QStringList(6, u8("нет")));
}

TEST_F(ReportWindow, CreateWhileModifiedAsksAndClosesTheOldReportFirst) {
    for (bool answer : {false, true}) {
        SCOPED_TRACE(answer);
        auto& p = failing();
        form->N2->trigger();
        feed(resultBytes(izmU, 230));
        form->ButAddTek->click();
        dialogs.questions.clear();
        dialogs.answers = {answer};
        dialogs.saveNames = {path(u8("old.xls"))};

        form->N2->trigger();

        EXPECT_EQ(dialogs.questions.size(), 1u);
        EXPECT_EQ(QFileInfo::exists(path(u8("old.xls"))), answer);
        const QStringList calls = p.calls();
        const qsizetype quit = calls.indexOf(u8("Quit"));
        ASSERT_GE(quit, 0);
        EXPECT_EQ(calls.lastIndexOf(u8("create(\"Excel.Application\")")), quit + 1);
        EXPECT_TRUE(rep().IsOpen);
        EXPECT_FALSE(rep().IsSaved);
        EXPECT_FALSE(rep().HasFile);
        EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 2, 2, 2}));
        EXPECT_TRUE(cell(izmU, 2, 1).isEmpty());
        EXPECT_EQ(status(), u8("Отчет создан"));
        dialogs.answers = {false};
        form->Close->trigger();
        QFile::remove(path(u8("old.xls")));
    }
}

TEST_F(ReportWindow, ShowAndHideAcrossReports) {
    auto& p = failing();
    auto visibleCalls = [&] {
        QStringList v;
        for (const QString& c : p.calls())
            if (c.startsWith(u8("Visible")))
                v << c;
        return v;
    };
    form->N2->trigger();
    form->ButShow->click();
    EXPECT_EQ(form->ButShow->text(), u8("Спрятать"));
    EXPECT_TRUE(rep().IsVisible);
    form->ButShow->click();
    EXPECT_EQ(form->ButShow->text(), u8("Просмотреть"));
    EXPECT_FALSE(rep().IsVisible);
    EXPECT_EQ(visibleCalls(), (QStringList{u8("Visible=true"), u8("Visible=false")}));

    // Shown, closed, another report: the state is the window's, not the report's.
    form->ButShow->click();
    dialogs.answers = {false};
    form->Close->trigger();
    EXPECT_EQ(form->ButShow->text(), u8("Спрятать"));
    EXPECT_TRUE(rep().IsVisible);
    dialogs.openNames = {fixture(u8("empty-report.xls"))};
    form->Open->trigger();
    form->ButShow->click();
    EXPECT_EQ(form->ButShow->text(), u8("Просмотреть"));
    form->ButShow->click();
    EXPECT_EQ(form->ButShow->text(), u8("Спрятать"));
    EXPECT_EQ(visibleCalls(),
              (QStringList{u8("Visible=true"), u8("Visible=false"), u8("Visible=true"),
                           u8("Visible=false"), u8("Visible=true")}));
    // Never switched back on.
    EXPECT_EQ(p.count(u8("DisplayAlerts=true")), 0);
    EXPECT_GT(p.count(u8("DisplayAlerts=false")), 0);
}

TEST_F(ReportWindow, ShowAndPrintFailuresReachTheTopLevelErrorBox) {
    const struct {
        const char* call;
        QPushButton* TFormMain::*button;
    } cases[] = {
        {"Visible", &TFormMain::ButShow},
        {"PrintOut", &TFormMain::ButtonPrint},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        auto& p = failing();
        form->N2->trigger();
        p.failAt(u8(c.call));
        topLevel.clear();

        ((*form).*(c.button))->click();

        ASSERT_EQ(topLevel.size(), 1u);
        EXPECT_EQ(topLevel[0].caption, defaultCaption());
        EXPECT_FALSE(topLevel[0].text.isEmpty());
        EXPECT_EQ(form->ButShow->text(), u8("Просмотреть"));
        EXPECT_FALSE(rep().IsVisible);
        EXPECT_TRUE(rep().IsOpen);
        EXPECT_TRUE(dialogs.errors.empty());
        dialogs.answers = {false};
        form->Close->trigger();
    }
}

TEST_F(ReportWindow, PrintGoesThroughTheEnginesPrinting) {
    auto ui = std::make_shared<RecordingUi>();
    sheet::setEngineUiFactory([ui] { return ui; });
    form->N2->trigger();
    form->ButtonPrint->click();
    sheet::setEngineUiFactory({});
    EXPECT_EQ(ui->printedSheets, std::vector<int>{4});
    EXPECT_TRUE(topLevel.empty());
    EXPECT_TRUE(rep().IsOpen);
    EXPECT_EQ(status(), u8("Отчет создан")); // nothing in the window changes

    form->ButShow->click();
    EXPECT_EQ(ui->shows, 1);
}

// The viewer is the program's own window: its close box does what
// "Спрятать" does, so the next press shows it again.
TEST_F(ReportWindow, ClosingTheViewerByItsCloseBoxIsHide) {
    auto ui = std::make_shared<sheet::WidgetEngineUi>();
    sheet::setEngineUiFactory([ui] { return ui; });
    form->N2->trigger();
    sheet::setEngineUiFactory({});
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        form->ButShow->click();
        ASSERT_NE(ui->viewer(), nullptr);
        EXPECT_TRUE(ui->viewer()->isVisible());
        EXPECT_EQ(form->ButShow->text(), u8("Спрятать"));
        EXPECT_TRUE(rep().IsVisible);

        EXPECT_TRUE(ui->viewer()->close());
        EXPECT_FALSE(ui->viewer()->isVisible());
        EXPECT_EQ(form->ButShow->text(), u8("Просмотреть"));
        EXPECT_FALSE(rep().IsVisible);
    }
    // Hidden by the button, the window is not closed by the operator: the
    // caption follows the button alone.
    form->ButShow->click();
    form->ButShow->click();
    EXPECT_FALSE(ui->viewer()->isVisible());
    EXPECT_EQ(form->ButShow->text(), u8("Просмотреть"));
    form->ButShow->click();
    EXPECT_TRUE(ui->viewer()->isVisible());
    EXPECT_EQ(form->ButShow->text(), u8("Спрятать"));
    EXPECT_TRUE(topLevel.empty());
    dialogs.answers = {false};
    form->Close->trigger();
    EXPECT_FALSE(ui->viewer()->isVisible());
}

TEST_F(ReportWindow, ClosingTheWindowClosesTheReportFirst) {
    auto& p = failing();
    form->N2->trigger();
    feed(resultBytes(izmU, 230));
    form->ButAddTek->click();
    dialogs.answers = {false};
    form->close();
    EXPECT_EQ(dialogs.questions.size(), 1u);
    EXPECT_FALSE(rep().IsOpen);
    EXPECT_EQ(p.count(u8("Quit")), 1);
}

// A failed add while the close prompt is open closes the report under it;
// the close then goes on without touching what is gone.
TEST_F(ReportWindow, AFailedAddDuringTheSaveDialogOfTheClose) {
    auto& p = failing();
    form->N2->trigger();
    feed(resultBytes(izmU, 230));
    form->ButAddTek->click();
    dialogs.answers = {true};
    dialogs.whileSaveDialog = [&] {
        p.die();
        feed(QByteArray(1, char(0x5E)));
    };
    dialogs.saveNames = {path(u8("late.xls"))};

    form->Close->trigger();

    EXPECT_FALSE(rep().IsOpen);
    EXPECT_EQ(status(), u8("Отчет закрыт"));
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_EQ(dialogs.errors[0].text, u8("Невозможно добавить запись в отчет"));
    EXPECT_FALSE(QFileInfo::exists(path(u8("late.xls"))));
    EXPECT_TRUE(topLevel.empty());
}
