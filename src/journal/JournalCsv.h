#pragma once
// The journal's entries as a CSV file that a Russian-locale spreadsheet
// opens by double-click: UTF-8 with a byte-order mark, ';' between fields,
// decimal commas, dd.MM.yyyy dates, HH:mm:ss times and one header line.
// Resistances are split into the number and its unit, so that the number
// stays a number.

#include "journal/JournalQuery.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace t5170::journal {

QStringList csvHeader();
QStringList csvFields(const Entry& entry);
// The whole file's bytes.
QByteArray csvBytes(const std::vector<Entry>& entries);
// Written atomically: the file is either the old one or the whole new one.
// Returns the error text, empty on success.
QString saveCsv(const QString& path, const std::vector<Entry>& entries);

} // namespace t5170::journal
