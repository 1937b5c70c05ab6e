// Creating a report and adding records to it, through the main window's menu,
// buttons and decoder, with the embedded engine and with one that fails on
// demand.

#include "ReportHarness.h"
#include "core/Texts.h"

#include <QDate>

using namespace t5170;
using namespace t5170::testing;

namespace {

struct LayoutSheet {
    const char* name;
    std::vector<std::pair<const char*, int>> columns;
};

// The report layout, by position.
const std::vector<LayoutSheet>& layout() {
    static const std::vector<LayoutSheet> sheets = {
        {"Измерение сопротивления",
         {{"Дата", 10},
          {"Время", 8},
          {"Напряжение", 15},
          {"Сопротивление", 15},
          {"Размерность", 12}}},
        {"Измерение Абсорбции",
         {{"Дата", 10},
          {"Время", 8},
          {"Напряжение", 15},
          {"Сопротивление 1", 15},
          {"Размерность", 12},
          {"Сопротивление 2", 15},
          {"Размерность", 12},
          {"Коэффициент", 12}}},
        {"Измерение Поляризации",
         {{"Дата", 10},
          {"Время", 8},
          {"Напряжение", 15},
          {"Сопротивление 1", 15},
          {"Размерность", 12},
          {"Сопротивление 2", 15},
          {"Размерность", 12},
          {"Коэффициент", 12}}},
        {"Измерение напряжения", {{"Дата", 10}, {"Время", 8}, {"Напряжение", 15}}},
    };
    return sheets;
}

QStringList tail(const QStringList& calls, qsizetype from) {
    return calls.mid(from);
}

} // namespace

TEST_F(ReportWindow, CreateLaysOutFourSheetsInTheirOrder) {
    auto& log = failing();
    form->N2->trigger();

    ASSERT_TRUE(rep().IsOpen);
    EXPECT_FALSE(rep().IsSaved);
    EXPECT_FALSE(rep().HasFile);
    EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 2, 2, 2}));
    EXPECT_EQ(status(), u8("Отчет создан"));
    EXPECT_EQ(form->LabReportType->text(), u8("Отчет Excel"));
    EXPECT_EQ(form->LabReportDate->text(), text::dateNoZeros(QDate::currentDate()));
    EXPECT_EQ(form->LabRepName->text(), u8("нет"));
    EXPECT_TRUE(dialogs.errors.empty());

    // The calls, in the order the layout is written.
    QStringList expected{u8("create(\"Excel.Application\")"), u8("SheetsInNewWorkbook=4"),
                         u8("WorkBooks"), u8("add"), u8("WorkBooks(1)")};
    for (int i = 1; i <= 4; ++i)
        expected << QStringLiteral("WorkSheets(%1)").arg(i);
    for (const auto& s : layout())
        expected << QStringLiteral("Name=\"%1\"").arg(u8(s.name));
    for (const auto& s : layout()) {
        for (std::size_t c = 0; c < s.columns.size(); ++c)
            expected << u8("Columns") << QStringLiteral("Item(%1)").arg(c + 1)
                     << QStringLiteral("ColumnWidth=%1").arg(s.columns[c].second);
        for (std::size_t c = 0; c < s.columns.size(); ++c)
            expected << QStringLiteral("Cells(1,%1)").arg(c + 1)
                     << QStringLiteral("Value=\"%1\"").arg(u8(s.columns[c].first));
    }
    EXPECT_EQ(log.calls(), expected);

    // And what the workbook holds afterwards.
    for (std::size_t p = 0; p < layout().size(); ++p) {
        const auto& s = layout()[p];
        auto sheet = rep().workbook()->WorkSheets(int(p) + 1);
        EXPECT_EQ(sheet->Name(), u8(s.name));
        const int n = int(s.columns.size());
        for (int c = 1; c <= n; ++c) {
            EXPECT_EQ(sheet->Cells(1, c)->Value().toText(), u8(s.columns[c - 1].first));
            EXPECT_EQ(sheet->Columns()->Item(c)->ColumnWidth(), s.columns[c - 1].second);
        }
        EXPECT_TRUE(sheet->Cells(1, n + 1)->Value().isEmpty()) << s.name;
        EXPECT_TRUE(sheet->Cells(2, 1)->Value().isEmpty()) << s.name;
    }
    EXPECT_THROW(rep().workbook()->WorkSheets(5), automation::Error);
}

