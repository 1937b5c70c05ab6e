#pragma once
// The .xlsx half of the engine's file handling. WorkbookFile.cpp tells the
// format by content and the name (an "PK\x03\x04" file is opened with
// readXlsx; a name ending in ".xlsx" is saved with writeXlsx) and does the
// atomic replace itself, so these two only read and write plain files.

#include "sheet/SheetModel.h"

#include <QString>

namespace t5170::sheet {

// Reads an OOXML workbook. The result carries the sheets in workbook order
// (with Sheet::originSheet set), the date system, every value and display
// format in the model's file form, the column widths, and in xlsxOrigin
// whatever writeXlsx needs to edit that package later. Throws SheetError on
// anything that is not a readable workbook (not a zip, no workbook part,
// encrypted, a zip bomb, claimed sizes beyond the engine's caps), within
// bounded time and memory.
Workbook readXlsx(const QString& path);

// Writes `book` as an OOXML workbook to `outPath` (a temporary file beside
// the real target; the caller fsyncs and renames it). When book.xlsxOrigin
// is set, the package it came from is edited: only the sheets' cells listed
// in Sheet::touched, the widths of sheets with widthsTouched, the names of
// sheets with nameTouched and the styles they need change, everything else
// is kept byte for byte. The origin must hold what this needs by itself:
// the original file may have been replaced since, or be the very target of
// this save. Without an origin the workbook is written from the model.
// Throws SheetError on failure (outPath may then hold a partial file, which
// the caller removes).
void writeXlsx(const Workbook& book, const QString& outPath);

} // namespace t5170::sheet
