#include "ReportView.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <stdexcept>

namespace t5170::report {

namespace {

template <class T> T* control(QWidget* form, const char* name) {
    T* w = form->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        throw std::logic_error(std::string("report view: the form has no control ") + name);
    return w;
}

} // namespace

FormReportView::FormReportView(QWidget* form, const TIzmResult* latest, const TIzmResult* previous,
                               std::function<void(const QString&)> setStatus)
    : latestResult_(latest), previousResult_(previous), setStatus_(std::move(setStatus)) {
    static constexpr const char* RepNames[] = {
        "LabRepName", "LabReportType", "LabReportDate", "LabRepRecType", "LabRepRecU",
        "LabRepRecR", "LabRepRecR2",   "LabRepRecK",    "LabRepRecDate", "LabRepRecTime"};
    static constexpr const char* LatestNames[] = {"LabTekType", "LabTekU",    "LabTekR",
                                                  "LabTekR2",   "LabTekKoef", "LabTekTime"};
    static constexpr const char* PreviousNames[] = {"LabPrevType", "LabPrevU",    "LabPrevR",
                                                    "LabPrevR2",   "LabPrevKoef", "LabPrevTime"};
    for (std::size_t i = 0; i < rep_.size(); ++i)
        rep_[i] = control<QLabel>(form, RepNames[i]);
    for (std::size_t i = 0; i < latest_.size(); ++i) {
        latest_[i] = control<QLabel>(form, LatestNames[i]);
        previous_[i] = control<QLabel>(form, PreviousNames[i]);
    }
    butAddTek_ = control<QPushButton>(form, "ButAddTek");
    butAddPrev_ = control<QPushButton>(form, "ButAddPrev");
    butShow_ = control<QPushButton>(form, "ButShow");
    if (!latestResult_ || !previousResult_)
        throw std::logic_error("report view: no result records");
}

QLabel* FormReportView::rep(RepLabel label) const {
    return rep_[static_cast<std::size_t>(label)];
}

QLabel* FormReportView::res(Which which, ResultLabel label) const {
    const auto i = static_cast<std::size_t>(label);
    return which == Which::Latest ? latest_[i] : previous_[i];
}

QPushButton* FormReportView::add(Which which) const {
    return which == Which::Latest ? butAddTek_ : butAddPrev_;
}

void FormReportView::setStatusText(const QString& text) {
    if (setStatus_)
        setStatus_(text);
}

QString FormReportView::labelText(RepLabel label) const {
    return rep(label)->text();
}

void FormReportView::setLabelText(RepLabel label, const QString& text) {
    rep(label)->setText(text);
}

// Shown or hidden as the window's own state says, whether or not the window
// itself is on screen.
bool FormReportView::labelShown(RepLabel label) const {
    return !rep(label)->isHidden();
}

void FormReportView::setLabelShown(RepLabel label, bool shown) {
    rep(label)->setHidden(!shown);
}

QString FormReportView::resultText(Which which, ResultLabel label) const {
    return res(which, label)->text();
}

bool FormReportView::resultShown(Which which, ResultLabel label) const {
    return !res(which, label)->isHidden();
}

const TIzmResult& FormReportView::result(Which which) const {
    return which == Which::Latest ? *latestResult_ : *previousResult_;
}

void FormReportView::enableAddButton(Which which) {
    add(which)->setEnabled(true);
}

bool FormReportView::addButtonEnabled(Which which) const {
    return add(which)->isEnabled();
}

QString FormReportView::showCaption() const {
    return butShow_->text();
}

void FormReportView::setShowCaption(const QString& caption) {
    butShow_->setText(caption);
}

} // namespace t5170::report
