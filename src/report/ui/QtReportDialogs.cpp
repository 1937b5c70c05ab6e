#include "report/ui/QtReportDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace t5170::report {

void prepareOpenDialog(QFileDialog& dialog) {
    dialog.setWindowTitle(QStringLiteral("Открыть"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist is not refused here: opening it fails with
    // its own message.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(reportFileFilters());
    dialog.selectNameFilter(reportFileFilters().constFirst());
}

void prepareSaveDialog(QFileDialog& dialog) {
    dialog.setWindowTitle(QStringLiteral("Сохранить как"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(reportFileFilters());
    dialog.selectNameFilter(reportFileFilters().constFirst());
    dialog.setDefaultSuffix(QStringLiteral("xls"));
    // Replacing a report without a word would lose its records.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
}

std::unique_ptr<QMessageBox> makeErrorBox(QWidget* parent, const QString& caption,
                                          const QString& text) {
    return std::make_unique<QMessageBox>(QMessageBox::Critical, caption, text, QMessageBox::Ok,
                                         parent);
}

std::unique_ptr<QMessageBox> makeYesNoBox(QWidget* parent, const QString& caption,
                                          const QString& text) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, caption, text,
                                             QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::Yes);
    return box;
}

QtReportDialogs::QtReportDialogs(QWidget* parent, ErrorBoxFn showError)
    : parent_(parent), showError_(std::move(showError)) {}

void QtReportDialogs::errorBox(const QString& caption, const QString& text) {
    if (showError_) {
        showError_(caption, text);
        return;
    }
    makeErrorBox(parent_, caption, text)->exec();
}

bool QtReportDialogs::askYesNo(const QString& caption, const QString& text) {
    return makeYesNoBox(parent_, caption, text)->exec() == QMessageBox::Yes;
}

namespace {

std::optional<QString> runFileDialog(QWidget* parent, void (*prepare)(QFileDialog&)) {
    QFileDialog dialog(parent);
    prepare(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.constFirst().isEmpty())
        return std::nullopt;
    return files.constFirst();
}

} // namespace

std::optional<QString> QtReportDialogs::openFileName() {
    return runFileDialog(parent_, prepareOpenDialog);
}

std::optional<QString> QtReportDialogs::saveFileName() {
    return runFileDialog(parent_, prepareSaveDialog);
}

} // namespace t5170::report
