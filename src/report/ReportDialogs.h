#pragma once
// The questions and boxes of the report: error boxes, the save prompt and
// the open and save dialogs. The report asks them through this interface so
// that tests can answer them; QtReportDialogs (ui/) shows the standard ones.

#include <QString>
#include <QStringList>

#include <optional>

namespace t5170::report {

class ReportDialogs {
public:
    virtual ~ReportDialogs() = default;
    // Error icon, one OK button; returns when dismissed.
    virtual void errorBox(const QString& caption, const QString& text) = 0;
    // Warning icon, Yes and No only; true for Yes.
    virtual bool askYesNo(const QString& caption, const QString& text) = 0;
    // The chosen file's full path, nothing when cancelled.
    virtual std::optional<QString> openFileName() = 0;
    // The chosen file's full path, with "xls" appended to a name typed
    // without an extension; nothing when cancelled. Replacing an existing
    // file has been confirmed by the operator.
    virtual std::optional<QString> saveFileName() = 0;
};

// Filters of the open and save dialogs, the first one preselected.
QStringList reportFileFilters();

} // namespace t5170::report
