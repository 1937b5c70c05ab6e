#pragma once
// The report's questions and boxes as the operator gets them: the standard
// message boxes and file dialogs.

#include "report/ReportDialogs.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace t5170::report {

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
