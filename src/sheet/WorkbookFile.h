#pragma once
// Workbook files: the format is told by the content when opening and by the
// name when saving, and every save replaces the file atomically.

#include "sheet/SheetModel.h"

#include <QString>

#include <functional>

namespace t5170::sheet {

enum class FileFormat { Xls, Xlsx };

// The format of the file at `path` by its first bytes: a compound file
// (D0 CF 11 E0 A1 B1 1A E1) is BIFF8, a zip ("PK\3\4") OOXML. Throws
// SheetError for a missing or unreadable file and for anything else ("not a
// spreadsheet").
FileFormat detectFormat(const QString& path);

// The format a save under `path` writes: ".xlsx" (any case) OOXML, every
// other name BIFF8.
FileFormat formatForName(const QString& path);

// Opens a workbook file of either format. Every failure, including running
// out of memory on a hostile file, is a SheetError.
Workbook openWorkbook(const QString& path);

// Saves `book` under `path` in the format its name calls for, atomically.
void saveWorkbook(const Workbook& book, const QString& path);

// Replaces the file at `path` (following a symbolic link to the file it
// names) with what `write` puts into the temporary file whose path it is
// given: a new file in the same folder, which is then flushed to disk and
// renamed over the target, keeping the old file's permissions. If `write`
// throws or any step fails, the temporary file is removed, the old file is
// left as it was, and SheetError is thrown.
void writeAtomically(const QString& path,
                     const std::function<void(const QString& tempPath)>& write);

} // namespace t5170::sheet
