#pragma once
// Saving a workbook back into the .xlsx package it was read from: only the
// changed cells of the changed sheets, the styles they need, the changed
// column widths and sheet names are rewritten; every other part of the
// package (other sheets, charts, comments, drawings, formulas, formatting)
// is copied unchanged.

#include "sheet/SheetModel.h"
#include "sheet/xlsx/XlsxXml.h"

#include <QString>

#include <string>
#include <string_view>

namespace t5170::sheet {
struct XlsxOrigin;
}

namespace t5170::sheet::xlsx {

void editXlsxPackage(const Workbook& book, const XlsxOrigin& origin, const QString& outPath);
void writeNewXlsx(const Workbook& book, const QString& outPath);

class StyleEditor;

// One worksheet's XML with the touched cells (and, when asked, the column
// widths) of `sheet` applied; exposed for the tests.
struct SheetEdit {
    std::string xml;
    // A touched cell held a formula before: the calculation chain must go.
    bool replacedFormula = false;
};
SheetEdit editSheetXml(std::string_view xml, const Sheet& sheet, StyleEditor& styles,
                       bool editWidths);
// The same as the edits of `xml` that make it (applyEdits).
struct SheetEdits {
    std::vector<TextEdit> edits;
    bool replacedFormula = false;
};
SheetEdits sheetXmlEdits(std::string_view xml, const Sheet& sheet, StyleEditor& styles,
                         bool editWidths);

} // namespace t5170::sheet::xlsx
