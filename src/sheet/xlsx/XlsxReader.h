#pragma once
// Reading .xlsx packages from memory (readXlsx in XlsxIo.h reads a file).

#include "sheet/SheetModel.h"
#include "sheet/xlsx/XlsxZip.h"

#include <QByteArray>

#include <cstddef>

namespace t5170::sheet::xlsx {

struct ReadLimits {
    // Bytes of the package file itself.
    std::size_t maxPackageBytes = 200u << 20;
    // Cell slots the model may allocate (rows are ragged vectors, so a row
    // holding column XFD costs 16,384 slots).
    std::size_t maxCellSlots = 4'000'000;
    // Rows up to this long are read straight from their text when they hold
    // only plain cells; longer ones (and all of them with 0) token by token.
    std::size_t maxQuickRowBytes = 64 * 1024;
    ZipLimits zip;
};

Workbook readXlsxBytes(const QByteArray& package, ReadLimits limits = {});

} // namespace t5170::sheet::xlsx
