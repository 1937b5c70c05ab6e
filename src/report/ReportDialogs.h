#pragma once
// The questions and boxes of the report: error boxes, the save prompt and
// the open and save dialogs. The report asks them through this interface so
// that tests can answer them; QtReportDialogs shows the standard ones.

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QMessageBox;
class QWidget;

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

// The dialogs as the operator gets them, owned by `parent`.
void prepareOpenDialog(QFileDialog& dialog);
void prepareSaveDialog(QFileDialog& dialog);
std::unique_ptr<QMessageBox> makeErrorBox(QWidget* parent, const QString& caption,
                                          const QString& text);
std::unique_ptr<QMessageBox> makeYesNoBox(QWidget* parent, const QString& caption,
                                          const QString& text);

class QtReportDialogs : public ReportDialogs {
public:
    // Error boxes go to `showError` when given (the program's one way of
    // showing them), else to a box of makeErrorBox.
    using ErrorBoxFn = std::function<void(const QString& caption, const QString& text)>;
    explicit QtReportDialogs(QWidget* parent, ErrorBoxFn showError = {});

    void errorBox(const QString& caption, const QString& text) override;
    bool askYesNo(const QString& caption, const QString& text) override;
    std::optional<QString> openFileName() override;
    std::optional<QString> saveFileName() override;

private:
    QPointer<QWidget> parent_;
    ErrorBoxFn showError_;
};

} // namespace t5170::report
