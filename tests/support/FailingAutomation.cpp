#include "FailingAutomation.h"

namespace t5170::automation {

namespace {

QString quoted(const QString& s) {
    return u'"' + s + u'"';
}
QString boolText(bool b) {
    return b ? QStringLiteral("true") : QStringLiteral("false");
}
QString doubleText(double v) {
    return QString::number(v, 'g', 15);
}

// The member name of a logged call: up to "(" or "=".
QStringView memberOf(const QString& call) {
    qsizetype end = call.size();
    for (qsizetype i = 0; i < call.size(); ++i)
        if (call[i] == u'(' || call[i] == u'=') {
            end = i;
            break;
        }
    return QStringView(call).left(end);
}

using Plan = std::shared_ptr<FailurePlan>;

class FCell final : public Cell {
public:
    FCell(Plan p, CellPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    void Value(const QString& text) override {
        p_->call(QStringLiteral("Value=") + quoted(text));
        in_->Value(text);
    }
    void Value(std::int32_t number) override {
        p_->call(QStringLiteral("Value=") + QString::number(number));
        in_->Value(number);
    }
    void Value(double number) override {
        p_->call(QStringLiteral("Value=") + doubleText(number));
        in_->Value(number);
    }
    CellValue Value() override {
        p_->call(QStringLiteral("Value"));
        return in_->Value();
    }
    void NumberFormat(const QString& format) override {
        p_->call(QStringLiteral("NumberFormat=") + quoted(format));
        in_->NumberFormat(format);
    }
    QString NumberFormat() override {
        p_->call(QStringLiteral("NumberFormat"));
        return in_->NumberFormat();
    }

private:
    Plan p_;
    CellPtr in_;
};

class FColumn final : public Column {
public:
    FColumn(Plan p, ColumnPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    void ColumnWidth(double width) override {
        p_->call(QStringLiteral("ColumnWidth=") + doubleText(width));
        in_->ColumnWidth(width);
    }
    double ColumnWidth() override {
        p_->call(QStringLiteral("ColumnWidth"));
        return in_->ColumnWidth();
    }

private:
    Plan p_;
    ColumnPtr in_;
};

class FColumns final : public Columns {
public:
    FColumns(Plan p, ColumnsPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    ColumnPtr Item(int column) override {
        p_->call(QStringLiteral("Item(%1)").arg(column));
        return std::make_shared<FColumn>(p_, in_->Item(column));
    }

private:
    Plan p_;
    ColumnsPtr in_;
};

class FWorksheet final : public Worksheet {
public:
    FWorksheet(Plan p, WorksheetPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    void Name(const QString& name) override {
        p_->call(QStringLiteral("Name=") + quoted(name));
        in_->Name(name);
    }
    QString Name() override {
        p_->call(QStringLiteral("Name"));
        return in_->Name();
    }
    ColumnsPtr Columns() override {
        p_->call(QStringLiteral("Columns"));
        return std::make_shared<FColumns>(p_, in_->Columns());
    }
    CellPtr Cells(int row, int column) override {
        p_->call(QStringLiteral("Cells(%1,%2)").arg(row).arg(column));
        return std::make_shared<FCell>(p_, in_->Cells(row, column));
    }

private:
    Plan p_;
    WorksheetPtr in_;
};

class FWorkbook final : public Workbook {
public:
    FWorkbook(Plan p, WorkbookPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    WorksheetPtr WorkSheets(int index) override {
        p_->call(QStringLiteral("WorkSheets(%1)").arg(index));
        return std::make_shared<FWorksheet>(p_, in_->WorkSheets(index));
    }
    void Save() override {
        p_->call(QStringLiteral("Save"));
        in_->Save();
    }
    void SaveAs(const QString& path) override {
        p_->call(QStringLiteral("SaveAs(") + quoted(path) + u')');
        in_->SaveAs(path);
    }
    void Close() override {
        p_->call(QStringLiteral("Close"));
        in_->Close();
    }
    void PrintOut() override {
        p_->call(QStringLiteral("PrintOut"));
        in_->PrintOut();
    }

private:
    Plan p_;
    WorkbookPtr in_;
};

class FWorkbooks final : public Workbooks {
public:
    FWorkbooks(Plan p, WorkbooksPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    WorkbookPtr add() override {
        p_->call(QStringLiteral("add"));
        return std::make_shared<FWorkbook>(p_, in_->add());
    }
    WorkbookPtr Open(const QString& path, int updateLinks, bool readOnly, int format) override {
        p_->call(QStringLiteral("Open(%1,%2,%3,%4)")
                     .arg(quoted(path))
                     .arg(updateLinks)
                     .arg(boolText(readOnly))
                     .arg(format));
        return std::make_shared<FWorkbook>(p_, in_->Open(path, updateLinks, readOnly, format));
    }
    int Count() override {
        p_->call(QStringLiteral("Count"));
        return in_->Count();
    }

private:
    Plan p_;
    WorkbooksPtr in_;
};

class FApplication final : public Application {
public:
    FApplication(Plan p, ApplicationPtr inner) : p_(std::move(p)), in_(std::move(inner)) {}
    void SheetsInNewWorkbook(int count) override {
        p_->call(QStringLiteral("SheetsInNewWorkbook=") + QString::number(count));
        in_->SheetsInNewWorkbook(count);
    }
    WorkbooksPtr WorkBooks() override {
        p_->call(QStringLiteral("WorkBooks"));
        return std::make_shared<FWorkbooks>(p_, in_->WorkBooks());
    }
    WorkbookPtr WorkBooks(int index) override {
        p_->call(QStringLiteral("WorkBooks(%1)").arg(index));
        return std::make_shared<FWorkbook>(p_, in_->WorkBooks(index));
    }
    void DisplayAlerts(bool on) override {
        p_->call(QStringLiteral("DisplayAlerts=") + boolText(on));
        in_->DisplayAlerts(on);
    }
    void Visible(bool on) override {
        p_->call(QStringLiteral("Visible=") + boolText(on));
        in_->Visible(on);
    }
    void setWindowClosedHandler(std::function<void()> closed) override {
        in_->setWindowClosedHandler(std::move(closed));
    }
    void Quit() override {
        p_->call(QStringLiteral("Quit"));
        in_->Quit();
    }

private:
    Plan p_;
    ApplicationPtr in_;
};

} // namespace

void FailurePlan::failAtCall(int n) {
    failCall_ = callCount() + n;
}

void FailurePlan::failAt(const QString& pattern, int occurrence) {
    pattern_ = pattern;
    occurrence_ = occurrence;
    seen_ = 0;
}

void FailurePlan::dieAtCall(int n) {
    dieFrom_ = callCount() + n;
}

void FailurePlan::clear() {
    failCall_.reset();
    dieFrom_.reset();
    pattern_.clear();
    occurrence_ = 0;
    seen_ = 0;
}

bool FailurePlan::matches(const QString& pattern, const QString& call) {
    if (pattern.isEmpty())
        return false;
    if (call == pattern)
        return true;
    if (pattern.endsWith(u'='))
        return call.startsWith(pattern);
    return memberOf(call) == pattern;
}

int FailurePlan::count(const QString& pattern) const {
    int n = 0;
    for (const QString& c : calls_)
        n += matches(pattern, c) ? 1 : 0;
    return n;
}

void FailurePlan::call(const QString& call) {
    calls_.append(call);
    const int number = callCount();
    bool fails = (failCall_ && number == *failCall_) || (dieFrom_ && number >= *dieFrom_);
    if (!pattern_.isEmpty() && matches(pattern_, call) && ++seen_ == occurrence_)
        fails = true;
    if (fails)
        throw sheet::SheetError("Сбой вызова " + call.toStdString());
}

ApplicationFactory failingApplicationFactory(std::shared_ptr<FailurePlan> plan,
                                             ApplicationFactory inner) {
    return [plan = std::move(plan), inner = std::move(inner)](const QString& progId) {
        plan->call(QStringLiteral("create(") + quoted(progId) + u')');
        return std::make_shared<FApplication>(plan, inner(progId));
    };
}

} // namespace t5170::automation