TEST_F(ReportWindow, CreateEnablesOnlyTheAddButtonsThatHaveAResult) {
    // One result so far: the latest holds it, the previous holds nothing.
    feed(resultBytes(izmR, 500, 12345));
    ASSERT_TRUE(form->TekResult.Valid);
    ASSERT_FALSE(form->PrevResult.Valid);
    EXPECT_FALSE(form->ButAddTek->isEnabled()); // no report yet

    form->N2->trigger();
    EXPECT_TRUE(form->ButAddTek->isEnabled());
    EXPECT_FALSE(form->ButAddPrev->isEnabled());
}

TEST_F(ReportWindow, EveryCreationGuardShowsItsMessageAndKeepsTheState) {
    const QString noApp = u8("Невозможно открыть Microsoft Excel! Возможно этого приложения на "
                             "компьютере не установлено.");
    const QString noBook = u8("Ошибка открытия книги Microsoft Excel!");
    const QString noLayout = u8("Ошибка редактирования книги Excell");
    const struct {
        const char* call;
        int occurrence;
        QString message;
        bool started; // the application was running when the guard failed
    } cases[] = {
        {"create", 1, noApp, false},        {"SheetsInNewWorkbook", 1, noBook, true},
        {"add", 1, noBook, true},           {"WorkBooks(1)", 1, noBook, true},
        {"WorkSheets", 3, noLayout, true},  {"Name", 4, noLayout, true},
        {"ColumnWidth", 7, noLayout, true}, {"Value=", 24, noLayout, true}, // the last heading
    };
    feed(resultBytes(izmR, 500, 12345));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        auto& p = failing();
        p.failAt(u8(c.call), c.occurrence);
        form->setStatusText(u8("до"));
        dialogs.errors.clear();

        form->N2->trigger();

        EXPECT_EQ(dialogs.errors, (std::vector<Box>{{u8("Ошибка"), c.message, u8("до")}}));
        EXPECT_FALSE(rep().IsOpen);
        EXPECT_FALSE(rep().IsSaved);
        EXPECT_FALSE(rep().HasFile);
        EXPECT_EQ(rep().NextRow, (std::array<int, 4>{}));
        EXPECT_EQ(status(), u8("до"));
        EXPECT_EQ(reportTexts(), QStringList(6, u8("нет")));
        EXPECT_FALSE(form->ButAddTek->isEnabled());
        // Nothing started stays running or held.
        EXPECT_EQ(p.count(u8("Quit")), c.started ? 1 : 0);
        EXPECT_FALSE(rep().application());
        EXPECT_FALSE(rep().workbook());
        for (const auto& s : rep().sheets())
            EXPECT_FALSE(s);
        EXPECT_TRUE(dialogs.questions.empty());
    }
}

TEST_F(ReportWindow, EachKindFillsItsOwnColumnsOnItsOwnSheet) {
    const struct {
        TIzmType kind;
        quint16 volts;
        qint32 kOm, kOm2;
        quint16 koef;
        std::vector<const char*> cells; // columns 3.. as read back
        std::array<bool, 4> shown;      // LabRepRecU, R, R2, K
    } cases[] = {
        {izmU, 230, 0, 0, 0, {"230"}, {true, false, false, false}},
        {izmR, 500, 12345, 0, 0, {"500", "12,3", "МОм"}, {true, true, false, false}},
        {izmAbs,
         1000,
         1234,
         1000000,
         1234,
         {"1000", "1,23", "МОм", "1", "ГОм", "1,234"},
         {true, true, true, true}},
        {izmPol,
         2500,
         999,
         2500000,
         65535,
         {"2500", "999", "КОм", "2,5", "ГОм", "65,535"},
         {true, true, true, true}},
    };
    form->N2->trigger();
    std::array<int, 4> next{2, 2, 2, 2};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.kind));
        feed(resultBytes(c.kind, c.volts, c.kOm, c.kOm2, c.koef));
        form->TekResult.Time = QDateTime(QDate(2026, 3, 1), QTime(9, 5, 7));
        feed(QByteArray(1, char(0x5E)));

        ++next[c.kind];
        EXPECT_EQ(rep().NextRow, next);
        EXPECT_EQ(cell(c.kind, 2, 1).toText(), u8("01.03.2026"));
        EXPECT_EQ(rep().sheets()[c.kind]->Cells(2, 1)->NumberFormat(), u8("DD.MM.YYYY"));
        EXPECT_EQ(cell(c.kind, 2, 2).toText(), u8("09:05:07"));
        EXPECT_EQ(rep().sheets()[c.kind]->Cells(2, 2)->NumberFormat(), u8("HH:MM:SS"));
        for (std::size_t i = 0; i < c.cells.size(); ++i)
            EXPECT_EQ(cell(c.kind, 2, int(i) + 3).toText(), u8(c.cells[i])) << "column " << i + 3;
        EXPECT_TRUE(cell(c.kind, 2, int(c.cells.size()) + 3).isEmpty());
        EXPECT_TRUE(cell(c.kind, 3, 1).isEmpty());
        // Voltage, resistances and the coefficient are numbers, units texts.
        EXPECT_TRUE(cell(c.kind, 2, 3).isNumber());
        if (c.kind != izmU) {
            EXPECT_TRUE(cell(c.kind, 2, 4).isNumber());
            EXPECT_TRUE(cell(c.kind, 2, 5).isText());
        }

        EXPECT_EQ(form->LabRepRecType->text(), form->LabTekType->text());
        EXPECT_EQ(valueTexts(), (QStringList{form->LabTekU->text(), form->LabTekR->text(),
                                             form->LabTekR2->text(), form->LabTekKoef->text()}));
        EXPECT_EQ(valueLabelsShown(), std::vector<bool>(c.shown.begin(), c.shown.end()));
        EXPECT_EQ(form->LabRepRecTime->text(), form->LabTekTime->text());
        EXPECT_EQ(form->LabRepRecDate->text(), u8("1.3.2026"));
    }
    EXPECT_EQ(cell(izmAbs, 2, 8).toDouble(), 1.234);
    EXPECT_FALSE(rep().IsSaved);
    EXPECT_TRUE(dialogs.errors.empty());

    // A successful add writes no status text.
    form->setStatusText(u8("до"));
    form->ButAddTek->click();
    EXPECT_EQ(status(), u8("до"));
}

