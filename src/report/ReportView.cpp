#include "report/ReportView.h"

#include "report/ReportLayout.h"

namespace t5170::report {

void ReportView::setReportFile(const QString& path) {
    setLabelText(RepLabel::RepName, fileNameOf(path));
}

} // namespace t5170::report
