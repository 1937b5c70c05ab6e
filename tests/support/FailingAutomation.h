#pragma once
// An application for tests of the report's failure guards: it wraps the real
// engine, logs every call, and fails the calls a FailurePlan names, as the
// spreadsheet application would when it errs or its process has died.
//
//   auto plan = std::make_shared<FailurePlan>();
//   plan->failAt("WorkSheets", 3);          // the third WorkSheets call fails
//   report.setApplicationFactory(failingApplicationFactory(plan));
//   ...
//   EXPECT_EQ(plan->calls().first(), "create(\"Excel.Application\")");
//
// Calls are logged as the member with its arguments: reads and methods as
// `Member` or `Member(args)`, property writes as `Member=value`; texts are
// quoted, doubles written with a dot: create("Excel.Application"),
// SheetsInNewWorkbook=4, WorkBooks, add, WorkBooks(1), Open("/r.xls",0,false,1),
// WorkSheets(2), Name="Лист", Columns, Item(3), ColumnWidth=15, Cells(2,1),
// NumberFormat="ДД.ММ.ГГГГ", Value="1.3.2026", Value=500, Value=1.234,
// Value, NumberFormat, DisplayAlerts=false, Visible=true, Save,
// SaveAs("/r.xls"), Close, PrintOut, Quit, Count.
//
// A planned failure throws SheetError before the call reaches the engine, so
// it has no effect. Conversions of a read value (CellValue) are not calls.

#include "sheet/Automation.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace t5170::automation {

class FailurePlan {
public:
    // The n-th call from now on (1-based, counting calls on every object)
    // fails; later calls succeed again.
    void failAtCall(int n);
    // The `occurrence`-th call from now on that matches `pattern` fails. A
    // pattern matches a logged call equal to it, a call of that member
    // ("Value" matches reads and writes of Value), or, ending in "=", a
    // write of that member ("Value=").
    void failAt(const QString& pattern, int occurrence = 1);
    // From the n-th call from now on every call fails, as when the
    // application's process has ended. die() is dieAtCall(1).
    void dieAtCall(int n);
    void die() { dieAtCall(1); }
    // Forget every planned failure.
    void clear();

    int callCount() const { return int(calls_.size()); }
    const QStringList& calls() const { return calls_; }
    // How many logged calls match `pattern` (as in failAt).
    int count(const QString& pattern) const;

    // Logs `call` and throws SheetError if the plan says it fails.
    void call(const QString& call);

    static bool matches(const QString& pattern, const QString& call);

private:
    QStringList calls_;
    std::optional<int> failCall_;
    std::optional<int> dieFrom_;
    QString pattern_;
    int occurrence_ = 0;
    int seen_ = 0;
};

// A factory whose applications log to `plan` and fail where it says; the
// creation itself is the call create("progId"). Objects come from `inner`
// (the real engine by default).
ApplicationFactory failingApplicationFactory(std::shared_ptr<FailurePlan> plan,
                                             ApplicationFactory inner = createApplication);

} // namespace t5170::automation
