#pragma once
// What an .xlsx workbook keeps of the package it was read from, so that
// saving it again as .xlsx edits that package instead of rebuilding it.

#include "sheet/SheetModel.h"

#include <QByteArray>

#include <string>
#include <vector>

namespace t5170::sheet {

struct XlsxOrigin {
    // The package exactly as read. The file itself may be replaced by a
    // later save (or by someone else), so the bytes are kept.
    QByteArray package;
    std::string workbookPart; // "xl/workbook.xml"
    std::string stylesPart;   // empty when the package has none
    struct SheetPart {
        std::string part;  // "xl/worksheets/sheet1.xml"
        std::string relId; // r:id of its <sheet> element in the workbook part
    };
    // The package's worksheets in workbook order; Sheet::originSheet indexes this.
    std::vector<SheetPart> sheets;
};

} // namespace t5170::sheet