TEST_F(ReportWindow, AnAbsorptionRecordIsWrittenInItsOrder) {
    auto& log = failing();
    form->N2->trigger();
    feed(resultBytes(izmAbs, 1000, 1234, 1000000, 1234));
    form->TekResult.Time = QDateTime(QDate(2026, 3, 1), QTime(9, 5, 7));
    const qsizetype before = log.calls().size();
    form->ButAddTek->click();
    EXPECT_EQ(
        tail(log.calls(), before),
        (QStringList{u8("Cells(2,6)"), u8("Value=\"1\""), u8("Cells(2,7)"), u8("Value=\"ГОм\""),
                     u8("Cells(2,8)"), u8("Value=1.234"), u8("Cells(2,4)"), u8("Value=\"1,23\""),
                     u8("Cells(2,5)"), u8("Value=\"МОм\""), u8("Cells(2,1)"),
                     u8("NumberFormat=\"ДД.ММ.ГГГГ\""), u8("Value=\"1.3.2026\""), u8("Cells(2,2)"),
                     u8("NumberFormat=\"ЧЧ:ММ:СС\""), u8("Value=\"9:5:7\""), u8("Cells(2,3)"),
                     u8("Value=1000")}));
}

TEST_F(ReportWindow, PreviousResultCopiesThePreviousLabels) {
    feed(resultBytes(izmU, 230));
    feed(resultBytes(izmAbs, 1000, 1234, 1000000, 1234));
    form->N2->trigger();
    ASSERT_TRUE(form->ButAddTek->isEnabled());
    ASSERT_TRUE(form->ButAddPrev->isEnabled());

    form->ButAddTek->click();
    EXPECT_EQ(valueLabelsShown(), (std::vector<bool>{true, true, true, true}));
    form->ButAddPrev->click();
    EXPECT_EQ(form->LabRepRecType->text(), u8("Измерение напряжения"));
    EXPECT_EQ(form->LabRepRecU->text(), u8("U = 230 Вольт"));
    EXPECT_EQ(form->LabRepRecTime->text(), form->LabPrevTime->text());
    EXPECT_EQ(form->LabRepRecDate->text(), text::dateNoZeros(form->PrevResult.Time.date()));
    // Hidden like their previous-result labels (the texts come along too).
    EXPECT_EQ(valueLabelsShown(), (std::vector<bool>{true, false, false, false}));
    EXPECT_EQ(rep().NextRow, (std::array<int, 4>{3, 2, 3, 2}));
    EXPECT_EQ(cell(izmU, 2, 3).toText(), u8("230"));
    // Still enabled: adding never disables them.
    EXPECT_TRUE(form->ButAddTek->isEnabled());
    EXPECT_TRUE(form->ButAddPrev->isEnabled());
}

TEST_F(ReportWindow, TheSameResultTwiceGivesTwoEqualRows) {
    form->N2->trigger();
    feed(resultBytes(izmR, 500, 1500));
    form->ButAddTek->click();
    form->ButAddTek->click();
    ASSERT_EQ(rep().NextRow[izmR], 4);
    for (int c = 1; c <= 5; ++c)
        EXPECT_EQ(cell(izmR, 2, c).toText(), cell(izmR, 3, c).toText()) << c;
    EXPECT_EQ(cell(izmR, 2, 4).toText(), u8("1,5")); // 1500 kOhm arrives as 1,501 MOhm, cut to 1,50
}

