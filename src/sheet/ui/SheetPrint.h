#pragma once
// Printing a workbook: every sheet with content as a titled table (the
// sheet's name, then its rows with the first row repeated at the top of
// each continued page), values as the engine reads them.

#include "sheet/SheetModel.h"

#include <QString>

class QPrinter;
class QWidget;

namespace t5170::sheet {

// Renders `book` onto `printer` (any output format; the tests use PDF).
// Returns the number of pages printed; 0 when no sheet has content, in
// which case nothing is sent. Throws SheetError when the printer cannot be
// painted on.
int renderWorkbook(const Workbook& book, const QString& title, QPrinter& printer);

// Prints `book` on the system's default printer; where none is configured,
// the standard print dialog lets the operator choose one or print to a PDF
// file. Throws SheetError when the operator cancels or printing fails.
void printWorkbook(const Workbook& book, const QString& title, QWidget* parent = nullptr);

} // namespace t5170::sheet
