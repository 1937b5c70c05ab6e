#pragma once
// The instrument's letter is one Windows-1251 byte; people type and read it
// as Unicode.

#include <QString>
#include <QtGlobal>

#include <optional>

namespace t5170::sim {

// The Windows-1251 byte of one character (ASCII, the Cyrillic alphabet with
// Ё and ё); nothing for a character outside that set.
std::optional<quint8> cp1251FromChar(QChar c);
// The character of a Windows-1251 byte of that set; U+FFFD otherwise.
QChar charFromCp1251(quint8 b);

} // namespace t5170::sim
