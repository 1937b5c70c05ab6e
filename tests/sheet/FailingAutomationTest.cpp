// The application that fails on demand, for the report's guard tests.

#include "FailingAutomation.h"
#include "EngineTestUtil.h"

using namespace t5170::automation;
using t5170::sheet::SheetError;

namespace {

struct Failing {
    std::shared_ptr<FailurePlan> plan = std::make_shared<FailurePlan>();
    ApplicationFactory create = failingApplicationFactory(plan);
};

// The report's creation sequence, up to the first sheet's first heading.
void createReport(const ApplicationFactory& create) {
    auto app = create(QStringLiteral("Excel.Application"));
    app->SheetsInNewWorkbook(4);
    app->WorkBooks()->add();
    auto book = app->WorkBooks(1);
    for (int i = 1; i <= 4; ++i)
        book->WorkSheets(i);
    auto sheet = book->WorkSheets(1);
    sheet->Name(QStringLiteral("Измерение сопротивления"));
    sheet->Columns()->Item(1)->ColumnWidth(10);
    auto cell = sheet->Cells(1, 1);
    cell->Value(QStringLiteral("Дата"));
    cell->Value(std::int32_t(500));
    cell->Value(1.234);
    cell->NumberFormat(QStringLiteral("ДД.ММ.ГГГГ"));
    (void)cell->Value();
    app->DisplayAlerts(false);
}

TEST(FailingAutomation, LogsEveryCallInOrder) {
    Failing f;
    createReport(f.create);
    EXPECT_EQ(f.plan->calls(), (QStringList{"create(\"Excel.Application\")",
                                            "SheetsInNewWorkbook=4",
                                            "WorkBooks",
                                            "add",
                                            "WorkBooks(1)",
                                            "WorkSheets(1)",
                                            "WorkSheets(2)",
                                            "WorkSheets(3)",
                                            "WorkSheets(4)",
                                            "WorkSheets(1)",
                                            "Name=\"Измерение сопротивления\"",
                                            "Columns",
                                            "Item(1)",
                                            "ColumnWidth=10",
                                            "Cells(1,1)",
                                            "Value=\"Дата\"",
                                            "Value=500",
                                            "Value=1.234",
                                            "NumberFormat=\"ДД.ММ.ГГГГ\"",
                                            "Value",
                                            "DisplayAlerts=false"}));
    EXPECT_EQ(f.plan->count(QStringLiteral("WorkSheets")), 5);
    EXPECT_EQ(f.plan->count(QStringLiteral("Value")), 4);
    EXPECT_EQ(f.plan->count(QStringLiteral("Value=")), 3);
    EXPECT_EQ(f.plan->count(QStringLiteral("WorkSheets(1)")), 2);
}

TEST(FailingAutomation, FailsTheNamedCallOnly) {
    struct Case {
        const char* pattern;
        int occurrence;
        int failingCall; // 1-based position in the log of the full sequence
    };
    const Case cases[] = {
        {"create", 1, 1}, {"WorkSheets", 3, 8},    {"WorkSheets(1)", 2, 10}, {"Value=", 2, 17},
        {"Value", 4, 20}, {"ColumnWidth=", 1, 14}, {"DisplayAlerts", 1, 21}, {"add", 1, 4},
    };
    for (const Case& c : cases) {
        Failing f;
        f.plan->failAt(QString::fromUtf8(c.pattern), c.occurrence);
        EXPECT_THROW(createReport(f.create), SheetError) << c.pattern;
        EXPECT_EQ(f.plan->callCount(), c.failingCall) << c.pattern;
    }
}

TEST(FailingAutomation, FailsTheNthCallThenRecovers) {
    for (int n = 1; n <= 21; ++n) {
        Failing f;
        f.plan->failAtCall(n);
        EXPECT_THROW(createReport(f.create), SheetError) << n;
        EXPECT_EQ(f.plan->callCount(), n);
    }
    Failing f;
    auto app = f.create(QStringLiteral("Excel.Application"));
    f.plan->failAtCall(1);
    EXPECT_THROW(app->WorkBooks(), SheetError);
    EXPECT_NO_THROW(app->WorkBooks());
}

TEST(FailingAutomation, AFailedCallHasNoEffect) {
    Failing f;
    auto app = f.create(QStringLiteral("Excel.Application"));
    app->WorkBooks()->add();
    auto sheet = app->WorkBooks(1)->WorkSheets(1);
    f.plan->failAt(QStringLiteral("Name="));
    EXPECT_THROW(sheet->Name(QStringLiteral("Новое")), SheetError);
    EXPECT_EQ(sheet->Name(), QStringLiteral("Лист1"));
}

TEST(FailingAutomation, DeadApplicationFailsEverythingAfter) {
    Failing f;
    auto app = f.create(QStringLiteral("Excel.Application"));
    app->WorkBooks()->add();
    auto book = app->WorkBooks(1);
    f.plan->dieAtCall(2);
    EXPECT_NO_THROW(book->WorkSheets(1));
    EXPECT_THROW(book->WorkSheets(1), SheetError);
    EXPECT_THROW(app->Quit(), SheetError);
    EXPECT_THROW(f.create(QStringLiteral("Excel.Application")), SheetError);
    f.plan->clear();
    EXPECT_NO_THROW(app->Quit());
}

TEST(FailingAutomation, RealFailuresOfTheEngineStillComeThrough) {
    Failing f;
    auto app = f.create(QStringLiteral("Excel.Application"));
    app->SheetsInNewWorkbook(4);
    app->WorkBooks()->add();
    EXPECT_THROW(app->WorkBooks(1)->WorkSheets(5), SheetError);
    EXPECT_THROW(f.create(QStringLiteral("Calc.Application")), SheetError);
}

} // namespace
