#pragma once
// What the report operations see of the main window: the report group's
// labels and buttons, the latest-result and previous-result labels they copy,
// the two result records and the status message panel.

#include "core/Measurement.h"

#include <QString>

namespace t5170::report {

// Labels of the report group.
enum class RepLabel {
    RepName,    // LabRepName
    ReportType, // LabReportType
    ReportDate, // LabReportDate
    RecType,    // LabRepRecType
    RecU,       // LabRepRecU
    RecR,       // LabRepRecR
    RecR2,      // LabRepRecR2
    RecK,       // LabRepRecK
    RecDate,    // LabRepRecDate
    RecTime,    // LabRepRecTime
};

// Labels of a result group: LabTek... for the latest result, LabPrev... for
// the previous one.
enum class ResultLabel { Type, U, R, R2, Koef, Time };

// Which result: the latest (1) or the previous (2).
enum class Which { Latest = 1, Previous = 2 };

class ReportView {
public:
    virtual ~ReportView() = default;

    virtual void setStatusText(const QString& text) = 0;

    // LabRepName: the report's file, shown by its name.
    virtual void setReportFile(const QString& path);

    virtual QString labelText(RepLabel label) const = 0;
    virtual void setLabelText(RepLabel label, const QString& text) = 0;
    virtual bool labelShown(RepLabel label) const = 0;
    virtual void setLabelShown(RepLabel label, bool shown) = 0;

    virtual QString resultText(Which which, ResultLabel label) const = 0;
    virtual bool resultShown(Which which, ResultLabel label) const = 0;
    virtual const TIzmResult& result(Which which) const = 0;

    // ButAddTek (Latest) or ButAddPrev (Previous). The report only ever
    // enables them.
    virtual void enableAddButton(Which which) = 0;
    virtual bool addButtonEnabled(Which which) const = 0;

    virtual QString showCaption() const = 0;
    virtual void setShowCaption(const QString& caption) = 0;
};

} // namespace t5170::report
