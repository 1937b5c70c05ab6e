#pragma once
// The compound-file container that holds a BIFF8 workbook stream.

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace t5170::sheet {

// The 8-byte signature every compound file starts with.
inline constexpr char kCompoundSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// The stream `name` (compared ignoring case) of the compound file `file`, a
// random-access device open for reading. Only the container's tables and the
// stream's own sectors are read, so the stream is not held next to a copy of
// the file. Throws SheetError for a damaged container (bad header, chains
// that leave the file or loop, sizes beyond the file), a read that fails or
// comes short, or a missing stream.
QByteArray readCompoundStream(QIODevice& file, const QString& name);
// The same for a compound file held in memory.
QByteArray readCompoundStream(const QByteArray& file, const QString& name);

// Writes a version-3 compound file (512-byte sectors) holding one stream
// named `name`. Streams under 4096 bytes are padded with zeros to 4096 so
// that no mini stream is needed; beyond 109 allocation-table sectors the
// table is continued in DIFAT sectors. Throws SheetError when `out` fails.
void writeCompoundFile(QIODevice& out, const QString& name, const QByteArray& stream);

} // namespace t5170::sheet