TEST_F(ReportWindow, UnknownUnitAndKindAreNoFailure) {
    form->N2->trigger();
    feed(resultBytes(izmR, 500, 12345));
    form->TekResult.RUnit = 7;
    form->ButAddTek->click();
    EXPECT_EQ(cell(izmR, 2, 5).toText(), u8("Error"));

    // A kind outside the four takes no row and writes no cell.
    form->TekResult.Kind = static_cast<TIzmType>(9);
    form->LabTekType->setText(u8("неизвестно"));
    form->ButAddTek->click();
    EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 3, 2, 2}));
    EXPECT_EQ(form->LabRepRecType->text(), u8("неизвестно"));
    EXPECT_TRUE(rep().IsOpen);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ReportWindow, AddWithoutAnOpenReportChangesNothing) {
    form->N2->trigger();
    feed(resultBytes(izmR, 500, 12345));
    dialogs.answers = {false};
    form->Close->trigger();
    ASSERT_TRUE(form->ButAddTek->isEnabled()); // a close leaves them enabled
    const QStringList texts = reportTexts();
    const bool saved = rep().IsSaved;

    form->ButAddTek->click();
    feed(QByteArray(1, char(0x5E)));

    EXPECT_EQ(reportTexts(), texts);
    EXPECT_EQ(valueLabelsShown(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(rep().IsSaved, saved);
    EXPECT_FALSE(rep().IsOpen);
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_EQ(dialogs.questions.size(), 1u);
}

// Mend: a complete-result code before any result was received would write an
// all-zero row dated 0.0.0 that no later opening can read back.
TEST_F(ReportWindow, CompleteCodeWithoutAResultAddsNothing) {
    const QString file = fixture(u8("empty-report.xls"));
    auto& log = failing();
    dialogs.openNames = {file};
    form->Open->trigger();
    ASSERT_TRUE(rep().IsOpen);
    ASSERT_TRUE(form->CheckAutoAdd->isChecked());
    ASSERT_FALSE(form->TekResult.Valid);
    const qsizetype before = log.calls().size();

    feed(QByteArray(1, char(0x5E)));

    EXPECT_EQ(log.calls().size(), before); // not a single call
    EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 2, 2, 2}));
    EXPECT_TRUE(rep().IsSaved);
    EXPECT_EQ(form->LabRepRecType->text(), u8("нет"));
    EXPECT_EQ(form->LabRepRecDate->text(), u8("нет"));

    // Once a result is there, the same code adds it.
    feed(resultBytes(izmU, 230) + QByteArray(1, char(0x5E)));
    EXPECT_EQ(rep().NextRow[izmU], 3);
    EXPECT_FALSE(rep().IsSaved);
}

TEST_F(ReportWindow, AFailedAddClosesTheReportAndSaysSo) {
    const struct {
        const char* what;
        std::function<void(automation::FailurePlan&)> plan;
        int rowsTaken;
    } cases[] = {
        {"the application has gone", [](automation::FailurePlan& p) { p.die(); }, 1},
        {"the unit cell fails", [](automation::FailurePlan& p) { p.failAt(u8("Value="), 2); }, 1},
    };
    feed(resultBytes(izmR, 500, 12345));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& p = failing();
        form->N2->trigger();
        ASSERT_TRUE(rep().IsOpen);
        dialogs.errors.clear();
        dialogs.questions.clear();
        c.plan(p);

        feed(QByteArray(1, char(0x5E)));

        EXPECT_FALSE(rep().IsOpen);
        EXPECT_TRUE(rep().IsSaved);
        EXPECT_TRUE(dialogs.questions.empty()); // no save prompt
        // The report was closed before the message appeared.
        EXPECT_EQ(dialogs.errors,
                  (std::vector<Box>{{u8("Ошибка"), u8("Невозможно добавить запись в отчет"),
                                     u8("Отчет закрыт")}}));
        EXPECT_EQ(rep().NextRow[izmR], 2 + c.rowsTaken);
        EXPECT_EQ(reportTexts(), QStringList(6, u8("нет")));
        EXPECT_EQ(valueLabelsShown(), (std::vector<bool>{false, false, false, false}));
        EXPECT_FALSE(rep().application());
        EXPECT_FALSE(rep().workbook());
        EXPECT_TRUE(form->ButAddTek->isEnabled());
    }
}
