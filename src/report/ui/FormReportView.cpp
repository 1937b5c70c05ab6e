#include "report/ui/FormReportView.h"

#include "report/ReportLayout.h"

#include <QDir>
#include <QEvent>
#include <QFontMetrics>
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

QString shortenFileName(const QString& name, const QFontMetrics& metrics, int width) {
    // Measured as a label lays its text out, which rounds the width up.
    const auto fits = [&](const QString& s) { return metrics.size(0, s).width() <= width; };
    if (fits(name))
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    const QString stem = name.left(name.size() - ext.size());
    const QChar ellipsis(0x2026);
    // Two thirds of what is kept come from the start: that is how the
    // operator tells reports apart; the end often holds a number.
    for (qsizetype keep = stem.size() - 1; keep > 0; --keep) {
        const qsizetype tail = keep / 3;
        const qsizetype head = keep - tail;
        // Never between the two halves of a surrogate pair.
        if (stem[head - 1].isHighSurrogate() ||
            (tail > 0 && stem[stem.size() - tail].isLowSurrogate()))
            continue;
        const QString s = stem.left(head) + ellipsis + stem.right(tail) + ext;
        if (fits(s))
            return s;
    }
    return ellipsis + ext;
}

// Keeps LabRepName's whole text and shows as much of it as the label's width
// allows. The width is known only once the window is laid out, so the text
// follows the label's size; a label not on screen holds the whole name.
class ShortenedName : public QObject {
public:
    explicit ShortenedName(QLabel* label) : QObject(label), label_(label), name_(label->text()) {
        label->installEventFilter(this);
    }

    void set(const QString& name, const QString& tip) {
        name_ = name;
        label_->setToolTip(tip);
        refresh();
    }
    const QString& name() const { return name_; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ &&
            (event->type() == QEvent::Resize || event->type() == QEvent::Show ||
             event->type() == QEvent::FontChange))
            refresh();
        return QObject::eventFilter(watched, event);
    }

private:
    void refresh() {
        const int width = label_->contentsRect().width() - 2 * label_->margin();
        const QString shown =
            label_->isVisible() ? shortenFileName(name_, label_->fontMetrics(), width) : name_;
        if (label_->text() != shown)
            label_->setText(shown);
    }

    QLabel* label_;
    QString name_;
};

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
    repName_ = new ShortenedName(rep(RepLabel::RepName));
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

void FormReportView::setReportFile(const QString& path) {
    repName_->set(fileNameOf(path), QDir::toNativeSeparators(path));
}

QString FormReportView::labelText(RepLabel label) const {
    return label == RepLabel::RepName ? repName_->name() : rep(label)->text();
}

void FormReportView::setLabelText(RepLabel label, const QString& text) {
    if (label == RepLabel::RepName)
        repName_->set(text, QString());
    else
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
