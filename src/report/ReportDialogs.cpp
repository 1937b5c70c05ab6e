#include "report/ReportDialogs.h"

namespace t5170::report {

QStringList reportFileFilters() {
    return {QStringLiteral("Файлы Excel (*.xls *.xlsx)"), QStringLiteral("Все файлы (*.*)")};
}

} // namespace t5170::report
