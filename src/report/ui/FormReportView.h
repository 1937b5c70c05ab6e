#pragma once
// The report's view of the main window's designer form.

#include "report/ReportView.h"

#include <QString>

#include <array>
#include <functional>

class QFontMetrics;
class QLabel;
class QPushButton;
class QWidget;

namespace t5170::report {

class ShortenedName;

// A file name that fits `width` pixels: shortened in the middle with "…",
// keeping its start and its extension. A name that fits is returned whole.
QString shortenFileName(const QString& name, const QFontMetrics& metrics, int width);

// The view over a form whose controls carry the names above (LabRepName,
// LabTekU, ButAddTek, ButShow, ...), as the main window's designer form does.
// Throws std::logic_error when the form lacks one of them.
class FormReportView : public ReportView {
public:
    FormReportView(QWidget* form, const TIzmResult* latest, const TIzmResult* previous,
                   std::function<void(const QString&)> setStatus);

    void setStatusText(const QString& text) override;
    // The name shortened in the middle when the label is too narrow for it,
    // the whole path as its tooltip.
    void setReportFile(const QString& path) override;
    // For LabRepName the whole name, however it is shortened on screen.
    QString labelText(RepLabel label) const override;
    void setLabelText(RepLabel label, const QString& text) override;
    bool labelShown(RepLabel label) const override;
    void setLabelShown(RepLabel label, bool shown) override;
    QString resultText(Which which, ResultLabel label) const override;
    bool resultShown(Which which, ResultLabel label) const override;
    const TIzmResult& result(Which which) const override;
    void enableAddButton(Which which) override;
    bool addButtonEnabled(Which which) const override;
    QString showCaption() const override;
    void setShowCaption(const QString& caption) override;

private:
    QLabel* rep(RepLabel label) const;
    QLabel* res(Which which, ResultLabel label) const;
    QPushButton* add(Which which) const;

    std::array<QLabel*, 10> rep_{};
    std::array<QLabel*, 6> latest_{};
    std::array<QLabel*, 6> previous_{};
    QPushButton* butAddTek_ = nullptr;
    QPushButton* butAddPrev_ = nullptr;
    QPushButton* butShow_ = nullptr;
    ShortenedName* repName_ = nullptr; // owned by LabRepName
    const TIzmResult* latestResult_;
    const TIzmResult* previousResult_;
    std::function<void(const QString&)> setStatus_;
};

} // namespace t5170::report
